// Lens flare: rays, a glow and a chain of ghosts drawn on black layers, summed with saturation,
// blurred, scaled by the brightness and added onto the picture.
//
// Every part is drawn on a black layer and added into the sum with saturation; a layer is black
// outside the part's bounding box and adding black changes nothing, so each layer here covers only
// that box (clipped to the picture). The sum is the one the full-picture layers would give.
#include "core/image_processor.h"
#include "core/parallel.h"
#include "core/random.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <vector>

namespace {

using CColor = CImageProcessor::CFlareColor;

// A window [left, right] x [top, bottom] of the picture (inclusive, never empty, within the
// picture) and the memory holding it: pixel (x, y) of the picture is at At(x, y).
struct CCanvas
{
    std::uint8_t* bits = nullptr; // pixel (left, top)
    std::ptrdiff_t pitch = 0;
    int left = 0;
    int top = 0;
    int right = -1;
    int bottom = -1;

    bool Contains(int x, int y) const { return x >= left && x <= right && y >= top && y <= bottom; }
    std::uint8_t* At(int x, int y) const
    {
        return bits + static_cast<std::ptrdiff_t>(y - top) * pitch + 3 * static_cast<std::ptrdiff_t>(x - left);
    }
    int width() const { return right - left + 1; }
    int height() const { return bottom - top + 1; }
};

CCanvas WholeImage(CImage& image)
{
    return {image.bits(), image.pitch(), 0, 0, image.width() - 1, image.height() - 1};
}

// A black layer covering the box [left, right] x [top, bottom] clipped to a width x height picture.
// Empty (no pixels) when the box misses the picture.
class CBoxLayer
{
public:
    CBoxLayer(long long left, long long top, long long right, long long bottom, int width, int height)
    {
        m_canvas.left = static_cast<int>(std::max<long long>(left, 0));
        m_canvas.top = static_cast<int>(std::max<long long>(top, 0));
        m_canvas.right = static_cast<int>(std::min<long long>(right, width - 1));
        m_canvas.bottom = static_cast<int>(std::min<long long>(bottom, height - 1));
        if (empty()) return;
        m_pixels.assign(static_cast<std::size_t>(m_canvas.width()) * static_cast<std::size_t>(m_canvas.height()) * 3, 0);
        m_canvas.bits = m_pixels.data();
        m_canvas.pitch = static_cast<std::ptrdiff_t>(m_canvas.width()) * 3;
    }
    bool empty() const { return m_canvas.left > m_canvas.right || m_canvas.top > m_canvas.bottom; }
    const CCanvas& canvas() const { return m_canvas; }

private:
    std::vector<std::uint8_t> m_pixels;
    CCanvas m_canvas;
};

void GradientLine(const CCanvas& canvas, int x0, int y0, int x1, int y1, CColor c0, CColor c1)
{
    const bool alongX = std::llabs(static_cast<long long>(y1) - y0) < std::llabs(static_cast<long long>(x1) - x0);
    // The walk begins at the smaller end of the stepping coordinate, in that end's colour.
    const bool fromFirst = alongX ? x0 <= x1 : y0 <= y1;
    const int s0 = alongX ? (fromFirst ? x0 : x1) : (fromFirst ? y0 : y1);
    const int s1 = alongX ? (fromFirst ? x1 : x0) : (fromFirst ? y1 : y0);
    const int o0 = alongX ? (fromFirst ? y0 : y1) : (fromFirst ? x0 : x1);
    const int o1 = alongX ? (fromFirst ? y1 : y0) : (fromFirst ? x1 : x0);
    const CColor start = fromFirst ? c0 : c1;
    const CColor end = fromFirst ? c1 : c0;
    const int span = s1 - s0;
    if (span == 0) return;
    // The truncated steps never stray more than a pixel beyond the ends, so a line whose other
    // coordinate stays clear of the canvas draws nothing there. Elements are drawn band by band,
    // and most of an outline's segments miss any one band.
    const long long otherLow = alongX ? canvas.top : canvas.left;
    const long long otherHigh = alongX ? canvas.bottom : canvas.right;
    if (std::max(o0, o1) + 2LL < otherLow || std::min(o0, o1) - 2LL > otherHigh) return;

    const float fspan = static_cast<float>(span);
    const float slope = static_cast<float>(o1 - o0) / fspan;
    const float dr = static_cast<float>(end.red - start.red) / fspan;
    const float dg = static_cast<float>(end.green - start.green) / fspan;
    const float db = static_cast<float>(end.blue - start.blue) / fspan;
    const bool constant = end.red == start.red && end.green == start.green && end.blue == start.blue;

    // Steps whose stepping coordinate lies outside the canvas draw nothing: skip them.
    const int low = alongX ? canvas.left : canvas.top;
    const int high = alongX ? canvas.right : canvas.bottom;
    const long long kBegin = std::max<long long>(0, static_cast<long long>(low) - s0);
    const long long kEnd = std::min<long long>(span, static_cast<long long>(high) - s0);
    for (long long k = kBegin; k <= kEnd; ++k) {
        const float fk = static_cast<float>(k);
        const int other = static_cast<int>(static_cast<float>(o0) + slope * fk);
        const int stepping = s0 + static_cast<int>(k);
        const int x = alongX ? stepping : other;
        const int y = alongX ? other : stepping;
        if (!canvas.Contains(x, y)) continue;
        std::uint8_t* p = canvas.At(x, y);
        if (constant) {
            p[0] = static_cast<std::uint8_t>(start.blue);
            p[1] = static_cast<std::uint8_t>(start.green);
            p[2] = static_cast<std::uint8_t>(start.red);
        } else {
            p[0] = static_cast<std::uint8_t>(static_cast<int>(static_cast<float>(start.blue) + db * fk));
            p[1] = static_cast<std::uint8_t>(static_cast<int>(static_cast<float>(start.green) + dg * fk));
            p[2] = static_cast<std::uint8_t>(static_cast<int>(static_cast<float>(start.red) + dr * fk));
        }
    }
}

// cos and sin of the outline's angles: 0.017453292222222222, then that much more each step, while
// the angle stays below 6.2831852 (the sum accumulated in double precision, as drawing does).
struct COutlineAngles
{
    std::vector<double> cosines;
    std::vector<double> sines;
    COutlineAngles()
    {
        constexpr double kStep = 0.017453292222222222;
        for (double a = kStep; a < 6.2831852; a += kStep) {
            cosines.push_back(std::cos(a));
            sines.push_back(std::sin(a));
        }
    }
};

const COutlineAngles& OutlineAngles()
{
    static const COutlineAngles angles;
    return angles;
}

void Circle(const CCanvas& canvas, int cx, int cy, int radius, CColor colour)
{
    // Every outline point lies within a pixel of the radius: an outline clear of the canvas (a
    // band of another core, most often) has nothing to draw.
    const long long reach = static_cast<long long>(radius) + 2;
    if (cy + reach < canvas.top || cy - reach > canvas.bottom || cx + reach < canvas.left || cx - reach > canvas.right)
        return;
    const COutlineAngles& angles = OutlineAngles();
    int px = cx + radius;
    int py = cy;
    for (std::size_t i = 0; i < angles.cosines.size(); ++i) {
        const int nx = cx + static_cast<int>(angles.cosines[i] * radius);
        const int ny = cy + static_cast<int>(angles.sines[i] * radius);
        GradientLine(canvas, px, py, nx, ny, colour, colour);
        px = nx;
        py = ny;
    }
}

// The centre of the element at position t for a flare centred on (x, y) in a width x height picture.
void ElementCentre(int x, int y, double t, int width, int height, int& cx, int& cy)
{
    cx = static_cast<int>(t * (width / 2 - x) + x);
    cy = static_cast<int>(t * (height / 2 - y) + y);
}

void FlareElement(const CCanvas& canvas, int cx, int cy, int radius, CColor colour, bool ring)
{
    const float r2 = static_cast<float>(radius) * static_cast<float>(radius);
    for (int i = 0; i < radius; ++i) {
        float l = std::sqrt(1.0f - static_cast<float>(i) * static_cast<float>(i) / r2);
        if (ring) l = 1.0f - l;
        const CColor c{static_cast<int>(l * static_cast<float>(colour.red)), static_cast<int>(l * static_cast<float>(colour.green)),
                       static_cast<int>(l * static_cast<float>(colour.blue))};
        Circle(canvas, cx, cy, i, c);
    }
}

// Adds the canvas's pixels into the same place of `target` (a whole picture), saturating.
void AddCanvas(const CCanvas& canvas, CImage& target)
{
    const int bytes = canvas.width() * 3;
    ParallelFor(canvas.top, canvas.bottom + 1, [&](int y0, int y1) {
        for (int y = y0; y < y1; ++y) {
            const std::uint8_t* s = canvas.At(canvas.left, y);
            std::uint8_t* t = target.bits() + static_cast<std::ptrdiff_t>(y) * target.pitch() + 3 * static_cast<std::ptrdiff_t>(canvas.left);
            for (int i = 0; i < bytes; ++i) {
                const int v = s[i] + t[i];
                t[i] = static_cast<std::uint8_t>(v > 255 ? 255 : v);
            }
        }
    });
}

// trunc(v * factor) held to 0..255, for every byte value v.
void ScaleTable(float factor, std::uint8_t (&table)[256])
{
    for (int v = 0; v < 256; ++v) {
        const float scaled = static_cast<float>(v) * factor;
        // Compared before converting, so a huge or NaN product cannot overflow the conversion.
        table[v] = static_cast<std::uint8_t>(!(scaled > 0.0f) ? 0 : scaled >= 255.0f ? 255 : static_cast<int>(scaled));
    }
}

// target = min(target + trunc(source * factor) held to 0..255, 255) along a row: ScaleLayer and
// AddLayer in one step, in the same single-precision arithmetic as ScaleTable. A factor of 1 is
// a plain saturating addition.
__attribute__((target_clones("avx2", "default"))) void AddScaledRow(const std::uint8_t* __restrict source,
                                                                    std::uint8_t* __restrict target, int bytes, float factor)
{
    if (factor == 1.0f) {
        for (int i = 0; i < bytes; ++i) {
            const int v = target[i] + source[i];
            target[i] = static_cast<std::uint8_t>(v > 255 ? 255 : v);
        }
        return;
    }
    for (int i = 0; i < bytes; ++i) {
        const float scaled = static_cast<float>(source[i]) * factor;
        const int s = scaled >= 255.0f ? 255 : scaled > 0.0f ? static_cast<int>(scaled) : 0;
        const int v = target[i] + s;
        target[i] = static_cast<std::uint8_t>(v > 255 ? 255 : v);
    }
}

struct CElement
{
    double size; // times the picture width; row 2 is also multiplied by the brightness
    double t;
    CColor colour;
    bool ring;
};

constexpr CElement kElements[15] = {
    {0.01953125, 0.0, {255, 240, 82}, false}, {0.3125, 0.0, {51, 46, 18}, false},
    {0.040625, -0.3, {13, 36, 13}, true},     {0.01875, 0.5, {0, 41, 54}, true},
    {0.0546875, 0.55, {0, 41, 54}, true},     {0.028125, 0.6, {0, 41, 54}, true},
    {0.0171875, 0.8, {115, 64, 31}, true},    {0.00234375, 1.0, {143, 255, 247}, false},
    {0.0078125, 1.27, {168, 255, 255}, false}, {0.0390625, 1.4, {69, 38, 0}, true},
    {0.015625, 1.47, {69, 38, 0}, true},      {0.059375, 1.47, {69, 38, 0}, true},
    {0.02734375, 1.65, {18, 61, 71}, true},   {0.0140625, 1.66, {0, 20, 176}, false},
    {0.0984375, 2.0, {61, 51, 0}, true},
};
constexpr int kGlowRow = 1;
constexpr int kRays = 150;
constexpr CColor kRayColour{128, 120, 40};

} // namespace

