#include "filters/colour/auto_levels.h"

#include "core/image_processor.h"
#include "filters/colour/colour_tables.h"

#include <algorithm>

namespace orvex_colour {

CLevelsRange ClipRange(const std::array<std::uint64_t, 256>& counts, std::uint64_t pixels, float clip)
{
    CLevelsRange range;
    if (pixels == 0) return range;
    // Compared as 100 * count > clip * pixels in doubles: counts stay far below 2^53, so the only
    // rounding is clip's own, and both ends use the same limit.
    const double limit = static_cast<double>(std::clamp(clip, 0.0f, 50.0f)) * static_cast<double>(pixels);
    std::uint64_t cumulative = 0;
    for (int v = 0; v < 256; ++v) {
        cumulative += counts[v];
        if (100.0 * static_cast<double>(cumulative) > limit) {
            range.low = v;
            break;
        }
    }
    cumulative = 0;
    for (int v = 255; v >= 0; --v) {
        cumulative += counts[v];
        if (100.0 * static_cast<double>(cumulative) > limit) {
            range.high = v;
            break;
        }
    }
    return range;
}

CStretch AutoLevelsStretch(const CHistogram& histogram, float clip)
{
    CStretch s;
    s.blue = ClipRange(histogram.blue, histogram.pixels, clip);
    s.green = ClipRange(histogram.green, histogram.pixels, clip);
    s.red = ClipRange(histogram.red, histogram.pixels, clip);
    s.luminance = ClipRange(histogram.luminance, histogram.pixels, clip);
    return s;
}

void StretchTable(CLevelsRange range, std::uint8_t (&table)[256])
{
    if (!range.Stretches()) {
        for (int v = 0; v < 256; ++v) table[v] = static_cast<std::uint8_t>(v);
        return;
    }
    const int span = range.high - range.low;
    for (int v = 0; v < 256; ++v) {
        const int d = std::clamp(v - range.low, 0, span);
        table[v] = static_cast<std::uint8_t>((2 * 255 * d + span) / (2 * span));
    }
}

} // namespace orvex_colour

void AutoLevels(CImageProcessor& engine, float clip)
{
    CImage& picture = *engine.image();
    if (!orvex_colour::HasPixels(picture)) return;
    const orvex_colour::CStretch s = orvex_colour::AutoLevelsStretch(orvex_colour::ComputeHistogram(picture), clip);
    if (!s.blue.Stretches() && !s.green.Stretches() && !s.red.Stretches()) return;
    std::uint8_t blue[256], green[256], red[256];
    orvex_colour::StretchTable(s.blue, blue);
    orvex_colour::StretchTable(s.green, green);
    orvex_colour::StretchTable(s.red, red);
    orvex_colour::ApplyChannelTables(picture, picture.bits(), blue, green, red);
}

void AutoContrast(CImageProcessor& engine, float clip)
{
    CImage& picture = *engine.image();
    if (!orvex_colour::HasPixels(picture)) return;
    const orvex_colour::CStretch s = orvex_colour::AutoLevelsStretch(orvex_colour::ComputeHistogram(picture), clip);
    if (!s.luminance.Stretches()) return;
    std::uint8_t table[256];
    orvex_colour::StretchTable(s.luminance, table);
    orvex_colour::ApplyTable(picture, picture.bits(), table);
}
