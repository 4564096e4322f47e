#include "python/array_bridge.h"

#include "core/image_processor.h"
#include "core/parallel.h"
#include "filters/convolution/fft_plans.h"

#include <cstddef>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace {

// Rows per ParallelFor block: a few thousand pixels each, so that small pictures do not pay for
// the hand-out and large ones still spread over every core.
int RowsPerBlock(int width)
{
    const int rows = 16384 / (width > 0 ? width : 1);
    return rows < 1 ? 1 : rows;
}

template <class Row>
void ForEachRowBlock(int height, int width, const Row& row)
{
    const int step = RowsPerBlock(width);
    const int blocks = (height + step - 1) / step;
    ParallelFor(0, blocks, [&](int from, int to) {
        const int end = to * step < height ? to * step : height;
        for (int y = from * step; y < end; ++y) row(y);
    });
}

// One row of pixels with the first and third byte of each exchanged (red <-> blue).
void SwapRowScalar(const std::uint8_t* src, std::uint8_t* dst, int width)
{
    for (int x = 0; x < width; ++x) {
        dst[0] = src[2];
        dst[1] = src[1];
        dst[2] = src[0];
        src += 3;
        dst += 3;
    }
}

#if defined(__x86_64__) || defined(__i386__)
// Four pixels per shuffle: 16 bytes are read and written, of which the last 4 belong to the next
// step, which writes them again; the last steps that would reach past the row are left to the
// scalar loop, so nothing outside either row is touched.
__attribute__((target("ssse3"))) void SwapRowSsse3(const std::uint8_t* src, std::uint8_t* dst, int width)
{
    const __m128i shuffle = _mm_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 12, 13, 14, 15);
    int x = 0;
    for (; (x + 4) * 3 + 4 <= width * 3; x += 4) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + x * 3));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + x * 3), _mm_shuffle_epi8(v, shuffle));
    }
    SwapRowScalar(src + x * 3, dst + x * 3, width - x);
}

const bool g_hasSsse3 = [] {
    __builtin_cpu_init(); // may run before the runtime's own initialisation of the flags
    return __builtin_cpu_supports("ssse3") != 0;
}();
#endif

void SwapRow(const std::uint8_t* src, std::uint8_t* dst, int width)
{
#if defined(__x86_64__) || defined(__i386__)
    if (g_hasSsse3) return SwapRowSsse3(src, dst, width);
#endif
    SwapRowScalar(src, dst, width);
}

} // namespace

bool ArrayToImage(const std::uint8_t* pixels, int width, int height, ChannelOrder order, CImage& picture)
{
    if (!picture.CreateForOverwrite(width, height, 24)) return false;
    const std::size_t rowBytes = std::size_t(width) * 3;
    const std::size_t padding = picture.rowBytes() - rowBytes;
    std::uint8_t* const top = picture.bits();
    const std::ptrdiff_t pitch = picture.pitch();
    ForEachRowBlock(height, width, [&](int y) {
        const std::uint8_t* src = pixels + std::size_t(y) * rowBytes;
        std::uint8_t* dst = top + std::ptrdiff_t(y) * pitch;
        if (order == ChannelOrder::Bgr) std::memcpy(dst, src, rowBytes);
        else SwapRow(src, dst, width);
        // Padding is part of the picture's bytes (copies and comparisons take whole rows): zero, as
        // the loader leaves it.
        if (padding) std::memset(dst + rowBytes, 0, padding);
    });
    return true;
}

void ImageToArray(const CImage& picture, ChannelOrder order, std::uint8_t* pixels)
{
    const int width = picture.width();
    const std::size_t rowBytes = std::size_t(width) * 3;
    const std::uint8_t* const top = picture.bits();
    const std::ptrdiff_t pitch = picture.pitch();
    ForEachRowBlock(picture.height(), width, [&](int y) {
        const std::uint8_t* src = top + std::ptrdiff_t(y) * pitch;
        std::uint8_t* dst = pixels + std::size_t(y) * rowBytes;
        if (order == ChannelOrder::Bgr) std::memcpy(dst, src, rowBytes);
        else SwapRow(src, dst, width);
    });
}

std::string RunPlan(CImage& picture, const std::vector<CPlannedOperation>& plan, std::optional<std::uint32_t> seed)
{
    CImageProcessor engine(&picture);
    engine.SetSeedOverride(seed);
    for (const CPlannedOperation& step : plan) {
        engine.ClearFailure();
        const bool ok = step.op->call(engine, step.args);
        if (!ok || engine.Failed()) return step.op->name + ": " + step.op->failureMessage;
    }
    return {};
}

void UseBatchPlanning()
{
    orvex_fft::CPlanningOptions planning;
    planning.measureInBackground = false;
    orvex_fft::SetPlanningOptions(planning);
}
