#include "filters/effects/fragment.h"

#include "core/beside_output.h"
#include "core/image_processor.h"
#include "core/parallel.h"
#include "filters/effects/effects_internal.h"

#include <immintrin.h>

#include <algorithm>
#include <atomic>
#include <cstdint>

namespace {

// One output row and the three source rows it is made from.
struct CRowSpan
{
    const std::uint8_t* up;
    const std::uint8_t* down;
    const std::uint8_t* centre;
    std::uint8_t* target;
    int shift;
};

// Each kernel makes the bytes from `from` on, as far as whole vectors go, each the rounded mean of
// the bytes `shift` before and after it in the centre row and at its place in the rows above and
// below, and returns where it stopped. Widening by interleaving with zero and narrowing with a
// saturating pack both work within 128-bit lanes, so the bytes come back in their order without a
// cross-lane shuffle; four bytes plus 2 fit 16 bits.
inline void MeanPlain(const CRowSpan& s, int from, int to)
{
    for (int i = from; i < to; ++i)
        s.target[i] =
            static_cast<std::uint8_t>((s.up[i] + s.down[i] + s.centre[i - s.shift] + s.centre[i + s.shift] + 2) >> 2);
}

int MeanSse2(const CRowSpan& s, int from, int to)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i two = _mm_set1_epi16(2);
    int i = from;
    for (; i + 16 <= to; i += 16) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s.up + i));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s.down + i));
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s.centre + i - s.shift));
        const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s.centre + i + s.shift));
        __m128i lo = _mm_add_epi16(_mm_add_epi16(_mm_unpacklo_epi8(a, zero), _mm_unpacklo_epi8(b, zero)),
                                   _mm_add_epi16(_mm_unpacklo_epi8(c, zero), _mm_unpacklo_epi8(d, zero)));
        __m128i hi = _mm_add_epi16(_mm_add_epi16(_mm_unpackhi_epi8(a, zero), _mm_unpackhi_epi8(b, zero)),
                                   _mm_add_epi16(_mm_unpackhi_epi8(c, zero), _mm_unpackhi_epi8(d, zero)));
        lo = _mm_srli_epi16(_mm_add_epi16(lo, two), 2);
        hi = _mm_srli_epi16(_mm_add_epi16(hi, two), 2);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(s.target + i), _mm_packus_epi16(lo, hi));
    }
    return i;
}

__attribute__((target("avx2"))) int MeanAvx2(const CRowSpan& s, int from, int to)
{
    const __m256i zero = _mm256_setzero_si256();
    const __m256i two = _mm256_set1_epi16(2);
    int i = from;
    for (; i + 32 <= to; i += 32) {
        const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s.up + i));
        const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s.down + i));
        const __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s.centre + i - s.shift));
        const __m256i d = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s.centre + i + s.shift));
        __m256i lo = _mm256_add_epi16(_mm256_add_epi16(_mm256_unpacklo_epi8(a, zero), _mm256_unpacklo_epi8(b, zero)),
                                      _mm256_add_epi16(_mm256_unpacklo_epi8(c, zero), _mm256_unpacklo_epi8(d, zero)));
        __m256i hi = _mm256_add_epi16(_mm256_add_epi16(_mm256_unpackhi_epi8(a, zero), _mm256_unpackhi_epi8(b, zero)),
                                      _mm256_add_epi16(_mm256_unpackhi_epi8(c, zero), _mm256_unpackhi_epi8(d, zero)));
        lo = _mm256_srli_epi16(_mm256_add_epi16(lo, two), 2);
        hi = _mm256_srli_epi16(_mm256_add_epi16(hi, two), 2);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(s.target + i), _mm256_packus_epi16(lo, hi));
    }
    return i;
}