void CImageProcessor::DrawGradientLine(int x0, int y0, int x1, int y1, CFlareColor from, CFlareColor to)
{
    CImage& target = *image();
    if (target.IsNull()) return;
    GradientLine(WholeImage(target), x0, y0, x1, y1, from, to);
}

void CImageProcessor::DrawCircle(int cx, int cy, int radius, CFlareColor colour)
{
    CImage& target = *image();
    if (target.IsNull()) return;
    Circle(WholeImage(target), cx, cy, radius, colour);
}

void CImageProcessor::DrawFlareElement(int x, int y, int radius, CFlareColor colour, bool ring, double t)
{
    CImage& target = *image();
    if (target.IsNull() || radius <= 0) return;
    int cx = 0;
    int cy = 0;
    ElementCentre(x, y, t, target.width(), target.height(), cx, cy);
    FlareElement(WholeImage(target), cx, cy, radius, colour, ring);
}

void CImageProcessor::AddLayer(const CImage& source, CImage& target)
{
    if (source.IsNull() || target.IsNull() || source.width() != target.width() || source.height() != target.height())
        return;
    CCanvas whole{const_cast<std::uint8_t*>(source.bits()), source.pitch(), 0, 0, source.width() - 1, source.height() - 1};
    AddCanvas(whole, target);
}

