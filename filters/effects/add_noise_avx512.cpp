// Add noise sixty-four pixels at a time; this file alone is compiled for AVX-512 and only called
// after the processor has been checked for it.
//
// With AVX-512 a row is done in blocks of 64 pixels that never leave registers: the generator
// states of the block (four vectors of sixteen), the draws cut down to 16-bit lanes, the noise as
// 16-bit values, then bytes. Adding noise n to a byte with the clamp to 0..255 is the same as
// adding max(n, 0) and then taking max(-n, 0) away, both with unsigned byte saturation, so the
// noise goes to two byte vectors (the 16-bit to byte packs saturate exactly like the clamp) and the
// bytes of the picture are updated 64 at a time. The row's last block uses masked loads and stores.
//
// Gathers cost about a cycle per value here, more than all the rest, so the noise is computed:
// uniform noise by a 16-bit fixed point product that provably reproduces the run's table (see
// CUniformFormula), Gaussian noise in single precision with an error bound, the few values too
// close to an integer boundary done the plain way (see CGaussianShape). Where either is of no use
// (rare amounts), the noise is gathered from the run's tables: the 2000 uniform values, or all
// 1000 x 1000 Gaussian pairs worked out with the plain path's double-precision products.
//
// Where an intrinsic's plain form starts from an undefined register, which this compiler warns
// about, its masked form with every lane set is used instead.
#include "filters/effects/add_noise_kernel.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>

#include <immintrin.h>

namespace orvex_noise {
namespace {

// Byte permutations from the packed channel vectors to the picture's byte order. A pack of two
// vectors of 32 words (pixels 0..31 and 32..63) interleaves them by 128-bit lanes; PackedAt is
// where pixel p's byte lands.
constexpr int PackedAt(int p)
{
    return p < 32 ? 16 * (p >> 3) + (p & 7) : 16 * ((p - 32) >> 3) + 8 + (p & 7);
}

struct CByteOrder
{
    // Output vector k (bytes 64k .. 64k + 63 of the block): blue and green from two channel
    // vectors, red merged in under its mask; or all three from one vector when monochromatic.
    alignas(64) std::uint8_t blueGreen[3][64] = {};
    alignas(64) std::uint8_t red[3][64] = {};
    alignas(64) std::uint8_t grey[3][64] = {};
    std::uint64_t redMask[3] = {};

