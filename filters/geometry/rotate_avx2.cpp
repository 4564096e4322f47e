// The arbitrary rotation's row kernel, four output pixels per step in 256-bit double vectors. Every
// product and sum is the scalar kernel's, in the same order and without fused multiply-add, so the
// bytes are identical; groups with a sample near or outside the edge go to the scalar kernel.
#include "filters/geometry/rotate_kernel.h"

#include <immintrin.h>

#include <cstring>

namespace orvex_geometry {

void RenderRotatedRowAvx2(const CRotation& r, std::uint8_t* out, int outWidth, int xStart, double yr)
{
    const __m256d cd = _mm256_set1_pd(r.c);
    const __m256d sd = _mm256_set1_pd(r.s);
    const __m256d cx = _mm256_set1_pd(r.centreX);
    const __m256d cy = _mm256_set1_pd(r.centreY);
    const __m256d xsPart = _mm256_set1_pd(yr * static_cast<double>(r.s));
    const __m256d ysPart = _mm256_set1_pd(yr * static_cast<double>(r.c));
    const __m256d zero = _mm256_setzero_pd();
    const __m256d one = _mm256_set1_pd(1.0);
    // A 32-bit read of the right-hand sample takes the byte after it, which lies past the buffer
    // only for the last pixel of an unpadded top row: without padding the vector path stops one
    // column earlier.
    const bool padded = static_cast<std::size_t>(3 * r.width) < r.source->rowBytes();
    const __m256d limitX = _mm256_set1_pd(padded ? r.width - 1.0 : r.width - 2.0);
    const __m256d limitY = _mm256_set1_pd(r.height - 1.0);
    const int pitch = r.source->pitch();
    const std::uint8_t* const bits = r.source->bits();
    const __m128i byteMask = _mm_set1_epi32(0xFF);

    int X = 0;
    for (; X + 4 <= outWidth; X += 4) {
        const __m256d xr = _mm256_cvtepi32_pd(_mm_add_epi32(_mm_set1_epi32(X + xStart), _mm_setr_epi32(0, 1, 2, 3)));
        const __m256d xs = _mm256_add_pd(_mm256_add_pd(cx, _mm256_mul_pd(xr, cd)), xsPart);
        const __m256d ys = _mm256_add_pd(_mm256_sub_pd(cy, _mm256_mul_pd(xr, sd)), ysPart);
        const __m256d inside = _mm256_and_pd(
            _mm256_and_pd(_mm256_cmp_pd(xs, zero, _CMP_GE_OQ), _mm256_cmp_pd(ys, zero, _CMP_GE_OQ)),
            _mm256_and_pd(_mm256_cmp_pd(xs, limitX, _CMP_LT_OQ), _mm256_cmp_pd(ys, limitY, _CMP_LT_OQ)));
        if (_mm256_movemask_pd(inside) != 0xF) {
            r.RenderPixels(out, X, X + 4, xStart, yr);
            continue;
        }
        const __m128i x0 = _mm256_cvttpd_epi32(xs);
        const __m128i y0 = _mm256_cvttpd_epi32(ys);
        const __m256d fx = _mm256_sub_pd(xs, _mm256_cvtepi32_pd(x0));
        const __m256d fy = _mm256_sub_pd(ys, _mm256_cvtepi32_pd(y0));
        const __m256d gx = _mm256_sub_pd(one, fx);
        const __m256d gy = _mm256_sub_pd(one, fy);
        // Byte offsets of the top-left samples from the picture's top row.
        const __m128i offsets = _mm_add_epi32(_mm_mullo_epi32(y0, _mm_set1_epi32(pitch)),
                                              _mm_mullo_epi32(x0, _mm_set1_epi32(3)));
        const auto* base = reinterpret_cast<const int*>(bits);
        const __m128i s00 = _mm_i32gather_epi32(base, offsets, 1);
        const __m128i s10 = _mm_i32gather_epi32(base, _mm_add_epi32(offsets, _mm_set1_epi32(3)), 1);
        const __m128i s01 = _mm_i32gather_epi32(base, _mm_add_epi32(offsets, _mm_set1_epi32(pitch)), 1);
        const __m128i s11 = _mm_i32gather_epi32(base, _mm_add_epi32(offsets, _mm_set1_epi32(pitch + 3)), 1);
        __m128i packed = _mm_setzero_si128();
        for (int ch = 0; ch < 3; ++ch) {
            const __m128i shift = _mm_cvtsi32_si128(8 * ch);
            const __m256d p00 = _mm256_cvtepi32_pd(_mm_and_si128(_mm_srl_epi32(s00, shift), byteMask));
            const __m256d p10 = _mm256_cvtepi32_pd(_mm_and_si128(_mm_srl_epi32(s10, shift), byteMask));
            const __m256d p01 = _mm256_cvtepi32_pd(_mm_and_si128(_mm_srl_epi32(s01, shift), byteMask));
            const __m256d p11 = _mm256_cvtepi32_pd(_mm_and_si128(_mm_srl_epi32(s11, shift), byteMask));
            const __m256d top = _mm256_add_pd(_mm256_mul_pd(p00, gx), _mm256_mul_pd(p10, fx));
            const __m256d bottom = _mm256_add_pd(_mm256_mul_pd(p01, gx), _mm256_mul_pd(p11, fx));
            const __m256d v = _mm256_add_pd(_mm256_mul_pd(top, gy), _mm256_mul_pd(bottom, fy));
            packed = _mm_or_si128(packed, _mm_sll_epi32(_mm256_cvttpd_epi32(v), shift));
        }
        alignas(16) std::uint32_t pixels[4];
        _mm_store_si128(reinterpret_cast<__m128i*>(pixels), packed);
        std::uint8_t* o = out + 3 * static_cast<std::ptrdiff_t>(X);
        for (int i = 0; i < 4; ++i) {
            o[3 * i] = static_cast<std::uint8_t>(pixels[i]);
            o[3 * i + 1] = static_cast<std::uint8_t>(pixels[i] >> 8);
            o[3 * i + 2] = static_cast<std::uint8_t>(pixels[i] >> 16);
        }
    }
    r.RenderPixels(out, X, outWidth, xStart, yr);
}

} // namespace orvex_geometry

