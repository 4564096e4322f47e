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
    std::int16_t uniform[2000] = {};
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

// ---- eight pixels at a time ----------------------------------------------------------------------
// Lanes hold the generator states of eight neighbouring pixels; draw t of every pixel is one
// affine step from its state, and the lanes move on by eight columns at once. The noise values are
// the same table entries and the same double-precision products as above, so the result is
// identical; only the bookkeeping is vectorised.

std::atomic<bool> g_vectorNoise{true};

struct CDrawSteps
{
    CLcgStep draw[7]; // draw t (1..6) of a pixel from the pixel's state
    CLcgStep eight;   // eight columns on
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
        return _mm256_mask_i32gather_epi32(_mm256_setzero_si256(), t.uniform32,
                                           Remainder(DrawAt(states, steps.draw[firstDraw]), 2000, 26),
                                           _mm256_set1_epi32(-1), 4);
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
    if (g_vectorNoise.load(std::memory_order_relaxed) && __builtin_cpu_supports("avx2"))
        done = NoiseRowAvx2<kUniform, kMonochromatic>(state, column, steps, t, width, out);
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

using CRowFn = void (*)(std::uint32_t, CLcgStep, const CDrawSteps&, const CNoiseTables&, int, std::int16_t*);

CRowFn RowFunction(bool uniform, bool monochromatic)
{
    if (uniform) return monochromatic ? &NoiseRowFast<true, true> : &NoiseRowFast<true, false>;
    return monochromatic ? &NoiseRowFast<false, true> : &NoiseRowFast<false, false>;
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

    const int parts = ParallelThreadCount();
    const std::size_t rowValues = static_cast<std::size_t>(width) * 3;
    std::vector<std::vector<std::int16_t>> buffers;
    std::unique_ptr<CNoiseTables> tables;
    try {
        tables = std::make_unique<CNoiseTables>(s);
        buffers.assign(static_cast<std::size_t>(parts), std::vector<std::int16_t>(rowValues));
    } catch (const std::bad_alloc&) {
        ReportFailure();
        return;
    }

    const CLcgStep row = CLcgStep::Of(static_cast<std::uint64_t>(perPixel));
    const CLcgStep column = CLcgStep::Of(static_cast<std::uint64_t>(height) * static_cast<std::uint64_t>(perPixel));
    const CRowFn noiseRow = RowFunction(uniform, monochromatic);
    CDrawSteps steps;
    for (int d = 0; d < 7; ++d) steps.draw[d] = CLcgStep::Of(static_cast<std::uint64_t>(d));
    steps.eight = CLcgStep::Of(8 * static_cast<std::uint64_t>(height) * static_cast<std::uint64_t>(perPixel));
    const std::uint8_t* const source = picture.bits();
    const std::ptrdiff_t pitch = picture.pitch();
    const bool inPlace = target == source;

    ParallelFor(0, parts, [&](int p0, int p1) {
        for (int part = p0; part < p1; ++part) {
            const int y0 = static_cast<int>(static_cast<long long>(height) * part / parts);
            const int y1 = static_cast<int>(static_cast<long long>(height) * (part + 1) / parts);
            std::int16_t* const noise = buffers[static_cast<std::size_t>(part)].data();
            std::uint32_t state = CLcgStep::Of(static_cast<std::uint64_t>(y0) * static_cast<std::uint64_t>(perPixel)).Apply(seed);
            for (int y = y0; y < y1; ++y) {
                noiseRow(state, column, steps, *tables, width, noise);
                const std::ptrdiff_t offset = static_cast<std::ptrdiff_t>(y) * pitch;
                if (inPlace) AddNoiseInPlace(target + offset, noise, 3 * width);
                else AddNoiseToRow(source + offset, noise, target + offset, 3 * width);
                state = row.Apply(state);
            }
        }
    });
}

namespace orvex_testing {
bool UseVectorNoise(bool vector)
{
    g_vectorNoise.store(vector);
    return !vector || __builtin_cpu_supports("avx2");
}
} // namespace orvex_testing
