// Pictures and yardsticks the benchmark programs share, so that every area measures on the same
// pixels and its floor pass means the same thing from one program to the next.
#pragma once

#include "core/image.h"
#include "core/image_processor.h"

#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdint>
#include <functional>
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

// An engine over a copy of `source`; with `preview`, preview-capable operations read the picture
// and write a work image of the same size, so the input stays the same from one run to the next.
struct CEngineFixture
{
    CImage picture;
    CImageProcessor engine{&picture};
    CEngineFixture(const CImage& source, bool preview);
};

// Runs `op` once per iteration. With `restoreFrom`, the picture is first copied back from it, outside
// the timing, for operations that change the picture's size or content.
void RunRepeatedly(benchmark::State& state, CEngineFixture& fixture, const CImage* restoreFrom,
                   const std::function<void(CImageProcessor&)>& op);

// The floor: inverts every byte of `picture` on both cores per iteration, nothing else to do.
void InvertEveryBytePass(benchmark::State& state, CImage& picture);

} // namespace bench_support
