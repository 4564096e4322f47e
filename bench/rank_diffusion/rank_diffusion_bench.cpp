// Rank and diffusion filters on a 6000 x 4000 photo-like picture. The CPU column is the whole
// process (both cores): on a busy shared machine it shows what the run cost where wall time cannot.
//
// The diffusion figures come with their yardstick from the same run: one pass that only reads one
// 24-byte-per-pixel buffer and writes another (the memory traffic every diffusion step must have).
// `EscapeLatency` starts a long diffusion, raises the cancel flag mid-run and reports how long the
// worker took to come back.
#include "bench/bench_support.h"
#include "core/image_processor.h"
#include "core/parallel.h"
#include "filters/rank_diffusion/bilateral.h"
#include "filters/rank_diffusion/despeckle.h"
#include "filters/rank_diffusion/rank_diffusion.h"

#include <benchmark/benchmark.h>

#include <algorithm>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <thread>
#include <vector>

namespace {

namespace ord = orvex_rank_diffusion;

using bench_support::kHeight;
using bench_support::kWidth;

// The peer harness's photo (make-images.sh writes it as binary PPM) when it is there, so that the
// figures sit beside the peers' on the same pixels; otherwise smooth gradients with a little texture.
const CImage& Source()
{
    static CImage image;
    if (image.IsNull()) {
        const char* path = std::getenv("ORVEX_BENCH_PPM");
        const bool peer = bench_support::ReadPpm(path ? path : bench_support::PeerPicturePath(kWidth, kHeight), image) &&
                          image.width() == kWidth && image.height() == kHeight;
        if (!peer) bench_support::FillGradient(image, kWidth, kHeight);
    }
    return image;
}

void RankFilter(benchmark::State& state)
{
    const int radius = static_cast<int>(state.range(0));
    const int mode = static_cast<int>(state.range(1));
    bench_support::CEngineFixture f(Source(), false);
    bench_support::RunRepeatedly(state, f, &Source(), [&](CImageProcessor& e) { e.RankFilter(radius, mode); });
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(kWidth) * kHeight);
}
BENCHMARK(RankFilter)
    ->ArgNames({"r", "mode"})
    ->Args({5, 0})->Args({20, 0})->Args({100, 0})
    ->Args({5, 1})->Args({5, -1})->Args({100, 1})->Args({100, -1})
    ->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime()->MinTime(2.0);

struct CBuffers
{
    ord::CWorkBuffer a{3 * ord::DiffusionCells(kWidth, kHeight) * sizeof(double)};
    ord::CWorkBuffer b{3 * ord::DiffusionCells(kWidth, kHeight) * sizeof(double)};
    // The source picture in the first buffer, the frame around it copied from the edge.
    CBuffers()
    {
        const CImage& picture = Source();
        const std::size_t stride = 3 * static_cast<std::size_t>(kHeight + 2);
        double* p = a.as<double>();
        double* q = b.as<double>();
        ParallelFor(0, kWidth + 2, [&](int x0, int x1) {
            for (int x = x0; x < x1; ++x)
                for (int y = 0; y < kHeight + 2; ++y) {
                    const int px = std::clamp(x - 1, 0, kWidth - 1);
                    const int py = std::clamp(y - 1, 0, kHeight - 1);
                    const std::uint8_t* pixel = picture.bits() + static_cast<std::ptrdiff_t>(py) * picture.pitch() + 3 * px;
                    for (int ch = 0; ch < 3; ++ch) {
                        p[static_cast<std::size_t>(x) * stride + 3 * static_cast<std::size_t>(y) + ch] = pixel[ch];
                        q[static_cast<std::size_t>(x) * stride + 3 * static_cast<std::size_t>(y) + ch] = 0.0;
                    }
                }
        });
    }
};

CBuffers& Buffers()
{
    static CBuffers buffers;
    return buffers;
}

