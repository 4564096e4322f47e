// Geometry operations on a 6000 x 4000 picture. BM_CopyPass (one pass that reads and writes every
// byte, on both cores) is the in-run yardstick for canvas size and offset; opencv_peer.py times
// OpenCV's counterparts for the other ratios, run right before or after this program.
//
// Operations that change the picture's size or content get a fresh copy of the source before each
// iteration, outside the timing.
#include "bench/bench_support.h"
#include "core/image_processor.h"
#include "filters/geometry/crop.h"
#include "filters/geometry/resample.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <functional>

namespace {

using bench_support::kHeight;
using bench_support::kWidth;

const CImage& Source() { return bench_support::GradientPicture(); }

void Run(benchmark::State& state, bool restore, const std::function<void(CImageProcessor&)>& op)
{
    bench_support::CEngineFixture f(Source(), false);
    bench_support::RunRepeatedly(state, f, restore ? &Source() : nullptr, op);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kWidth * kHeight * 3);
}

void BM_CopyPass(benchmark::State& state)
{
    CImage target;
    target.CopyFrom(Source());
    for (auto _ : state) {
        ParallelCopy(const_cast<std::uint8_t*>(target.bufferStart()), Source().bufferStart(), Source().bufferBytes());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kWidth * kHeight * 3);
}
BENCHMARK(BM_CopyPass)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();

void BM_Rotate90CW(benchmark::State& s) { Run(s, false, [](CImageProcessor& e) { e.Rotate90CW(); }); }
void BM_Rotate90CCW(benchmark::State& s) { Run(s, false, [](CImageProcessor& e) { e.Rotate90CCW(); }); }
void BM_Rotate180(benchmark::State& s) { Run(s, false, [](CImageProcessor& e) { e.Rotate180(); }); }
void BM_FlipHorizontal(benchmark::State& s) { Run(s, false, [](CImageProcessor& e) { e.FlipHorizontal(); }); }
void BM_FlipVertical(benchmark::State& s) { Run(s, false, [](CImageProcessor& e) { e.FlipVertical(); }); }
void BM_RotateArbitrary12_5(benchmark::State& s) { Run(s, true, [](CImageProcessor& e) { e.RotateArbitrary(12.5f); }); }
void BM_ResizeBilinearTo1600x1067(benchmark::State& s) { Run(s, true, [](CImageProcessor& e) { e.ResizeImage(1600, 1067, 'b'); }); }
void BM_ResizeBilinearTo12000x8000(benchmark::State& s) { Run(s, true, [](CImageProcessor& e) { e.ResizeImage(12000, 8000, 'b'); }); }
void BM_ResizeNearestTo1600x1067(benchmark::State& s) { Run(s, true, [](CImageProcessor& e) { e.ResizeImage(1600, 1067, 'n'); }); }
void BM_ResizeNearestTo12000x8000(benchmark::State& s) { Run(s, true, [](CImageProcessor& e) { e.ResizeImage(12000, 8000, 'n'); }); }
void BM_CanvasGrow(benchmark::State& s) { Run(s, true, [](CImageProcessor& e) { e.CanvasSize(6100, 4100, 'C'); }); }
void BM_CanvasShrink(benchmark::State& s) { Run(s, true, [](CImageProcessor& e) { e.CanvasSize(5900, 3900, 'C'); }); }
void BM_OffsetWrap(benchmark::State& s) { Run(s, false, [](CImageProcessor& e) { e.Offset(101, -57, 'w'); }); }
void BM_OffsetBackground(benchmark::State& s) { Run(s, false, [](CImageProcessor& e) { e.Offset(101, -57, 's'); }); }
void BM_OffsetRepeat(benchmark::State& s) { Run(s, false, [](CImageProcessor& e) { e.Offset(101, -57, 'r'); }); }

// Crop from 24 to 12 megapixels, and its floor: one plain copy of the kept bytes on both cores into
// memory that already has its pages.
constexpr int kCropWidth = 4000;
constexpr int kCropHeight = 3000;
void BM_Crop24To12MP(benchmark::State& s)
{
    Run(s, true, [](CImageProcessor& e) { Crop(e, 1000, 500, kCropWidth, kCropHeight); });
    s.SetBytesProcessed(static_cast<std::int64_t>(s.iterations()) * kCropWidth * kCropHeight * 3);
}
BENCHMARK(BM_Crop24To12MP)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();

void BM_CopyCroppedBytes(benchmark::State& state)
{
    const std::size_t bytes = std::size_t(kCropWidth) * kCropHeight * 3;
    CImage target;
    target.Create(kCropWidth, kCropHeight, 24);
    for (auto _ : state) {
        ParallelCopy(const_cast<std::uint8_t*>(target.bufferStart()), Source().bufferStart(), bytes);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(bytes));
}
BENCHMARK(BM_CopyCroppedBytes)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();

// The resampler alone, into a picture that already has its pages: what enlarging costs beyond
// the kernel's zeroing of fresh memory.
void BM_ResampleIntoExisting12000x8000(benchmark::State& state)
{
    CImage target;
    target.Create(12000, 8000, 24);
    orvex_geometry::Resample(Source(), target); // the pages are the kernel's business, not the resampler's
    for (auto _ : state) {
        orvex_geometry::Resample(Source(), target);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kWidth * kHeight * 3);
}
BENCHMARK(BM_ResampleIntoExisting12000x8000)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();

BENCHMARK(BM_Rotate90CW)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();
BENCHMARK(BM_Rotate90CCW)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();
BENCHMARK(BM_Rotate180)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();
BENCHMARK(BM_FlipHorizontal)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();
BENCHMARK(BM_FlipVertical)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();
BENCHMARK(BM_RotateArbitrary12_5)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();
BENCHMARK(BM_ResizeBilinearTo1600x1067)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();
BENCHMARK(BM_ResizeBilinearTo12000x8000)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();
BENCHMARK(BM_ResizeNearestTo1600x1067)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();
BENCHMARK(BM_ResizeNearestTo12000x8000)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();
BENCHMARK(BM_CanvasGrow)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();
BENCHMARK(BM_CanvasShrink)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();
BENCHMARK(BM_OffsetWrap)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();
BENCHMARK(BM_OffsetBackground)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();
BENCHMARK(BM_OffsetRepeat)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();

} // namespace

BENCHMARK_MAIN();
