// Byte-table lookups 64 bytes at a time: two 128-entry permutes cover the 256 entries and the top
// bit of each input byte picks between them. Only this file is compiled for AVX-512 (BW and VBMI);
// it is reached only after the processor has been checked for those.
#include <immintrin.h>

#include <cstdint>

void MapRowTableAvx512(const std::uint8_t* src, std::uint8_t* dst, int bytes, const std::uint8_t* table);
void MapRowChannelTablesAvx512(const std::uint8_t* src, std::uint8_t* dst, int width, const std::uint8_t* blue,
                               const std::uint8_t* green, const std::uint8_t* red);

namespace {

struct CWideTable
{
    __m512i low0, low1, high0, high1;

    explicit CWideTable(const std::uint8_t* table)
        : low0(_mm512_loadu_si512(table)), low1(_mm512_loadu_si512(table + 64)),
          high0(_mm512_loadu_si512(table + 128)), high1(_mm512_loadu_si512(table + 192))
    {
    }

    __m512i Look(__m512i v) const
    {
        const __m512i low = _mm512_permutex2var_epi8(low0, v, low1);
        const __m512i high = _mm512_permutex2var_epi8(high0, v, high1);
        return _mm512_mask_blend_epi8(_mm512_movepi8_mask(v), low, high);
    }
};

// Bytes [0, count) of a 64-byte block; a partial block is read and written under this mask, so
// nothing outside the row is touched.
__mmask64 Leading(int count)
{
    return count >= 64 ? ~__mmask64{0} : (__mmask64{1} << count) - 1;
}

} // namespace

void MapRowTableAvx512(const std::uint8_t* src, std::uint8_t* dst, int bytes, const std::uint8_t* table)
{
    const CWideTable t(table);
    for (int i = 0; i < bytes; i += 64) {
        const __mmask64 k = Leading(bytes - i);
        const __m512i v = _mm512_maskz_loadu_epi8(k, src + i);
        _mm512_mask_storeu_epi8(dst + i, k, t.Look(v));
    }
}

void MapRowChannelTablesAvx512(const std::uint8_t* src, std::uint8_t* dst, int width, const std::uint8_t* blue,
                               const std::uint8_t* green, const std::uint8_t* red)
{
    const CWideTable b(blue), g(green), r(red);
    // Byte i of a block starting at row offset 64k belongs to channel (k + i) mod 3 (64 = 1 mod 3),
    // so three mask pairs, one per block phase, say which lanes are green and which red.
    __mmask64 greenLanes[3] = {0, 0, 0}, redLanes[3] = {0, 0, 0};
    for (int phase = 0; phase < 3; ++phase)
        for (int i = 0; i < 64; ++i) {
            const int channel = (phase + i) % 3;
            if (channel == 1) greenLanes[phase] |= __mmask64{1} << i;
            if (channel == 2) redLanes[phase] |= __mmask64{1} << i;
        }
    const int bytes = 3 * width;
    int phase = 0;
    for (int i = 0; i < bytes; i += 64) {
        const __mmask64 k = Leading(bytes - i);
        const __m512i v = _mm512_maskz_loadu_epi8(k, src + i);
        __m512i out = _mm512_mask_blend_epi8(greenLanes[phase], b.Look(v), g.Look(v));
        out = _mm512_mask_blend_epi8(redLanes[phase], out, r.Look(v));
        _mm512_mask_storeu_epi8(dst + i, k, out);
        phase = phase == 2 ? 0 : phase + 1;
    }
}
