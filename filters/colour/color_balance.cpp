// Colour balance: a signed shift of each channel, limited to 0..255.
#include "core/image_processor.h"
#include "filters/colour/colour_tables.h"

#include <algorithm>
#include <cstdint>

namespace {

void FillShiftTable(std::uint8_t* table, int offset)
{
    // Offsets past +-255 saturate every byte anyway; holding them there keeps the sum in range.
    offset = std::clamp(offset, -255, 255);
    for (int v = 0; v < 256; ++v) table[v] = static_cast<std::uint8_t>(std::clamp(v + offset, 0, 255));
}

} // namespace

void CImageProcessor::ColorBalance(int red, int green, int blue)
{
    CImage& picture = *image();
    if (!orvex_colour::HasPixels(picture)) return;
    std::uint8_t* const target = OutputBits();
    if (!target) return;
    std::uint8_t blueTable[256], greenTable[256], redTable[256];
    FillShiftTable(blueTable, blue);
    FillShiftTable(greenTable, green);
    FillShiftTable(redTable, red);
    orvex_colour::ApplyChannelTables(picture, target, blueTable, greenTable, redTable);
}
