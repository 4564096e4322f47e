// Add noise: every channel of every pixel moves by a random amount, uniform or Gaussian, in colour
// or the same for all three channels.
//
// The draws are consumed column by column (x outer, y inner), red, green, blue within a pixel, so
// pixel (x, y) starts at draw (x * H + y) * k, k being the draws per pixel. The generator can jump
// to any draw in O(log n), so rows are visited in memory order and shared between the cores, each
// row starting where the single sequence would be, and stepping H * k draws from one column to the
// next: the result is the same as one pass in the prescribed order.
#include "core/image_processor.h"
#include "core/parallel.h"
#include "core/random.h"
#include "filters/effects/effects_internal.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <memory>
#include <new>
#include <vector>

#include <immintrin.h>

namespace {

using orvex_random::CLcgStep;

// Noise beyond +-255 clamps every byte alike, so values are held there and fit 16 bits.
constexpr int kNoiseLimit = 255;

std::int16_t HeldNoise(double scaledNoise)
{
    const int n = static_cast<int>(scaledNoise);
    return static_cast<std::int16_t>(std::clamp(n, -kNoiseLimit, kNoiseLimit));
}

// Everything a draw can map to, worked out once per run: the uniform noise of draw d is
// uniform[d % 2000]; the Gaussian one is trunc(s * radius[d1 % 1000] * angle[d2 % 1000]), with the
// product formed as sqrt(-2 ln u1) * cos(2 pi u2) first and then scaled, as the formula reads.
struct CNoiseTables
{
    double scale = 0.0;
    std::int16_t uniform[2001] = {}; // the last is padding for the gathers, which read dwords
    std::int32_t uniform32[2000] = {}; // the same, for gathers
    double radius[1000] = {};
    double angle[1000] = {};

    explicit CNoiseTables(float s) : scale(static_cast<double>(s))
    {
        for (int i = 0; i < 2000; ++i) {
            uniform[i] = HeldNoise(scale * (i / 1000.0 - 1.0));
            uniform32[i] = uniform[i];
        }
        for (int i = 0; i < 1000; ++i) {
            const double u1 = i / 1000.0 + 0.0001;
            const double u2 = i / 1000.0;
            radius[i] = std::sqrt(-2.0 * std::log(u1));
            angle[i] = std::cos(6.2831852 * u2);
        }
    }
};

inline int Draw(std::uint32_t& state)
{
    state = state * orvex_random::CLcg::kMultiplier + orvex_random::CLcg::kIncrement;
    return static_cast<int>((state >> 16) & 0x7FFFu);
}

// The noise of one row, as 16-bit values in the row's byte order (blue, green, red). `state` is
// the generator just before the row's first pixel, `column` the step from one pixel to the next.
template <bool kUniform, bool kMonochromatic>
void NoiseRow(std::uint32_t state, CLcgStep column, const CNoiseTables& t, int width, std::int16_t* out)
{
    for (int x = 0; x < width; ++x) {
        std::uint32_t s = state;
        std::int16_t n[3];
        for (int c = 0; c < (kMonochromatic ? 1 : 3); ++c) {
            if constexpr (kUniform) {
                n[c] = t.uniform[Draw(s) % 2000];
            } else {
                const int d1 = Draw(s);
                const int d2 = Draw(s);
                n[c] = HeldNoise(t.scale * (t.radius[d1 % 1000] * t.angle[d2 % 1000]));
            }
        }
        if constexpr (kMonochromatic) n[1] = n[2] = n[0];
        out[3 * x] = n[2];
        out[3 * x + 1] = n[1];
        out[3 * x + 2] = n[0];
        state = column.Apply(state);
    }
}

// |uniform noise| of draw d as a function of a = |d mod 2000 - 1000|, in 16-bit lanes:
// g(a) = (a * high + ((a * low) >> 16)) >> shift = floor(a * (high * 65536 + low) / 2^(16 + shift)),
// with a first held at `limit`, where the noise reaches 255 and stays. The double products the
// plain path truncates are not exactly a * s / 1000, so the constant is not taken from s but
// derived from the run's table: every index gives an interval of constants that reproduce its
// value, and any constant in all of them reproduces the table. Where the two signs round apart or
// no 16-bit constant fits (a negative or enormous amount), the table is looked up instead.
struct CUniformFormula
{
    bool exact = false;
    bool brief = false; // g(a) = (a * low >> 16) >> shift
    std::uint16_t high = 0;
    std::uint16_t low = 0;
    std::uint16_t shift = 0;
    std::uint16_t limit = 1000;

