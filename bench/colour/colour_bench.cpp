// Tonal and colour operations on a 6000 x 4000 picture. The first benchmarks read and write every
// byte with nothing else to do; they are the in-run yardstick for the table-driven passes, since a
// shared machine's figures are only comparable within one run.
//
// Preview-capable operations are measured as preview renderings, which read the picture and write
// the work image, so the input stays the same from one iteration to the next; the table-driven ones
// also in place, as the final apply runs them (their speed does not depend on the content).
#include "bench/bench_support.h"
#include "core/image_processor.h"
#include "filters/colour/colour_tables.h"
#include "filters/colour/posterize.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <functional>
#include <string_view>

namespace {

using bench_support::kHeight;
using bench_support::kWidth;

struct CFixture : bench_support::CEngineFixture
{
    explicit CFixture(bool preview) : CEngineFixture(bench_support::GradientPicture(), preview) {}
};

void Run(benchmark::State& state, bool preview, const std::function<void(CImageProcessor&)>& op)
{
    CFixture f(preview);
    bench_support::RunRepeatedly(state, f, nullptr, op);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kWidth * kHeight * 3);
}

void BM_ByteInvertOneThread(benchmark::State& state)
{
    CFixture f(false);
    const std::size_t bytes = f.picture.bufferBytes();
    std::uint8_t* const start = f.picture.bits() + static_cast<std::ptrdiff_t>(kHeight - 1) * f.picture.pitch();
    for (auto _ : state) {
        for (std::size_t i = 0; i < bytes; ++i) start[i] = static_cast<std::uint8_t>(~start[i]);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(bytes));
}

void BM_ByteInvertAllCores(benchmark::State& state)
{
    CFixture f(false);
    bench_support::InvertEveryBytePass(state, f.picture);
}

void BM_TablePass(benchmark::State& state)
{
    CFixture f(false);
    std::uint8_t table[256];
    for (int v = 0; v < 256; ++v) table[v] = static_cast<std::uint8_t>(v ^ 0x5A);
    for (auto _ : state) {
        orvex_colour::ApplyTable(f.picture, f.picture.bits(), table);
        benchmark::ClobberMemory();
    }
}

void BM_ChannelTablesPass(benchmark::State& state)
{
    CFixture f(false);
    std::uint8_t tables[3][256];
    for (int c = 0; c < 3; ++c)
        for (int v = 0; v < 256; ++v) tables[c][v] = static_cast<std::uint8_t>(v ^ (0x11 * (c + 1)));
    for (auto _ : state) {
        orvex_colour::ApplyChannelTables(f.picture, f.picture.bits(), tables[0], tables[1], tables[2]);
        benchmark::ClobberMemory();
    }
}

// A preview rendering that is superseded after its first band of rows: how long the stale
// rendering keeps the work image once the dialog has asked it to stop.
void BM_HueSaturationSupersededPreview(benchmark::State& state)
{
    struct CStopAfterFirstStep : IProgress
    {
        bool stepped = false;
        void Begin(std::string_view, int) override { stepped = false; }
        void SetPosition(int) override { stepped = true; }
        void End() override {}
        bool StopRequested() override { return stepped; }
    } sink;
    CFixture f(true);
    CImageProcessor::ThreadProgressOverride watch(&sink);
    for (auto _ : state) {
        f.engine.HueSaturation(40.0f, 1.5f, 0.1f);
        benchmark::ClobberMemory();
    }
}

} // namespace

BENCHMARK(BM_HueSaturationSupersededPreview)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ByteInvertOneThread)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ByteInvertAllCores)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_TablePass)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ChannelTablesPass)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(Run, Invert, false, [](CImageProcessor& e) { e.Invert(); })->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(Run, Solarize, false, [](CImageProcessor& e) { e.Solarize(); })->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(Run, Posterize, true, [](CImageProcessor& e) { Posterize(e, 5); })
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(Run, PosterizeInPlace, false, [](CImageProcessor& e) { Posterize(e, 5); })
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(Run, BrightnessContrast, true, [](CImageProcessor& e) { e.BrightnessContrast(1.44f, 12.0f); })->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(Run, ColorBalance, true, [](CImageProcessor& e) { e.ColorBalance(30, -20, 55); })->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(Run, ColorBalanceInPlace, false, [](CImageProcessor& e) { e.ColorBalance(30, -20, 55); })->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(Run, HueSaturation, true, [](CImageProcessor& e) { e.HueSaturation(40.0f, 1.5f, 0.1f); })->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(Run, HueSaturationInPlace, false, [](CImageProcessor& e) { e.HueSaturation(40.0f, 1.0f, 0.0f); })->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(Run, BlackAndWhite, true, [](CImageProcessor& e) { e.BlackAndWhite(0.34f, 0.33f, 0.33f); })->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(Run, ShowOriginal, true, [](CImageProcessor& e) { e.ShowOriginal(); })->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(Run, Equalize, false, [](CImageProcessor& e) { e.Equalize(); })->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(Run, AutoColor, false, [](CImageProcessor& e) { e.AutoColor(); })->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
