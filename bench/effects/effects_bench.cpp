// Effects on a 6000 x 4000 picture, beside the in-run yardstick: one pass over both cores that
// reads and writes every byte with nothing else to do (the floor). Lens flare is put beside the
// Gaussian blur it contains (radius sqrt(6000) * 0.07 at brightness 1).
//
// Add noise and Mosaic are measured as preview renderings (read the picture, write the work image)
// and in place; the others in place, where their speed does not depend on earlier iterations.
#include "bench/bench_support.h"
#include "core/image_processor.h"
#include "core/parallel.h"
#include "filters/effects/clouds.h"
#include "filters/effects/effects_internal.h"
#include "filters/effects/facet.h"
#include "filters/effects/fragment.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>

namespace {

using bench_support::kHeight;
using bench_support::kWidth;

// A photograph-like picture with smooth gradients, a little texture and red patches here and there.
const CImage& Source()
{
    static const CImage picture = [] {
        CImage image;
        image.Create(kWidth, kHeight, 24);
        std::uint32_t seed = 12345;
        for (int y = 0; y < kHeight; ++y) {
            std::uint8_t* row = image.bits() + static_cast<std::ptrdiff_t>(y) * image.pitch();
            for (int x = 0; x < kWidth; ++x) {
                seed = seed * 1664525u + 1013904223u;
                const int noise = static_cast<int>(seed >> 28) - 8;
                const bool red = (x / 40 + y / 40) % 17 == 0;
                row[3 * x] = static_cast<std::uint8_t>(red ? 20 : (x * 255 / kWidth + noise) & 0xFF);
                row[3 * x + 1] = static_cast<std::uint8_t>(red ? 25 : (y * 255 / kHeight + noise) & 0xFF);
                row[3 * x + 2] = static_cast<std::uint8_t>(red ? 220 : ((x + y) * 255 / (kWidth + kHeight) + 2 * noise) & 0xFF);
            }
        }
        return image;
    }();
    return picture;
}

struct CFixture : bench_support::CEngineFixture
{
    explicit CFixture(bool preview) : CEngineFixture(Source(), preview) { engine.SetSeedOverride(1234); }
};

void Run(benchmark::State& state, bool preview, const std::function<void(CImageProcessor&)>& op)
{
    CFixture f(preview);
    bench_support::RunRepeatedly(state, f, nullptr, op);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kWidth * kHeight * 3);
}

void BM_Floor(benchmark::State& state)
{
    CFixture f(false);
    bench_support::InvertEveryBytePass(state, f.picture);
}

// Add noise with its noise gathered from the run's tables, as rare amounts are done, for comparison.
void RunNoiseLookedUp(benchmark::State& state, bool uniform, bool monochromatic)
{
    if (!orvex_testing::UseNoiseKernel(orvex_testing::NoiseKernel::kAvx512Lookup)) {
        state.SkipWithError("no AVX-512");
        return;
    }
    Run(state, true, [=](CImageProcessor& e) { e.AddNoise(50.0f, uniform, monochromatic); });
    orvex_testing::UseNoiseKernel(orvex_testing::NoiseKernel::kBest);
}

const float kFlareBlurRadius = static_cast<float>(std::sqrt(6000.0) * (1.0f * 0.07));

} // namespace

