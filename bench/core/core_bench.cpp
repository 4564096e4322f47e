// Opening pictures and copying them (history push, undo), each beside the floor it cannot beat:
// the bare decoder for the same file, and a plain memcpy of the same bytes; and the first touch of
// a photo's work buffer with and without huge pages.
#include "core/huge_pages.h"
#include "core/image.h"
#include "core/image_history.h"
#include "io/bmp_decoder.h"
#include "io/picture_codec.h"
#include "io/picture_file.h"

#include <QBuffer>
#include <QDir>
#include <QImage>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <jpeglib.h>
#include <memory>
#include <png.h>
#include <vector>

namespace {

constexpr int kWidth = 6000;
constexpr int kHeight = 4000;

// A photo-like picture: smooth gradients with fine texture, so that encoders work as hard as on a
// real photo (flat synthetic pictures decode unrealistically fast).
QImage MakePhoto()
{
    QImage image(kWidth, kHeight, QImage::Format_RGB888);
    std::uint32_t state = 12345;
    for (int y = 0; y < kHeight; ++y) {
        uchar* row = image.scanLine(y);
        for (int x = 0; x < kWidth; ++x) {
            state = state * 1664525u + 1013904223u;
            const int noise = static_cast<int>(state >> 28) - 8;
            row[3 * x] = static_cast<uchar>(std::clamp((x * 255) / kWidth + noise, 0, 255));
            row[3 * x + 1] = static_cast<uchar>(std::clamp((y * 255) / kHeight + noise, 0, 255));
            row[3 * x + 2] = static_cast<uchar>(std::clamp(((x + y) * 127) / (kWidth + kHeight) + 64 + noise, 0, 255));
        }
    }
    return image;
}

const QString& BenchFile(const char* suffix)
{
    static const QString dir = QDir::temp().filePath(QStringLiteral("orvex-core-bench"));
    static const QString jpg = dir + QStringLiteral("/photo_6000x4000.jpg");
    static const QString png = dir + QStringLiteral("/photo_6000x4000.png");
    static const bool made = [] {
        QDir().mkpath(dir);
        if (!QFile::exists(jpg) || !QFile::exists(png)) {
            const QImage photo = MakePhoto();
            photo.save(jpg, "JPEG", 92);
            photo.save(png, "PNG");
        }
        return true;
    }();
    (void)made;
    return std::strcmp(suffix, "jpg") == 0 ? jpg : png;
}

void BM_OpenJpeg(benchmark::State& state)
{
    const QString path = BenchFile("jpg");
    for (auto _ : state) {
        CImage picture;
        if (!LoadPicture(path, picture)) state.SkipWithError("load failed");
        benchmark::DoNotOptimize(picture.bits());
    }
}

// libjpeg-turbo on its own, straight into blue-green-red rows: the floor for opening a JPEG.
void BM_LibjpegTurboDecode(benchmark::State& state)
{
    const QByteArray path = BenchFile("jpg").toLocal8Bit();
    std::vector<unsigned char> pixels(std::size_t(kWidth) * kHeight * 3);
    for (auto _ : state) {
        FILE* file = std::fopen(path.constData(), "rb");
        jpeg_decompress_struct cinfo{};
        jpeg_error_mgr jerr{};
        cinfo.err = jpeg_std_error(&jerr);
        jpeg_create_decompress(&cinfo);
        jpeg_stdio_src(&cinfo, file);
        jpeg_read_header(&cinfo, TRUE);
        cinfo.out_color_space = JCS_EXT_BGR;
        jpeg_start_decompress(&cinfo);
        while (cinfo.output_scanline < cinfo.output_height) {
            JSAMPROW row = pixels.data() + std::size_t(cinfo.output_scanline) * cinfo.output_width * 3;
            jpeg_read_scanlines(&cinfo, &row, 1);
        }
        jpeg_finish_decompress(&cinfo);
        jpeg_destroy_decompress(&cinfo);
        std::fclose(file);
        benchmark::DoNotOptimize(pixels.data());
    }
}

void BM_OpenPng(benchmark::State& state)
{
    const QString path = BenchFile("png");
    for (auto _ : state) {
        CImage picture;
        if (!LoadPicture(path, picture)) state.SkipWithError("load failed");
        benchmark::DoNotOptimize(picture.bits());
    }
}

// libpng on its own, into blue-green-red rows: the floor for opening a PNG.
void BM_LibpngDecode(benchmark::State& state)
{
    const QByteArray path = BenchFile("png").toLocal8Bit();
    std::vector<unsigned char> pixels(std::size_t(kWidth) * kHeight * 3);
    for (auto _ : state) {
        png_image image{};
        image.version = PNG_IMAGE_VERSION;
        png_image_begin_read_from_file(&image, path.constData());
        image.format = PNG_FORMAT_BGR;
        png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr);
        png_image_free(&image);
        benchmark::DoNotOptimize(pixels.data());
    }
}

