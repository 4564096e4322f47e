#pragma once

// The layout of red-eye reduction's rows and the byte-by-byte steps, shared by the plain kernel
// (red_eye_reduction.cpp) and the vector ones, which are compiled for wider instruction sets in
// files of their own. Everything here has internal linkage, so the copies compiled with different
// instruction sets never meet at link time.

#include <immintrin.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace {

constexpr int kReach = 2;  // the window runs from -2 to +2 around the pixel
constexpr int kChunk = 64; // pixels per mark word; rows are laid out in whole chunks
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

} // namespace

namespace orvex_red_eye {
// The per-row work of a band (see CKernel in red_eye_reduction.cpp) in red_eye_reduction_avx2.cpp
// and red_eye_reduction_avx512.cpp; called only once the processor has been checked.
void SlideInAvx2(const std::uint8_t* row, const std::uint8_t* next, std::uint8_t* slot, std::int16_t* columns,
                 int width);
void StepAvx2(const std::uint8_t* row, const std::uint8_t* next, std::uint8_t* slot, std::int16_t* columns, int width,
              std::uint64_t* marks);
void SlideInWide(const std::uint8_t* row, const std::uint8_t* next, std::uint8_t* slot, std::int16_t* columns,
                 int width);
void StepWide(const std::uint8_t* row, const std::uint8_t* next, std::uint8_t* slot, std::int16_t* columns, int width,
              std::uint64_t* marks);
void CorrectWide(std::uint8_t* row, const std::uint64_t* marks, int width);
} // namespace orvex_red_eye