BENCHMARK(BM_Floor)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(Run, AddNoiseUniform, true, [](CImageProcessor& e) { e.AddNoise(50.0f, true, false); })->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(Run, AddNoiseUniformMono, true, [](CImageProcessor& e) { e.AddNoise(50.0f, true, true); })->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(Run, AddNoiseGaussian, true, [](CImageProcessor& e) { e.AddNoise(50.0f, false, false); })->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(Run, AddNoiseGaussianMono, true, [](CImageProcessor& e) { e.AddNoise(50.0f, false, true); })->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(Run, AddNoiseGaussianInPlace, false, [](CImageProcessor& e) { e.AddNoise(50.0f, false, false); })->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(Run, AddNoiseGaussianMonoInPlace, false, [](CImageProcessor& e) { e.AddNoise(50.0f, false, true); })->Unit(benchmark::kMillisecond)->UseRealTime();
// An amount whose uniform noise needs the two-part constant.
BENCHMARK_CAPTURE(Run, AddNoiseUniformOddAmount, true, [](CImageProcessor& e) { e.AddNoise(54.486541748046875f, true, false); })->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(RunNoiseLookedUp, AddNoiseUniformLookedUp, true, false)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(RunNoiseLookedUp, AddNoiseGaussianLookedUp, false, false)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(Run, Mosaic10, true, [](CImageProcessor& e) { e.Mosaic(10); })->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(Run, Mosaic10InPlace, false, [](CImageProcessor& e) { e.Mosaic(10); })->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(Run, Mosaic1Preview, true, [](CImageProcessor& e) { e.Mosaic(1); })->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(Run, RedEyeReduction, false, [](CImageProcessor& e) { e.RedEyeReduction(); })->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(Run, ObtainGrid, false, [](CImageProcessor& e) { e.ObtainGrid(); })->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(Run, Sign, false, [](CImageProcessor& e) { e.Sign(); })->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(Run, FlareBlur, false, [](CImageProcessor& e) { e.GaussianBlur(kFlareBlurRadius, 1); })->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(Run, LensFlare, false, [](CImageProcessor& e) { e.LensFlare(1500, 1000, 1.0f); })->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(Run, LensFlareBright, false, [](CImageProcessor& e) { e.LensFlare(1500, 1000, 3.0f); })->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(Run, Clouds, false, [](CImageProcessor& e) { Clouds(e, 0.5f); })
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(Run, DifferenceCloudsPreview, true, [](CImageProcessor& e) { DifferenceClouds(e, 0.5f); })
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

namespace {

// Red-eye reduction where nearly every pixel is marked and corrected (the photograph above loses
// its few red patches in the first pass): reddish noise, put back before every pass.
void RedEyeMostlyRed(benchmark::State& state)
{
    static const CImage source = [] {
        CImage image;
        image.Create(kWidth, kHeight, 24);
        std::uint32_t seed = 777;
        for (int y = 0; y < kHeight; ++y) {
            std::uint8_t* row = image.bits() + static_cast<std::ptrdiff_t>(y) * image.pitch();
            for (int i = 0; i < 3 * kWidth; ++i) {
                seed = seed * 1664525u + 1013904223u;
                row[i] = static_cast<std::uint8_t>(i % 3 == 2 ? 150 + (seed >> 25) : seed >> 26);
            }
        }
        return image;
    }();
    bench_support::CEngineFixture f(source, false);
    bench_support::RunRepeatedly(state, f, &source, [](CImageProcessor& e) { e.RedEyeReduction(); });
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kWidth * kHeight * 3);
}

} // namespace

BENCHMARK(RedEyeMostlyRed)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_CAPTURE(Run, Fragment4, true, [](CImageProcessor& e) { Fragment(e, 4); })
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(Run, Fragment4InPlace, false, [](CImageProcessor& e) { Fragment(e, 4); })
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
// The yardstick of a rendering that reads the picture and writes a second one (the work image):
// the picture's rows copied across on both cores.
BENCHMARK_CAPTURE(Run, CopyToWorkImage, true,
                  [](CImageProcessor& e) {
                      const CImage& p = *e.image();
                      std::uint8_t* const target = e.OutputBits();
                      ParallelFor(0, p.height(), [&](int y0, int y1) {
                          for (int y = y0; y < y1; ++y) {
                              const std::ptrdiff_t at = static_cast<std::ptrdiff_t>(y) * p.pitch();
                              std::memcpy(target + at, p.bits() + at, static_cast<std::size_t>(3) * p.width());
                          }
                      });
                  })
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(Run, Facet1, true, [](CImageProcessor& e) { Facet(e, 1); })
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(Run, Facet2, true, [](CImageProcessor& e) { Facet(e, 2); })
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(Run, Facet3, true, [](CImageProcessor& e) { Facet(e, 3); })
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

BENCHMARK_MAIN();
