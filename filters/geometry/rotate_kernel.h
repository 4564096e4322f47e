#pragma once

#include "core/image.h"
#include "core/image_processor.h"
#include "filters/geometry/geometry_internal.h"

#include <cmath>
#include <cstdint>

namespace orvex_geometry {

// One output row of the arbitrary rotation. The arithmetic is the operation's definition: the
// single-precision centre, sine and cosine enter double-precision products and sums, positions are
// truncated toward zero, and each channel is the double-precision bilinear blend truncated to a
// byte. A sample outside the source takes the background colour. The vector kernel must give the
// same bytes.
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

    // Output pixels [from, to) of the row whose centred coordinates start at (xStart, yr).
    void RenderPixels(std::uint8_t* out, int from, int to, int xStart, double yr) const
    {
        const double cd = c;
        const double sd = s;
        const double cx = centreX;
        const double cy = centreY;
        const double ysPart = yr * cd;
        const double xsPart = yr * sd;
        const std::ptrdiff_t pitch = source->pitch();
        out += 3 * static_cast<std::ptrdiff_t>(from);
        for (int X = from; X < to; ++X, out += 3) {
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

    void RenderRow(std::uint8_t* out, int outWidth, int xStart, double yr) const
    {
        RenderPixels(out, 0, outWidth, xStart, yr);
    }
};

// The same row four pixels at a time with AVX2 (no fused multiply-add), where the processor has it.
void RenderRotatedRowAvx2(const CRotation& rotation, std::uint8_t* out, int outWidth, int xStart, double yr);

// Four rows y .. y + 3 of a quarter-turned picture, columns x0 .. x1 - 1, as 4 x 4 blocks of
// pixels transposed in vector registers (AVX2 build). Each source read takes 16 bytes from the
// first of four pixels, so the four source columns must leave two more pixels in the row:
// y + 6 <= width when turning clockwise, y >= 2 when turning counter-clockwise.
void TurnBandAvx2(const CImage& source, CImage& target, bool clockwise, int y, int x0, int x1);

} // namespace orvex_geometry
