// The options step of Save As tells the size of the file each choice gives. On a 24 MP picture the
// time to that first figure is measured for every format beside the floor (one copy of the
// picture), and the full encode that the figure stands for, with the prediction's error against
// it as a counter (run those with --benchmark_filter=Full; lossless WebP takes a while).
//
// The picture: $ORVEX_BENCH_IMAGES/photo_6000x4000.jpg when it is there (a real or rendered
// photograph), else the peer harness's PPM of that size, else the shared gradient.
#include "bench/bench_support.h"
#include "io/picture_file.h"
#include "io/picture_save.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

const CImage& Photo()
{
    static const CImage photo = [] {
        CImage image;
        const char* folder = std::getenv("ORVEX_BENCH_IMAGES");
        const std::string jpeg = std::string(folder ? folder : "/tmp/orvex-bench") + "/photo_6000x4000.jpg";
        if (LoadPicture(QString::fromStdString(jpeg), image)) return image;
        if (bench_support::ReadPpm(bench_support::PeerPicturePath(6000, 4000), image)) return image;
        image.CopyFrom(bench_support::GradientPicture());
        return image;
    }();
    return photo;
}

struct CCase
{
    const char* name;
    QByteArray format;
    CSaveOptions options;
};

const CCase& Case(std::int64_t index)
{
    static const std::vector<CCase> cases = [] {
        std::vector<CCase> list(7);
        list[0] = {"jpeg q92", "jpeg", {}};
        list[1] = {"png level 6", "png", {}};
        list[2] = {"png level 9", "png", {}};
        list[2].options.png.level = 9;
        list[3] = {"webp q92", "webp", {}};
        list[3].options.webp.lossless = false;
        list[4] = {"webp lossless", "webp", {}};
        list[5] = {"tiff deflate", "tiff", {}};
        list[6] = {"tiff lzw", "tiff", {}};
        list[6].options.tiff.compression = TiffCompression::Lzw;
        return list;
    }();
    return cases[std::size_t(index)];
}

void BM_FirstPredictedSize(benchmark::State& state)
{
    const CImage& photo = Photo();
    const CCase& c = Case(state.range(0));
    state.SetLabel(c.name);
    CPredictedSize predicted;
    for (auto _ : state) {
        predicted = PredictFileSize(photo, c.format, c.options, nullptr);
        benchmark::DoNotOptimize(predicted.bytes);
    }
    state.counters["predicted"] = double(predicted.bytes);
}
BENCHMARK(BM_FirstPredictedSize)->DenseRange(0, 6)->Unit(benchmark::kMillisecond)->UseRealTime();

// The floor: one copy of the picture, as the sample's strips are copied out of it.
void BM_CopyFloor(benchmark::State& state)
{
    const CImage& photo = Photo();
    CImage copy;
    copy.CreateForOverwrite(photo.width(), photo.height(), 24);
    const std::size_t bytes = std::size_t(-photo.pitch()) * std::size_t(photo.height());
    for (auto _ : state) {
        std::memcpy(copy.bits() + std::ptrdiff_t(photo.height() - 1) * copy.pitch(),
                    photo.bits() + std::ptrdiff_t(photo.height() - 1) * photo.pitch(), bytes);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_CopyFloor)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_FullEncode(benchmark::State& state)
{
    const CImage& photo = Photo();
    const CCase& c = Case(state.range(0));
    state.SetLabel(c.name);
    std::vector<std::uint8_t> file;
    for (auto _ : state) {
        EncodePictureFile(photo, c.format, c.options, nullptr, file);
        benchmark::DoNotOptimize(file.data());
    }
    const double predicted = double(PredictFileSize(photo, c.format, c.options, nullptr).bytes);
    state.counters["bytes"] = double(file.size());
    state.counters["error_pct"] = 100.0 * (predicted - double(file.size())) / double(file.size());
}
BENCHMARK(BM_FullEncode)->DenseRange(0, 6)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

} // namespace

BENCHMARK_MAIN();
