// Levels and Curves with all four settings at once (RGB and each channel), 6000 x 4000, beside the
// floor of one read-write pass over every byte on both cores in the same run. Both come down to
// three composed tables and one pass, so they should stay close to the floor.
#include "bench/bench_support.h"
#include "core/image_processor.h"
#include "filters/colour/curves.h"
#include "filters/colour/levels.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <functional>

namespace {

using bench_support::kHeight;
using bench_support::kWidth;

void Run(benchmark::State& state, bool preview, const std::function<void(CImageProcessor&)>& op)
{
    bench_support::CEngineFixture f(bench_support::GradientPicture(), preview);
    bench_support::RunRepeatedly(state, f, nullptr, op);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kWidth * kHeight * 3);
}

void BM_FloorReadWritePass(benchmark::State& state)
{
    bench_support::CEngineFixture f(bench_support::GradientPicture(), false);
    bench_support::InvertEveryBytePass(state, f.picture);
}

orvex_colour::CLevelsSettings FourLevels()
{
    orvex_colour::CLevelsSettings s;
    s.all = {10, 240, 1.2, 0, 255};
    s.red = {0, 230, 0.9, 10, 255};
    s.green = {5, 255, 1.1, 0, 250};
    s.blue = {20, 250, 1.0, 0, 255};
    return s;
}

orvex_colour::CCurvesSettings FourCurves()
{
    orvex_colour::CCurvesSettings c;
    c.all = {{0, 0}, {64, 40}, {192, 220}, {255, 255}};
    c.red = {{0, 10}, {128, 140}, {255, 250}};
    c.green = {{0, 0}, {100, 90}, {255, 255}};
    c.blue = {{0, 20}, {255, 235}};
    return c;
}

void BM_LevelsFourChannels(benchmark::State& state)
{
    const orvex_colour::CLevelsSettings s = FourLevels();
    Run(state, state.range(0) != 0, [&](CImageProcessor& e) { Levels(e, s); });
}

void BM_CurvesFourChannels(benchmark::State& state)
{
    const orvex_colour::CCurvesSettings c = FourCurves();
    Run(state, state.range(0) != 0, [&](CImageProcessor& e) { Curves(e, c); });
}

} // namespace

BENCHMARK(BM_FloorReadWritePass)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_LevelsFourChannels)->ArgName("preview")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CurvesFourChannels)->ArgName("preview")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
