// Point operations: each output byte depends only on the input byte at the same place.
#include "core/image_processor.h"
#include "core/parallel.h"
#include "filters/colour/colour_tables.h"

#include <algorithm>
#include <atomic>
#include <cstdint>

using orvex_colour::HasPixels;

void CImageProcessor::Invert()
{
    CImage& picture = *image();
    if (!HasPixels(picture)) return;
    orvex_colour::ForEachRow(picture, picture.bits(), [](const std::uint8_t*, std::uint8_t* row, int width) {
        // The row length is a by-value parameter here: a bound held by reference could alias the
        // bytes being written and would keep the loop from vectorising.
        for (int i = 0; i < width * 3; ++i) row[i] = static_cast<std::uint8_t>(~row[i]);
    });
}

void CImageProcessor::Solarize()
{
    CImage& picture = *image();
    if (!HasPixels(picture)) return;
    std::uint8_t table[256];
    for (int v = 0; v < 256; ++v) table[v] = static_cast<std::uint8_t>(v >= 128 ? 255 - v : v);
    orvex_colour::ApplyTable(picture, picture.bits(), table);
}

namespace {

// Truncates toward zero, first holding the value within +-limit so that arguments far outside the
// dialogs' ranges cannot overflow the conversion (a NaN counts as 0).
int TruncateWithin(float value, float limit)
{
    if (!(value == value)) return 0;
    return static_cast<int>(std::clamp(value, -limit, limit));
}

std::uint8_t ClampByte(int v)
{
    return static_cast<std::uint8_t>(std::clamp(v, 0, 255));
}

} // namespace

void CImageProcessor::BrightnessContrast(float contrast, float brightness)
{
    CImage& picture = *image();
    if (!HasPixels(picture)) return;
    std::uint8_t* const target = OutputBits();
    if (!target) return;

    // Channel sums over the whole picture; integer addition, so the split over cores cannot change
    // them.
    std::atomic<long long> sums[3] = {0, 0, 0};
    const std::uint8_t* const top = picture.bits();
    const std::ptrdiff_t pitch = picture.pitch();
    const int width = picture.width();
    ParallelFor(0, picture.height(), [&](int y0, int y1) {
        long long block[3] = {0, 0, 0};
        for (int y = y0; y < y1; ++y) orvex_colour::AddRowChannelSums(top + y * pitch, width, block);
        for (int c = 0; c < 3; ++c) sums[c].fetch_add(block[c]);
    });
    const long long count = static_cast<long long>(width) * picture.height();

    // Arguments far beyond the dialog's ranges are held to +-2048 before truncating so the
    // conversion cannot overflow; within those ranges nothing is changed by it.
    const int b = TruncateWithin(brightness, 2048.0f);
    std::uint8_t tables[3][256];
    for (int c = 0; c < 3; ++c) {
        const int mean = static_cast<int>(sums[c].load() / count);
        for (int v = 0; v < 256; ++v) {
            const int scaled = TruncateWithin(static_cast<float>(v - mean) * contrast, 2048.0f);
            tables[c][v] = ClampByte(mean + b + scaled);
        }
    }
    orvex_colour::ApplyChannelTables(picture, target, tables[0], tables[1], tables[2]);
}
