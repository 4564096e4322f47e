// Red-eye reduction: pixels whose 5 x 5 neighbourhood is strongly red lose their red glare.
//
// Marks are decided on the unchanged picture and applied afterwards. Rows are shared out in bands.
// A band slides 16-bit column sums (five rows) down its rows; every row that enters is also kept in
// a ring of five rows, so that it can leave the sums again without reading the picture. A row can
// therefore be corrected as soon as its marks are known. The two first and two last rows of a band
// are read by its neighbours: their marks are kept and applied once every band has finished.
#include "core/image_processor.h"
#include "core/parallel.h"
#include "filters/effects/effects_internal.h"

#include <immintrin.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <new>
#include <thread>
#include <vector>

namespace {

constexpr int kReach = 2;        // the window runs from -2 to +2 around the pixel
constexpr int kChunk = 64;       // pixels per mark word; rows are laid out in whole chunks
constexpr int kRingRows = 2 * kReach + 1;

// Buffer sizes for a row of `chunks` chunks, which each kernel lays out its own way: a ring slot
// has 3 * plane() bytes, the column sums 3 * region() 16-bit entries, which leaves room for zeros
// around the row, so that neighbours at -2 .. +2 can always be read.
struct CShape
{
    explicit CShape(int width) : chunks((width + kChunk - 1) / kChunk) {}
    int chunks;
    std::size_t plane() const { return static_cast<std::size_t>(chunks) * kChunk; }
    std::size_t region() const { return static_cast<std::size_t>(chunks + 2) * kChunk; }
};

// The mark rule on window sums of blue, green and red: sG * 2.5 < sR and sB * 2.5 < sR, which for
// integers is exactly 5 sG < 2 sR, and sR > 128. Sums of 5 x 5 bytes reach 6375; five times that
// still fits 16 bits, where every kernel works.

// Mark bits of chunk c that belong to pixels 2 .. width - 3.
inline std::uint64_t DetectableBits(int c, int width)
{
    const int first = std::max(kReach, c * kChunk) - c * kChunk;
    const int last = std::min(width - 1 - kReach, c * kChunk + kChunk - 1) - c * kChunk;
    if (last < first) return 0;
    const std::uint64_t upTo = last == kChunk - 1 ? ~std::uint64_t{0} : (std::uint64_t{1} << (last + 1)) - 1;
    return upTo & ~((std::uint64_t{1} << first) - 1);
}

// What a band needs done per row, in one of several instruction sets.
//  slideIn: adds `row` to the column sums and keeps it in `slot` (as the band starts);
//  step:    the same, taking off the row kept in `slot` before, then one mark word per chunk of
//           64 pixels from the sums; `next`, if not null, is the row that will come next;
//  correct: red becomes (green + blue) / 2 in the marked pixels of `row`.
struct CKernel
{
    void (*slideIn)(const std::uint8_t* row, const std::uint8_t* next, std::uint8_t* slot, std::int16_t* columns,
                    int width);
    void (*step)(const std::uint8_t* row, const std::uint8_t* next, std::uint8_t* slot, std::int16_t* columns,
                 int width, std::uint64_t* marks);
    void (*correct)(std::uint8_t* row, const std::uint64_t* marks, int width);
};

// Red byte positions within each third of 64 pixels' 192 bytes: pixels 0-20, 21-41 and 42-63.
constexpr std::uint64_t RedPositions(int first, int count)
{
    std::uint64_t bits = 0;
    for (int q = 0; q < count; ++q) bits |= std::uint64_t{1} << (first + 3 * q);
    return bits;
}

// ---- Plain and AVX2: the same code on the rows as they are, byte by byte ----
//
// A ring slot is a copy of the row; the column sum of byte i is at columns[kLead + i].

#define ORVEX_INLINE inline __attribute__((always_inline))

constexpr int kLead = 3 * kChunk;

ORVEX_INLINE void SlideInBody(const std::uint8_t* row, std::uint8_t* slot, std::int16_t* columns, int width, bool leave)
{
    const int bytes = 3 * width;
    std::int16_t* __restrict sums = columns + kLead;
    const std::uint8_t* __restrict entering = row;
    const std::uint8_t* __restrict kept = slot;
    if (leave)
        for (int i = 0; i < bytes; ++i) sums[i] = static_cast<std::int16_t>(sums[i] + entering[i] - kept[i]);
    else
        for (int i = 0; i < bytes; ++i) sums[i] = static_cast<std::int16_t>(sums[i] + entering[i]);
    std::memcpy(slot, row, static_cast<std::size_t>(bytes));
}

// flags[j] is 0xFF where byte 192c + j, taken as a red byte, passes the mark rule with the two bytes
// before it (only every third is one).
ORVEX_INLINE void ChunkFlags(const std::int16_t* columns, int c, std::uint8_t* flags)
{
    const std::int16_t* sums = columns + kLead + 3 * kChunk * c - 2;
    std::int16_t window[3 * kChunk + 2]; // from byte 192c - 2 on
    for (int t = 0; t < 3 * kChunk + 2; ++t)
        window[t] = static_cast<std::int16_t>(sums[t - 6] + sums[t - 3] + sums[t] + sums[t + 3] + sums[t + 6]);
    for (int j = 0; j < 3 * kChunk; ++j) {
        const std::int16_t red = window[j + 2];
        const std::int16_t twiceRed = static_cast<std::int16_t>(2 * red);
        const bool marked = static_cast<std::int16_t>(5 * window[j + 1]) < twiceRed &&
                            static_cast<std::int16_t>(5 * window[j]) < twiceRed && red > 128;
        flags[j] = marked ? 0xFF : 0;
    }
}

ORVEX_INLINE std::uint64_t FlagBits(const std::uint8_t* flags)
{
    std::uint64_t bits = 0;
    for (int q = 0; q < 4; ++q) {
        const int part = _mm_movemask_epi8(_mm_load_si128(reinterpret_cast<const __m128i*>(flags + 16 * q)));
        bits |= static_cast<std::uint64_t>(static_cast<unsigned>(part)) << (16 * q);
    }
    return bits;
}

std::uint64_t TakeBits(std::uint64_t bits, std::uint64_t positions)
{
    std::uint64_t taken = 0;
    for (int q = 0; positions != 0; positions &= positions - 1, ++q)
        taken |= ((bits >> __builtin_ctzll(positions)) & 1) << q;
    return taken;
}

void CorrectPlain(std::uint8_t* row, const std::uint64_t* marks, int width)
{
    const CShape shape(width);
    for (int c = 0; c < shape.chunks; ++c)
        for (std::uint64_t bits = marks[c]; bits != 0; bits &= bits - 1) {
            std::uint8_t* p = row + 3 * (c * kChunk + __builtin_ctzll(bits));
            p[2] = static_cast<std::uint8_t>((p[0] + p[1]) / 2);
        }
}

void SlideInPlain(const std::uint8_t* row, const std::uint8_t*, std::uint8_t* slot, std::int16_t* columns, int width)
{
    SlideInBody(row, slot, columns, width, false);
}

void DetectPlain(const std::int16_t* columns, int width, std::uint64_t* marks)
{
    const CShape shape(width);
    for (int c = 0; c < shape.chunks; ++c) {
        alignas(16) std::uint8_t flags[3 * kChunk];
        ChunkFlags(columns, c, flags);
        const std::uint64_t bits = TakeBits(FlagBits(flags), RedPositions(2, 21)) |
                                   TakeBits(FlagBits(flags + kChunk), RedPositions(1, 21)) << 21 |
                                   TakeBits(FlagBits(flags + 2 * kChunk), RedPositions(0, 22)) << 42;
        marks[c] = bits & DetectableBits(c, width);
    }
}

void StepPlain(const std::uint8_t* row, const std::uint8_t*, std::uint8_t* slot, std::int16_t* columns, int width,
               std::uint64_t* marks)
{
    SlideInBody(row, slot, columns, width, true);
    DetectPlain(columns, width, marks);
}

#define ORVEX_AVX2 __attribute__((target("avx2,bmi2")))

ORVEX_AVX2 void SlideInAvx2(const std::uint8_t* row, const std::uint8_t*, std::uint8_t* slot, std::int16_t* columns,
                            int width)
{
    SlideInBody(row, slot, columns, width, false);
}

ORVEX_AVX2 void DetectAvx2(const std::int16_t* columns, int width, std::uint64_t* marks)
{
    const CShape shape(width);
    for (int c = 0; c < shape.chunks; ++c) {
        alignas(16) std::uint8_t flags[3 * kChunk];
        ChunkFlags(columns, c, flags);
        const std::uint64_t bits = _pext_u64(FlagBits(flags), RedPositions(2, 21)) |
                                   _pext_u64(FlagBits(flags + kChunk), RedPositions(1, 21)) << 21 |
                                   _pext_u64(FlagBits(flags + 2 * kChunk), RedPositions(0, 22)) << 42;
        marks[c] = bits & DetectableBits(c, width);
    }
}

ORVEX_AVX2 void StepAvx2(const std::uint8_t* row, const std::uint8_t*, std::uint8_t* slot, std::int16_t* columns,
                         int width, std::uint64_t* marks)
{
    SlideInBody(row, slot, columns, width, true);
    DetectAvx2(columns, width, marks);
}

// ---- AVX-512: 64 pixels a step ----
//
// A ring slot keeps each plane in pixel order, so a 16-bit lane of it holds an even pixel in its
// low byte and the next odd pixel in its high byte. The column sums of a channel are kept the same
// way split: first the sums of the even pixels (E[k] for pixel 2k), then those of the odd ones
// (O[k] for pixel 2k + 1). Splitting a lane needs no shuffle, and the five-wide window is
//   even pixel 2k:     E[k-1] + O[k-1] + E[k] + O[k] + E[k+1]
//   odd pixel 2k + 1:  O[k-1] + E[k] + O[k] + E[k+1] + O[k+1].

#define ORVEX_WIDE __attribute__((target("avx512f,avx512bw,avx512vbmi,bmi2")))

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
    ORVEX_WIDE CWideConstants()
    {
        for (int ch = 0; ch < 3; ++ch) {
            fromAb[ch] = _mm512_loadu_si512(kPlaneIndices.fromAb[ch]);
            fromC[ch] = _mm512_loadu_si512(kPlaneIndices.fromC[ch]);
        }
    }
    __m512i fromAb[3], fromC[3];
};

