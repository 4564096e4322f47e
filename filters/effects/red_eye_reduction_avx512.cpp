// Red-eye reduction's band steps with AVX-512; this file alone is compiled for it (with BMI2) and only
// called after the processor has been checked for it.
//
// A ring slot keeps each plane in pixel order, so a 16-bit lane of it holds an even pixel in its
// low byte and the next odd pixel in its high byte. The column sums of a channel are kept the same
// way split: first the sums of the even pixels (E[k] for pixel 2k), then those of the odd ones
// (O[k] for pixel 2k + 1). Splitting a lane needs no shuffle, and the five-wide window is
//   even pixel 2k:     E[k-1] + O[k-1] + E[k] + O[k] + E[k+1]
//   odd pixel 2k + 1:  O[k-1] + E[k] + O[k] + E[k+1] + O[k+1].
#include "filters/effects/red_eye_reduction_kernel.h"

#include <immintrin.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace orvex_red_eye {
namespace {

constexpr int kHalf = kChunk / 2;

struct CPlaneIndices
{
    // plane[p] = byte 3p + ch of the 192 bytes a, b, c: first from a and b, then from c where
    // 3p + ch >= 128.
    std::uint8_t fromAb[3][kChunk];
    std::uint8_t fromC[3][kChunk];
    std::uint64_t takesC[3];
};

constexpr CPlaneIndices MakePlaneIndices()
{
    CPlaneIndices t{};
    for (int ch = 0; ch < 3; ++ch)
        for (int p = 0; p < kChunk; ++p) {
            const int i = 3 * p + ch;
            t.fromAb[ch][p] = static_cast<std::uint8_t>(i < 128 ? i : 0);
            t.fromC[ch][p] = static_cast<std::uint8_t>(i < 128 ? 0 : i - 128);
            if (i >= 128) t.takesC[ch] |= std::uint64_t{1} << p;
        }
    return t;
}

constexpr CPlaneIndices kPlaneIndices = MakePlaneIndices();

struct CWideConstants
{
    CWideConstants()
    {
        for (int ch = 0; ch < 3; ++ch) {
            fromAb[ch] = _mm512_loadu_si512(kPlaneIndices.fromAb[ch]);
            fromC[ch] = _mm512_loadu_si512(kPlaneIndices.fromC[ch]);
        }
    }
    __m512i fromAb[3], fromC[3];
};

// Chunk c of `row` into the ring slot and the column sums; its sums are left in `even` and `odd`.
inline void SlideChunk(const std::uint8_t* row, const std::uint8_t* next, std::size_t rowBytes, int c,
                       const CShape& shape, std::uint8_t* slot, std::int16_t* columns, bool leave,
                       const CWideConstants& k, __m512i (&even)[3], __m512i (&odd)[3])
{
    const __m512i lowBytes = _mm512_set1_epi16(0x00FF);
    const std::size_t at = static_cast<std::size_t>(c) * 3 * kChunk;
    // Each row starts a new stream in memory, which the processor's own prefetching picks up
    // late: ask for the next row while this one is summed.
    if (next)
        for (std::size_t i = at; i < std::min(at + 3 * kChunk, rowBytes); i += kChunk)
            _mm_prefetch(reinterpret_cast<const char*>(next + i), _MM_HINT_T0);
    __m512i bytes[3];
    if (at + 3 * kChunk <= rowBytes) {
        for (int i = 0; i < 3; ++i) bytes[i] = _mm512_loadu_si512(row + at + i * kChunk);
    } else { // the row's end: nothing past it is read, the rest is zero
        const std::size_t left = rowBytes - at;
        for (int i = 0; i < 3; ++i) {
            const std::size_t here = left > static_cast<std::size_t>(i) * kChunk ? left - i * kChunk : 0;
            const __mmask64 m = _bzhi_u64(~0ULL, static_cast<unsigned>(std::min<std::size_t>(here, kChunk)));
            bytes[i] = _mm512_maskz_loadu_epi8(m, row + at + i * kChunk);
        }
    }
    for (int ch = 0; ch < 3; ++ch) {
        const __m512i ab = _mm512_permutex2var_epi8(bytes[0], k.fromAb[ch], bytes[1]);
        const __m512i plane = _mm512_mask_permutexvar_epi8(ab, kPlaneIndices.takesC[ch], k.fromC[ch], bytes[2]);
        std::uint8_t* kept = slot + ch * shape.plane() + static_cast<std::size_t>(c) * kChunk;
        std::int16_t* evenAt = columns + ch * shape.region() + kHalf + static_cast<std::size_t>(c) * kHalf;
        std::int16_t* oddAt = evenAt + shape.region() / 2;
        __m512i e = _mm512_add_epi16(_mm512_load_si512(evenAt), _mm512_and_si512(plane, lowBytes));
        __m512i o = _mm512_add_epi16(_mm512_load_si512(oddAt), _mm512_srli_epi16(plane, 8));
        if (leave) {
            const __m512i old = _mm512_load_si512(kept);
            e = _mm512_sub_epi16(e, _mm512_and_si512(old, lowBytes));
            o = _mm512_sub_epi16(o, _mm512_srli_epi16(old, 8));
        }
        _mm512_store_si512(kept, plane);
        _mm512_store_si512(evenAt, e);
        _mm512_store_si512(oddAt, o);
        even[ch] = e;
        odd[ch] = o;
    }
}

} // namespace

