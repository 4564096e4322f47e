// The exact rotations and flips (pixel permutations) and the arbitrary rotation with bilinear
// sampling onto a canvas that holds the whole rotated picture.
#include "core/image_processor.h"
#include "core/parallel.h"
#include "filters/geometry/geometry_internal.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

using orvex_geometry::HasPixels;
using orvex_geometry::Row;

void orvex_geometry::FillBackground(std::uint8_t* out, int count)
{
    for (int i = 0; i < count; ++i) {
        out[3 * i] = CImageProcessor::kBackgroundBlue;
        out[3 * i + 1] = CImageProcessor::kBackgroundGreen;
        out[3 * i + 2] = CImageProcessor::kBackgroundRed;
    }
}

namespace {

// Reverses the order of the pixels of one row in place.
void ReverseRow(std::uint8_t* row, int width)
{
    std::uint8_t* a = row;
    std::uint8_t* b = row + 3 * (width - 1);
    while (a < b) {
        for (int c = 0; c < 3; ++c) std::swap(a[c], b[c]);
        a += 3;
        b -= 3;
    }
}

// Writes `to` reversed into `from`'s place and `from` reversed into `to`'s place; the rows differ.
void SwapRowsReversed(std::uint8_t* from, std::uint8_t* to, int width)
{
    std::uint8_t* b = to + 3 * (width - 1);
    for (int x = 0; x < width; ++x, b -= 3) {
        std::uint8_t* a = from + 3 * x;
        for (int c = 0; c < 3; ++c) std::swap(a[c], b[c]);
    }
}

// Builds the quarter-turned picture: destination pixel (X, Y) comes from source column
// `clockwise ? Y : W - 1 - Y`, row `clockwise ? H - 1 - X : X`. Square tiles keep both the rows read
// and the rows written in the cache; tile rows are shared between the cores.
void QuarterTurn(const CImage& source, CImage& target, bool clockwise)
{
    constexpr int kTile = 64;
    const int w = source.width();
    const int h = source.height();
    const int tw = target.width(); // h
    const int th = target.height(); // w
    const int tileRows = (th + kTile - 1) / kTile;
    const std::ptrdiff_t srcPitch = source.pitch();
    ParallelFor(0, tileRows, [&](int firstTile, int endTile) {
        for (int tile = firstTile; tile < endTile; ++tile) {
            const int y0 = tile * kTile;
            const int y1 = std::min(th, y0 + kTile);
            for (int x0 = 0; x0 < tw; x0 += kTile) {
                const int x1 = std::min(tw, x0 + kTile);
                for (int y = y0; y < y1; ++y) {
                    std::uint8_t* out = Row(target, y);
                    const int sx = clockwise ? y : w - 1 - y;
                    if (clockwise) {
                        const std::uint8_t* in = Row(source, h - 1 - x0) + 3 * sx;
                        for (int x = x0; x < x1; ++x, in -= srcPitch) {
                            out[3 * x] = in[0];
                            out[3 * x + 1] = in[1];
                            out[3 * x + 2] = in[2];
                        }
                    } else {
                        const std::uint8_t* in = Row(source, x0) + 3 * sx;
                        for (int x = x0; x < x1; ++x, in += srcPitch) {
                            out[3 * x] = in[0];
                            out[3 * x + 1] = in[1];
                            out[3 * x + 2] = in[2];
                        }
                    }
                }
            }
        }
    });
}

} // namespace

void CImageProcessor::Rotate180()
{
    CImage& picture = *image();
    if (!HasPixels(picture)) return;
    const int w = picture.width();
    const int h = picture.height();
    ParallelFor(0, h / 2, [&](int begin, int end) {
        for (int y = begin; y < end; ++y) SwapRowsReversed(Row(picture, y), Row(picture, h - 1 - y), w);
    });
    if (h % 2) ReverseRow(Row(picture, h / 2), w);
}

void CImageProcessor::FlipHorizontal()
{
    CImage& picture = *image();
    if (!HasPixels(picture)) return;
    const int w = picture.width();
    ParallelFor(0, picture.height(), [&](int begin, int end) {
        for (int y = begin; y < end; ++y) ReverseRow(Row(picture, y), w);
    });
}

void CImageProcessor::FlipVertical()
{
    CImage& picture = *image();
    if (!HasPixels(picture)) return;
    const int h = picture.height();
    const std::size_t bytes = 3 * static_cast<std::size_t>(picture.width());
    ParallelFor(0, h / 2, [&](int begin, int end) {
        for (int y = begin; y < end; ++y) std::swap_ranges(Row(picture, y), Row(picture, y) + bytes, Row(picture, h - 1 - y));
    });
}

void CImageProcessor::Rotate90CW()
{
    CImage& picture = *image();
    if (!HasPixels(picture)) return;
    CImage turned;
    if (!turned.Create(picture.height(), picture.width(), 24)) {
        ReportFailure();
        return;
    }
    QuarterTurn(picture, turned, true);
    picture = std::move(turned);
}

void CImageProcessor::Rotate90CCW()
{
    CImage& picture = *image();
    if (!HasPixels(picture)) return;
    CImage turned;
    if (!turned.Create(picture.height(), picture.width(), 24)) {
        ReportFailure();
        return;
    }
    QuarterTurn(picture, turned, false);
    picture = std::move(turned);
}

