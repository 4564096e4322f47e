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
#include "filters/effects/add_noise_kernel.h"
#include "filters/effects/effects_internal.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <memory>
#include <new>
#include <vector>

namespace orvex_noise {

CNoiseTables::CNoiseTables(float s) : scale(static_cast<double>(s))
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

int CUniformFormula::Noise(int i) const
{
    const int m = i - 1000;
    const unsigned a = std::min<unsigned>(static_cast<unsigned>(m < 0 ? -m : m), limit);
    const unsigned sum = ((a * high) & 0xFFFFu) + ((a * low) >> 16);
    const int g = static_cast<int>((sum & 0xFFFFu) >> shift);
    return m < 0 ? -g : g;
}

CUniformFormula::CUniformFormula(const std::int16_t* table)
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

} // namespace orvex_noise

namespace {

using namespace orvex_noise;

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

template <bool kUniform, bool kMonochromatic>
void NoiseRowFast(std::uint32_t state, CLcgStep column, const CDrawSteps& steps, const CNoiseTables& t, int width,
                  std::int16_t* out)
{
    int done = 0;
    if (steps.avx2) done = steps.avx2(state, column, steps, t, width, out);
    NoiseRow<kUniform, kMonochromatic>(state, column, t, width - done, out + 3 * done);
}

void AddNoiseToRow(const std::uint8_t* __restrict in, const std::int16_t* __restrict noise,
                   std::uint8_t* __restrict out, int bytes)
{
    for (int i = 0; i < bytes; ++i) {
        const int v = in[i] + noise[i];
        out[i] = static_cast<std::uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
    }
}

// The same, in place (the input and output rows are one).
void AddNoiseInPlace(std::uint8_t* __restrict row, const std::int16_t* __restrict noise, int bytes)
{
    for (int i = 0; i < bytes; ++i) {
        const int v = row[i] + noise[i];
        row[i] = static_cast<std::uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
    }
}

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

// The Gaussian shape of the AVX-512 rows (add_noise_avx512.cpp), fitted and measured against the plain
// path's double-precision values.

double RadiusOf(int i)
{
    return std::sqrt(-2.0 * std::log(i / 1000.0 + 0.0001));
}

double AngleOf(int j)
{
    return std::cos(6.2831852 * (j / 1000.0));
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

} // namespace

namespace orvex_noise {

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

} // namespace orvex_noise

namespace {

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

} // namespace

namespace orvex_noise {

void CWideRun::PrepareGaussian(float s)
{
    shape = GaussianShape();
    gaussianBound = GaussianRelativeBound(s, shape);
    if (gaussianBound == 0.0f) return;
    ScaleShape(shape, s, tables->radius);
    gaussianBound = GaussianRelativeBound(s, shape);
}

CWideRun::CWideRun(CLcgStep column, const CNoiseTables& t, bool uniform)
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

} // namespace orvex_noise

namespace {

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
    if (kernel == CKernel::kAvx2) steps.avx2 = NoiseRowAvx2(uniform, monochromatic);
    const CUniformFormula formula(tables->uniform);
    if (formula.exact) steps.formula = &formula;
    const bool inPlace = target == source;
    // The pixel update is chosen by the processor alone, whichever kernel makes the noise.
    const bool avx2 = __builtin_cpu_supports("avx2");
    const auto addToRow = avx2 ? &AddNoiseToRowAvx2 : &AddNoiseToRow;
    const auto addInPlace = avx2 ? &AddNoiseInPlaceAvx2 : &AddNoiseInPlace;

    ParallelFor(0, height, [&](int y0, int y1) {
        std::int16_t* const noise = buffers[static_cast<std::size_t>(ParallelSlot())].data();
        std::uint32_t state = rowState(y0);
        for (int y = y0; y < y1; ++y) {
            noiseRow(state, column, steps, *tables, width, noise);
            const std::ptrdiff_t offset = static_cast<std::ptrdiff_t>(y) * pitch;
            if (inPlace) addInPlace(target + offset, noise, 3 * width);
            else addToRow(source + offset, noise, target + offset, 3 * width);
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