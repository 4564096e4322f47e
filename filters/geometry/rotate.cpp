// The exact rotations and flips (pixel permutations) and the arbitrary rotation with bilinear
// sampling onto a canvas that holds the whole rotated picture.
#include "core/image_processor.h"
#include "core/parallel.h"
#include "filters/geometry/geometry_internal.h"
#include "filters/geometry/rotate_kernel.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cmath>
#include <cstring>
#include <new>
#include <utility>
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

// Writes the pixels of `src` into `dst` in reverse order; the rows must not overlap. Inner pixels
// move as 4-byte words written left to right, each word's last byte being overwritten by the next
// pixel; the first and last pixels move as 3 bytes, so nothing outside either row is touched.
void ReverseCopy(const std::uint8_t* src, std::uint8_t* dst, int width)
{
    const std::uint8_t* in = src + 3 * (width - 1);
    std::memcpy(dst, in, 3);
    if (width == 1) return;
    int i = 1;
    for (in -= 3; i < width - 1; ++i, in -= 3) std::memcpy(dst + 3 * i, in, 4);
    std::memcpy(dst + 3 * i, in, 3);
}

// Copies `count` pixels whose sources lie `step` bytes apart into consecutive pixels at `out`.
// Four pixels travel as three 32-bit words; each 32-bit read takes one byte past its pixel, so
// `wideReads` must be false when the last source pixel may end the buffer.
void GatherPixels(std::uint8_t* out, const std::uint8_t* in, std::ptrdiff_t step, int count, bool wideReads)
{
    static_assert(std::endian::native == std::endian::little);
    int i = 0;
    if (wideReads) {
        for (; i + 4 <= count; i += 4, in += 4 * step, out += 12) {
            std::uint32_t a, b, c, d;
            std::memcpy(&a, in, 4);
            std::memcpy(&b, in + step, 4);
            std::memcpy(&c, in + 2 * step, 4);
            std::memcpy(&d, in + 3 * step, 4);
            const std::uint32_t w0 = (a & 0xFFFFFFu) | (b << 24);
            const std::uint32_t w1 = ((b >> 8) & 0xFFFFu) | (c << 16);
            const std::uint32_t w2 = ((c >> 16) & 0xFFu) | (d << 8);
            std::memcpy(out, &w0, 4);
            std::memcpy(out + 4, &w1, 4);
            std::memcpy(out + 8, &w2, 4);
        }
    }
    for (; i < count; ++i, in += step, out += 3) {
        out[0] = in[0];
        out[1] = in[1];
        out[2] = in[2];
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
    // The source's last column, read from its top row, may end the buffer (the top row comes last
    // in memory).
    const bool padded = static_cast<std::size_t>(3 * w) < source.rowBytes();
    using BandFn = void (*)(const CImage&, CImage&, bool, int, int, int);
#if defined(ORVEX_HAVE_AVX2_ROTATION)
    static const BandFn turnBand = __builtin_cpu_supports("avx2") ? orvex_geometry::TurnBandAvx2 : nullptr;
#else
    static const BandFn turnBand = nullptr;
#endif
    ParallelFor(0, tileRows, [&](int firstTile, int endTile) {
        for (int tile = firstTile; tile < endTile; ++tile) {
            const int y0 = tile * kTile;
            const int y1 = std::min(th, y0 + kTile);
            for (int x0 = 0; x0 < tw; x0 += kTile) {
                const int x1 = std::min(tw, x0 + kTile);
                for (int y = y0; y < y1;) {
                    if (turnBand && y + 4 <= y1 && (clockwise ? y + 6 <= w : y >= 2)) {
                        turnBand(source, target, clockwise, y, x0, x1);
                        y += 4;
                        continue;
                    }
                    const int sx = clockwise ? y : w - 1 - y;
                    const bool wide = padded || sx != w - 1;
                    if (clockwise)
                        GatherPixels(Row(target, y) + 3 * x0, Row(source, h - 1 - x0) + 3 * sx, -srcPitch, x1 - x0, wide);
                    else
                        GatherPixels(Row(target, y) + 3 * x0, Row(source, x0) + 3 * sx, srcPitch, x1 - x0, wide);
                    ++y;
                }
            }
        }
    });
}

// Replaces `picture` by its quarter turn; false (picture untouched) when the turned buffer cannot
// be had.
bool TurnQuarter(CImage& picture, bool clockwise)
{
    CImage turned;
    if (!turned.Create(picture.height(), picture.width(), 24)) return false;
    QuarterTurn(picture, turned, clockwise);
    picture = std::move(turned);
    return true;
}

} // namespace

