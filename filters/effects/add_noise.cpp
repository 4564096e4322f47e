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

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <new>
#include <vector>

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
    double radius[1000] = {};
    double angle[1000] = {};

    explicit CNoiseTables(float s) : scale(static_cast<double>(s))
    {
        for (int i = 0; i < 2000; ++i) uniform[i] = HeldNoise(scale * (i / 1000.0 - 1.0));
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

using CRowFn = void (*)(std::uint32_t, CLcgStep, const CNoiseTables&, int, std::int16_t*);

CRowFn RowFunction(bool uniform, bool monochromatic)
{
    if (uniform) return monochromatic ? &NoiseRow<true, true> : &NoiseRow<true, false>;
    return monochromatic ? &NoiseRow<false, true> : &NoiseRow<false, false>;
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
                noiseRow(state, column, *tables, width, noise);
                const std::ptrdiff_t offset = static_cast<std::ptrdiff_t>(y) * pitch;
                if (inPlace) AddNoiseInPlace(target + offset, noise, 3 * width);
                else AddNoiseToRow(source + offset, noise, target + offset, 3 * width);
                state = row.Apply(state);
            }
        }
    });
}
