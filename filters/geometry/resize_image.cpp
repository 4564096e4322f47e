// Image size: nearest neighbour, the resampler of the bilinear method, and the hand-over to seam
// carving for the liquid method.
#include "core/image_processor.h"
#include "core/parallel.h"
#include "filters/geometry/geometry_internal.h"
#include "filters/geometry/resample.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <new>
#include <vector>

using orvex_geometry::HasPixels;
using orvex_geometry::CTaps;
using orvex_geometry::Row;

namespace {

// Rounds a blended value to a byte. Weights are never negative and add up to 1, so the value
// cannot fall below 0 and can pass 255 only by a rounding error; the plain form lets the compiler
// convert whole vectors at once.
inline std::uint8_t ToByte(float v)
{
    return static_cast<std::uint8_t>(static_cast<int>(std::min(v + 0.5f, 255.0f)));
}

// One row: `out[X]` = sum of the row's taps around X, three channels interleaved.
void ResampleRow(const float* in, std::uint8_t* out, const CTaps& taps, int targetWidth)
{
    const int span = taps.span;
    for (int x = 0; x < targetWidth; ++x) {
        const float* w = &taps.weights[static_cast<std::size_t>(x) * span];
        const float* p = in + 3 * static_cast<std::ptrdiff_t>(taps.first[static_cast<std::size_t>(x)]);
        float b = 0.0f, g = 0.0f, r = 0.0f;
        for (int k = 0; k < span; ++k) {
            b += w[k] * p[3 * k];
            g += w[k] * p[3 * k + 1];
            r += w[k] * p[3 * k + 2];
        }
        out[3 * x] = ToByte(b);
        out[3 * x + 1] = ToByte(g);
        out[3 * x + 2] = ToByte(r);
    }
}

void ResampleRowToFloat(const std::uint8_t* in, float* out, const CTaps& taps, int targetWidth)
{
    const int span = taps.span;
    if (span == 2) {
        // Enlarging: two taps; the general loop below gives the same sums, only slower.
        for (int x = 0; x < targetWidth; ++x) {
            const float w0 = taps.weights[2 * static_cast<std::size_t>(x)];
            const float w1 = taps.weights[2 * static_cast<std::size_t>(x) + 1];
            const std::uint8_t* p = in + 3 * static_cast<std::ptrdiff_t>(taps.first[static_cast<std::size_t>(x)]);
            out[3 * x] = 0.0f + w0 * p[0] + w1 * p[3];
            out[3 * x + 1] = 0.0f + w0 * p[1] + w1 * p[4];
            out[3 * x + 2] = 0.0f + w0 * p[2] + w1 * p[5];
        }
        return;
    }
    for (int x = 0; x < targetWidth; ++x) {
        const float* w = &taps.weights[static_cast<std::size_t>(x) * span];
        const std::uint8_t* p = in + 3 * static_cast<std::ptrdiff_t>(taps.first[static_cast<std::size_t>(x)]);
        float b = 0.0f, g = 0.0f, r = 0.0f;
        for (int k = 0; k < span; ++k) {
            b += w[k] * p[3 * k];
            g += w[k] * p[3 * k + 1];
            r += w[k] * p[3 * k + 2];
        }
        out[3 * x] = b;
        out[3 * x + 1] = g;
        out[3 * x + 2] = r;
    }
}

// The two row loops that run over whole rows: separate functions with unaliased pointers and a
// count held by value, so that the byte stores cannot be taken to change the bounds and the loops
// become vector code.
void AccumulateRow(float* __restrict acc, const std::uint8_t* __restrict in, float weight, std::size_t n)
{
    for (std::size_t i = 0; i < n; ++i) acc[i] += weight * in[i];
}

void BlendRows(const float* __restrict r0, const float* __restrict r1, float w0, float w1,
               std::uint8_t* __restrict out, std::size_t n)
{
    for (std::size_t i = 0; i < n; ++i) out[i] = ToByte(0.0f + w0 * r0[i] + w1 * r1[i]);
}

} // namespace