    constexpr CByteOrder()
    {
        for (int k = 0; k < 3; ++k)
            for (int b = 0; b < 64; ++b) {
                const int o = 64 * k + b;
                const int at = PackedAt(o / 3);
                blueGreen[k][b] = static_cast<std::uint8_t>(o % 3 == 1 ? 64 + at : at);
                red[k][b] = static_cast<std::uint8_t>(at);
                grey[k][b] = static_cast<std::uint8_t>(at);
                if (o % 3 == 2) redMask[k] |= std::uint64_t(1) << b;
            }
    }
};
constexpr CByteOrder kByteOrder;

// Gathered dwords of sixteen lookups hold the 16-bit value in their low half; the lookups of 32
// pixels come in two vectors in the order unpacklo/unpackhi give (pixels 0-3, 8-11, 16-19, 24-27
// and 4-7, 12-15, ...). kGatheredAt picks the values back in pixel order.
constexpr std::array<std::uint16_t, 32> GatheredOrder()
{
    std::array<std::uint16_t, 32> at{};
    for (int p = 0; p < 32; ++p) {
        const int lane = p >> 3;
        const int w = p & 7;
        at[static_cast<std::size_t>(p)] =
            static_cast<std::uint16_t>(w < 4 ? 2 * (4 * lane + w) : 32 + 2 * (4 * lane + w - 4));
    }
    return at;
}
alignas(64) constexpr std::array<std::uint16_t, 32> kGatheredAt = GatheredOrder();

// ---- Gaussian noise without lookups --------------------------------------------------------------
// The radius sqrt(-2 ln u1) and the angle cos(6.2831852 u2) are evaluated in single precision from
// 32-entry tables that one permute reads: the angle as cos(A + B), A being 32 * high draw steps and
// B the low ones; the squared radius as a polynomial of degree 5 per segment of 32 draws (the first
// segment, where the logarithm runs away, straight from a table), then its square root. How far
// both are from the double values is measured over all 1000 inputs; it bounds |float noise - double
// noise| by E, and a value whose interval [n - E, n + E] crosses no integer truncates like the
// double one. The few values that straddle one are worked out the plain way.

inline __m512 Table32(const float (&table)[32], __m512i index)
{
    return _mm512_permutex2var_ps(_mm512_load_ps(table), index, _mm512_load_ps(table + 16));
}

// Radius of draws i (dwords 0..999), for N vectors at once: their chains of dependent steps are
// long, so they are interleaved step by step for the core to overlap them.
template <int N>
inline void Radius(const __m512i (&i)[N], const CGaussianShape& g, __m512 (&radius)[N])
{
    __m512i segment[N];
    __m512 x[N];
    __m512 square[N];
    for (int q = 0; q < N; ++q) {
        segment[q] = _mm512_maskz_srli_epi32(0xFFFF, i[q], 5);
        x[q] = _mm512_maskz_cvtepi32_ps(0xFFFF, _mm512_and_si512(i[q], _mm512_set1_epi32(31)));
        square[q] = Table32(g.coefficient[kRadiusDegree], segment[q]);
    }
    for (int k = kRadiusDegree - 1; k >= 0; --k)
        for (int q = 0; q < N; ++q) square[q] = _mm512_fmadd_ps(square[q], x[q], Table32(g.coefficient[k], segment[q]));
    for (int q = 0; q < N; ++q) {
        const __mmask16 first = _mm512_cmpeq_epi32_mask(segment[q], _mm512_setzero_si512());
        radius[q] = _mm512_mask_mov_ps(_mm512_maskz_sqrt_ps(0xFFFF, square[q]), first, Table32(g.firstRadius, i[q]));
    }
}

// Angle of draws j (dwords 0..999).
inline __m512 Angle(__m512i j, const CGaussianShape& g)
{
    const __m512i high = _mm512_maskz_srli_epi32(0xFFFF, j, 5);
    return _mm512_fmsub_ps(Table32(g.cosHigh, high), Table32(g.cosLow, j),
                           _mm512_mul_ps(Table32(g.sinHigh, high), Table32(g.sinLow, j)));
}

} // namespace

void EvaluateShape(const CGaussianShape& g, float (&radius)[1008], float (&angle)[1008])
{
    for (int first = 0; first < 1000; first += 16) {
        const __m512i index = _mm512_add_epi32(_mm512_set1_epi32(first),
                                               _mm512_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15));
        const __m512i held = _mm512_maskz_min_epi32(0xFFFF, index, _mm512_set1_epi32(999));
        __m512 wide[1];
        Radius<1>({held}, g, wide);
        _mm512_storeu_ps(radius + first, wide[0]);
        _mm512_storeu_ps(angle + first, Angle(held, g));
    }
}

