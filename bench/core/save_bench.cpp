// Encoding a 6000 x 4000 photo-like picture, each beside a plain single-threaded encode of the
// same pixels with the library's usual settings: libjpeg-turbo at quality 92 4:4:4, and libpng's
// default row filters at zlib level 6.
#include "io/jpeg_encoder.h"
#include "io/png_encoder.h"

#include <benchmark/benchmark.h>

#include <jpeglib.h>
#include <png.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

constexpr int kWidth = 6000;
constexpr int kHeight = 4000;

// Smooth gradients with fine texture, as in core_bench.
const CImage& Photo()
{
    static const CImage photo = [] {
        CImage image;
        image.Create(kWidth, kHeight, 24);
        std::uint32_t state = 12345;
        for (int y = 0; y < kHeight; ++y) {
            std::uint8_t* row = image.bits() + std::ptrdiff_t(y) * image.pitch();
            for (int x = 0; x < kWidth; ++x) {
                state = state * 1664525u + 1013904223u;
                const int noise = static_cast<int>(state >> 28) - 8;
                row[3 * x + 2] = static_cast<std::uint8_t>(std::clamp((x * 255) / kWidth + noise, 0, 255));
                row[3 * x + 1] = static_cast<std::uint8_t>(std::clamp((y * 255) / kHeight + noise, 0, 255));
                row[3 * x] = static_cast<std::uint8_t>(std::clamp(((x + y) * 127) / (kWidth + kHeight) + 64 + noise, 0, 255));
            }
        }
        return image;
    }();
    return photo;
}

void BM_EncodeJpeg(benchmark::State& state)
{
    const CImage& photo = Photo();
    CJpegOptions options;
    options.strips = static_cast<int>(state.range(0));
    std::vector<std::uint8_t> out;
    for (auto _ : state) {
        EncodeJpeg(photo, options, {}, out, nullptr);
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["bytes"] = double(out.size());
}
BENCHMARK(BM_EncodeJpeg)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_PlainLibjpeg(benchmark::State& state)
{
    const CImage& photo = Photo();
    unsigned long size = 0;
    for (auto _ : state) {
        jpeg_compress_struct cinfo{};
        jpeg_error_mgr errors{};
        cinfo.err = jpeg_std_error(&errors);
        jpeg_create_compress(&cinfo);
        unsigned char* buffer = nullptr;
        size = 0;
        jpeg_mem_dest(&cinfo, &buffer, &size);
        cinfo.image_width = kWidth;
        cinfo.image_height = kHeight;
        cinfo.input_components = 3;
        cinfo.in_color_space = JCS_EXT_BGR;
        jpeg_set_defaults(&cinfo);
        jpeg_set_quality(&cinfo, 92, TRUE);
        cinfo.comp_info[0].h_samp_factor = cinfo.comp_info[0].v_samp_factor = 1;
        jpeg_start_compress(&cinfo, TRUE);
        while (cinfo.next_scanline < cinfo.image_height) {
            JSAMPROW row = const_cast<JSAMPROW>(photo.bits() + std::ptrdiff_t(cinfo.next_scanline) * photo.pitch());
            jpeg_write_scanlines(&cinfo, &row, 1);
        }
        jpeg_finish_compress(&cinfo);
        jpeg_destroy_compress(&cinfo);
        std::free(buffer);
    }
    state.counters["bytes"] = double(size);
}
BENCHMARK(BM_PlainLibjpeg)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_EncodePng(benchmark::State& state)
{
    const CImage& photo = Photo();
    CPngOptions options;
    options.pieces = static_cast<int>(state.range(0));
    std::vector<std::uint8_t> out;
    for (auto _ : state) {
        EncodePng(photo, options, {}, out, nullptr);
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["bytes"] = double(out.size());
}
BENCHMARK(BM_EncodePng)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_PlainLibpng(benchmark::State& state)
{
    const CImage& photo = Photo();
    long bytes = 0;
    for (auto _ : state) {
        std::FILE* file = std::tmpfile();
        png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
        png_infop info = png_create_info_struct(png);
        png_init_io(png, file);
        png_set_compression_level(png, 6);
        png_set_IHDR(png, info, kWidth, kHeight, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                     PNG_FILTER_TYPE_DEFAULT);
        png_set_bgr(png);
        png_write_info(png, info);
        for (int y = 0; y < kHeight; ++y)
            png_write_row(png, const_cast<png_bytep>(photo.bits() + std::ptrdiff_t(y) * photo.pitch()));
        png_write_end(png, info);
        png_destroy_write_struct(&png, &info);
        bytes = std::ftell(file);
        std::fclose(file);
    }
    state.counters["bytes"] = double(bytes);
}
BENCHMARK(BM_PlainLibpng)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

} // namespace

BENCHMARK_MAIN();