// The floor: every cell read from one buffer and written to the other, columns over the cores.
void DiffusionFloorReadWrite(benchmark::State& state)
{
    CBuffers& buffers = Buffers();
    const std::size_t stride = 3 * static_cast<std::size_t>(kHeight + 2);
    for (auto _ : state) {
        const double* src = buffers.a.as<double>();
        double* dst = buffers.b.as<double>();
        ParallelFor(0, kWidth + 2, [&](int x0, int x1) {
            for (std::size_t i = stride * static_cast<std::size_t>(x0); i < stride * static_cast<std::size_t>(x1); ++i)
                dst[i] = src[i] * 0.5;
        });
        benchmark::ClobberMemory();
    }
}
BENCHMARK(DiffusionFloorReadWrite)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime()->MinTime(2.0);

// One step of the four-block rule over the whole picture, as the operation runs it.
void DiffusionPass(benchmark::State& state)
{
    const auto shrink = state.range(0) == 0 ? ord::CShrink::TotalVariation : ord::CShrink::Balanced;
    CBuffers& buffers = Buffers();
    for (auto _ : state) {
        ParallelFor(1, kWidth + 1, [&](int x0, int x1) {
            std::vector<double> scratch(ord::DiffusionScratch(kHeight));
            ord::DiffusionColumns(buffers.a.as<double>(), buffers.b.as<double>(), kWidth, kHeight, x0, x1, shrink,
                                  scratch.data(), [] { return true; });
        });
        ord::FillSideFrame(buffers.b.as<double>(), kWidth, kHeight);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(DiffusionPass)->ArgName("balanced")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime()->MinTime(2.0);

// The whole operation: buffers, copy in, N steps, write-back.
void Diffusion(benchmark::State& state)
{
    const int iterations = static_cast<int>(state.range(0));
    bench_support::CEngineFixture f(Source(), false);
    bench_support::RunRepeatedly(state, f, &Source(), [&](CImageProcessor& e) { e.TotalVariationDiffusion(iterations); });
}
BENCHMARK(Diffusion)->ArgName("N")->Arg(1)->Arg(10)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime()->Iterations(3);

// Time from the cancel flag being raised to the worker having finished, mid-way through a long run.
void EscapeLatency(benchmark::State& state)
{
    CImage picture;
    picture.CopyFrom(Source());
    CImageProcessor engine(&picture);
    double worst = 0.0;
    for (auto _ : state) {
        engine.running.store(1);
        std::thread worker([&] { engine.BalancedDiffusion(100); });
        std::this_thread::sleep_for(std::chrono::milliseconds(static_cast<int>(state.range(0))));
        const auto raised = std::chrono::steady_clock::now();
        engine.cancel.store(1);
        while (engine.running.load()) std::this_thread::sleep_for(std::chrono::microseconds(200));
        const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - raised).count();
        worker.join();
        state.SetIterationTime(ms / 1000.0);
        worst = std::max(worst, ms);
    }
    state.counters["worst_ms"] = worst;
}
// 300 ms lands in the copy into the buffers, 1500 ms in the steps.
BENCHMARK(EscapeLatency)->ArgName("after_ms")->Arg(300)->Arg(1500)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace

namespace {

// Despeckle and Bilateral in place and as previews (read the picture, write the work image); the
// peers are OpenCV's medianBlur(5) and bilateralFilter (bench/rank_diffusion/opencv_bilateral_peer.py).
void DespeckleBench(benchmark::State& state)
{
    const int radius = static_cast<int>(state.range(0));
    bench_support::CEngineFixture f(Source(), state.range(1) != 0);
    bench_support::RunRepeatedly(state, f, &Source(), [&](CImageProcessor& e) { Despeckle(e, radius, 20); });
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(kWidth) * kHeight);
}

void BilateralBench(benchmark::State& state)
{
    const int radius = static_cast<int>(state.range(0));
    bench_support::CEngineFixture f(Source(), state.range(1) != 0);
    bench_support::RunRepeatedly(state, f, &Source(), [&](CImageProcessor& e) { Bilateral(e, radius, 30.0f); });
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(kWidth) * kHeight);
}

} // namespace

BENCHMARK(DespeckleBench)
    ->ArgNames({"r", "preview"})
    ->Args({1, 0})
    ->Args({2, 0})
    ->Args({2, 1})
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->UseRealTime()
    ->MinTime(1.0);
BENCHMARK(BilateralBench)
    ->ArgNames({"r", "preview"})
    ->Args({5, 0})
    ->Args({5, 1})
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->UseRealTime()
    ->Iterations(3);

BENCHMARK_MAIN();
