// Gaussian and lens blur: a direct 3 x 3 convolution up to radius 2, a whole-picture circular
// convolution in the frequency domain above it.
#include "core/image_processor.h"
#include "filters/convolution/convolution.h"
#include "filters/convolution/convolution_internal.h"
#include "filters/convolution/fft_convolution.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>

namespace orvex_convolution {
namespace {

// One row in single precision: bytes of the truncated sums, and a mark wherever the sum lies too
// near an integer for single precision to decide the truncation.
__attribute__((target_clones("avx2", "default"))) void Row3x3(const std::uint8_t* __restrict above,
                                                              const std::uint8_t* __restrict here,
                                                              const std::uint8_t* __restrict below, int bytes,
                                                              const float (&k)[3][3], float margin,
                                                              std::uint8_t* __restrict out, std::uint8_t* __restrict near)
{
    for (int i = 3; i < bytes - 3; ++i) {
        float s = 0.0f;
        s += static_cast<float>(above[i - 3]) * k[0][0];
        s += static_cast<float>(here[i - 3]) * k[0][1];
        s += static_cast<float>(below[i - 3]) * k[0][2];
        s += static_cast<float>(above[i]) * k[1][0];
        s += static_cast<float>(here[i]) * k[1][1];
        s += static_cast<float>(below[i]) * k[1][2];
        s += static_cast<float>(above[i + 3]) * k[2][0];
        s += static_cast<float>(here[i + 3]) * k[2][1];
        s += static_cast<float>(below[i + 3]) * k[2][2];
        const int t = static_cast<int>(s);
        const float fraction = s - static_cast<float>(t);
        out[i] = static_cast<std::uint8_t>(t);
        near[i] = static_cast<std::uint8_t>((fraction < margin) | (fraction > 1.0f - margin));
    }
}

// The same for a kernel that is the product u[a] * u[b] (the bell and the box): a column pass and
// a row pass, 6 products per byte instead of 9.
__attribute__((target_clones("avx2", "default"))) void Row3x3Separable(const std::uint8_t* __restrict above,
                                                                       const std::uint8_t* __restrict here,
                                                                       const std::uint8_t* __restrict below, int bytes,
                                                                       const float (&u)[3], float margin,
                                                                       float* __restrict columns,
                                                                       std::uint8_t* __restrict out,
                                                                       std::uint8_t* __restrict near)
{
    for (int i = 0; i < bytes; ++i) {
        float c = static_cast<float>(above[i]) * u[0];
        c += static_cast<float>(here[i]) * u[1];
        c += static_cast<float>(below[i]) * u[2];
        columns[i] = c;
    }
    for (int i = 3; i < bytes - 3; ++i) {
        float s = columns[i - 3] * u[0];
        s += columns[i] * u[1];
        s += columns[i + 3] * u[2];
        const int t = static_cast<int>(s);
        const float fraction = s - static_cast<float>(t);
        out[i] = static_cast<std::uint8_t>(t);
        near[i] = static_cast<std::uint8_t>((fraction < margin) | (fraction > 1.0f - margin));
    }
}

// u with u[a] * u[b] = k[a][b] to far better than single precision, if the kernel has that form.
bool SeparableFactors(const double (&k)[3][3], float (&u)[3])
{
    if (!(k[1][1] > 0.0)) return false;
    double factors[3];
    for (int a = 0; a < 3; ++a) factors[a] = k[a][1] / std::sqrt(k[1][1]);
    for (int a = 0; a < 3; ++a)
        for (int b = 0; b < 3; ++b)
            if (std::fabs(factors[a] * factors[b] - k[a][b]) > 1e-12) return false;
    for (int a = 0; a < 3; ++a) u[a] = static_cast<float>(factors[a]);
    return true;
}

} // namespace

bool Convolve3x3(const CImageProcessor& engine, CImage& picture, const double (&k)[3][3])
{
    const int width = picture.width();
    CImageProcessor::ProgressScope bar(engine, " Gaussian blur:", width - 2);
    if (width < 3 || picture.height() < 3) return true;

    float kf[3][3];
    for (int a = 0; a < 3; ++a)
        for (int b = 0; b < 3; ++b) kf[a][b] = static_cast<float>(k[a][b]);
    float u[3];
    const bool separable = SeparableFactors(k, u);
    const int bytes = width * 3;
    // The single-precision sum is within 3e-4 of the extended one (nine non-negative weights
    // summing to 1, samples up to 255); outside this margin both truncate alike.
    constexpr float kMargin = 1.0f / 512.0f;

    // Scratch for every thread, had before the first row is written, in whole cache lines so that
    // no two threads write one line.
    const std::size_t perThread = (static_cast<std::size_t>(bytes) + 63) / 64 * 64;
    const std::size_t threads = static_cast<std::size_t>(ParallelThreadCount());
    const auto marksBuffer = orvex_fft::AllocateArray<std::uint8_t>(perThread * threads);
    const auto columnsBuffer = orvex_fft::AllocateArray<float>(perThread * threads);
    if (!marksBuffer || !columnsBuffer) return false;

    return ForEachInteriorRow(
        picture,
        [&](int, const std::uint8_t* above, const std::uint8_t* here, const std::uint8_t* below, std::uint8_t* out) {
            const std::size_t slot = std::min(static_cast<std::size_t>(ParallelSlot()), threads - 1);
            std::uint8_t* const marks = marksBuffer.get() + perThread * slot;
            float* const columns = columnsBuffer.get() + perThread * slot;
            if (separable) Row3x3Separable(above, here, below, bytes, u, kMargin, columns, out, marks);
            else Row3x3(above, here, below, bytes, kf, kMargin, out, marks);
            const std::uint8_t* rows[3] = {above, here, below};
            // Marks are rare: skip them eight at a time.
            for (int i = 3; i < bytes - 3; ++i) {
                if (i + 8 <= bytes - 3) {
                    std::uint64_t word;
                    std::memcpy(&word, marks + i, sizeof word);
                    if (word == 0) {
                        i += 7;
                        continue;
                    }
                }
                if (!marks[i]) continue;
                long double exact = 0.0L;
                for (int a = 0; a < 3; ++a)
                    for (int b = 0; b < 3; ++b)
                        exact += static_cast<long double>(rows[b][i + 3 * (a - 1)]) * static_cast<long double>(k[a][b]);
                out[i] = static_cast<std::uint8_t>(static_cast<int>(exact));
            }
        },
        [&](double fraction) { bar.Set(static_cast<int>(fraction * (width - 2))); });
}

namespace {

// Progress of the frequency-domain path: the bar's range is trunc(5.83 W); building the kernel takes
// the first W / 2 steps and the transforms the rest, ending near 5.81 W.
struct CFftProgress
{
    CImageProcessor::ProgressScope& bar;
    int width;
    void Kernel() const { bar.Set(width / 2); }
    void Transforms(double fraction) const { bar.Set(static_cast<int>(width * (0.5 + 5.31 * fraction))); }
};

// Displacements up to `Limit` columns (rows) reach the transform: the half picture, or the margin
// when the transform is longer than the picture.
int LimitX(const orvex_fft::CGeometry& g)
{
    return g.offsetX ? g.offsetX : g.width / 2 - 1;
}

int LimitY(const orvex_fft::CGeometry& g)
{
    return g.offsetY ? g.offsetY : g.height / 2 - 1;
}

// Beyond this many pixels the bell's weights are below e^-80 of its centre.
int BellReach(double sigma)
{
    return static_cast<int>(std::min(std::ceil(sigma * std::sqrt(160.0)), 1e6));
}

bool GaussianSpectrum(const orvex_fft::CPlanSet& plans, const orvex_fft::CGeometry& g, float radius,
                      orvex_fft::CSeparableSpectrum& spectrum)
{
    const int lx = plans.width;
    const int ly = plans.height;
    const float inverse = 1.0f / radius;
    const float f = inverse * inverse;
    const double c = 0.5 * f;
    const float g2 = radius * radius;
    const double norm = 0.5 / (g2 * 3.1415926);
    // exp(-(i^2 + j^2) c) = exp(-i^2 c) exp(-j^2 c), and the cut-off |i| < W/2, |j| < H/2 is a
    // rectangle, so the bell is the product of two 1-D bells and so is its spectrum.
    const auto row = orvex_fft::AllocateArray<double>(static_cast<std::size_t>(lx));
    const auto column = orvex_fft::AllocateArray<double>(static_cast<std::size_t>(ly));
    if (!row || !column) return false;
    std::fill(row.get(), row.get() + lx, 0.0);
    std::fill(column.get(), column.get() + ly, 0.0);
    for (int i = 0; i <= LimitX(g); ++i) {
        const double v = std::exp(-static_cast<double>(static_cast<long long>(i) * i) * c) * norm;
        row[static_cast<std::size_t>(i)] = v;
        if (i != 0) row[static_cast<std::size_t>(lx - i)] = v;
    }
    for (int j = 0; j <= LimitY(g); ++j) {
        const double v = std::exp(-static_cast<double>(static_cast<long long>(j) * j) * c);
        column[static_cast<std::size_t>(j)] = v;
        if (j != 0) column[static_cast<std::size_t>(ly - j)] = v;
    }
    return spectrum.Build(plans, row.get(), column.get());
}

bool LensSpectrum(const orvex_fft::CPlanSet& plans, const orvex_fft::CGeometry& g, float radius,
                  orvex_fft::CRowsSpectrum& spectrum)
{
    const int lx = plans.width;
    // Displacements (i, j), |i| < W/2, |j| < H/2, with sqrt(i^2 + j^2) <= radius; the margins, if
    // any, reach the whole disc.
    // Row j has a cell (its centre, at distance exactly j) when j <= radius, and so has every row
    // above it.
    int count = 0;
    while (count <= LimitY(g) && static_cast<double>(count) <= static_cast<double>(radius)) ++count;
    const auto rows = orvex_fft::AllocateArray<double>(static_cast<std::size_t>(count) * static_cast<std::size_t>(lx));
    if (!rows) return false;
    std::fill(rows.get(), rows.get() + static_cast<std::size_t>(count) * static_cast<std::size_t>(lx), 0.0);
    double sum = 0.0;
    for (int j = 0; j < count; ++j) {
        double* const row = rows.get() + static_cast<std::size_t>(j) * static_cast<std::size_t>(lx);
        for (int i = 0; i <= LimitX(g); ++i) {
            const long long d2 = static_cast<long long>(i) * i + static_cast<long long>(j) * j;
            if (!(std::sqrt(static_cast<double>(d2)) <= static_cast<double>(radius))) break;
            row[i] = 1.0;
            if (i != 0) row[lx - i] = 1.0;
            sum += (i != 0 ? 2.0 : 1.0) * (j != 0 ? 2.0 : 1.0);
        }
    }
    for (std::size_t k = 0; k < static_cast<std::size_t>(count) * static_cast<std::size_t>(lx); ++k) rows[k] /= sum;
    return spectrum.Build(plans, rows.get(), count);
}

} // namespace

// Every picture-sized buffer is had without exceptions; what is left to throw is small bookkeeping,
// all of it before the picture is touched.
bool BlurPicture(const CImageProcessor& engine, CImage& picture, float radius, bool gaussian) try
{
    if (picture.IsNull()) return true;
    const int w = picture.width();
    const int h = picture.height();
    if (radius <= 2.0f) {
        double k[3][3];
        double sum = 0.0;
        for (int a = -1; a <= 1; ++a)
            for (int b = -1; b <= 1; ++b) {
                const float exponent = static_cast<float>(-(a * a + b * b)) / (radius * radius);
                k[a + 1][b + 1] = gaussian ? std::exp(static_cast<double>(exponent)) : 1.0;
                sum += k[a + 1][b + 1];
            }
        for (auto& column : k)
            for (double& v : column) v /= sum;
        return Convolve3x3(engine, picture, k);
    }

    // Under 2 pixels in a direction the kernel would have no cell at all.
    if (w < 2 || h < 2) return true;
    if (!gaussian && DirectLensWorthIt(w, h, radius)) return DirectLens(engine, picture, radius);
    const int reach = gaussian ? BellReach(radius) : static_cast<int>(radius);
    const orvex_fft::CGeometry geometry = orvex_fft::ChooseGeometry(w, h, reach, reach);
    // Marked busy before planning, so that measuring the new size waits until this blur is done.
    const orvex_fft::CConvolutionRunning inUse;
    const auto plans = orvex_fft::PlansFor(geometry.lengthX, geometry.lengthY);
    if (!plans) return false;
    CImageProcessor::ProgressScope bar(engine, gaussian ? " Gaussian blur:" : " Lens blur:",
                                       static_cast<int>(5.83 * static_cast<double>(w)));
    const CFftProgress progress{bar, w};

    std::unique_ptr<orvex_fft::CKernelSpectrum> spectrum;
    if (gaussian) {
        auto bell = std::make_unique<orvex_fft::CSeparableSpectrum>();
        if (!GaussianSpectrum(*plans, geometry, radius, *bell)) return false;
        spectrum = std::move(bell);
    } else {
        auto disc = std::make_unique<orvex_fft::CRowsSpectrum>();
        if (!LensSpectrum(*plans, geometry, radius, *disc)) return false;
        spectrum = std::move(disc);
    }
    progress.Kernel();

    orvex_fft::CConvolution how;
    how.offsetX = geometry.offsetX;
    how.offsetY = geometry.offsetY;
    how.channelsPerBatch = orvex_fft::ChannelsPerBatch(geometry);
    how.store = orvex_fft::StoreMode::Wrap;
    how.progress = [&](double fraction) { progress.Transforms(fraction); };
    how.stop = [&bar] { return bar.StopRequested(); };
    return orvex_fft::Convolve(picture, *plans, *spectrum, how);
} catch (const std::bad_alloc&) {
    return false;
}

float BlurRadiusFromSlider(int position)
{
    const float q = static_cast<float>(position / 10.0);
    const long double square = static_cast<long double>(q) * q;
    return static_cast<float>(square / 250);
}

} // namespace orvex_convolution

void CImageProcessor::GaussianBlur(float radius, std::uint8_t gaussian)
{
    CImage* picture = image();
    if (!picture || picture->IsNull()) return;
    if (!(radius > 0.0f) || radius > 250.0f) return;
    if (!orvex_convolution::BlurPicture(*this, *picture, radius, gaussian != 0)) ReportFailure();
}
