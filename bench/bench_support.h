// Pictures and yardsticks the benchmark programs share, so that every area measures on the same
// pixels and its floor pass means the same thing from one program to the next.
#pragma once

#include "core/image.h"

#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace bench_support {

constexpr int kWidth = 6000;
constexpr int kHeight = 4000;

// Fills `image` with a photograph-like picture: smooth gradients in three directions with a little
// texture, so that every level and a spread of hues occur.
void FillGradient(CImage& image, int width, int height);

// The gradient picture of that size, made once per size and kept for the run.
const CImage& GradientPicture(int width = kWidth, int height = kHeight);

// Where the peer harness's make-images.sh puts its photo of that size (binary PPM):
// $ORVEX_BENCH_IMAGES, by default /tmp/orvex-bench.
std::string PeerPicturePath(int width, int height);

// Reads a binary PPM (maximum 255) into a 24-bit picture; false when the file is missing or broken.
bool ReadPpm(const std::string& path, CImage& image);

// The floor: inverts every byte of `picture` on both cores per iteration, nothing else to do.
void InvertEveryBytePass(benchmark::State& state, CImage& picture);

} // namespace bench_support
