// Auto Levels, Auto Contrast, Threshold and the shared histogram on a 6000 x 4000 picture, beside
// the floors they are held to in the same run: one read pass over every byte (the histogram) and
// one read-write pass (the adjustments).
#include "bench/bench_support.h"
#include "core/image_processor.h"
#include "core/parallel.h"
#include "filters/colour/auto_levels.h"
#include "filters/colour/histogram.h"
#include "filters/colour/threshold.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdint>
#include <functional>

namespace {

using bench_support::kHeight;
using bench_support::kWidth;

// The gradient squeezed into 30..220, so that the automatic stretches have something to do on
// every run.
const CImage& NarrowPicture()
{
    static const CImage narrow = [] {
        CImage picture;
        picture.CopyFrom(bench_support::GradientPicture());
        std::uint8_t* const start = picture.bits() + static_cast<std::ptrdiff_t>(kHeight - 1) * picture.pitch();
        for (std::size_t i = 0; i < picture.bufferBytes(); ++i)
            start[i] = static_cast<std::uint8_t>(30 + start[i] * 190 / 255);
        return picture;
    }();
    return narrow;
}

void BM_ReadPass(benchmark::State& state)
{
    const CImage& picture = bench_support::GradientPicture();
    const std::size_t bytes = picture.bufferBytes();
    const std::uint8_t* const start = picture.bits() + static_cast<std::ptrdiff_t>(kHeight - 1) * picture.pitch();
    for (auto _ : state) {
        std::atomic<std::uint64_t> total{0};
        ParallelFor(0, 64, [&](int b, int e) {
            const std::uint8_t* const from = start + bytes * static_cast<std::size_t>(b) / 64;
            const std::uint8_t* const to = start + bytes * static_cast<std::size_t>(e) / 64;
            std::uint64_t sum = 0;
            for (const std::uint8_t* p = from; p < to; ++p) sum += *p;
            total += sum;
        });
        benchmark::DoNotOptimize(total.load());
    }
}

void BM_Histogram24MP(benchmark::State& state)
{
    const CImage& picture = bench_support::GradientPicture();
    for (auto _ : state) {
        const orvex_colour::CHistogram h = orvex_colour::ComputeHistogram(picture);
        benchmark::DoNotOptimize(h.pixels);
    }
}

void BM_InvertPass(benchmark::State& state)
{
    bench_support::CEngineFixture f(NarrowPicture(), false);
    bench_support::InvertEveryBytePass(state, f.picture);
}

void Run(benchmark::State& state, bool preview, bool restore, const std::function<void(CImageProcessor&)>& op)
{
    bench_support::CEngineFixture f(NarrowPicture(), preview);
    bench_support::RunRepeatedly(state, f, restore ? &NarrowPicture() : nullptr, op);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kWidth * kHeight * 3);
}

} // namespace

BENCHMARK(BM_ReadPass)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Histogram24MP)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_InvertPass)->Unit(benchmark::kMillisecond)->UseRealTime();
// In place from the narrow picture every run (the copy back is not timed).
BENCHMARK_CAPTURE(Run, AutoLevels, false, true, [](CImageProcessor& e) { AutoLevels(e, 0.1f); })
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(Run, AutoContrast, false, true, [](CImageProcessor& e) { AutoContrast(e, 0.1f); })
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
// As the preview renders it, and as OK applies it in place.
BENCHMARK_CAPTURE(Run, Threshold, true, false, [](CImageProcessor& e) { Threshold(e, 128); })
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(Run, ThresholdInPlace, false, true, [](CImageProcessor& e) { Threshold(e, 128); })
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

BENCHMARK_MAIN();