    // What the vector code computes for index i (0..1999), before the packs clamp it to +-255.
    int Noise(int i) const
    {
        const int m = i - 1000;
        const unsigned a = std::min<unsigned>(static_cast<unsigned>(m < 0 ? -m : m), limit);
        const unsigned sum = ((a * high) & 0xFFFFu) + ((a * low) >> 16);
        const int g = static_cast<int>((sum & 0xFFFFu) >> shift);
        return m < 0 ? -g : g;
    }

    CUniformFormula() = default; // not exact: for Gaussian runs, which have no use for it

    explicit CUniformFormula(const std::int16_t* table)
    {
        int magnitude[1001];
        for (int a = 0; a <= 1000; ++a) {
            const int up = a < 1000 ? table[1000 + a] : -table[0];
            const int down = a > 0 ? -table[1000 - a] : up;
            if (up != down || up < 0) return;
            magnitude[a] = up;
        }
        int saturated = 1001;
        while (saturated > 0 && magnitude[saturated - 1] == kNoiseLimit) --saturated;
        const int top = std::min(saturated, 1000);
        // A constant below 2^16 needs neither the high half nor the limit (a * low >> 16 stays below
        // a, and g only grows past the saturation point), so that form is tried first.
        bool found = false;
        for (const bool shortForm : {true, false}) {
            for (int s = 15; s >= 0 && !found; --s) {
                const long long unit = 1ll << (16 + s);
                long long lowest = 0;
                long long highest = 1ll << 40;
                for (int a = 1; a <= top; ++a) {
                    lowest = std::max(lowest, (magnitude[a] * unit + a - 1) / a);
                    if (a < saturated) highest = std::min(highest, ((magnitude[a] + 1) * unit - 1) / a);
                }
                if (lowest > highest || (shortForm && lowest > 0xFFFF)) continue;
                const long long h = lowest >> 16;
                const long long l = lowest & 0xFFFF;
                if (!shortForm && top * h + ((top * l) >> 16) >= (s > 0 ? 65536 : 32768)) continue;
                high = static_cast<std::uint16_t>(h);
                low = static_cast<std::uint16_t>(l);
                shift = static_cast<std::uint16_t>(s);
                limit = static_cast<std::uint16_t>(shortForm ? 1000 : top);
                found = true;
            }
            if (found) break;
        }
        // The derivation is exact; checking every index keeps it honest.
        for (int i = 0; i < 2000; ++i)
            if (std::clamp(Noise(i), -kNoiseLimit, kNoiseLimit) != table[i]) return;
        exact = true;
        brief = high == 0 && limit == 1000;
    }
};

// ---- eight pixels at a time ----------------------------------------------------------------------
// Lanes hold the generator states of eight neighbouring pixels; draw t of every pixel is one
// affine step from its state, and the lanes move on by eight columns at once. The noise values are
// the same table entries (or the same values by the uniform formula) and the same double-precision
// products as above, so the result is identical; only the bookkeeping is vectorised.

struct CDrawSteps
{
    CLcgStep draw[7]; // draw t (1..6) of a pixel from the pixel's state
    CLcgStep eight;   // eight columns on
    bool avx2 = false;
    const CUniformFormula* formula = nullptr; // exact, or null to look uniform noise up
};

__attribute__((target("avx2"))) inline __m256i DrawAt(__m256i states, const CLcgStep& step)
{
    const __m256i s = _mm256_add_epi32(_mm256_mullo_epi32(states, _mm256_set1_epi32(static_cast<int>(step.multiplier))),
                                       _mm256_set1_epi32(static_cast<int>(step.increment)));
    return _mm256_and_si256(_mm256_srli_epi32(s, 16), _mm256_set1_epi32(0x7FFF));
}

// d mod divisor for draws d < 32768: the quotient is (d * 33555) >> shift exactly (shift 25 for 1000,
// 26 for 2000).
__attribute__((target("avx2"))) inline __m256i Remainder(__m256i d, int divisor, int shift)
{
    const __m256i q = _mm256_srli_epi32(_mm256_mullo_epi32(d, _mm256_set1_epi32(33555)), shift);
    return _mm256_sub_epi32(d, _mm256_mullo_epi32(q, _mm256_set1_epi32(divisor)));
}

__attribute__((target("avx2"))) inline __m128i GaussianHalf(__m128i i, __m128i j, const CNoiseTables& t)
{
    // The masked forms start from zeros rather than an undefined register.
    const __m256d all = _mm256_castsi256_pd(_mm256_set1_epi64x(-1));
    const __m256d r = _mm256_mask_i32gather_pd(_mm256_setzero_pd(), t.radius, i, all, 8);
    const __m256d a = _mm256_mask_i32gather_pd(_mm256_setzero_pd(), t.angle, j, all, 8);
    return _mm256_cvttpd_epi32(_mm256_mul_pd(_mm256_set1_pd(t.scale), _mm256_mul_pd(r, a)));
}

template <bool kUniform>
__attribute__((target("avx2"))) inline __m256i ChannelNoise(__m256i states, int firstDraw, const CDrawSteps& steps,
                                                            const CNoiseTables& t)
{
    if constexpr (kUniform) {
        const __m256i i = Remainder(DrawAt(states, steps.draw[firstDraw]), 2000, 26);
        if (const CUniformFormula* f = steps.formula) {
            // In 32-bit lanes the two-part constant is one product, which the derivation keeps
            // below 2^32.
            const __m256i m = _mm256_sub_epi32(i, _mm256_set1_epi32(1000));
            const __m256i a = _mm256_min_epi32(_mm256_abs_epi32(m), _mm256_set1_epi32(f->limit));
            const int constant = static_cast<int>((std::uint32_t{f->high} << 16) | f->low);
            const __m256i g = _mm256_srl_epi32(_mm256_mullo_epi32(a, _mm256_set1_epi32(constant)),
                                               _mm_cvtsi32_si128(16 + f->shift));
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
__attribute__((target("avx2"))) int NoiseRowAvx2(std::uint32_t& state, CLcgStep column, const CDrawSteps& steps,
                                                 const CNoiseTables& t, int width, std::int16_t* out)
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

template <bool kUniform, bool kMonochromatic>
void NoiseRowFast(std::uint32_t state, CLcgStep column, const CDrawSteps& steps, const CNoiseTables& t, int width,
                  std::int16_t* out)
{
    int done = 0;
    if (steps.avx2) done = NoiseRowAvx2<kUniform, kMonochromatic>(state, column, steps, t, width, out);
    NoiseRow<kUniform, kMonochromatic>(state, column, t, width - done, out + 3 * done);
}

__attribute__((target_clones("avx2", "default"))) void AddNoiseToRow(const std::uint8_t* __restrict in,
                                                                     const std::int16_t* __restrict noise,
                                                                     std::uint8_t* __restrict out, int bytes)
{
    for (int i = 0; i < bytes; ++i) {
        const int v = in[i] + noise[i];
        out[i] = static_cast<std::uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
    }
}

// The same, in place (the input and output rows are one).
__attribute__((target_clones("avx2", "default"))) void AddNoiseInPlace(std::uint8_t* __restrict row,
                                                                       const std::int16_t* __restrict noise, int bytes)
{
    for (int i = 0; i < bytes; ++i) {
        const int v = row[i] + noise[i];
        row[i] = static_cast<std::uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
    }
}

// ---- sixty-four pixels at a time, fused with the pixel update ----------------------------------
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

// Where an intrinsic's plain form starts from an undefined register, which this compiler warns
// about, its masked form with every lane set is used instead.
#define ORVEX_AVX512 __attribute__((target("avx512f,avx512bw,avx512dq,avx512vl,avx512vbmi")))

using CKernel = orvex_testing::NoiseKernel;

bool HasAvx512()
{
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
           __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("avx512vl") &&
           __builtin_cpu_supports("avx512vbmi");
}

std::atomic<CKernel> g_kernel{CKernel::kBest};

CKernel ChosenKernel()
{
    const CKernel chosen = g_kernel.load(std::memory_order_relaxed);
    if (chosen != CKernel::kBest) return chosen;
    if (HasAvx512()) return CKernel::kAvx512;
    return __builtin_cpu_supports("avx2") ? CKernel::kAvx2 : CKernel::kScalar;
}

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

// Degree 6 would cut the radius error from 2e-6 to 4e-7 and the values done the plain way by four,
// but costs more than those few values.
constexpr int kRadiusDegree = 5;

struct CGaussianShape
{
    alignas(64) float coefficient[kRadiusDegree + 1][32] = {}; // squared radius of 32h + l: sum c[k][h] l^k
    alignas(64) float firstRadius[32] = {};                    // radius of draws 0 .. 31
    alignas(64) float cosHigh[32] = {};
    alignas(64) float sinHigh[32] = {};
    alignas(64) float cosLow[32] = {};
    alignas(64) float sinLow[32] = {};
    double largestRadius = 0.0; // of the unscaled radius
    double radiusError = 1.0;   // relative
    double angleError = 1.0;    // absolute

    CGaussianShape() = default;
    explicit CGaussianShape(bool fitted); // the tables, fitted and measured
};

double RadiusOf(int i)
{
    return std::sqrt(-2.0 * std::log(i / 1000.0 + 0.0001));
}

double AngleOf(int j)
{
    return std::cos(6.2831852 * (j / 1000.0));
}

ORVEX_AVX512 inline __m512 Table32(const float (&table)[32], __m512i index)
{
    return _mm512_permutex2var_ps(_mm512_load_ps(table), index, _mm512_load_ps(table + 16));
}

// Radius of draws i (dwords 0..999), for N vectors at once: their chains of dependent steps are
// long, so they are interleaved step by step for the core to overlap them.
template <int N>
ORVEX_AVX512 inline void Radius(const __m512i (&i)[N], const CGaussianShape& g, __m512 (&radius)[N])
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
ORVEX_AVX512 inline __m512 Angle(__m512i j, const CGaussianShape& g)
{
    const __m512i high = _mm512_maskz_srli_epi32(0xFFFF, j, 5);
    return _mm512_fmsub_ps(Table32(g.cosHigh, high), Table32(g.cosLow, j),
                           _mm512_mul_ps(Table32(g.sinHigh, high), Table32(g.sinLow, j)));
}

// The vector code's radius and angle of every draw 0..999 (the arrays padded to whole vectors).
ORVEX_AVX512 void EvaluateShape(const CGaussianShape& g, float (&radius)[1008], float (&angle)[1008])
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

// Largest relative error of the vector code's radii against `scale` times the plain path's.
double RadiusError(const float (&radius)[1008], double scale, const double (&plain)[1000])
{
    double error = 0.0;
    for (int i = 0; i < 1000; ++i) {
        const double want = scale * plain[i];
        error = std::max(error, want > 0.0 ? std::fabs(radius[i] - want) / want : radius[i] == 0.0f ? 0.0 : 1.0);
    }
    return error;
}

void MeasureShape(CGaussianShape& g)
{
    float radius[1008];
    float angle[1008];
    EvaluateShape(g, radius, angle);
    double plain[1000];
    for (int i = 0; i < 1000; ++i) plain[i] = RadiusOf(i);
    g.radiusError = RadiusError(radius, 1.0, plain);
    g.angleError = 0.0;
    for (int j = 0; j < 1000; ++j) g.angleError = std::max(g.angleError, std::fabs(angle[j] - AngleOf(j)));
}

CGaussianShape::CGaussianShape(bool)
{
    for (int i = 0; i < 1000; ++i) largestRadius = std::max(largestRadius, RadiusOf(i));
    for (int k = 0; k < 32; ++k) {
        firstRadius[k] = static_cast<float>(RadiusOf(k));
        cosHigh[k] = static_cast<float>(std::cos(6.2831852 * (32 * k / 1000.0)));
        sinHigh[k] = static_cast<float>(std::sin(6.2831852 * (32 * k / 1000.0)));
        cosLow[k] = static_cast<float>(std::cos(6.2831852 * (k / 1000.0)));
        sinLow[k] = static_cast<float>(std::sin(6.2831852 * (k / 1000.0)));
    }
    // Least squares on the relative error of the squared radius, per segment.
    constexpr int n = kRadiusDegree + 1;
    for (int h = 0; h < 32; ++h) {
        long double a[n][n] = {};
        long double b[n] = {};
        for (int l = 0; l < 32 && 32 * h + l < 1000; ++l) {
            const long double y = -2.0L * std::log((32 * h + l) / 1000.0L + 0.0001L);
            const long double w = 1.0L / (y * y);
            long double power[n];
            power[0] = 1.0L;
            for (int k = 1; k < n; ++k) power[k] = power[k - 1] * (l / 32.0L);
            for (int r = 0; r < n; ++r) {
                b[r] += w * power[r] * y;
                for (int c = 0; c < n; ++c) a[r][c] += w * power[r] * power[c];
            }
        }
        for (int k = 0; k < n; ++k)
            for (int r = k + 1; r < n; ++r) {
                const long double f = a[r][k] / a[k][k];
                for (int c = k; c < n; ++c) a[r][c] -= f * a[k][c];
                b[r] -= f * b[k];
            }
        long double fitted[n];
        for (int k = n - 1; k >= 0; --k) {
            long double sum = b[k];
            for (int c = k + 1; c < n; ++c) sum -= a[k][c] * fitted[c];
            fitted[k] = sum / a[k][k];
        }
        // Fitted on l / 32 for a well-conditioned system, used on l: powers of two change no rounding.
        for (int k = 0; k < n; ++k) coefficient[k][h] = std::ldexp(static_cast<float>(fitted[k]), -5 * k);
    }
    MeasureShape(*this);
}

const CGaussianShape& GaussianShape()
{
    static const CGaussianShape shape(true);
    return shape;
}

// The run's shape gives s * radius straight away, which saves a product per value: the squared
// radius's coefficients times s^2, the first segment's radii times s, the error measured again
// against s times the plain path's radius (`radius`).
void ScaleShape(CGaussianShape& g, float s, const double (&radius)[1000])
{
    const double square = static_cast<double>(s) * static_cast<double>(s);
    for (auto& row : g.coefficient)
        for (float& c : row) c = static_cast<float>(c * square);
    for (float& r : g.firstRadius) r = static_cast<float>(r * static_cast<double>(s));
    float scaled[1008];
    float angle[1008];
    EvaluateShape(g, scaled, angle);
    g.radiusError = RadiusError(scaled, static_cast<double>(s), radius);
}

// |noise in single precision - noise in double| is at most s * radius * relative + 2^-16, with
// `relative` from the measured errors and the roundings of the products; the 2^-16 covers the
// rounding of n +- E below 256. Zero where the noise is looked up instead: errors not measured as
// expected, a negative amount (the bound takes s * radius as a magnitude), or one so large that
// the bound could reach 1/4.
float GaussianRelativeBound(float s, const CGaussianShape& g)
{
    if (!(g.radiusError <= 1e-5) || !(g.angleError <= 1e-5) || !(s >= 0.0f)) return 0.0f;
    const double relative = (g.radiusError + g.angleError + 0x1p-23) * 1.01;
    if (static_cast<double>(s) * g.largestRadius * relative > 0.25) return 0.0f;
    return std::nextafter(static_cast<float>(relative), 1.0f);
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

// Everything the rows of one run share.
struct CWideRun
{
    alignas(64) std::uint32_t firstMultiplier[64] = {}; // a row's first pixel to its pixel p
    alignas(64) std::uint32_t firstIncrement[64] = {};
    CLcgStep block;                                      // 64 columns on
    CLcgStep draw[7];                                    // draw t of a pixel from its state
    CUniformFormula formula;
    const std::int16_t* lookup = nullptr;                // 2000 uniform or 1000 x 1000 Gaussian values
    const CNoiseTables* tables = nullptr;
    CGaussianShape shape; // scaled by the run's s
    float gaussianBound = 0.0f; // relative; 0: look the noise up

    void PrepareGaussian(float s)
    {
        shape = GaussianShape();
        gaussianBound = GaussianRelativeBound(s, shape);
        if (gaussianBound == 0.0f) return;
        ScaleShape(shape, s, tables->radius);
        gaussianBound = GaussianRelativeBound(s, shape);
    }

    CWideRun(CLcgStep column, const CNoiseTables& t, bool uniform)
        : formula(uniform ? CUniformFormula(t.uniform) : CUniformFormula()), tables(&t)
    {
        CLcgStep step;
        for (int p = 0; p < 64; ++p) {
            firstMultiplier[p] = step.multiplier;
            firstIncrement[p] = step.increment;
            step = {column.multiplier * step.multiplier, column.multiplier * step.increment + column.increment};
        }
        block = step;
        for (int d = 0; d < 7; ++d) draw[d] = CLcgStep::Of(static_cast<std::uint64_t>(d));
    }
};

enum class CNoiseKind { kUniformBrief, kUniformFormula, kUniformLookup, kGaussian, kGaussianLookup };

constexpr std::array<std::uint16_t, 32> UpperHalves()
{
    std::array<std::uint16_t, 32> at{};
    for (int k = 0; k < 32; ++k) at[static_cast<std::size_t>(k)] = static_cast<std::uint16_t>(2 * k + 1);
    return at;
}
alignas(64) constexpr std::array<std::uint16_t, 32> kUpperHalves = UpperHalves();

// Draw t of the block's 64 pixels as 15-bit values: two vectors of 32 words in pixel order. The
// bits a draw keeps are the upper half of each 32-bit state, so one word permute collects them.
ORVEX_AVX512 inline void BlockDraws(const __m512i (&states)[4], const CLcgStep& step, __m512i (&draws)[2])
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
ORVEX_AVX512 inline __m512i Remainder16(__m512i d, int divisor, int shift)
{
    // Hidden from the optimiser, which would otherwise multiply by shifts and subtractions: one
    // multiply is cheaper than five of those.
    __m512i times = _mm512_set1_epi16(static_cast<short>(divisor));
    asm("" : "+v"(times));
    const __m512i q = _mm512_srl_epi16(_mm512_mulhi_epu16(d, _mm512_set1_epi16(static_cast<short>(33555))),
                                       _mm_cvtsi32_si128(shift));
    return _mm512_sub_epi16(d, _mm512_mullo_epi16(q, times));
}

// Sixteen-bit values of a table at 32 indices, in pixel order; the two index vectors hold the
// dword indices of the 32 pixels as unpacklo/unpackhi leave them.
ORVEX_AVX512 inline __m512i Lookup32(const std::int16_t* table, __m512i lowIndex, __m512i highIndex)
{
    const __m512i low = _mm512_mask_i32gather_epi32(_mm512_setzero_si512(), 0xFFFF, lowIndex, table, 2);
    const __m512i high = _mm512_mask_i32gather_epi32(_mm512_setzero_si512(), 0xFFFF, highIndex, table, 2);
    return _mm512_permutex2var_epi16(low, _mm512_load_si512(kGatheredAt.data()), high);
}

// Gaussian noise of 32 * H pixels from their draws i and j (words, pixel order), each step done
// for all of them before the next.
template <int H>
ORVEX_AVX512 inline void GaussianWords(const __m512i (&i)[H], const __m512i (&j)[H], const CWideRun& run, __m512i (&noise)[H])
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
ORVEX_AVX512 inline __m512i UniformWords(__m512i d, const CUniformFormula& f)
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
ORVEX_AVX512 inline void BlockNoise(const __m512i (&states)[4], const CWideRun& run, int firstDraw, __m512i (&noise)[2])
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
ORVEX_AVX512 void NoiseRowAvx512(std::uint32_t state, const CWideRun& run, const std::uint8_t* in, std::uint8_t* out,
                                 int width)
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

using CWideRowFn = void (*)(std::uint32_t, const CWideRun&, const std::uint8_t*, std::uint8_t*, int);

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
ORVEX_AVX512 void GaussianRows(const CNoiseTables& t, int i0, int i1, std::int16_t* table)
{
    const __m512d scale = _mm512_set1_pd(t.scale);
    for (int i = i0; i < i1; ++i) {
        const __m512d radius = _mm512_set1_pd(t.radius[i]);
        for (int j = 0; j < 1000; j += 8) {
            const __m512d product = _mm512_mul_pd(scale, _mm512_mul_pd(radius, _mm512_loadu_pd(t.angle + j)));
            const __m256i n = _mm512_maskz_cvttpd_epi32(0xFF, product);
            const __m256i held = _mm256_min_epi32(_mm256_max_epi32(n, _mm256_set1_epi32(-kNoiseLimit)),
                                                  _mm256_set1_epi32(kNoiseLimit));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(table + 1000 * i + j), _mm256_cvtepi32_epi16(held));
        }
    }
}

using CRowFn = void (*)(std::uint32_t, CLcgStep, const CDrawSteps&, const CNoiseTables&, int, std::int16_t*);

CRowFn RowFunction(bool uniform, bool monochromatic)
{
    if (uniform) return monochromatic ? &NoiseRowFast<true, true> : &NoiseRowFast<true, false>;
    return monochromatic ? &NoiseRowFast<false, true> : &NoiseRowFast<false, false>;
}

// The noise words the rows would add, for the tests: every 15-bit draw, or the given draw pairs.
ORVEX_AVX512 void WideUniformDraws(const CUniformFormula& f, std::int16_t* noise)
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

ORVEX_AVX512 void WideGaussianPairs(const CWideRun& run, const std::uint16_t* i, const std::uint16_t* j, int count,
                                    std::int16_t* noise)
{
    for (int k = 0; k + 32 <= count; k += 32) {
        __m512i n[1];
        GaussianWords<1>({_mm512_loadu_si512(i + k)}, {_mm512_loadu_si512(j + k)}, run, n);
        _mm512_storeu_si512(noise + k, _mm512_min_epi16(_mm512_max_epi16(n[0], _mm512_set1_epi16(-kNoiseLimit)),
                                                        _mm512_set1_epi16(kNoiseLimit)));
    }
}

} // namespace

void CImageProcessor::AddNoise(float amount, bool uniform, bool monochromatic)
{
    CImage& picture = *image();
    SeedRandomFromClock();
    if (picture.IsNull() || picture.width() < 1 || picture.height() < 1) return;
    std::uint8_t* const target = OutputBits();
    if (!target) return;

    const int width = picture.width();
    const int height = picture.height();
    const int perPixel = (uniform ? 1 : 2) * (monochromatic ? 1 : 3);
    const std::uint32_t seed = orvex_random::State();
    // The thread's generator ends where the single pass would leave it.
    orvex_random::Seed(CLcgStep::Of(static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) *
                                    static_cast<std::uint64_t>(perPixel))
                           .Apply(seed));

    // A NaN amount adds nothing; amounts far beyond the dialog's 400 % saturate every byte anyway,
    // and holding them keeps the products within an int.
    if (!(amount == amount)) amount = 0.0f;
    amount = std::clamp(amount, -100000.0f, 100000.0f);
    const float s = static_cast<float>(amount * 1.28);

    const int threads = ParallelThreadCount();
    const CKernel kernel = ChosenKernel();
    const bool wide = kernel == CKernel::kAvx512Lookup || kernel == CKernel::kAvx512;
    const std::size_t rowValues = wide ? 0 : static_cast<std::size_t>(width) * 3;
    std::vector<std::vector<std::int16_t>> buffers;
    std::unique_ptr<CNoiseTables> tables;
    std::unique_ptr<CWideRun> wideRun;
    std::unique_ptr<std::int16_t[]> gaussian;
    const CLcgStep column = CLcgStep::Of(static_cast<std::uint64_t>(height) * static_cast<std::uint64_t>(perPixel));
    try {
        tables = std::make_unique<CNoiseTables>(s);
        buffers.assign(static_cast<std::size_t>(threads), std::vector<std::int16_t>(rowValues));
        if (wide) {
            wideRun = std::make_unique<CWideRun>(column, *tables, uniform);
            if (!uniform && kernel == CKernel::kAvx512) wideRun->PrepareGaussian(s);
            if (!uniform && wideRun->gaussianBound == 0.0f) gaussian.reset(new std::int16_t[1000 * 1000 + 1]);
        }
    } catch (const std::bad_alloc&) {
        ReportFailure();
        return;
    }

    const CLcgStep row = CLcgStep::Of(static_cast<std::uint64_t>(perPixel));
    const std::uint8_t* const source = picture.bits();
    const std::ptrdiff_t pitch = picture.pitch();
    const auto rowState = [&](int y) {
        return CLcgStep::Of(static_cast<std::uint64_t>(y) * static_cast<std::uint64_t>(perPixel)).Apply(seed);
    };

    if (wide) {
        CNoiseKind kind = CNoiseKind::kGaussian;
        if (uniform) {
            const bool formula = kernel == CKernel::kAvx512 && wideRun->formula.exact;
            kind = !formula                   ? CNoiseKind::kUniformLookup
                   : wideRun->formula.brief ? CNoiseKind::kUniformBrief
                                            : CNoiseKind::kUniformFormula;
            wideRun->lookup = tables->uniform;
        } else if (gaussian) {
            kind = CNoiseKind::kGaussianLookup;
            gaussian[1000 * 1000] = 0;
            ParallelFor(0, 1000, [&](int i0, int i1) { GaussianRows(*tables, i0, i1, gaussian.get()); });
            wideRun->lookup = gaussian.get();
        }
        const CWideRowFn noiseRow = WideRowFunction(kind, monochromatic);
        const CWideRun& run = *wideRun;
        // Each block of rows starts where the single sequence would be, so the blocks can be as
        // many and as uneven as ParallelFor likes.
        ParallelFor(0, height, [&](int y0, int y1) {
            std::uint32_t state = rowState(y0);
            for (int y = y0; y < y1; ++y) {
                const std::ptrdiff_t offset = static_cast<std::ptrdiff_t>(y) * pitch;
                noiseRow(state, run, source + offset, target + offset, width);
                state = row.Apply(state);
            }
        });
        return;
    }

    const CRowFn noiseRow = RowFunction(uniform, monochromatic);
    CDrawSteps steps;
    for (int d = 0; d < 7; ++d) steps.draw[d] = CLcgStep::Of(static_cast<std::uint64_t>(d));
    steps.eight = CLcgStep::Of(8 * static_cast<std::uint64_t>(height) * static_cast<std::uint64_t>(perPixel));
    steps.avx2 = kernel == CKernel::kAvx2;
    const CUniformFormula formula(tables->uniform);
    if (formula.exact) steps.formula = &formula;
    const bool inPlace = target == source;

    ParallelFor(0, height, [&](int y0, int y1) {
        std::int16_t* const noise = buffers[static_cast<std::size_t>(ParallelSlot())].data();
        std::uint32_t state = rowState(y0);
        for (int y = y0; y < y1; ++y) {
            noiseRow(state, column, steps, *tables, width, noise);
            const std::ptrdiff_t offset = static_cast<std::ptrdiff_t>(y) * pitch;
            if (inPlace) AddNoiseInPlace(target + offset, noise, 3 * width);
            else AddNoiseToRow(source + offset, noise, target + offset, 3 * width);
            state = row.Apply(state);
        }
    });
}

namespace orvex_testing {
bool UseNoiseKernel(NoiseKernel kernel)
{
    bool available = true;
    switch (kernel) {
    case NoiseKernel::kBest:
    case NoiseKernel::kScalar: break;
    case NoiseKernel::kAvx2: available = __builtin_cpu_supports("avx2"); break;
    case NoiseKernel::kAvx512Lookup:
    case NoiseKernel::kAvx512: available = HasAvx512(); break;
    }
    if (available) g_kernel.store(kernel);
    return available;
}

bool WideUniformNoise(float scale, std::int16_t* noise)
{
    if (!HasAvx512()) return false;
    const auto tables = std::make_unique<CNoiseTables>(scale);
    const CUniformFormula formula(tables->uniform);
    if (!formula.exact) return false;
    WideUniformDraws(formula, noise);
    return true;
}

bool WideGaussianNoise(float scale, const std::uint16_t* i, const std::uint16_t* j, int count, std::int16_t* noise)
{
    if (!HasAvx512()) return false;
    const auto tables = std::make_unique<CNoiseTables>(scale);
    CWideRun run(CLcgStep{}, *tables, false);
    run.PrepareGaussian(scale);
    if (run.gaussianBound == 0.0f) return false;
    WideGaussianPairs(run, i, j, count, noise);
    return true;
}
} // namespace orvex_testing
