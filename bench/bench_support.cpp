#include "bench/bench_support.h"

#include "core/parallel.h"

#include <cstdlib>
#include <fstream>
#include <istream>
#include <map>
#include <utility>

namespace bench_support {

void FillGradient(CImage& image, int width, int height)
{
    image.Create(width, height, 24);
    std::uint32_t seed = 12345;
    for (int y = 0; y < height; ++y) {
        std::uint8_t* row = image.bits() + static_cast<std::ptrdiff_t>(y) * image.pitch();
        for (int x = 0; x < width; ++x) {
            seed = seed * 1664525u + 1013904223u;
            const int noise = static_cast<int>(seed >> 28) - 8;
            row[3 * x] = static_cast<std::uint8_t>((x * 255 / width + noise) & 0xFF);
            row[3 * x + 1] = static_cast<std::uint8_t>((y * 255 / height + noise) & 0xFF);
            row[3 * x + 2] = static_cast<std::uint8_t>(((x + y) * 255 / (width + height) + 2 * noise) & 0xFF);
        }
    }
}

const CImage& GradientPicture(int width, int height)
{
    static std::map<std::pair<int, int>, CImage> pictures;
    CImage& image = pictures[{width, height}];
    if (image.IsNull()) FillGradient(image, width, height);
    return image;
}

std::string PeerPicturePath(int width, int height)
{
    const char* dir = std::getenv("ORVEX_BENCH_IMAGES");
    return std::string(dir ? dir : "/tmp/orvex-bench") + "/photo_" + std::to_string(width) + "x" +
           std::to_string(height) + ".ppm";
}

namespace {

int NextNumber(std::istream& in)
{
    int c = in.get();
    while (c == ' ' || c == '\n' || c == '\r' || c == '\t' || c == '#') {
        if (c == '#')
            while (c != '\n' && c != EOF) c = in.get();
        c = in.get();
    }
    int value = 0;
    while (c >= '0' && c <= '9') {
        value = value * 10 + (c - '0');
        c = in.get();
    }
    return value;
}

} // namespace

bool ReadPpm(const std::string& path, CImage& image)
{
    std::ifstream in(path, std::ios::binary);
    if (!in || in.get() != 'P' || in.get() != '6') return false;
    const int width = NextNumber(in), height = NextNumber(in), maxValue = NextNumber(in);
    if (width < 1 || height < 1 || maxValue != 255 || !image.Create(width, height, 24)) return false;
    std::string row(std::size_t(width) * 3, '\0');
    for (int y = 0; y < height; ++y) {
        if (!in.read(row.data(), std::streamsize(row.size()))) return false;
        std::uint8_t* out = image.bits() + std::ptrdiff_t(y) * image.pitch();
        for (int x = 0; x < width; ++x) { // PPM is red, green, blue
            out[3 * x] = std::uint8_t(row[3 * x + 2]);
            out[3 * x + 1] = std::uint8_t(row[3 * x + 1]);
            out[3 * x + 2] = std::uint8_t(row[3 * x]);
        }
    }
    return true;
}

CEngineFixture::CEngineFixture(const CImage& source, bool preview)
{
    picture.CopyFrom(source);
    if (preview) {
        engine.workImage().Create(source.width(), source.height(), 24);
        engine.preview = 1;
    }
}

void RunRepeatedly(benchmark::State& state, CEngineFixture& fixture, const CImage* restoreFrom,
                   const std::function<void(CImageProcessor&)>& op)
{
    for (auto _ : state) {
        if (restoreFrom) {
            state.PauseTiming();
            fixture.picture.CopyFrom(*restoreFrom);
            state.ResumeTiming();
        }
        op(fixture.engine);
        benchmark::ClobberMemory();
    }
}

void InvertEveryBytePass(benchmark::State& state, CImage& picture)
{
    const std::size_t bytes = picture.bufferBytes();
    std::uint8_t* const start = picture.bits() + static_cast<std::ptrdiff_t>(picture.height() - 1) * picture.pitch();
    for (auto _ : state) {
        ParallelFor(0, 64, [start, bytes](int b, int e) {
            std::uint8_t* const from = start + bytes * static_cast<std::size_t>(b) / 64;
            std::uint8_t* const to = start + bytes * static_cast<std::size_t>(e) / 64;
            for (std::uint8_t* p = from; p < to; ++p) *p = static_cast<std::uint8_t>(~*p);
        });
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(bytes));
}

} // namespace bench_support