CImage& BigPicture()
{
    static CImage picture = [] {
        CImage p;
        p.Create(kWidth, kHeight, 24);
        std::memset(const_cast<std::uint8_t*>(p.bufferStart()), 0x5A, p.bufferBytes());
        return p;
    }();
    return picture;
}

void BM_Memcpy(benchmark::State& state)
{
    const CImage& source = BigPicture();
    std::vector<std::uint8_t> target(source.bufferBytes(), 1);
    for (auto _ : state) {
        std::memcpy(target.data(), source.bufferStart(), source.bufferBytes());
        benchmark::DoNotOptimize(target.data());
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(source.bufferBytes()));
}

// File > New of a white 6000 x 4000 picture, allocation and first touch included, beside the floor:
// fresh memory of the same size filled once.
void BM_NewWhitePicture(benchmark::State& state)
{
    for (auto _ : state) {
        CImage picture;
        if (!picture.CreateGrey(kWidth, kHeight, 255)) state.SkipWithError("no memory");
        benchmark::DoNotOptimize(picture.bits());
    }
}

void BM_FreshFillFloor(benchmark::State& state)
{
    const std::size_t bytes = std::size_t((kWidth * 3 + 3) / 4 * 4) * kHeight;
    for (auto _ : state) {
        std::unique_ptr<std::uint8_t[]> buffer(new std::uint8_t[bytes]);
        std::memset(buffer.get(), 255, bytes);
        benchmark::DoNotOptimize(buffer.get());
    }
}

// A 6000 x 4000 8-bit BMP of a full palette, uncompressed (arg 0) or run-length coded in runs of
// 1..8 pixels (arg 1), read by our decoder; the floors are BM_Memcpy and BM_FreshFillFloor.
std::vector<std::uint8_t> PalettedBmp(bool runLength)
{
    std::vector<std::uint8_t> body;
    std::uint32_t seed = 99;
    const auto next = [&seed] { return (seed = seed * 1664525u + 1013904223u) >> 24; };
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth;) {
            const int run = runLength ? int(std::min<unsigned>(1 + next() % 8, unsigned(kWidth - x))) : 1;
            const auto value = std::uint8_t((x + y + next() % 16) & 255);
            if (runLength) body.insert(body.end(), {std::uint8_t(run), value});
            else body.push_back(value);
            x += run;
        }
        if (runLength) body.insert(body.end(), {0, 0});
    }
    if (runLength) body.insert(body.end(), {0, 1});
    const auto le32 = [](std::vector<std::uint8_t>& b, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) b.push_back(std::uint8_t(v >> (8 * i)));
    };
    const std::uint32_t offset = 54 + 1024;
    std::vector<std::uint8_t> file{'B', 'M'};
    le32(file, offset + std::uint32_t(body.size()));
    le32(file, 0);
    le32(file, offset);
    for (std::uint32_t v : {40u, std::uint32_t(kWidth), std::uint32_t(kHeight)}) le32(file, v);
    file.insert(file.end(), {1, 0, 8, 0});
    for (std::uint32_t v : {runLength ? 1u : 0u, std::uint32_t(body.size()), 2835u, 2835u, 256u, 0u}) le32(file, v);
    for (int i = 0; i < 256; ++i)
        file.insert(file.end(), {std::uint8_t(i), std::uint8_t(255 - i), std::uint8_t(i * 3), 0});
    file.insert(file.end(), body.begin(), body.end());
    return file;
}

