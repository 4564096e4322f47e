#include "filters/colour/histogram.h"

#include "core/parallel.h"
#include "filters/colour/colour_tables.h"

#include <mutex>

namespace orvex_colour {

namespace {

// Two sub-histograms per channel, one for even and one for odd pixels: neighbouring pixels often
// share a value, and incrementing the same counter twice in a row waits for the first store. The
// luminance is worked out in the same loop; its few multiplications hide behind the increments.
struct CCounts
{
    std::uint32_t blue[2][256];
    std::uint32_t green[2][256];
    std::uint32_t red[2][256];
    std::uint32_t luminance[2][256];
};

void CountRow(const std::uint8_t* p, int width, CCounts& c)
{
    int x = 0;
    for (; x + 2 <= width; x += 2, p += 6) {
        ++c.blue[0][p[0]];
        ++c.green[0][p[1]];
        ++c.red[0][p[2]];
        ++c.luminance[0][Luminance(p[2], p[1], p[0])];
        ++c.blue[1][p[3]];
        ++c.green[1][p[4]];
        ++c.red[1][p[5]];
        ++c.luminance[1][Luminance(p[5], p[4], p[3])];
    }
    if (x < width) {
        ++c.blue[0][p[0]];
        ++c.green[0][p[1]];
        ++c.red[0][p[2]];
        ++c.luminance[0][Luminance(p[2], p[1], p[0])];
    }
}

} // namespace

CHistogram ComputeHistogram(const CImage& picture, const std::atomic<bool>* stop)
{
    CHistogram total;
    if (!HasPixels(picture)) return total;
    const std::uint8_t* const top = picture.bits();
    const std::ptrdiff_t pitch = picture.pitch();
    const int width = picture.width();
    std::mutex merge;
    ParallelFor(0, picture.height(), [&](int y0, int y1) {
        if (stop && stop->load(std::memory_order_relaxed)) return;
        // 32-bit counts per block: a block holds fewer than 2^32 pixels (kMaxPixels is 2^29).
        CCounts counts = {};
        for (int y = y0; y < y1; ++y) {
            CountRow(top + y * pitch, width, counts);
            if (stop && (y & 63) == 63 && stop->load(std::memory_order_relaxed)) break;
        }
        const std::lock_guard lock(merge);
        for (int v = 0; v < 256; ++v) {
            total.blue[v] += std::uint64_t(counts.blue[0][v]) + counts.blue[1][v];
            total.green[v] += std::uint64_t(counts.green[0][v]) + counts.green[1][v];
            total.red[v] += std::uint64_t(counts.red[0][v]) + counts.red[1][v];
            total.luminance[v] += std::uint64_t(counts.luminance[0][v]) + counts.luminance[1][v];
        }
    });
    if (stop && stop->load()) return {};
    total.pixels = static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(picture.height());
    return total;
}

} // namespace orvex_colour