namespace {

// One row of scratch for each block ParallelFor may run, taken before any pixel moves so that a
// failed allocation leaves the picture as it was. Blocks take their rows in turn.
class CRowScratch
{
public:
    bool Allocate(int width, int rowsEach = 1)
    {
        m_bytes = 3 * static_cast<std::size_t>(width) * static_cast<std::size_t>(rowsEach);
        try {
            m_rows.resize(m_bytes * static_cast<std::size_t>(ParallelThreadCount()));
            return true;
        } catch (const std::bad_alloc&) {
            return false;
        }
    }
    // The calling thread's rows: blocks are handed out several per thread, so the slot of the thread,
    // not a count of blocks, picks them.
    std::uint8_t* Take() { return m_rows.data() + m_bytes * static_cast<std::size_t>(ParallelSlot()); }

private:
    std::vector<std::uint8_t> m_rows;
    std::size_t m_bytes = 0;
};

} // namespace

void CImageProcessor::Rotate180()
{
    CImage& picture = *image();
    if (!HasPixels(picture)) return;
    const int w = picture.width();
    const int h = picture.height();
    const std::size_t bytes = 3 * static_cast<std::size_t>(w);
    CRowScratch scratch;
    if (!scratch.Allocate(w, 2)) {
        ReportFailure();
        return;
    }
    // Rows y and h - 1 - y trade places, each reversed; an odd middle row is reversed on its own.
    ParallelFor(0, (h + 1) / 2, [&](int begin, int end) {
        std::uint8_t* const fromTop = scratch.Take();
        std::uint8_t* const fromBottom = fromTop + bytes;
        for (int y = begin; y < end; ++y) {
            std::uint8_t* top = Row(picture, y);
            std::uint8_t* bottom = Row(picture, h - 1 - y);
            // Both reversals go through the cache-resident scratch; the picture rows then take
            // plain block copies.
            ReverseCopy(bottom, fromBottom, w);
            ReverseCopy(top, fromTop, w);
            std::memcpy(top, fromBottom, bytes);
            if (top != bottom) std::memcpy(bottom, fromTop, bytes);
        }
    });
}

void CImageProcessor::FlipHorizontal()
{
    CImage& picture = *image();
    if (!HasPixels(picture)) return;
    const int w = picture.width();
    const std::size_t bytes = 3 * static_cast<std::size_t>(w);
    CRowScratch scratch;
    if (!scratch.Allocate(w)) {
        ReportFailure();
        return;
    }
    ParallelFor(0, picture.height(), [&](int begin, int end) {
        std::uint8_t* const temp = scratch.Take();
        for (int y = begin; y < end; ++y) {
            std::uint8_t* row = Row(picture, y);
            ReverseCopy(row, temp, w);
            std::memcpy(row, temp, bytes);
        }
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
    if (HasPixels(picture) && !TurnQuarter(picture, true)) ReportFailure();
}

void CImageProcessor::Rotate90CCW()
{
    CImage& picture = *image();
    if (HasPixels(picture) && !TurnQuarter(picture, false)) ReportFailure();
}

namespace {

using RowRenderer = void (*)(const orvex_geometry::CRotation&, std::uint8_t*, int, int, double);

RowRenderer ChooseRenderer()
{
#if defined(ORVEX_HAVE_AVX2_ROTATION)
    if (__builtin_cpu_supports("avx2")) return orvex_geometry::RenderRotatedRowAvx2;
#endif
    return [](const orvex_geometry::CRotation& r, std::uint8_t* out, int outWidth, int xStart, double yr) {
        r.RenderRow(out, outWidth, xStart, yr);
    };
}

} // namespace

orvex_geometry::CTurnedCanvas orvex_geometry::TurnedCanvas(int w, int h, float angle)
{
    // RotateArbitrary leaves the picture alone for these.
    if (angle == 0.0f || !std::isfinite(angle)) return {1, 0, w, h};
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
    return {c, s, std::max(1, static_cast<int>(std::ceil(maxX - minX))), std::max(1, static_cast<int>(std::ceil(maxY - minY)))};
}

void CImageProcessor::RotateArbitrary(float angle)
{
    CImage& picture = *image();
    // An angle too large to be a number of turns (the dialog accepts any run of digits) is no
    // rotation at all.
    if (!HasPixels(picture) || angle == 0.0f || !std::isfinite(angle)) return;
    const int w = picture.width();
    const int h = picture.height();

    const orvex_geometry::CTurnedCanvas turn = orvex_geometry::TurnedCanvas(w, h, angle);
    const float c = turn.c;
    const float s = turn.s;
    const int hw = w / 2;
    const int hh = h / 2;
    const int nw = turn.width;
    const int nh = turn.height;

    CImage rotated;
    if (!rotated.Create(nw, nh, 24)) {
        ReportFailure();
        return;
    }
    const orvex_geometry::CRotation rotation{&picture, w, h, static_cast<float>(hw), static_cast<float>(hh), c, s};
    static const RowRenderer render = ChooseRenderer();
    const int xStart = -(nw / 2) + (nw % 2 == 0 ? 1 : 0);
    const int yStart = -(nh / 2) + (nh % 2 == 0 ? 1 : 0);
    ParallelFor(0, nh, [&](int begin, int end) {
        for (int y = begin; y < end; ++y) render(rotation, Row(rotated, y), nw, xStart, static_cast<double>(y + yStart));
    });
    picture = std::move(rotated);
}
