// Convolution filters on photo-sized pictures. The first benchmark reads and writes every byte of a
// 6000 x 4000 picture with nothing else to do: the in-run yardstick for the 3 x 3 filters, since a
// shared machine's figures are only comparable within one run.
//
// The very first blur of the run meets a size FFTW has never planned (the wisdom folder is pointed
// at an empty place first), so it shows what a user waits for before any measured plan exists. The
// steady figures after it wait for the background measurement to finish.
//
// `convolution_bench --memory` instead prints the peak memory one blur adds, per pixel.
#include "bench/bench_support.h"
#include "core/image_processor.h"
#include "core/parallel.h"
#include "filters/convolution/fft_plans.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <unistd.h>

namespace {

// A photograph-like picture: smooth gradients with a little texture.
const CImage& Source(int width, int height) { return bench_support::GradientPicture(width, height); }

void Run(benchmark::State& state, int width, int height, const std::function<void(CImageProcessor&)>& op)
{
    CImage picture;
    picture.CopyFrom(Source(width, height));
    CImageProcessor engine(&picture);
    // Steady state: plans for this size made and measured before the clock runs.
    op(engine);
    orvex_fft::WaitForBackgroundPlanning();
    for (auto _ : state) {
        state.PauseTiming();
        picture.CopyFrom(Source(width, height));
        state.ResumeTiming();
        op(engine);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(width) * height);
}

void BM_ReadWriteEveryByte(benchmark::State& state)
{
    CImage picture;
    picture.CopyFrom(Source(6000, 4000));
    const int bytes = picture.width() * 3;
    for (auto _ : state) {
        ParallelFor(0, picture.height(), [&](int y0, int y1) {
            for (int y = y0; y < y1; ++y) {
                std::uint8_t* row = picture.bits() + static_cast<std::ptrdiff_t>(y) * picture.pitch();
                for (int i = 0; i < bytes; ++i) row[i] = static_cast<std::uint8_t>(row[i] + 1);
            }
        });
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * 6000LL * 4000);
}

void BM_FirstGaussianBlur(benchmark::State& state)
{
    for (auto _ : state) {
        state.PauseTiming();
        CImage picture;
        picture.CopyFrom(Source(6000, 4000));
        CImageProcessor engine(&picture);
        state.ResumeTiming();
        engine.GaussianBlur(static_cast<float>(state.range(0)), 1);
    }
    orvex_fft::WaitForBackgroundPlanning();
}

void BM_GaussianBlur(benchmark::State& state)
{
    orvex_fft::WaitForBackgroundPlanning();
    const float sigma = static_cast<float>(state.range(0)) / 100.0f;
    Run(state, static_cast<int>(state.range(1)), static_cast<int>(state.range(2)), [&](CImageProcessor& e) { e.GaussianBlur(sigma, 1); });
}

void BM_LensBlur(benchmark::State& state)
{
    orvex_fft::WaitForBackgroundPlanning();
    const float radius = static_cast<float>(state.range(0)) / 100.0f;
    Run(state, 6000, 4000, [&](CImageProcessor& e) { e.GaussianBlur(radius, 0); });
}

void BM_MotionBlur(benchmark::State& state)
{
    orvex_fft::WaitForBackgroundPlanning();
    Run(state, 6000, 4000, [&](CImageProcessor& e) { e.MotionBlur(30, static_cast<double>(state.range(0))); });
}

void BM_Sharpen(benchmark::State& state)
{
    Run(state, 6000, 4000, [](CImageProcessor& e) { e.Sharpen(); });
}

void BM_Average(benchmark::State& state)
{
    Run(state, 6000, 4000, [](CImageProcessor& e) { e.Average(); });
}

void BM_FindEdges(benchmark::State& state)
{
    Run(state, 6000, 4000, [](CImageProcessor& e) { e.FindEdges(); });
}

void BM_UnsharpMask(benchmark::State& state)
{
    orvex_fft::WaitForBackgroundPlanning();
    Run(state, 6000, 4000, [](CImageProcessor& e) { e.UnsharpMask(10.0f, 1.0f); });
}

void BM_CustomFilter(benchmark::State& state)
{
    const int kernel[25] = {0, 0, 0, 0, 0, 0, 0, -1, 0, 0, 0, -1, 5, -1, 0, 0, 0, -1, 0, 0, 0, 0, 0, 0, 0};
    Run(state, 6000, 4000, [&](CImageProcessor& e) { e.CustomFilter(kernel, 1, 0); });
}

long PeakKilobytes()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
    return -1;
}

int MeasureMemory()
{
    orvex_fft::SetPlanningOptions({.measureInBackground = false, .wisdomFile = "-"});
    for (const auto& [gaussian, radius] : {std::pair{1, 50.0f}, std::pair{1, 10.0f}, std::pair{1, 3.0f}, std::pair{0, 10.0f}, std::pair{0, 50.0f}, std::pair{0, 150.0f}}) {
        CImage picture;
        picture.CopyFrom(Source(6000, 4000));
        CImageProcessor engine(&picture);
        orvex_fft::DropCachedPlans(); // no plane buffer kept from the blur before
        std::ofstream("/proc/self/clear_refs") << "5"; // reset the peak to the current size
        const long before = PeakKilobytes();
        engine.GaussianBlur(radius, static_cast<std::uint8_t>(gaussian));
        const long after = PeakKilobytes();
        std::printf("%s blur %.0f, 6000x4000: peak extra memory %.2f bytes per pixel\n", gaussian ? "Gaussian" : "Lens",
                    static_cast<double>(radius), (after - before) * 1024.0 / (6000.0 * 4000.0));
    }
    CImage picture;
    picture.CopyFrom(Source(6000, 4000));
    CImageProcessor engine(&picture);
    orvex_fft::DropCachedPlans();
    std::ofstream("/proc/self/clear_refs") << "5";
    const long before = PeakKilobytes();
    engine.MotionBlur(30, 50.0);
    std::printf("Motion blur 50, 6000x4000: peak extra memory %.2f bytes per pixel\n",
                (PeakKilobytes() - before) * 1024.0 / (6000.0 * 4000.0));
    return 0;
}

} // namespace

BENCHMARK(BM_FirstGaussianBlur)->Arg(10)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ReadWriteEveryByte)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Sharpen)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Average)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FindEdges)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_GaussianBlur)
    ->Args({75, 6000, 4000})
    ->Args({150, 6000, 4000})
    ->Args({1000, 6000, 4000})
    ->Args({5000, 6000, 4000})
    ->Args({5000, 4001, 2999})
    ->Args({10000, 6000, 4000})
    ->Args({25000, 6000, 4000})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_LensBlur)->Arg(1000)->Arg(5000)->Arg(10000)->Arg(25000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_MotionBlur)->Arg(20)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_UnsharpMask)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CustomFilter)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char** argv)
{
    if (argc > 1 && std::strcmp(argv[1], "--memory") == 0) return MeasureMemory();
    // A wisdom file of this run's own, empty at the start, so that the first blur is a real first.
    const auto wisdom = std::filesystem::temp_directory_path() /
                        ("orvex-bench-wisdom-" + std::to_string(static_cast<long>(getpid())));
    orvex_fft::SetPlanningOptions({.measureInBackground = true, .wisdomFile = wisdom.string()});
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code ec;
    std::filesystem::remove(wisdom, ec);
    return 0;
}
