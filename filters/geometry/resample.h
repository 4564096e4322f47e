#pragma once

#include "core/image.h"

#include <cstdint>
#include <vector>

// The resampler of ResizeImage's bilinear method: separable, area averaging along an axis that
// shrinks and bilinear blending (edge pixels repeated) along one that grows or stays.
namespace orvex_geometry {

// For each target position, `span` consecutive source positions from first[i] with their weights
// (weights[i * span + k]); unused trailing weights are 0.
struct CTaps
{
    int span = 1;
    std::vector<int> first;
    std::vector<float> weights;
};

CTaps MakeTaps(int sourceLength, int targetLength);

// Fills `target` (already created at its new size) from `source`. False when a working buffer
// could not be had; `target` is then incomplete.
bool Resample(const CImage& source, CImage& target);

} // namespace orvex_geometry