void SlideInWide(const std::uint8_t* row, const std::uint8_t* next, std::uint8_t* slot, std::int16_t* columns,
                 int width)
{
    const CShape shape(width);
    const CWideConstants k;
    __m512i even[3], odd[3];
    for (int c = 0; c < shape.chunks; ++c)
        SlideChunk(row, next, static_cast<std::size_t>(width) * 3, c, shape, slot, columns, false, k, even, odd);
}

namespace {

// Fives for multiplying. Hidden from the compiler, which otherwise turns each product into a shift
// and an add: two instructions where the processor multiplies in one.
inline __m512i Fives()
{
    __m512i five = _mm512_set1_epi16(5);
    __asm__("" : "+v"(five));
    return five;
}

// The mark rule on 32 window sums of each channel (blue, green, red).
inline __mmask32 MarkLanes(const __m512i* sum)
{
    const __m512i twiceRed = _mm512_add_epi16(sum[2], sum[2]);
    const __m512i five = Fives();
    __mmask32 k = _mm512_cmpgt_epi16_mask(sum[2], _mm512_set1_epi16(128));
    k = _mm512_mask_cmpgt_epi16_mask(k, twiceRed, _mm512_mullo_epi16(sum[1], five));
    return _mm512_mask_cmpgt_epi16_mask(k, twiceRed, _mm512_mullo_epi16(sum[0], five));
}

// A window sum of 2 red - 5 green can only be positive if one of its five column sums is: `green`
// gets the lanes of the chunk whose columns have 2 red > 5 green, even or odd, `blue` the same for
// blue.
inline void RedderColumns(const __m512i (&even)[3], const __m512i (&odd)[3], std::uint32_t& green, std::uint32_t& blue)
{
    const __m512i five = Fives();
    const __m512i evenRed = _mm512_add_epi16(even[2], even[2]);
    const __m512i oddRed = _mm512_add_epi16(odd[2], odd[2]);
    green = _mm512_cmpgt_epi16_mask(evenRed, _mm512_mullo_epi16(even[1], five)) |
            _mm512_cmpgt_epi16_mask(oddRed, _mm512_mullo_epi16(odd[1], five));
    blue = _mm512_cmpgt_epi16_mask(evenRed, _mm512_mullo_epi16(even[0], five)) |
           _mm512_cmpgt_epi16_mask(oddRed, _mm512_mullo_epi16(odd[0], five));
}

} // namespace

