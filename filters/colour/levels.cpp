#include "filters/colour/levels.h"

#include "core/image_processor.h"
#include "filters/colour/auto_levels.h"
#include "filters/colour/colour_tables.h"

#include <algorithm>
#include <cmath>

namespace orvex_colour {

CByteTable LevelsTable(const CLevelsSetting& setting)
{
    const int black = std::clamp(setting.black, 0, 254);
    const int white = std::clamp(setting.white, black + 1, 255);
    const double gamma = std::isfinite(setting.gamma) ? std::clamp(setting.gamma, 0.1, 10.0) : 1.0;
    const int outBlack = std::clamp(setting.outBlack, 0, 255);
    const int outWhite = std::clamp(setting.outWhite, 0, 255);
    CByteTable table{};
    for (int v = 0; v < 256; ++v) {
        const double x = std::clamp(static_cast<double>(v - black) / (white - black), 0.0, 1.0);
        const double y = std::pow(x, 1.0 / gamma);
        const double out = std::round(outBlack + y * (outWhite - outBlack));
        table[static_cast<std::size_t>(v)] = static_cast<std::uint8_t>(std::clamp(out, 0.0, 255.0));
    }
    return table;
}

CLevelsPoints AutoLevelsRange(const std::array<std::uint64_t, 256>& counts)
{
    // The rule of Image > Adjustments > Auto Levels at its 0.1 %, so that Auto here gives what that
    // command gives.
    std::uint64_t pixels = 0;
    for (std::uint64_t c : counts) pixels += c;
    const CLevelsRange range = ClipRange(counts, pixels, 0.1f);
    if (!range.Stretches()) return {};
    return {range.low, range.high};
}

} // namespace orvex_colour

namespace {

using orvex_colour::CByteTable;

void ApplyTables(CImageProcessor& engine, const CByteTable& blue, const CByteTable& green, const CByteTable& red)
{
    CImage& picture = *engine.image();
    if (!orvex_colour::HasPixels(picture)) return;
    std::uint8_t* const target = engine.OutputBits();
    if (!target) return;
    orvex_colour::ApplyChannelTables(picture, target, blue.data(), green.data(), red.data());
}

CByteTable Compose(const CByteTable& outer, const CByteTable& inner)
{
    CByteTable table{};
    for (std::size_t v = 0; v < 256; ++v) table[v] = outer[inner[v]];
    return table;
}

} // namespace

void Levels(CImageProcessor& engine, char channel, const orvex_colour::CLevelsSetting& setting)
{
    orvex_colour::CLevelsSettings settings;
    switch (channel) {
    case 'a': settings.all = setting; break;
    case 'r': settings.red = setting; break;
    case 'g': settings.green = setting; break;
    case 'b': settings.blue = setting; break;
    default: return;
    }
    Levels(engine, settings);
}

void Levels(CImageProcessor& engine, const orvex_colour::CLevelsSettings& settings)
{
    const CByteTable all = orvex_colour::LevelsTable(settings.all);
    ApplyTables(engine, Compose(all, orvex_colour::LevelsTable(settings.blue)),
                Compose(all, orvex_colour::LevelsTable(settings.green)),
                Compose(all, orvex_colour::LevelsTable(settings.red)));
}