// Chunk c of `row` into the ring slot and the column sums; its sums are left in `even` and `odd`.
ORVEX_WIDE inline void SlideChunk(const std::uint8_t* row, const std::uint8_t* next, std::size_t rowBytes, int c,
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

ORVEX_WIDE void SlideInWide(const std::uint8_t* row, const std::uint8_t* next, std::uint8_t* slot, std::int16_t* columns,
                            int width)
{
    const CShape shape(width);
    const CWideConstants k;
    __m512i even[3], odd[3];
    for (int c = 0; c < shape.chunks; ++c)
        SlideChunk(row, next, static_cast<std::size_t>(width) * 3, c, shape, slot, columns, false, k, even, odd);
}

// Fives for multiplying. Hidden from the compiler, which otherwise turns each product into a shift
// and an add: two instructions where the processor multiplies in one.
ORVEX_WIDE inline __m512i Fives()
{
    __m512i five = _mm512_set1_epi16(5);
    __asm__("" : "+v"(five));
    return five;
}

// The mark rule on 32 window sums of each channel (blue, green, red).
ORVEX_WIDE inline __mmask32 MarkLanes(const __m512i* sum)
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
ORVEX_WIDE inline void RedderColumns(const __m512i (&even)[3], const __m512i (&odd)[3], std::uint32_t& green,
                                     std::uint32_t& blue)
{
    const __m512i five = Fives();
    const __m512i evenRed = _mm512_add_epi16(even[2], even[2]);
    const __m512i oddRed = _mm512_add_epi16(odd[2], odd[2]);
    green = _mm512_cmpgt_epi16_mask(evenRed, _mm512_mullo_epi16(even[1], five)) |
            _mm512_cmpgt_epi16_mask(oddRed, _mm512_mullo_epi16(odd[1], five));
    blue = _mm512_cmpgt_epi16_mask(evenRed, _mm512_mullo_epi16(even[0], five)) |
           _mm512_cmpgt_epi16_mask(oddRed, _mm512_mullo_epi16(odd[0], five));
}

// One sweep per row: chunk c + 1 is slid in, then chunk c is marked with the sums of chunk c + 1
// still in registers. A window reaches at most into the neighbouring chunks, so a chunk without a
// redder column there, for green and for blue, has no marks.
ORVEX_WIDE void StepWide(const std::uint8_t* row, const std::uint8_t* next, std::uint8_t* slot, std::int16_t* columns,
                         int width, std::uint64_t* marks)
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
            const __m512i pairBefore = _mm512_add_epi16(_mm512_permutex2var_epi16(evenLast, before, evenHere), oddBefore);
            const __m512i pairAfter = _mm512_add_epi16(evenAfter, _mm512_permutex2var_epi16(oddHere, after, oddNext[ch]));
            evenSum[ch] = _mm512_add_epi16(_mm512_add_epi16(pairBefore, pair), evenAfter);
            oddSum[ch] = _mm512_add_epi16(_mm512_add_epi16(oddBefore, pair), pairAfter);
        }
        const std::uint64_t bits = _pdep_u64(MarkLanes(evenSum), 0x5555555555555555ULL) |
                                   _pdep_u64(MarkLanes(oddSum), 0xAAAAAAAAAAAAAAAAULL);
        marks[c] = bits & DetectableBits(c, width);
    }
}