// One sweep per row: chunk c + 1 is slid in, then chunk c is marked with the sums of chunk c + 1
// still in registers. A window reaches at most into the neighbouring chunks, so a chunk without a
// redder column there, for green and for blue, has no marks.
void StepWide(const std::uint8_t* row, const std::uint8_t* next, std::uint8_t* slot, std::int16_t* columns, int width,
              std::uint64_t* marks)
{
    const CShape shape(width);
    const std::size_t rowBytes = static_cast<std::size_t>(width) * 3;
    const CWideConstants k;
    // Lane j of the chunk from lane j - 1 (the previous chunk's last for j = 0), and from lane j + 1.
    alignas(64) static constexpr std::uint16_t kBefore[kHalf] = {31, 32, 33, 34, 35, 36, 37, 38, 39, 40, 41,
                                                                 42, 43, 44, 45, 46, 47, 48, 49, 50, 51, 52,
                                                                 53, 54, 55, 56, 57, 58, 59, 60, 61, 62};
    alignas(64) static constexpr std::uint16_t kAfter[kHalf] = {1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11,
                                                                12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22,
                                                                23, 24, 25, 26, 27, 28, 29, 30, 31, 32};
    const __m512i before = _mm512_load_si512(kBefore);
    const __m512i after = _mm512_load_si512(kAfter);
    // The stored sums of chunk c (-1 is the zeros in front of the row).
    const auto evenAt = [&](int ch, int c) {
        return columns + ch * shape.region() + kHalf + static_cast<std::ptrdiff_t>(c) * kHalf;
    };
    __m512i evenNext[3], oddNext[3];
    SlideChunk(row, next, rowBytes, 0, shape, slot, columns, true, k, evenNext, oddNext);
    std::uint32_t greenLast = 0, blueLast = 0, greenHere, blueHere;
    RedderColumns(evenNext, oddNext, greenHere, blueHere);
    for (int c = 0; c < shape.chunks; ++c) {
        std::uint32_t greenNext = 0, blueNext = 0;
        if (c + 1 < shape.chunks) {
            SlideChunk(row, next, rowBytes, c + 1, shape, slot, columns, true, k, evenNext, oddNext);
            RedderColumns(evenNext, oddNext, greenNext, blueNext);
        } else {
            for (int ch = 0; ch < 3; ++ch) evenNext[ch] = oddNext[ch] = _mm512_setzero_si512();
        }
        const bool candidate = (greenLast | greenHere | greenNext) != 0 && (blueLast | blueHere | blueNext) != 0;
        greenLast = greenHere, blueLast = blueHere;
        greenHere = greenNext, blueHere = blueNext;
        if (!candidate) {
            marks[c] = 0;
            continue;
        }
        __m512i evenSum[3], oddSum[3];
        for (int ch = 0; ch < 3; ++ch) {
            const std::int16_t* lastAt = evenAt(ch, c - 1);
            const std::int16_t* hereAt = evenAt(ch, c);
            const std::size_t odd = shape.region() / 2;
            const __m512i evenLast = _mm512_load_si512(lastAt), oddLast = _mm512_load_si512(lastAt + odd);
            const __m512i evenHere = _mm512_load_si512(hereAt), oddHere = _mm512_load_si512(hereAt + odd);
            const __m512i oddBefore = _mm512_permutex2var_epi16(oddLast, before, oddHere);
            const __m512i evenAfter = _mm512_permutex2var_epi16(evenHere, after, evenNext[ch]);
            const __m512i pair = _mm512_add_epi16(evenHere, oddHere);
            const __m512i pairBefore =
                _mm512_add_epi16(_mm512_permutex2var_epi16(evenLast, before, evenHere), oddBefore);
            const __m512i pairAfter =
                _mm512_add_epi16(evenAfter, _mm512_permutex2var_epi16(oddHere, after, oddNext[ch]));
            evenSum[ch] = _mm512_add_epi16(_mm512_add_epi16(pairBefore, pair), evenAfter);
            oddSum[ch] = _mm512_add_epi16(_mm512_add_epi16(oddBefore, pair), pairAfter);
        }
        const std::uint64_t bits =
            _pdep_u64(MarkLanes(evenSum), 0x5555555555555555ULL) | _pdep_u64(MarkLanes(oddSum), 0xAAAAAAAAAAAAAAAAULL);
        marks[c] = bits & DetectableBits(c, width);
    }
}

void CorrectWide(std::uint8_t* row, const std::uint64_t* marks, int width)
{
    const CShape shape(width);
    const std::uint64_t third = (std::uint64_t{1} << 21) - 1;
    const __m512i one = _mm512_set1_epi8(1);
    for (int c = 0; c < shape.chunks; ++c) {
        const std::uint64_t bits = marks[c];
        if (bits == 0) continue;
        const __mmask64 reds[3] = {_pdep_u64(bits & third, RedPositions(2, 21)),
                                   _pdep_u64((bits >> 21) & third, RedPositions(1, 21)),
                                   _pdep_u64(bits >> 42, RedPositions(0, 22))};
        for (int i = 0; i < 3; ++i) {
            if (reds[i] == 0) continue;
            // Only the bytes of marked pixels are touched, so nothing outside the row is read.
            std::uint8_t* at = row + static_cast<std::size_t>(c) * 3 * kChunk + i * kChunk;
            const __m512i green = _mm512_maskz_loadu_epi8(reds[i], at - 1);
            const __m512i blue = _mm512_maskz_loadu_epi8(reds[i], at - 2);
            // The rounded-up mean, less the half it rounded.
            const __m512i mean =
                _mm512_sub_epi8(_mm512_avg_epu8(green, blue), _mm512_and_si512(_mm512_xor_si512(green, blue), one));
            _mm512_mask_storeu_epi8(at, reds[i], mean);
        }
    }
}

} // namespace orvex_red_eye