namespace {

constexpr std::array<std::uint16_t, 32> UpperHalves()
{
    std::array<std::uint16_t, 32> at{};
    for (int k = 0; k < 32; ++k) at[static_cast<std::size_t>(k)] = static_cast<std::uint16_t>(2 * k + 1);
    return at;
}
alignas(64) constexpr std::array<std::uint16_t, 32> kUpperHalves = UpperHalves();

// Draw t of the block's 64 pixels as 15-bit values: two vectors of 32 words in pixel order. The
// bits a draw keeps are the upper half of each 32-bit state, so one word permute collects them.
inline void BlockDraws(const __m512i (&states)[4], const CLcgStep& step, __m512i (&draws)[2])
{
    const __m512i multiplier = _mm512_set1_epi32(static_cast<int>(step.multiplier));
    const __m512i increment = _mm512_set1_epi32(static_cast<int>(step.increment));
    for (int h = 0; h < 2; ++h) {
        const __m512i a = _mm512_add_epi32(_mm512_mullo_epi32(states[2 * h], multiplier), increment);
        const __m512i b = _mm512_add_epi32(_mm512_mullo_epi32(states[2 * h + 1], multiplier), increment);
        draws[h] = _mm512_and_si512(_mm512_permutex2var_epi16(a, _mm512_load_si512(kUpperHalves.data()), b),
                                    _mm512_set1_epi16(0x7FFF));
    }
}

// d mod divisor for 15-bit d; the quotient is (d * 33555) >> (16 + shift) exactly (shift 10 for
// 2000, 9 for 1000), as the tests check for every draw.
inline __m512i Remainder16(__m512i d, int divisor, int shift)
{
    // Hidden from the optimiser, which would otherwise multiply by shifts and subtractions: one
    // multiply is cheaper than five of those.
    __m512i times = _mm512_set1_epi16(static_cast<short>(divisor));
    asm("" : "+v"(times));
    const __m512i q =
        _mm512_srl_epi16(_mm512_mulhi_epu16(d, _mm512_set1_epi16(static_cast<short>(33555))), _mm_cvtsi32_si128(shift));
    return _mm512_sub_epi16(d, _mm512_mullo_epi16(q, times));
}

// Sixteen-bit values of a table at 32 indices, in pixel order; the two index vectors hold the
// dword indices of the 32 pixels as unpacklo/unpackhi leave them.
inline __m512i Lookup32(const std::int16_t* table, __m512i lowIndex, __m512i highIndex)
{
    const __m512i low = _mm512_mask_i32gather_epi32(_mm512_setzero_si512(), 0xFFFF, lowIndex, table, 2);
    const __m512i high = _mm512_mask_i32gather_epi32(_mm512_setzero_si512(), 0xFFFF, highIndex, table, 2);
    return _mm512_permutex2var_epi16(low, _mm512_load_si512(kGatheredAt.data()), high);
}

// Lanes whose bounds truncate apart, the plain way.
__attribute__((noinline)) void SettleGaussian(std::uint32_t unsure, const std::int16_t* i, const std::int16_t* j,
                                              const CNoiseTables& t, std::int16_t* noise)
{
    for (; unsure; unsure &= unsure - 1) {
        const int lane = __builtin_ctz(unsure);
        noise[lane] = HeldNoise(t.scale * (t.radius[i[lane]] * t.angle[j[lane]]));
    }
}

// Gaussian noise of 32 * H pixels from their draws i and j (words, pixel order), each step done
// for all of them before the next.
template <int H>
inline void GaussianWords(const __m512i (&i)[H], const __m512i (&j)[H], const CWideRun& run, __m512i (&noise)[H])
{
    constexpr int N = 2 * H;
    const CGaussianShape& g = run.shape;
    const __m512 bound = _mm512_set1_ps(run.gaussianBound);
    const __m512 held = _mm512_set1_ps(255.5f);
    const __m512i zero = _mm512_setzero_si512();
    // Unpacking with zeros and the signed packs below undo each other's lane order.
    __m512i iq[N];
    __m512i jq[N];
    for (int h = 0; h < H; ++h) {
        iq[2 * h] = _mm512_unpacklo_epi16(i[h], zero);
        iq[2 * h + 1] = _mm512_unpackhi_epi16(i[h], zero);
        jq[2 * h] = _mm512_unpacklo_epi16(j[h], zero);
        jq[2 * h + 1] = _mm512_unpackhi_epi16(j[h], zero);
    }
    __m512 radius[N];
    Radius<N>(iq, g, radius);
    __m512i below[N];
    __m512i above[N];
    for (int q = 0; q < N; ++q) {
        const __m512 r = radius[q];
        __m512 n = _mm512_mul_ps(r, Angle(jq[q], g));
        const __m512 e = _mm512_fmadd_ps(r, bound, _mm512_set1_ps(0x1p-16f));
        // Beyond +-255.5 every value within E truncates to the same held noise.
        n = _mm512_maskz_range_ps(0xFFFF, n, held, 0x02); // the smaller magnitude, n's sign
        below[q] = _mm512_maskz_cvttps_epi32(0xFFFF, _mm512_sub_ps(n, e));
        above[q] = _mm512_maskz_cvttps_epi32(0xFFFF, _mm512_add_ps(n, e));
    }
    __mmask32 unsure[H];
    bool any = false;
    for (int h = 0; h < H; ++h) {
        const __m512i low = _mm512_packs_epi32(below[2 * h], below[2 * h + 1]);
        noise[h] = _mm512_packs_epi32(above[2 * h], above[2 * h + 1]);
        unsure[h] = _mm512_cmpneq_epi16_mask(low, noise[h]);
        any |= unsure[h] != 0;
    }
    if (!any) return;
    for (int h = 0; h < H; ++h) {
        if (!unsure[h]) continue;
        alignas(64) std::int16_t values[32];
        alignas(64) std::int16_t first[32];
        alignas(64) std::int16_t second[32];
        _mm512_store_si512(values, noise[h]);
        _mm512_store_si512(first, i[h]);
        _mm512_store_si512(second, j[h]);
        SettleGaussian(unsure[h], first, second, *run.tables, values);
        noise[h] = _mm512_load_si512(values);
    }
}

// Uniform noise of 32 draws (words) by the run's formula.
template <CNoiseKind kKind>
inline __m512i UniformWords(__m512i d, const CUniformFormula& f)
{
    const __m512i m = _mm512_sub_epi16(Remainder16(d, 2000, 10), _mm512_set1_epi16(1000));
    __m512i g;
    if constexpr (kKind == CNoiseKind::kUniformBrief) {
        g = _mm512_srl_epi16(_mm512_mulhi_epu16(_mm512_abs_epi16(m), _mm512_set1_epi16(static_cast<short>(f.low))),
                             _mm_cvtsi32_si128(f.shift));
    } else {
        const __m512i a = _mm512_min_epu16(_mm512_abs_epi16(m), _mm512_set1_epi16(static_cast<short>(f.limit)));
        g = _mm512_srl_epi16(_mm512_add_epi16(_mm512_mullo_epi16(a, _mm512_set1_epi16(static_cast<short>(f.high))),
                                              _mm512_mulhi_epu16(a, _mm512_set1_epi16(static_cast<short>(f.low)))),
                             _mm_cvtsi32_si128(f.shift));
    }
    return _mm512_mask_sub_epi16(g, _mm512_movepi16_mask(m), _mm512_setzero_si512(), g);
}

template <CNoiseKind kKind>
inline void BlockNoise(const __m512i (&states)[4], const CWideRun& run, int firstDraw, __m512i (&noise)[2])
{
    __m512i d[2];
    BlockDraws(states, run.draw[firstDraw], d);
    if constexpr (kKind == CNoiseKind::kGaussian) {
        __m512i d2[2];
        BlockDraws(states, run.draw[firstDraw + 1], d2);
        for (int h = 0; h < 2; ++h) {
            d[h] = Remainder16(d[h], 1000, 9);
            d2[h] = Remainder16(d2[h], 1000, 9);
        }
        GaussianWords<2>(d, d2, run, noise);
    } else if constexpr (kKind == CNoiseKind::kGaussianLookup) {
        __m512i d2[2];
        BlockDraws(states, run.draw[firstDraw + 1], d2);
        // Index i * 1000 + j from word pairs (j, i) in one multiply-add.
        const __m512i rowAndColumn = _mm512_set1_epi32((1000 << 16) | 1);
        for (int h = 0; h < 2; ++h) {
            const __m512i i = Remainder16(d[h], 1000, 9);
            const __m512i j = Remainder16(d2[h], 1000, 9);
            noise[h] = Lookup32(run.lookup, _mm512_madd_epi16(_mm512_unpacklo_epi16(j, i), rowAndColumn),
                                _mm512_madd_epi16(_mm512_unpackhi_epi16(j, i), rowAndColumn));
        }
    } else if constexpr (kKind == CNoiseKind::kUniformLookup) {
        for (int h = 0; h < 2; ++h) {
            const __m512i i = Remainder16(d[h], 2000, 10);
            noise[h] = Lookup32(run.lookup, _mm512_unpacklo_epi16(i, _mm512_setzero_si512()),
                                _mm512_unpackhi_epi16(i, _mm512_setzero_si512()));
        }
    } else {
        for (int h = 0; h < 2; ++h) noise[h] = UniformWords<kKind>(d[h], run.formula);
    }
}

template <CNoiseKind kKind, bool kMonochromatic>
void NoiseRowAvx512(std::uint32_t state, const CWideRun& run, const std::uint8_t* in, std::uint8_t* out, int width)
{
    __m512i states[4];
    const __m512i first = _mm512_set1_epi32(static_cast<int>(state));
    for (int k = 0; k < 4; ++k)
        states[k] = _mm512_add_epi32(_mm512_mullo_epi32(first, _mm512_load_si512(run.firstMultiplier + 16 * k)),
                                     _mm512_load_si512(run.firstIncrement + 16 * k));
    const __m512i blockMultiplier = _mm512_set1_epi32(static_cast<int>(run.block.multiplier));
    const __m512i blockIncrement = _mm512_set1_epi32(static_cast<int>(run.block.increment));
    constexpr int kChannels = kMonochromatic ? 1 : 3;
    constexpr int kPerChannel = kKind == CNoiseKind::kGaussian || kKind == CNoiseKind::kGaussianLookup ? 2 : 1;

    for (int x = 0; x < width; x += 64) {
        const std::uint8_t* const source = in + 3 * static_cast<std::ptrdiff_t>(x);
        std::uint8_t* const target = out + 3 * static_cast<std::ptrdiff_t>(x);
        // Left to the hardware prefetchers, the loads below wait for memory; asking two kilobytes
        // ahead (past the row's end it is the row just done) keeps them in cache.
        const std::uintptr_t ahead = reinterpret_cast<std::uintptr_t>(source) + 2048;
        for (int line = 0; line < 192; line += 64)
            _mm_prefetch(reinterpret_cast<const char*>(ahead + line), _MM_HINT_T0);
        // Per channel (red, green, blue: the draw order), what to add and what to take away.
        __m512i add[kChannels];
        __m512i take[kChannels];
        for (int c = 0; c < kChannels; ++c) {
            __m512i noise[2];
            BlockNoise<kKind>(states, run, 1 + c * kPerChannel, noise);
            add[c] = _mm512_packus_epi16(noise[0], noise[1]);
            take[c] = _mm512_packus_epi16(_mm512_sub_epi16(_mm512_setzero_si512(), noise[0]),
                                          _mm512_sub_epi16(_mm512_setzero_si512(), noise[1]));
        }
        const int bytes = 3 * std::min(64, width - x);
        for (int k = 0; k < 3 && 64 * k < bytes; ++k) {
            __m512i plus;
            __m512i minus;
            if constexpr (kMonochromatic) {
                const __m512i grey = _mm512_load_si512(kByteOrder.grey[k]);
                plus = _mm512_maskz_permutexvar_epi8(~__mmask64{0}, grey, add[0]);
                minus = _mm512_maskz_permutexvar_epi8(~__mmask64{0}, grey, take[0]);
            } else {
                const __m512i blueGreen = _mm512_load_si512(kByteOrder.blueGreen[k]);
                const __m512i red = _mm512_load_si512(kByteOrder.red[k]);
                const __mmask64 redMask = kByteOrder.redMask[k];
                plus = _mm512_permutex2var_epi8(add[2], blueGreen, add[1]);
                plus = _mm512_mask_permutexvar_epi8(plus, redMask, red, add[0]);
                minus = _mm512_permutex2var_epi8(take[2], blueGreen, take[1]);
                minus = _mm512_mask_permutexvar_epi8(minus, redMask, red, take[0]);
            }
            const std::uint8_t* from = source + 64 * k;
            std::uint8_t* to = target + 64 * k;
            if (bytes - 64 * k >= 64) {
                const __m512i v = _mm512_loadu_si512(from);
                _mm512_storeu_si512(to, _mm512_subs_epu8(_mm512_adds_epu8(v, plus), minus));
            } else {
                const __mmask64 part = (std::uint64_t(1) << (bytes - 64 * k)) - 1;
                const __m512i v = _mm512_maskz_loadu_epi8(part, from);
                _mm512_mask_storeu_epi8(to, part, _mm512_subs_epu8(_mm512_adds_epu8(v, plus), minus));
            }
        }
        for (__m512i& s : states) s = _mm512_add_epi32(_mm512_mullo_epi32(s, blockMultiplier), blockIncrement);
    }
}

} // namespace

