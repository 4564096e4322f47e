// Add noise eight pixels at a time; this file alone is compiled for AVX2 and only called after the
// processor has been checked for it.
//
// Lanes hold the generator states of eight neighbouring pixels; draw t of every pixel is one
// affine step from its state, and the lanes move on by eight columns at once. The noise values are
// the same table entries (or the same values by the uniform formula) and the same double-precision
// products as the plain rows of add_noise.cpp, so the result is identical; only the bookkeeping is
// vectorised.
#include "filters/effects/add_noise_kernel.h"

#include <immintrin.h>

namespace orvex_noise {
namespace {

inline __m256i DrawAt(__m256i states, const CLcgStep& step)
{
    const __m256i s = _mm256_add_epi32(_mm256_mullo_epi32(states, _mm256_set1_epi32(static_cast<int>(step.multiplier))),
                                       _mm256_set1_epi32(static_cast<int>(step.increment)));
    return _mm256_and_si256(_mm256_srli_epi32(s, 16), _mm256_set1_epi32(0x7FFF));
}

// d mod divisor for draws d < 32768: the quotient is (d * 33555) >> shift exactly (shift 25 for 1000,
// 26 for 2000).
inline __m256i Remainder(__m256i d, int divisor, int shift)
{
    const __m256i q = _mm256_srli_epi32(_mm256_mullo_epi32(d, _mm256_set1_epi32(33555)), shift);
    return _mm256_sub_epi32(d, _mm256_mullo_epi32(q, _mm256_set1_epi32(divisor)));
}

inline __m128i GaussianHalf(__m128i i, __m128i j, const CNoiseTables& t)
{
    // The masked forms start from zeros rather than an undefined register.
    const __m256d all = _mm256_castsi256_pd(_mm256_set1_epi64x(-1));
    const __m256d r = _mm256_mask_i32gather_pd(_mm256_setzero_pd(), t.radius, i, all, 8);
    const __m256d a = _mm256_mask_i32gather_pd(_mm256_setzero_pd(), t.angle, j, all, 8);
    return _mm256_cvttpd_epi32(_mm256_mul_pd(_mm256_set1_pd(t.scale), _mm256_mul_pd(r, a)));
}

template <bool kUniform>
inline __m256i ChannelNoise(__m256i states, int firstDraw, const CDrawSteps& steps, const CNoiseTables& t)
{
    if constexpr (kUniform) {
        const __m256i i = Remainder(DrawAt(states, steps.draw[firstDraw]), 2000, 26);
        if (const CUniformFormula* f = steps.formula) {
            // In 32-bit lanes the two-part constant is one product, which the derivation keeps
            // below 2^32.
            const __m256i m = _mm256_sub_epi32(i, _mm256_set1_epi32(1000));
            const __m256i a = _mm256_min_epi32(_mm256_abs_epi32(m), _mm256_set1_epi32(f->limit));
            const int constant = static_cast<int>((std::uint32_t{f->high} << 16) | f->low);
            const __m256i g =
                _mm256_srl_epi32(_mm256_mullo_epi32(a, _mm256_set1_epi32(constant)), _mm_cvtsi32_si128(16 + f->shift));
            return _mm256_sign_epi32(g, m);
        }
        return _mm256_mask_i32gather_epi32(_mm256_setzero_si256(), t.uniform32, i, _mm256_set1_epi32(-1), 4);
    } else {
        const __m256i i = Remainder(DrawAt(states, steps.draw[firstDraw]), 1000, 25);
        const __m256i j = Remainder(DrawAt(states, steps.draw[firstDraw + 1]), 1000, 25);
        const __m128i low = GaussianHalf(_mm256_castsi256_si128(i), _mm256_castsi256_si128(j), t);
        const __m128i high = GaussianHalf(_mm256_extracti128_si256(i, 1), _mm256_extracti128_si256(j, 1), t);
        const __m256i n = _mm256_set_m128i(high, low);
        return _mm256_min_epi32(_mm256_max_epi32(n, _mm256_set1_epi32(-kNoiseLimit)), _mm256_set1_epi32(kNoiseLimit));
    }
}

// Noise of the row's first pixels, eight at a time; returns how many pixels it did and leaves in
// `state` the generator state of the first pixel it did not do.
template <bool kUniform, bool kMonochromatic>
int NoiseRowAvx2(std::uint32_t& state, CLcgStep column, const CDrawSteps& steps, const CNoiseTables& t, int width,
                 std::int16_t* out)
{
    if (width < 8) return 0;
    alignas(32) std::uint32_t first[8];
    std::uint32_t s = state;
    for (std::uint32_t& lane : first) {
        lane = s;
        s = column.Apply(s);
    }
    __m256i pixels = _mm256_load_si256(reinterpret_cast<const __m256i*>(first));
    const __m256i eightMul = _mm256_set1_epi32(static_cast<int>(steps.eight.multiplier));
    const __m256i eightAdd = _mm256_set1_epi32(static_cast<int>(steps.eight.increment));
    // Byte positions 8v .. 8v + 7 of a group of eight pixels: which pixel, and which channel
    // (masks of the green and of the red positions; the rest are blue).
    const __m256i pixelOf[3] = {_mm256_setr_epi32(0, 0, 0, 1, 1, 1, 2, 2), _mm256_setr_epi32(2, 3, 3, 3, 4, 4, 4, 5),
                                _mm256_setr_epi32(5, 5, 6, 6, 6, 7, 7, 7)};
    constexpr int kPerChannel = kUniform ? 1 : 2;

    int x = 0;
    for (; x + 8 <= width; x += 8) {
        const __m256i red = ChannelNoise<kUniform>(pixels, 1, steps, t);
        const __m256i green = kMonochromatic ? red : ChannelNoise<kUniform>(pixels, 1 + kPerChannel, steps, t);
        const __m256i blue = kMonochromatic ? red : ChannelNoise<kUniform>(pixels, 1 + 2 * kPerChannel, steps, t);
        const __m256i v0 = _mm256_blend_epi32(_mm256_blend_epi32(_mm256_permutevar8x32_epi32(blue, pixelOf[0]),
                                                                 _mm256_permutevar8x32_epi32(green, pixelOf[0]), 0x92),
                                              _mm256_permutevar8x32_epi32(red, pixelOf[0]), 0x24);
        const __m256i v1 = _mm256_blend_epi32(_mm256_blend_epi32(_mm256_permutevar8x32_epi32(blue, pixelOf[1]),
                                                                 _mm256_permutevar8x32_epi32(green, pixelOf[1]), 0x24),
                                              _mm256_permutevar8x32_epi32(red, pixelOf[1]), 0x49);
        const __m256i v2 = _mm256_blend_epi32(_mm256_blend_epi32(_mm256_permutevar8x32_epi32(blue, pixelOf[2]),
                                                                 _mm256_permutevar8x32_epi32(green, pixelOf[2]), 0x49),
                                              _mm256_permutevar8x32_epi32(red, pixelOf[2]), 0x92);
        // packs works within 128-bit halves; the permute puts the 16 values back in order.
        const __m256i packed01 = _mm256_permute4x64_epi64(_mm256_packs_epi32(v0, v1), 0xD8);
        const __m256i packed2 = _mm256_permute4x64_epi64(_mm256_packs_epi32(v2, v2), 0xD8);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 3 * x), packed01);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 3 * x + 16), _mm256_castsi256_si128(packed2));
        pixels = _mm256_add_epi32(_mm256_mullo_epi32(pixels, eightMul), eightAdd);
    }
    state = static_cast<std::uint32_t>(_mm256_cvtsi256_si32(pixels));
    return x;
}

} // namespace

CNoiseRowPart NoiseRowAvx2(bool uniform, bool monochromatic)
{
    if (uniform) return monochromatic ? &NoiseRowAvx2<true, true> : &NoiseRowAvx2<true, false>;
    return monochromatic ? &NoiseRowAvx2<false, true> : &NoiseRowAvx2<false, false>;
}

void AddNoiseToRowAvx2(const std::uint8_t* __restrict in, const std::int16_t* __restrict noise,
                       std::uint8_t* __restrict out, int bytes)
{
    for (int i = 0; i < bytes; ++i) {
        const int v = in[i] + noise[i];
        out[i] = static_cast<std::uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
    }
}

// The same, in place (the input and output rows are one).
void AddNoiseInPlaceAvx2(std::uint8_t* __restrict row, const std::int16_t* __restrict noise, int bytes)
{
    for (int i = 0; i < bytes; ++i) {
        const int v = row[i] + noise[i];
        row[i] = static_cast<std::uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
    }
}

} // namespace orvex_noise
