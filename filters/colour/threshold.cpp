#include "filters/colour/threshold.h"

#include "core/image_processor.h"
#include "filters/colour/colour_tables.h"
#include "filters/colour/histogram.h"

#include <algorithm>
#include <cstdint>

void Threshold(CImageProcessor& engine, int level)
{
    CImage& picture = *engine.image();
    if (!orvex_colour::HasPixels(picture)) return;
    std::uint8_t* const target = engine.OutputBits();
    if (!target) return;
    // Luminance(r, g, b) >= level exactly when the weighted sum before the shift reaches
    // 256 * level - 128, so no pixel needs its luminance rounded; 256 leaves every pixel black.
    const int limit = 256 * std::clamp(level, 0, 256) - 128;
    orvex_colour::ForEachRow(picture, target, [limit](const std::uint8_t* src, std::uint8_t* dst, int width) {
        for (int x = 0; x < width; ++x, src += 3, dst += 3) {
            const int sum = 77 * src[2] + 150 * src[1] + 29 * src[0];
            const std::uint8_t v = sum >= limit ? 255 : 0;
            dst[0] = v, dst[1] = v, dst[2] = v;
        }
    });
}