CWideRowFn WideRowFunction(CNoiseKind kind, bool monochromatic)
{
    switch (kind) {
    case CNoiseKind::kUniformBrief:
        return monochromatic ? &NoiseRowAvx512<CNoiseKind::kUniformBrief, true>
                             : &NoiseRowAvx512<CNoiseKind::kUniformBrief, false>;
    case CNoiseKind::kUniformFormula:
        return monochromatic ? &NoiseRowAvx512<CNoiseKind::kUniformFormula, true>
                             : &NoiseRowAvx512<CNoiseKind::kUniformFormula, false>;
    case CNoiseKind::kUniformLookup:
        return monochromatic ? &NoiseRowAvx512<CNoiseKind::kUniformLookup, true>
                             : &NoiseRowAvx512<CNoiseKind::kUniformLookup, false>;
    case CNoiseKind::kGaussianLookup:
        return monochromatic ? &NoiseRowAvx512<CNoiseKind::kGaussianLookup, true>
                             : &NoiseRowAvx512<CNoiseKind::kGaussianLookup, false>;
    case CNoiseKind::kGaussian: break;
    }
    return monochromatic ? &NoiseRowAvx512<CNoiseKind::kGaussian, true> : &NoiseRowAvx512<CNoiseKind::kGaussian, false>;
}

