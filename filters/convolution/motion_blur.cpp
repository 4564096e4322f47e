// Motion blur: an elongated Gaussian along the chosen direction, 3 x 3 up to radius 2, a
// whole-picture circular convolution above it.
#include "core/image_processor.h"
#include "filters/convolution/convolution_internal.h"
#include "filters/convolution/fft_convolution.h"

#include <algorithm>
#include <cmath>
#include <new>

namespace {

struct CDirection
{
    double cosine;
    double sine;
    double sine2;
};

CDirection DirectionOf(int angle)
{
    const double theta = static_cast<double>(static_cast<long long>(angle) + 90) * 3.1415926 / 180;
    return {std::cos(theta), std::sin(theta), std::sin(2 * theta)};
}

} // namespace

// The transform buffers are had without exceptions; the small bookkeeping that could still throw
// comes before the picture is touched.
void CImageProcessor::MotionBlur(int angle, double radius) try
{
    CImage* target = image();
    if (!target || target->IsNull()) return;
    // The shape divides by the radius: 0 (or less, or not a number) has no streak to draw and would
    // fill the kernel with infinities.
    if (!(radius > 0.0)) return;
    CImage& picture = *target;
    const CDirection d = DirectionOf(angle);
    const double r = radius;

    if (radius <= 2.0) {
        const double narrow = 0.1 * 0.1;
        const double a2 = (d.cosine / 0.1) * (d.cosine / 0.1) + (d.sine / r) * (d.sine / r);
        const double b2 = d.sine2 / (r * r) - d.sine2 / narrow;
        const double c2 = (d.sine / 0.1) * (d.sine / 0.1) + (d.cosine / r) * (d.cosine / r);
        const double d2 = 0.1 * r;
        double k[3][3];
        double sum = 0.0;
        for (int a = -1; a <= 1; ++a)
            for (int b = -1; b <= 1; ++b) {
                k[a + 1][b + 1] = std::exp(-(a2 * (a * a) + b2 * (a * b) + c2 * (b * b)) / d2);
                sum += k[a + 1][b + 1];
            }
        for (auto& column : k)
            for (double& v : column) v /= sum;
        if (!orvex_convolution::Convolve3x3(*this, picture, k)) ReportFailure();
        return;
    }

    const int w = picture.width();
    const int h = picture.height();
    if (w < 2 || h < 2) return;
    // Across the streak and along it the weight exp(-(u^2 + v^2 / r^2)) falls below e^-80 within
    // r * sqrt(80) pixels (r > 2).
    const int reach = static_cast<int>(std::min(std::ceil(r * std::sqrt(80.0)), 1e6)) + 1;
    const orvex_fft::CGeometry geometry = orvex_fft::ChooseGeometry(w, h, reach, reach);
    // Marked busy before planning, so that measuring the new size waits until this blur is done.
    const orvex_fft::CConvolutionRunning inUse;
    const auto plans = orvex_fft::PlansFor(geometry.lengthX, geometry.lengthY);
    if (!plans) {
        ReportFailure();
        return;
    }
    ProgressScope bar(*this, " Motion blur:", static_cast<int>(5.83 * static_cast<double>(w)));

    const double a = d.cosine * d.cosine + (d.sine / r) * (d.sine / r);
    const double b = d.sine2 / (r * r) - d.sine2 / 1;
    const double c = d.sine * d.sine + (d.cosine / r) * (d.cosine / r);
    const double scale = 1 / (3.1415926 * r);
    const auto weight = [&](int i, int j, bool mirrored) {
        const double di = i;
        const double dj = j;
        const double cross = mirrored ? -b * di * dj : b * di * dj;
        return std::exp(-(a * di * di + cross + c * dj * dj)) * scale;
    };
    // Row y holds displacement j = y in the top half and j = y - length in the bottom half; w1 serves
    // (i, j) and (-i, -j), w2 (-i, j) and (i, -j). Displacements reach the half picture, or the
    // margin when the transform is longer than the picture.
    const int lengthX = plans->width;
    const int lengthY = plans->height;
    const int limitX = geometry.offsetX ? geometry.offsetX : w / 2 - 1;
    const int limitY = geometry.offsetY ? geometry.offsetY : h / 2 - 1;
    const auto fillRow = [&](int y, double* row) {
        const bool top = y <= limitY;
        const int j = top ? y : lengthY - y;
        if (!top && (j < 1 || j > limitY)) return;
        for (int i = 0; i <= limitX; ++i) {
            row[i] = weight(i, j, !top);
            if (i != 0) row[lengthX - i] = weight(i, j, top);
        }
    };
    orvex_fft::CStoredSpectrum spectrum;
    if (!spectrum.Build(*plans, fillRow)) {
        ReportFailure();
        return;
    }
    bar.Set(w / 2);

    orvex_fft::CConvolution how;
    // One plane at a time: the streak's spectrum is kept whole (4 bytes per pixel) beside it.
    how.channelsPerBatch = 1;
    how.offsetX = geometry.offsetX;
    how.offsetY = geometry.offsetY;
    how.store = orvex_fft::StoreMode::ClampHigh;
    how.progress = [&](double fraction) { bar.Set(static_cast<int>(w * (0.5 + 5.31 * fraction))); };
    how.stop = [&bar] { return bar.StopRequested(); };
    if (!orvex_fft::Convolve(picture, *plans, spectrum, how)) ReportFailure();
} catch (const std::bad_alloc&) {
    ReportFailure();
}
