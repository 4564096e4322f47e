#include "filters/colour/posterize.h"

#include "core/image_processor.h"
#include "filters/colour/colour_tables.h"

#include <algorithm>
#include <cstdint>

void Posterize(CImageProcessor& engine, int levels)
{
    CImage& picture = *engine.image();
    if (!orvex_colour::HasPixels(picture)) return;
    std::uint8_t* const target = engine.OutputBits();
    if (!target) return;
    // Fewer than 2 levels would divide by zero and more than 256 would wrap the level index; the
    // nearest meaningful count is used instead.
    levels = std::clamp(levels, 2, 256);
    const double step = 255.0 / (levels - 1);
    std::uint8_t table[256];
    for (int v = 0; v < 256; ++v) {
        const int q = static_cast<int>(v * (levels - 1) / 255.0 + 0.5) & 0xFF;
        table[v] = static_cast<std::uint8_t>(static_cast<int>(q * step));
    }
    orvex_colour::ApplyTable(picture, target, table);
}