namespace {

// One output row of the arbitrary rotation. The arithmetic is the operation's definition: the
// single-precision centre, sine and cosine enter double-precision products and sums, positions are
// truncated toward zero, and each channel is the double-precision bilinear blend truncated to a
// byte. A sample outside the source takes the background colour.
struct CRotation
{
    const CImage* source;
    int width;
    int height;
    float centreX;
    float centreY;
    float c;
    float s;

    void Sample(int x, int y, double out[3]) const
    {
        if (x < 0 || y < 0 || x >= width || y >= height) {
            out[0] = CImageProcessor::kBackgroundBlue;
            out[1] = CImageProcessor::kBackgroundGreen;
            out[2] = CImageProcessor::kBackgroundRed;
            return;
        }
        const std::uint8_t* p = Row(*source, y) + 3 * x;
        out[0] = p[0];
        out[1] = p[1];
        out[2] = p[2];
    }

    void RenderRow(std::uint8_t* out, int outWidth, int xStart, double yr) const
    {
        const double cd = c;
        const double sd = s;
        const double cx = centreX;
        const double cy = centreY;
        const double ysPart = yr * cd;
        const double xsPart = yr * sd;
        const std::ptrdiff_t pitch = source->pitch();
        for (int X = 0; X < outWidth; ++X, out += 3) {
            const double xr = static_cast<double>(X + xStart);
            const double xs = cx + xr * cd + xsPart;
            const double ys = cy - xr * sd + ysPart;
            if (xs <= -1.0 || ys <= -1.0 || xs >= width || ys >= height) {
                out[0] = CImageProcessor::kBackgroundBlue;
                out[1] = CImageProcessor::kBackgroundGreen;
                out[2] = CImageProcessor::kBackgroundRed;
                continue;
            }
            const int x0 = static_cast<int>(xs);
            const int y0 = static_cast<int>(ys);
            const double fx = std::fabs(xs - x0);
            const double fy = std::fabs(ys - y0);
            const double gx = 1.0 - fx;
            const double gy = 1.0 - fy;
            if (xs >= 0.0 && ys >= 0.0 && x0 + 1 < width && y0 + 1 < height) {
                // All four samples inside: the common case, read straight from the rows.
                const std::uint8_t* p0 = Row(*source, y0) + 3 * x0;
                const std::uint8_t* p1 = p0 + pitch;
                for (int ch = 0; ch < 3; ++ch) {
                    const double v = (p0[ch] * gx + p0[ch + 3] * fx) * gy + (p1[ch] * gx + p1[ch + 3] * fx) * fy;
                    out[ch] = static_cast<std::uint8_t>(static_cast<int>(v));
                }
                continue;
            }
            const int x1 = xs >= 0.0 ? x0 + 1 : x0 - 1;
            const int y1 = ys >= 0.0 ? y0 + 1 : y0 - 1;
            double p00[3], p10[3], p01[3], p11[3];
            Sample(x0, y0, p00);
            Sample(x1, y0, p10);
            Sample(x0, y1, p01);
            Sample(x1, y1, p11);
            for (int ch = 0; ch < 3; ++ch) {
                const double v = (p00[ch] * gx + p10[ch] * fx) * gy + (p01[ch] * gx + p11[ch] * fx) * fy;
                out[ch] = static_cast<std::uint8_t>(static_cast<int>(v));
            }
        }
    }
};

} // namespace

void CImageProcessor::RotateArbitrary(float angle)
{
    CImage& picture = *image();
    // An angle too large to be a number of turns (the dialog accepts any run of digits) is no
    // rotation at all.
    if (!HasPixels(picture) || angle == 0.0f || !std::isfinite(angle)) return;
    const int w = picture.width();
    const int h = picture.height();

    const float theta = static_cast<float>(angle * 3.1415926 / 180);
    const float c = static_cast<float>(std::cos(static_cast<double>(theta)));
    const float s = static_cast<float>(std::sin(static_cast<double>(theta)));

    // Extents between the corner pixels' centres, relative to the centre pixel.
    const int hw = w / 2;
    const int hh = h / 2;
    double minX = 0, maxX = 0, minY = 0, maxY = 0;
    bool first = true;
    for (const int x : {-hw, w - 1 - hw}) {
        for (const int y : {-hh, h - 1 - hh}) {
            const double rx = x * static_cast<double>(c) - y * static_cast<double>(s);
            const double ry = x * static_cast<double>(s) + y * static_cast<double>(c);
            if (first || rx < minX) minX = rx;
            if (first || rx > maxX) maxX = rx;
            if (first || ry < minY) minY = ry;
            if (first || ry > maxY) maxY = ry;
            first = false;
        }
    }
    // A single pixel (or a one-pixel line turned end on) has no extent; it keeps at least one
    // pixel each way rather than vanishing.
    const int nw = std::max(1, static_cast<int>(std::ceil(maxX - minX)));
    const int nh = std::max(1, static_cast<int>(std::ceil(maxY - minY)));

    CImage rotated;
    if (!rotated.Create(nw, nh, 24)) {
        ReportFailure();
        return;
    }
    const CRotation rotation{&picture, w, h, static_cast<float>(hw), static_cast<float>(hh), c, s};
    const int xStart = -(nw / 2) + (nw % 2 == 0 ? 1 : 0);
    const int yStart = -(nh / 2) + (nh % 2 == 0 ? 1 : 0);
    ParallelFor(0, nh, [&](int begin, int end) {
        for (int y = begin; y < end; ++y) rotation.RenderRow(Row(rotated, y), nw, xStart, static_cast<double>(y + yStart));
    });
    picture = std::move(rotated);
}
