// Image size: nearest neighbour, the resampler of the bilinear method, and the hand-over to seam
// carving for the liquid method.
#include "core/image_processor.h"
#include "core/parallel.h"
#include "filters/geometry/geometry_internal.h"
#include "filters/geometry/resample.h"
#include "filters/geometry/resample_rows.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstring>
#include <new>
#include <vector>

using orvex_geometry::HasPixels;
using orvex_geometry::CTaps;
using orvex_geometry::Row;

namespace {

using AccumulateFn = void (*)(float*, const std::uint8_t*, float, std::size_t);
using BlendFn = void (*)(const float*, const float*, float, float, std::uint8_t*, std::size_t);

AccumulateFn ChooseAccumulate()
{
#if defined(ORVEX_HAVE_AVX2_RESAMPLE)
    if (__builtin_cpu_supports("avx2")) return orvex_geometry::AccumulateRowAvx2;
#endif
    return AccumulateRow;
}

BlendFn ChooseBlend()
{
#if defined(ORVEX_HAVE_AVX2_RESAMPLE)
    if (__builtin_cpu_supports("avx2")) return orvex_geometry::BlendRowsAvx2;
#endif
    return BlendRows;
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

// Byte values as floats: a table read is cheaper than a conversion per channel in the gathering
// loop below, and gives the same numbers.
const std::array<float, 256>& ByteFloats()
{
    static const std::array<float, 256> table = [] {
        std::array<float, 256> t{};
        for (int i = 0; i < 256; ++i) t[static_cast<std::size_t>(i)] = static_cast<float>(i);
        return t;
    }();
    return table;
}

void ResampleRowToFloat(const std::uint8_t* in, float* out, const CTaps& taps, int targetWidth)
{
    const float* f = ByteFloats().data();
    const int span = taps.span;
    const int* first = taps.first.data();
    const float* weights = taps.weights.data();
    if (span == 2) {
        // Enlarging: two taps; the general loop below gives the same sums, only slower.
        for (int x = 0; x < targetWidth; ++x) {
            const float w0 = weights[2 * x];
            const float w1 = weights[2 * x + 1];
            const std::uint8_t* p = in + 3 * static_cast<std::ptrdiff_t>(first[x]);
            out[3 * x] = 0.0f + w0 * f[p[0]] + w1 * f[p[3]];
            out[3 * x + 1] = 0.0f + w0 * f[p[1]] + w1 * f[p[4]];
            out[3 * x + 2] = 0.0f + w0 * f[p[2]] + w1 * f[p[5]];
        }
        return;
    }
    for (int x = 0; x < targetWidth; ++x) {
        const float* w = weights + static_cast<std::ptrdiff_t>(x) * span;
        const std::uint8_t* p = in + 3 * static_cast<std::ptrdiff_t>(first[x]);
        float b = 0.0f, g = 0.0f, r = 0.0f;
        for (int k = 0; k < span; ++k) {
            b += w[k] * f[p[3 * k]];
            g += w[k] * f[p[3 * k + 1]];
            r += w[k] * f[p[3 * k + 2]];
        }
        out[3 * x] = b;
        out[3 * x + 1] = g;
        out[3 * x + 2] = r;
    }
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
    static const AccumulateFn accumulate = ChooseAccumulate();
    static const BlendFn blend = ChooseBlend();
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
                    accumulate(acc, in, weight, rowValues);
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
                    blend(rows[0], rows[1], wy[0], wy[1], out, rowValues);
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
        // Byte offsets of the source columns.
        for (int x = 0; x < newWidth; ++x)
            columns[static_cast<std::size_t>(x)] = 3 * std::min(w - 1, static_cast<int>(static_cast<double>(rx) * x));
        // Pixels move as 4-byte words, each overwriting the first byte of the next (written after
        // it); a word read takes the byte after its pixel, which ends the buffer only at the end of
        // an unpadded top row.
        const bool padded = static_cast<std::size_t>(3 * w) < picture.rowBytes();
        ParallelFor(0, newHeight, [&](int begin, int end) {
            const int* column = columns.data();
            const int last = newWidth - 1;
            for (int y = begin; y < end; ++y) {
                const int sy = std::min(h - 1, static_cast<int>(static_cast<double>(ry) * y));
                const std::uint8_t* in = Row(picture, sy);
                std::uint8_t* out = Row(resized, y);
                int x = 0;
                if (padded || sy != 0)
                    for (; x < last; ++x) std::memcpy(out + 3 * x, in + column[x], 4);
                for (; x <= last; ++x) std::memcpy(out + 3 * x, in + column[x], 3);
            }
        });
    } else if (!orvex_geometry::Resample(picture, resized)) {
        ReportFailure();
        return;
    }
    picture = std::move(resized);
}