ORVEX_WIDE void CorrectWide(std::uint8_t* row, const std::uint64_t* marks, int width)
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
            const __m512i mean = _mm512_sub_epi8(_mm512_avg_epu8(green, blue),
                                                 _mm512_and_si512(_mm512_xor_si512(green, blue), one));
            _mm512_mask_storeu_epi8(at, reds[i], mean);
        }
    }
}

const CKernel kKernels[] = {{SlideInPlain, StepPlain, CorrectPlain},
                            {SlideInAvx2, StepAvx2, CorrectPlain},
                            {SlideInWide, StepWide, CorrectWide}};

bool Supported(int level)
{
    __builtin_cpu_init();
    if (level == 2)
        return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
               __builtin_cpu_supports("avx512vbmi") && __builtin_cpu_supports("bmi2");
    if (level == 1) return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi2");
    return level == 0;
}

std::atomic<int> g_forcedLevel{-1};

const CKernel& Kernel()
{
    static const int best = Supported(2) ? 2 : Supported(1) ? 1 : 0;
    const int forced = g_forcedLevel.load(std::memory_order_relaxed);
    return kKernels[forced >= 0 ? forced : best];
}

// ---- Bands ----

struct CBand
{
    int first = 0; // rows [first, end) of the picture
    int end = 0;
};

