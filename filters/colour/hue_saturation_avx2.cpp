// The hue/saturation kernel with eight pixels per vector; this file alone is compiled for AVX2 and
// only called after the processor has been checked for it. Pixels are spread into lanes and packed
// back with byte shuffles rather than one lane at a time, which would cost as much as the arithmetic.
#include "filters/colour/hue_saturation_kernel.h"

#include <immintrin.h>

void HueSaturationRowAvx2(const std::uint8_t* src, std::uint8_t* dst, int width, float hue, float saturation,
                          float lightness);

namespace {

using CKernel = CHslKernel<CFloat8, CInt8>;

// Reads 28 bytes from `src` (8 pixels and 4 more) and spreads the channels into 32-bit lanes.
void Load8(const std::uint8_t* src, CInt8& blue, CInt8& green, CInt8& red)
{
    const __m256i pixels = _mm256_set_m128i(_mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 12)),
                                            _mm_loadu_si128(reinterpret_cast<const __m128i*>(src)));
    const __m256i spreadBlue = _mm256_setr_epi8(0, -1, -1, -1, 3, -1, -1, -1, 6, -1, -1, -1, 9, -1, -1, -1,
                                                0, -1, -1, -1, 3, -1, -1, -1, 6, -1, -1, -1, 9, -1, -1, -1);
    // Adding 1 to the first byte of every lane moves each selector to the next channel.
    const __m256i nextChannel = _mm256_set1_epi32(1);
    const __m256i spreadGreen = _mm256_add_epi8(spreadBlue, nextChannel);
    const __m256i spreadRed = _mm256_add_epi8(spreadGreen, nextChannel);
    blue = (CInt8)_mm256_shuffle_epi8(pixels, spreadBlue);
    green = (CInt8)_mm256_shuffle_epi8(pixels, spreadGreen);
    red = (CInt8)_mm256_shuffle_epi8(pixels, spreadRed);
}

// Writes exactly 24 bytes, so that in place the next pixels' input is not overwritten early.
void Store8(std::uint8_t* dst, CInt8 blue, CInt8 green, CInt8 red)
{
    const __m256i packed = _mm256_or_si256(
        (__m256i)blue, _mm256_or_si256(_mm256_slli_epi32((__m256i)green, 8), _mm256_slli_epi32((__m256i)red, 16)));
    const __m256i gather = _mm256_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1,
                                            0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
    const __m256i tight = _mm256_shuffle_epi8(packed, gather);
    const __m128i low = _mm256_castsi256_si128(tight);
    const __m128i high = _mm256_extracti128_si256(tight, 1);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst), low);
    const int lowTail = _mm_extract_epi32(low, 2);
    __builtin_memcpy(dst + 8, &lowTail, 4);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + 12), high);
    const int highTail = _mm_extract_epi32(high, 2);
    __builtin_memcpy(dst + 20, &highTail, 4);
}

} // namespace

void HueSaturationRowAvx2(const std::uint8_t* src, std::uint8_t* dst, int width, float hue, float saturation,
                          float lightness)
{
    const CHslAdjust adjust{hue, saturation, lightness};
    CInt8 blue, green, red, b, g, r;
    int x = 0;
    // Load8 reads 4 bytes past its 8 pixels, so the fast loop keeps 2 pixels of margin to the end.
    for (; x + 10 <= width; x += 8) {
        Load8(src + 3 * x, blue, green, red);
        CKernel::Compute(blue, green, red, adjust, b, g, r);
        Store8(dst + 3 * x, b, g, r);
    }
    while (x < width) {
        std::uint8_t tail[3 * 8 + 4] = {};
        const int pixels = width - x < 8 ? width - x : 8;
        __builtin_memcpy(tail, src + 3 * x, static_cast<unsigned>(3 * pixels));
        Load8(tail, blue, green, red);
        CKernel::Compute(blue, green, red, adjust, b, g, r);
        Store8(tail, b, g, r);
        __builtin_memcpy(dst + 3 * x, tail, static_cast<unsigned>(3 * pixels));
        x += pixels;
    }
}