void CImageProcessor::ScaleLayer(float factor)
{
    CImage& target = *image();
    if (target.IsNull()) return;
    std::uint8_t table[256];
    ScaleTable(factor, table);
    const int bytes = target.width() * 3;
    ParallelFor(0, target.height(), [&](int y0, int y1) {
        for (int y = y0; y < y1; ++y) {
            std::uint8_t* row = target.bits() + static_cast<std::ptrdiff_t>(y) * target.pitch();
            for (int i = 0; i < bytes; ++i) row[i] = table[row[i]];
        }
    });
}

void CImageProcessor::LensFlare(int x, int y, float brightness)
{
    CImage& picture = *image();
    SeedRandomFromClock();
    if (picture.IsNull() || picture.width() < 1 || picture.height() < 1) return;
    const int width = picture.width();
    const int height = picture.height();

    // Beyond the dialog's 3.0 the flare only grows; past 10 it would take minutes to draw. A
    // brightness of 0 or less scales the whole flare to black, so it is drawn as 0.
    if (!(brightness > 0.0f)) brightness = 0.0f;
    brightness = std::min(brightness, 10.0f);
    // Centres far outside the picture behave alike; holding them keeps every coordinate an int.
    constexpr int kReach = 1 << 22;
    x = std::clamp(x, -kReach, kReach);
    y = std::clamp(y, -kReach, kReach);

    CImage sum;
    if (!sum.Create(width, height, 24)) {
        ReportFailure();
        return;
    }

    try {
        // Rays: angle first, then length, from fresh draws each time.
        int ends[kRays][2];
        long long left = x, right = x, top = y, bottom = y;
        for (auto& end : ends) {
            const double angle = orvex_random::Next() * 6.2831852 / 32767;
            const double length = (orvex_random::Next() * (0.2 * width) / 32767 + 0.1 * width) * brightness;
            end[0] = static_cast<int>(x + std::cos(angle) * length);
            end[1] = static_cast<int>(y + std::sin(angle) * length);
            left = std::min<long long>(left, end[0]);
            right = std::max<long long>(right, end[0]);
            top = std::min<long long>(top, end[1]);
            bottom = std::max<long long>(bottom, end[1]);
        }
        // The sum is black still, so adding the ray layer to it is drawing the rays into it.
        if (left < width && right >= 0 && top < height && bottom >= 0) {
            const CCanvas whole = WholeImage(sum);
            for (const auto& end : ends) GradientLine(whole, x, y, end[0], end[1], kRayColour, CColor{});
        }

        for (int row = 0; row < 15; ++row) {
            const CElement& e = kElements[row];
            const double size = row == kGlowRow ? e.size * brightness : e.size;
            const int radius = static_cast<int>(size * width);
            if (radius <= 0) continue;
            int cx = 0;
            int cy = 0;
            ElementCentre(x, y, e.t, width, height, cx, cy);
            const CBoxLayer layer(static_cast<long long>(cx) - radius, static_cast<long long>(cy) - radius,
                                  static_cast<long long>(cx) + radius, static_cast<long long>(cy) + radius, width, height);
            if (layer.empty()) continue;
            // Each core draws the whole element but keeps only its own band of rows: every pixel
            // still ends with the last outline that covers it.
            const CCanvas& whole = layer.canvas();
            ParallelFor(whole.top, whole.bottom + 1, [&](int y0, int y1) {
                CCanvas band = whole;
                band.bits = whole.At(whole.left, y0);
                band.top = y0;
                band.bottom = y1 - 1;
                FlareElement(band, cx, cy, radius, e.colour, e.ring);
            });
            AddCanvas(whole, sum);
        }
    } catch (const std::bad_alloc&) {
        ReportFailure();
        return;
    }

    // The blur works on whatever picture the engine points at; point it at the sum for the time of
    // the call and back at the picture whatever happens.
    {
        struct CRestore
        {
            CImage*& pointer;
            CImage* saved;
            ~CRestore() { pointer = saved; }
        } restore{m_image, m_image};
        m_image = &sum;
        const float radius = static_cast<float>(std::sqrt(static_cast<double>(std::max(width, height))) * (brightness * 0.07));
        GaussianBlur(radius, 1);
    }
    if (Failed()) return;

    // ScaleLayer on the sum and AddLayer onto the picture, in one pass.
    const int bytes = width * 3;
    ParallelFor(0, height, [&](int y0, int y1) {
        for (int row = y0; row < y1; ++row)
            AddScaledRow(sum.bits() + static_cast<std::ptrdiff_t>(row) * sum.pitch(),
                         picture.bits() + static_cast<std::ptrdiff_t>(row) * picture.pitch(), bytes, brightness);
    });
}