// Scratch of one band at a time: the ring, the column sums and one row's marks, the first two
// aligned to 64 bytes.
struct CRowBuffers
{
    explicit CRowBuffers(int width) : shape(width)
    {
        const std::size_t ringBytes = kRingRows * 3 * shape.plane();
        const std::size_t sumBytes = 3 * shape.region() * sizeof(std::int16_t);
        storage.assign(ringBytes + sumBytes + 64, 0);
        std::uint8_t* base = storage.data() + (64 - reinterpret_cast<std::uintptr_t>(storage.data()) % 64) % 64;
        ring = base;
        columns = reinterpret_cast<std::int16_t*>(base + ringBytes);
        marks.assign(static_cast<std::size_t>(shape.chunks), 0);
    }
    std::uint8_t* slot(int y) const { return ring + static_cast<std::size_t>(y % kRingRows) * 3 * shape.plane(); }

    CShape shape;
    std::vector<std::uint8_t> storage;
    std::uint8_t* ring = nullptr;
    std::int16_t* columns = nullptr;
    std::vector<std::uint64_t> marks;
};

// Where the marks of row y of `band` wait until every band is done, or null if the row is corrected
// at once: rows within two of the band's edges are read by the neighbouring bands.
std::uint64_t* HeldMarks(const CBand& band, int y, std::uint64_t* held, int chunks)
{
    int slot = -1;
    if (y - band.first < kReach) slot = y - band.first;
    else if (band.end - y <= kReach) slot = kReach + (y - (band.end - kReach));
    return slot < 0 ? nullptr : held + static_cast<std::size_t>(slot) * static_cast<std::size_t>(chunks);
}