namespace orvex_geometry {

void TurnBandAvx2(const CImage& source, CImage& target, bool clockwise, int y, int x0, int x1)
{
    const int w = source.width();
    const int h = source.height();
    // Pixels widened to 32 bits, and back.
    const __m128i widen = _mm_setr_epi8(0, 1, 2, -128, 3, 4, 5, -128, 6, 7, 8, -128, 9, 10, 11, -128);
    const __m128i narrow = _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -128, -128, -128, -128);
    std::uint8_t* out[4];
    for (int j = 0; j < 4; ++j) out[j] = Row(target, y + j);
    const int firstColumn = clockwise ? y : w - 4 - y;
    int x = x0;
    for (; x + 4 <= x1; x += 4) {
        __m128i r[4];
        for (int k = 0; k < 4; ++k) {
            const std::uint8_t* p = Row(source, clockwise ? h - 1 - (x + k) : x + k) + 3 * firstColumn;
            r[k] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), widen);
        }
        const __m128i t0 = _mm_unpacklo_epi32(r[0], r[1]);
        const __m128i t1 = _mm_unpacklo_epi32(r[2], r[3]);
        const __m128i t2 = _mm_unpackhi_epi32(r[0], r[1]);
        const __m128i t3 = _mm_unpackhi_epi32(r[2], r[3]);
        const __m128i columns[4] = {_mm_unpacklo_epi64(t0, t1), _mm_unpackhi_epi64(t0, t1), _mm_unpacklo_epi64(t2, t3),
                                    _mm_unpackhi_epi64(t2, t3)};
        for (int j = 0; j < 4; ++j) {
            const __m128i v = _mm_shuffle_epi8(columns[clockwise ? j : 3 - j], narrow);
            std::uint8_t* o = out[j] + 3 * x;
            _mm_storel_epi64(reinterpret_cast<__m128i*>(o), v);
            const std::uint32_t tail = static_cast<std::uint32_t>(_mm_extract_epi32(v, 2));
            std::memcpy(o + 8, &tail, 4);
        }
    }
    for (; x < x1; ++x)
        for (int j = 0; j < 4; ++j) {
            const std::uint8_t* p = clockwise ? Row(source, h - 1 - x) + 3 * (y + j) : Row(source, x) + 3 * (w - 1 - y - j);
            std::memcpy(out[j] + 3 * x, p, 3);
        }
}

} // namespace orvex_geometry