void BM_DecodePalettedBmp(benchmark::State& state)
{
    const std::vector<std::uint8_t> file = PalettedBmp(state.range(0) != 0);
    for (auto _ : state) {
        CImage picture;
        if (DecodeBmpDirect(file.data(), file.size(), picture, nullptr) != DirectResult::Decoded)
            state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(picture.bits());
    }
}

// Dublicate's work: the copy that becomes the new document's picture and its history's first
// snapshot, as every document has.
void BM_DuplicateDocument(benchmark::State& state)
{
    const CImage& source = BigPicture();
    for (auto _ : state) {
        CImage copy;
        CImageHistory history;
        if (!copy.CopyFrom(source) || !history.Push(copy)) state.SkipWithError("no memory");
        benchmark::DoNotOptimize(copy.bits());
    }
}

// Steady state of applying commands: each push lands in a full history.
void BM_HistoryPush(benchmark::State& state)
{
    const CImage& picture = BigPicture();
    CImageHistory history;
    for (int i = 0; i < CImageHistory::kMaxSnapshots; ++i) history.Push(picture);
    for (auto _ : state) {
        if (!history.Push(picture)) state.SkipWithError("push failed");
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(picture.bufferBytes()));
}

void BM_Undo(benchmark::State& state)
{
    CImage picture;
    picture.CopyFrom(BigPicture());
    CImageHistory history;
    history.Push(picture);
    history.Push(picture);
    for (auto _ : state) {
        history.Undo(picture);
        history.Redo(picture);
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * 2 * std::int64_t(picture.bufferBytes()));
}

// Saving as GIF: colour reduction, mapping and LZW. ORVEX_BENCH_PHOTO names a real photo to use
// instead of the synthetic one (whose colours are unusually easy).
void BM_SaveGif(benchmark::State& state)
{
    const char* photo = std::getenv("ORVEX_BENCH_PHOTO");
    CImage picture;
    if (!LoadPicture(photo ? QString::fromLocal8Bit(photo) : BenchFile("jpg"), picture)) state.SkipWithError("load failed");
    for (auto _ : state) {
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        if (!EncodePicture(picture, "gif", buffer)) state.SkipWithError("save failed");
        benchmark::DoNotOptimize(bytes.data());
    }
}

// What a diffusion buffer of a photo (24 bytes a pixel) costs to fault in with huge pages and with
// the small pages it gets where marking it would have stalled in compaction: the price of the
// fallback, measured on memory that has huge pages free.
void BM_FirstTouchOfWorkBuffer(benchmark::State& state)
{
    const auto advice = state.range(0) ? orvex_memory::CHugePageAdvice::Whole : orvex_memory::CHugePageAdvice::None;
    orvex_testing::UseHugePageSettings(true, advice);
    const std::size_t bytes = std::size_t(24) * kWidth * kHeight;
    for (auto _ : state) {
        auto* buffer = static_cast<unsigned char*>(orvex_memory::MapHugeAligned(bytes));
        if (!buffer) {
            state.SkipWithError("no memory");
            break;
        }
        for (std::size_t offset = 0; offset < bytes; offset += 4096) buffer[offset] = 1;
        benchmark::DoNotOptimize(buffer[bytes / 2]);
        orvex_memory::Unmap(buffer);
    }
    orvex_testing::UseHugePageSettings(false);
}

} // namespace

BENCHMARK(BM_SaveGif)->Unit(benchmark::kMillisecond)->MinTime(3)->UseRealTime();
BENCHMARK(BM_OpenJpeg)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(BM_LibjpegTurboDecode)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(BM_OpenPng)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(BM_LibpngDecode)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(BM_Memcpy)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NewWhitePicture)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FreshFillFloor)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DecodePalettedBmp)->ArgName("rle")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DuplicateDocument)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_HistoryPush)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Undo)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FirstTouchOfWorkBuffer)->ArgName("huge")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();