void RunBand(CImage& picture, const CBand& band, const CKernel& kernel, CRowBuffers& buffers, std::uint64_t* held)
{
    const int width = picture.width();
    const int height = picture.height();
    const auto row = [&](int y) { return picture.bits() + static_cast<std::ptrdiff_t>(y) * picture.pitch(); };

    const int firstDetected = std::max(band.first, kReach);
    const int endDetected = std::min(band.end, height - kReach);
    if (firstDetected >= endDetected) return;

    // The sums start from the four rows above the first window's last; that row then takes the
    // place of zeros in the ring, as every later row takes the place of the row five above it.
    std::memset(buffers.columns, 0, 3 * buffers.shape.region() * sizeof(std::int16_t));
    std::memset(buffers.slot(firstDetected + kReach), 0, 3 * buffers.shape.plane());
    const int lastRead = endDetected - 1 + kReach;
    const auto after = [&](int y) { return y < lastRead ? row(y + 1) : nullptr; };
    for (int y = firstDetected - kReach; y < firstDetected + kReach; ++y)
        kernel.slideIn(row(y), after(y), buffers.slot(y), buffers.columns, width);
    for (int y = firstDetected; y < endDetected; ++y) {
        std::uint64_t* later = HeldMarks(band, y, held, buffers.shape.chunks);
        std::uint64_t* marks = later ? later : buffers.marks.data();
        kernel.step(row(y + kReach), after(y + kReach), buffers.slot(y + kReach), buffers.columns, width, marks);
        // Row y's bytes are in the ring now, and only there will this band read them again.
        if (!later) kernel.correct(row(y), buffers.marks.data(), width);
    }
}

} // namespace

bool orvex_testing::UseRedEyeKernel(int level)
{
    if (level < 0 || level > 2) {
        g_forcedLevel.store(-1);
        return true;
    }
    if (!Supported(level)) return false;
    g_forcedLevel.store(level);
    return true;
}

void CImageProcessor::RedEyeReduction()
{
    CImage& picture = *image();
    if (picture.IsNull()) return;
    const int width = picture.width();
    const int height = picture.height();
    ProgressScope bar(*this, " Red eye reduction:", width - 4);
    if (width < 2 * kReach + 1 || height < 2 * kReach + 1) return;

    const CKernel& kernel = Kernel();
    const CShape shape(width);
    // Several bands per core, taken by the cores as they get free, so that a core slowed down by
    // other work costs only its share; the bar moves as the bands finish.
    const int threads = ParallelThreadCount();
    const int bandCount = std::clamp(height / 64, std::min(threads, height), 8 * threads);
    const std::size_t heldPerBand = 2 * kReach * static_cast<std::size_t>(shape.chunks);
    std::vector<CBand> bands;
    std::vector<CRowBuffers> buffers;
    std::vector<std::uint64_t> held;
    try {
        bands.resize(static_cast<std::size_t>(bandCount));
        for (int b = 0; b < bandCount; ++b) {
            CBand& band = bands[static_cast<std::size_t>(b)];
            band.first = static_cast<int>(static_cast<long long>(height) * b / bandCount);
            band.end = static_cast<int>(static_cast<long long>(height) * (b + 1) / bandCount);
        }
        buffers.reserve(static_cast<std::size_t>(threads));
        for (int t = 0; t < threads; ++t) buffers.emplace_back(width);
        held.assign(heldPerBand * static_cast<std::size_t>(bandCount), 0);
    } catch (const std::bad_alloc&) {
        ReportFailure();
        return;
    }

    // Only the calling thread moves the bar.
    const std::thread::id caller = std::this_thread::get_id();
    std::atomic<int> finished{0};
    ParallelFor(0, bandCount, [&](int b0, int b1) {
        for (int b = b0; b < b1; ++b) {
            const std::size_t at = static_cast<std::size_t>(b);
            const int slot = std::min(ParallelSlot(), threads - 1);
            RunBand(picture, bands[at], kernel, buffers[static_cast<std::size_t>(slot)], held.data() + at * heldPerBand);
            const int done = finished.fetch_add(1) + 1;
            if (std::this_thread::get_id() == caller)
                bar.Set(static_cast<int>(static_cast<long long>(width - 4) * done / bandCount));
        }
    });
    bar.Set(width - 4);
    // Every band has read its neighbours' edge rows: they can change now.
    for (std::size_t b = 0; b < bands.size(); ++b)
        for (int y = std::max(bands[b].first, kReach); y < std::min(bands[b].end, height - kReach); ++y)
            if (const std::uint64_t* marks = HeldMarks(bands[b], y, held.data() + b * heldPerBand, shape.chunks))
                kernel.correct(picture.bits() + static_cast<std::ptrdiff_t>(y) * picture.pitch(), marks, width);
}
