#include "filters/colour/histogram.h"

#include "core/parallel.h"
#include "filters/colour/colour_tables.h"

#include <algorithm>
#include <mutex>

namespace orvex_colour {

namespace {

// Pixels whose luminance is worked out together before they are counted.
constexpr int kRun = 512;

// Two sub-histograms per channel, one for even and one for odd pixels: neighbouring pixels often
// share a value, and incrementing the same counter twice in a row waits for the first store.
struct CCounts
{
    std::uint32_t blue[2][256];
    std::uint32_t green[2][256];
    std::uint32_t red[2][256];
    std::uint32_t luminance[2][256];
};

void CountRow(const std::uint8_t* p, int width, CCounts& c)
{
    std::uint8_t lum[kRun];
    for (int x0 = 0; x0 < width; x0 += kRun) {
        const int n = std::min(kRun, width - x0);
        const std::uint8_t* const run = p + 3 * static_cast<std::ptrdiff_t>(x0);
        // A loop of its own, so that the compiler can work out many luminances at once.
        for (int i = 0; i < n; ++i) lum[i] = Luminance(run[3 * i + 2], run[3 * i + 1], run[3 * i]);
        int i = 0;
        for (; i + 2 <= n; i += 2) {
            const std::uint8_t* q = run + 3 * i;
            ++c.blue[0][q[0]];
            ++c.green[0][q[1]];
            ++c.red[0][q[2]];
            ++c.luminance[0][lum[i]];
            ++c.blue[1][q[3]];
            ++c.green[1][q[4]];
            ++c.red[1][q[5]];
            ++c.luminance[1][lum[i + 1]];
        }
        if (i < n) {
            const std::uint8_t* q = run + 3 * i;
            ++c.blue[0][q[0]];
            ++c.green[0][q[1]];
            ++c.red[0][q[2]];
            ++c.luminance[0][lum[i]];
        }
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
