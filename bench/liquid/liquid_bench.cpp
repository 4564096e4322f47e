// Liquid resizing on photo-sized pictures, to be read beside liblqr on the same files:
//   liquid_bench [--benchmark_filter=...] [--benchmark_repetitions=N]
// The pictures are binary PPM files from the peer harness's image directory (ORVEX_BENCH_IMAGES,
// default /tmp/orvex-bench): photo_6000x4000.ppm and its transposition photo_4000x6000.ppm. A
// missing file is replaced by a synthetic picture of the same size (smooth shapes plus noise).
// Each case reports the peak resident memory of the process above what it held before the first
// run, per pixel of the larger picture; run one case per process for that figure to mean anything.
#include "bench/bench_support.h"
#include "core/image_processor.h"

#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>

namespace {

void Synthetic(CImage& image, int width, int height)
{
    image.Create(width, height, 24);
    std::uint32_t seed = 1;
    for (int y = 0; y < height; ++y) {
        std::uint8_t* out = image.bits() + std::ptrdiff_t(y) * image.pitch();
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < 3; ++c) {
                seed = seed * 1664525u + 1013904223u;
                const int shape = ((x / 400 + y / 300) % 3) * 60 + (x * (c + 1) / 97 + y / 53) % 40;
                out[3 * x + c] = std::uint8_t(shape + int(seed >> 29));
            }
    }
}

const CImage& Photo(int width, int height)
{
    static std::map<std::pair<int, int>, CImage> cache;
    CImage& image = cache[{width, height}];
    if (image.IsNull()) {
        const std::string path = bench_support::PeerPicturePath(width, height);
        if (!bench_support::ReadPpm(path, image)) {
            std::fprintf(stderr, "%s not readable: using a synthetic picture\n", path.c_str());
            Synthetic(image, width, height);
        }
    }
    return image;
}

long PeakKilobytes()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

long CurrentKilobytes()
{
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * 4;
}

void Liquid(benchmark::State& state, int width, int height, int newWidth, int newHeight)
{
    const CImage& source = Photo(width, height);
    CImage picture;
    picture.CopyFrom(source);
    const long before = CurrentKilobytes();
    for (auto _ : state) {
        state.PauseTiming();
        picture.CopyFrom(source);
        CImageProcessor engine(&picture);
        state.ResumeTiming();
        engine.LiquidResize(newWidth, newHeight);
        benchmark::DoNotOptimize(picture.bits());
        if (engine.Failed() || picture.width() != newWidth || picture.height() != newHeight)
            state.SkipWithError("liquid resize failed");
    }
    const double larger = double(std::max(width, newWidth)) * std::max(height, newHeight);
    state.counters["peak_extra_B_per_px"] = double(PeakKilobytes() - before) * 1024.0 / larger;
}

} // namespace

BENCHMARK_CAPTURE(Liquid, narrow_6000x4000_to_5400x4000, 6000, 4000, 5400, 4000)
    ->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();
BENCHMARK_CAPTURE(Liquid, widen_6000x4000_to_6600x4000, 6000, 4000, 6600, 4000)
    ->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();
BENCHMARK_CAPTURE(Liquid, lower_4000x6000_to_4000x5400, 4000, 6000, 4000, 5400)
    ->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();
BENCHMARK_CAPTURE(Liquid, narrow_1920x1080_to_1728x1080, 1920, 1080, 1728, 1080)
    ->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

BENCHMARK_MAIN();