__attribute__((target("avx512f,avx512bw"))) int MeanAvx512(const CRowSpan& s, int from, int to)
{
    const std::uint8_t* const up = s.up;
    const std::uint8_t* const down = s.down;
    const std::uint8_t* const left = s.centre - s.shift;
    const std::uint8_t* const right = s.centre + s.shift;
    std::uint8_t* const target = s.target;
    const __m512i zero = _mm512_setzero_si512();
    const __m512i two = _mm512_set1_epi16(2);
    int i = from;
    for (; i + 64 <= to; i += 64) {
        const __m512i a = _mm512_loadu_si512(up + i);
        const __m512i b = _mm512_loadu_si512(down + i);
        const __m512i c = _mm512_loadu_si512(left + i);
        const __m512i d = _mm512_loadu_si512(right + i);
        __m512i lo = _mm512_add_epi16(_mm512_add_epi16(_mm512_unpacklo_epi8(a, zero), _mm512_unpacklo_epi8(b, zero)),
                                      _mm512_add_epi16(_mm512_unpacklo_epi8(c, zero), _mm512_unpacklo_epi8(d, zero)));
        __m512i hi = _mm512_add_epi16(_mm512_add_epi16(_mm512_unpackhi_epi8(a, zero), _mm512_unpackhi_epi8(b, zero)),
                                      _mm512_add_epi16(_mm512_unpackhi_epi8(c, zero), _mm512_unpackhi_epi8(d, zero)));
        lo = _mm512_srli_epi16(_mm512_add_epi16(lo, two), 2);
        hi = _mm512_srli_epi16(_mm512_add_epi16(hi, two), 2);
        _mm512_storeu_si512(target + i, _mm512_packus_epi16(lo, hi));
    }
    return i;
}

using CMeanKernel = int (*)(const CRowSpan&, int, int);

bool Supported(orvex_testing::FragmentKernel kernel)
{
    __builtin_cpu_init();
    switch (kernel) {
    case orvex_testing::FragmentKernel::kAvx512:
        return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw");
    case orvex_testing::FragmentKernel::kAvx2: return __builtin_cpu_supports("avx2");
    default: return true;
    }
}

std::atomic<int> g_forced{-1};

CMeanKernel Kernel()
{
    using orvex_testing::FragmentKernel;
    static const FragmentKernel best = Supported(FragmentKernel::kAvx512) ? FragmentKernel::kAvx512
                                       : Supported(FragmentKernel::kAvx2) ? FragmentKernel::kAvx2
                                                                          : FragmentKernel::kSse2;
    const int forced = g_forced.load(std::memory_order_relaxed);
    switch (forced < 0 ? best : static_cast<FragmentKernel>(forced)) {
    case FragmentKernel::kAvx512: return MeanAvx512;
    case FragmentKernel::kAvx2: return MeanAvx2;
    default: return MeanSse2;
    }
}

void FragmentRows(const CImage& picture, const CBesideOutput& out, int offset, CMeanKernel mean, int y0, int y1)
{
    const int width = picture.width();
    const int height = picture.height();
    auto row = [&](int y) {
        return picture.bits() + static_cast<std::ptrdiff_t>(std::clamp(y, 0, height - 1)) * picture.pitch();
    };
    // Pixels whose left and right copies both lie inside the row; the few outside take the edge
    // pixel one at a time, so the vector loop needs no clamping.
    const int inner0 = std::min(offset, width);
    const int inner1 = std::max(inner0, width - offset);
    for (int y = y0; y < y1; ++y) {
        const CRowSpan span{row(y - offset), row(y + offset), row(y), out.Row(y), 3 * offset};
        auto one = [&](int x) {
            const std::uint8_t* left = span.centre + 3 * std::max(x - offset, 0);
            const std::uint8_t* right = span.centre + 3 * std::min(x + offset, width - 1);
            for (int c = 0; c < 3; ++c)
                span.target[3 * x + c] = static_cast<std::uint8_t>(
                    (span.up[3 * x + c] + span.down[3 * x + c] + left[c] + right[c] + 2) >> 2);
        };
        for (int x = 0; x < inner0; ++x) one(x);
        MeanPlain(span, mean(span, 3 * inner0, 3 * inner1), 3 * inner1);
        for (int x = inner1; x < width; ++x) one(x);
    }
}

} // namespace

void Fragment(CImageProcessor& engine, int offset)
{
    CBesideOutput out;
    if (!out.Begin(engine)) return;
    const CImage& picture = *engine.image();
    offset = std::clamp(offset, 1, 50);
    const CMeanKernel mean = Kernel();
    ParallelFor(0, picture.height(), [&](int y0, int y1) { FragmentRows(picture, out, offset, mean, y0, y1); });
    out.Commit();
}

namespace orvex_testing {

bool UseFragmentKernel(FragmentKernel kernel)
{
    if (kernel == FragmentKernel::kBest) {
        g_forced.store(-1, std::memory_order_relaxed);
        return true;
    }
    if (!Supported(kernel)) return false;
    g_forced.store(static_cast<int>(kernel), std::memory_order_relaxed);
    return true;
}

} // namespace orvex_testing
