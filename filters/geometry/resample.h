#pragma once

#include "core/image.h"

#include <cstddef>
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

// The whole-row loops built for AVX2 (resample_avx2.cpp), for processors that have it.
void AccumulateRowAvx2(float* acc, const std::uint8_t* in, float weight, std::size_t n);
void BlendRowsAvx2(const float* r0, const float* r1, float w0, float w1, std::uint8_t* out, std::size_t n);

} // namespace orvex_geometry