namespace orvex_geometry {

// Each output position's source taps. Reducing averages the source interval the output pixel
// covers, weighted by overlap; enlarging blends the two source pixels nearest to the output pixel's
// centre (the edges repeat). Weights are worked out in double precision and add up to 1.
CTaps MakeTaps(int sourceLength, int targetLength)
{
    CTaps taps;
    const double scale = static_cast<double>(sourceLength) / targetLength;
    taps.span = std::min(sourceLength, scale > 1.0 ? static_cast<int>(std::ceil(scale)) + 1 : 2);
    taps.first.resize(static_cast<std::size_t>(targetLength));
    taps.weights.assign(static_cast<std::size_t>(targetLength) * taps.span, 0.0f);
    for (int i = 0; i < targetLength; ++i) {
        float* w = &taps.weights[static_cast<std::size_t>(i) * taps.span];
        int first = 0;
        if (scale > 1.0) {
            const double a = i * scale;
            const double b = std::min(static_cast<double>(sourceLength), (i + 1) * scale);
            first = std::min(static_cast<int>(a), sourceLength - 1);
            for (int k = 0; k < taps.span && first + k < sourceLength; ++k) {
                const double lo = std::max(a, static_cast<double>(first + k));
                const double hi = std::min(b, static_cast<double>(first + k + 1));
                if (hi > lo) w[k] = static_cast<float>((hi - lo) / scale);
            }
        } else {
            const double centre = (i + 0.5) * scale - 0.5;
            const double below = std::floor(centre);
            first = static_cast<int>(below);
            if (first < 0) {
                first = 0;
                w[0] = 1.0f;
            } else if (first >= sourceLength - 1) {
                first = sourceLength - 1;
                w[0] = 1.0f;
            } else {
                w[0] = static_cast<float>(1.0 - (centre - below));
                w[1] = static_cast<float>(centre - below);
            }
        }
        // The window never reaches past the last source pixel: near the end it starts earlier and
        // its leading weights are 0.
        const int shift = first + taps.span - sourceLength;
        if (shift > 0) {
            for (int k = taps.span - 1; k >= shift; --k) w[k] = w[k - shift];
            for (int k = 0; k < shift; ++k) w[k] = 0.0f;
            first -= shift;
        }
        taps.first[static_cast<std::size_t>(i)] = first;
    }
    return taps;
}

bool Resample(const CImage& source, CImage& target)
{
    const int w = source.width();
    const int h = source.height();
    const int nw = target.width();
    const int nh = target.height();
    CTaps across, down;
    try {
        across = MakeTaps(w, nw);
        down = MakeTaps(h, nh);
    } catch (const std::bad_alloc&) {
        return false;
    }
    std::atomic<bool> ok{true};
    if (nh < h) {
        // Fewer rows: sum the source rows of each output row first (contiguous, vectorised), then
        // resample that one row across.
        const std::size_t rowValues = 3 * static_cast<std::size_t>(w);
        ParallelFor(0, nh, [&](int begin, int end) {
            std::vector<float> sum;
            try {
                sum.resize(rowValues);
            } catch (const std::bad_alloc&) {
                ok = false;
                return;
            }
            for (int y = begin; y < end; ++y) {
                const float* wy = &down.weights[static_cast<std::size_t>(y) * down.span];
                const int first = down.first[static_cast<std::size_t>(y)];
                float* acc = sum.data();
                std::fill(sum.begin(), sum.end(), 0.0f);
                for (int k = 0; k < down.span; ++k) {
                    const float weight = wy[k];
                    if (weight == 0.0f) continue;
                    const std::uint8_t* in = Row(source, first + k);
                    AccumulateRow(acc, in, weight, rowValues);
                }
                ResampleRow(acc, Row(target, y), across, nw);
            }
        });
    } else {
        // As many rows or more: resample each source row across once, keeping the rows that the
        // next output rows blend, then blend them down.
        const std::size_t rowValues = 3 * static_cast<std::size_t>(nw);
        ParallelFor(0, nh, [&](int begin, int end) {
            const int span = down.span;
            std::vector<float> cache;
            std::vector<int> cachedRow(static_cast<std::size_t>(span), -1);
            try {
                cache.resize(rowValues * span);
            } catch (const std::bad_alloc&) {
                ok = false;
                return;
            }
            for (int y = begin; y < end; ++y) {
                const float* wy = &down.weights[static_cast<std::size_t>(y) * span];
                const int first = down.first[static_cast<std::size_t>(y)];
                const float* rows[16];
                for (int k = 0; k < span; ++k) {
                    const int sy = first + k;
                    const std::size_t slot = static_cast<std::size_t>(sy % span);
                    float* cached = cache.data() + slot * rowValues;
                    if (cachedRow[slot] != sy) {
                        ResampleRowToFloat(Row(source, sy), cached, across, nw);
                        cachedRow[slot] = sy;
                    }
                    rows[k] = cached;
                }
                std::uint8_t* out = Row(target, y);
                if (span == 2) {
                    BlendRows(rows[0], rows[1], wy[0], wy[1], out, rowValues);
                } else {
                    for (std::size_t i = 0; i < rowValues; ++i) {
                        float v = 0.0f;
                        for (int k = 0; k < span; ++k) v += wy[k] * rows[k][i];
                        out[i] = ToByte(v);
                    }
                }
            }
        });
    }
    return ok.load();
}

} // namespace orvex_geometry

void CImageProcessor::ResizeImage(int newWidth, int newHeight, char method)
{
    CImage& picture = *image();
    if (!HasPixels(picture) || newWidth < 1 || newHeight < 1) return;
    if (static_cast<std::int64_t>(newWidth) * newHeight > CImage::kMaxPixels) {
        ReportFailure();
        return;
    }
    if (method == 'l') {
        LiquidResize(newWidth, newHeight);
        return;
    }
    if (method != 'n' && method != 'b') return;

    CImage resized;
    if (!resized.Create(newWidth, newHeight, 24)) {
        ReportFailure();
        return;
    }
    const int w = picture.width();
    const int h = picture.height();
    if (method == 'n') {
        // The ratios are single precision; each product is formed in double and truncated.
        const float rx = static_cast<float>(static_cast<double>(w) / newWidth);
        const float ry = static_cast<float>(static_cast<double>(h) / newHeight);
        std::vector<int> columns;
        try {
            columns.resize(static_cast<std::size_t>(newWidth));
        } catch (const std::bad_alloc&) {
            ReportFailure();
            return;
        }
        for (int x = 0; x < newWidth; ++x)
            columns[static_cast<std::size_t>(x)] = std::min(w - 1, static_cast<int>(static_cast<double>(rx) * x));
        ParallelFor(0, newHeight, [&](int begin, int end) {
            for (int y = begin; y < end; ++y) {
                const std::uint8_t* in = Row(picture, std::min(h - 1, static_cast<int>(static_cast<double>(ry) * y)));
                std::uint8_t* out = Row(resized, y);
                for (int x = 0; x < newWidth; ++x) {
                    const std::uint8_t* p = in + 3 * columns[static_cast<std::size_t>(x)];
                    out[3 * x] = p[0];
                    out[3 * x + 1] = p[1];
                    out[3 * x + 2] = p[2];
                }
            }
        });
    } else if (!orvex_geometry::Resample(picture, resized)) {
        ReportFailure();
        return;
    }
    picture = std::move(resized);
}
