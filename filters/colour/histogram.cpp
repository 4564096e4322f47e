#include "filters/colour/histogram.h"

#include "core/parallel.h"
#include "filters/colour/colour_tables.h"

#include <mutex>

namespace orvex_colour {

CHistogram ComputeHistogram(const CImage& picture)
{
    CHistogram total;
    if (!HasPixels(picture)) return total;
    const std::uint8_t* const top = picture.bits();
    const std::ptrdiff_t pitch = picture.pitch();
    const int width = picture.width();
    std::mutex merge;
    ParallelFor(0, picture.height(), [&](int y0, int y1) {
        // 32-bit counts per block: a block holds fewer than 2^32 pixels (kMaxPixels is 2^29).
        std::uint32_t counts[4][256] = {};
        for (int y = y0; y < y1; ++y) {
            const std::uint8_t* p = top + y * pitch;
            for (int x = 0; x < width; ++x, p += 3) {
                ++counts[0][p[0]];
                ++counts[1][p[1]];
                ++counts[2][p[2]];
                ++counts[3][Luminance(p[2], p[1], p[0])];
            }
        }
        const std::lock_guard lock(merge);
        for (int v = 0; v < 256; ++v) {
            total.blue[v] += counts[0][v];
            total.green[v] += counts[1][v];
            total.red[v] += counts[2][v];
            total.luminance[v] += counts[3][v];
        }
    });
    total.pixels = static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(picture.height());
    return total;
}

} // namespace orvex_colour
