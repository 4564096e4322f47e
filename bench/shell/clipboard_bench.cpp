// Edit > Copy of a 6000 x 4000 picture: the whole command (the picture's rows into a new image, onto
// the clipboard), the conversion alone, and beside them a plain copy of the same bytes into fresh
// memory, the floor any copy has to pay.
#include "bench/bench_support.h"
#include "io/picture_codec.h"
#include "shell/clipboard.h"

#include <QApplication>
#include <QClipboard>

#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <optional>

namespace {

void BM_CopyToClipboard(benchmark::State& state)
{
    const CImage& picture = bench_support::GradientPicture();
    for (auto _ : state) benchmark::DoNotOptimize(clipboard::CopyPicture(picture, std::nullopt));
    QGuiApplication::clipboard()->clear();
    state.counters["MB"] = static_cast<double>(picture.width()) * picture.height() * 3 / 1e6;
}

void BM_CopySelectionToClipboard(benchmark::State& state)
{
    const CImage& picture = bench_support::GradientPicture();
    const CRegion half{1000, 1000, 3000, 2000};
    for (auto _ : state) benchmark::DoNotOptimize(clipboard::CopyPicture(picture, half));
    QGuiApplication::clipboard()->clear();
}

void BM_PictureToQImage(benchmark::State& state)
{
    const CImage& picture = bench_support::GradientPicture();
    for (auto _ : state) {
        QImage image = PictureToQImage(picture);
        benchmark::DoNotOptimize(image.constBits());
    }
}

// The same number of bytes into memory that has not been touched yet, as the clipboard's image is.
void BM_PlainCopy(benchmark::State& state)
{
    const CImage& picture = bench_support::GradientPicture();
    const std::size_t bytes = std::size_t(picture.width()) * picture.height() * 3;
    for (auto _ : state) {
        std::unique_ptr<std::uint8_t[]> copy(new std::uint8_t[bytes]);
        std::memcpy(copy.get(), picture.bufferStart(), bytes);
        benchmark::DoNotOptimize(copy.get());
        benchmark::ClobberMemory();
    }
}

} // namespace

BENCHMARK(BM_CopyToClipboard)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CopySelectionToClipboard)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PictureToQImage)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PlainCopy)->Unit(benchmark::kMillisecond)->UseRealTime();