// The held Gaussian noise of draws (i, j), at i * 1000 + j: the same products as the plain path,
// eight at a time. One padding value follows, as the gathers read a dword for each 16-bit value.
void GaussianRows(const CNoiseTables& t, int i0, int i1, std::int16_t* table)
{
    const __m512d scale = _mm512_set1_pd(t.scale);
    for (int i = i0; i < i1; ++i) {
        const __m512d radius = _mm512_set1_pd(t.radius[i]);
        for (int j = 0; j < 1000; j += 8) {
            const __m512d product = _mm512_mul_pd(scale, _mm512_mul_pd(radius, _mm512_loadu_pd(t.angle + j)));
            const __m256i n = _mm512_maskz_cvttpd_epi32(0xFF, product);
            const __m256i held =
                _mm256_min_epi32(_mm256_max_epi32(n, _mm256_set1_epi32(-kNoiseLimit)), _mm256_set1_epi32(kNoiseLimit));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(table + 1000 * i + j), _mm256_cvtepi32_epi16(held));
        }
    }
}

void WideUniformDraws(const CUniformFormula& f, std::int16_t* noise)
{
    const __m512i lanes = _mm512_loadu_si512(kUpperHalves.data()); // 1, 3, 5 ... 63
    for (int d = 0; d < 32768; d += 32) {
        const __m512i draws = _mm512_add_epi16(_mm512_srli_epi16(lanes, 1), _mm512_set1_epi16(static_cast<short>(d)));
        const __m512i n = f.brief ? UniformWords<CNoiseKind::kUniformBrief>(draws, f)
                                  : UniformWords<CNoiseKind::kUniformFormula>(draws, f);
        _mm512_storeu_si512(noise + d, _mm512_min_epi16(_mm512_max_epi16(n, _mm512_set1_epi16(-kNoiseLimit)),
                                                        _mm512_set1_epi16(kNoiseLimit)));
    }
}

void WideGaussianPairs(const CWideRun& run, const std::uint16_t* i, const std::uint16_t* j, int count,
                       std::int16_t* noise)
{
    for (int k = 0; k + 32 <= count; k += 32) {
        __m512i n[1];
        GaussianWords<1>({_mm512_loadu_si512(i + k)}, {_mm512_loadu_si512(j + k)}, run, n);
        _mm512_storeu_si512(noise + k, _mm512_min_epi16(_mm512_max_epi16(n[0], _mm512_set1_epi16(-kNoiseLimit)),
                                                        _mm512_set1_epi16(kNoiseLimit)));
    }
}

} // namespace orvex_noise
