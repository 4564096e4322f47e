// Histogram equalisation: Equalize maps all three channels through one table built from pixel
// intensity, AutoColor gives each channel its own table.
#include "core/image_processor.h"
#include "filters/colour/colour_tables.h"

#include <atomic>
#include <cstdint>

namespace {

using Histogram = std::uint32_t[256];

// The equalising table of one histogram: cumulative fractions, summed in increasing order and
// deliberately not renormalised, scaled to 255 and truncated.
void BuildEqualizingTable(const Histogram& count, double pixels, std::uint8_t* table)
{
    double cumulative = 0.0;
    for (int k = 0; k < 256; ++k) {
        cumulative += count[k] / pixels;
        const int v = static_cast<int>(cumulative * 255.0);
        table[k] = static_cast<std::uint8_t>(v > 255 ? 255 : v);
    }
}

// Counts over all rows, one private histogram set per block of rows, added up at the end (integer
// counts, so the split does not show). `count(row, width, histograms)` counts one row.
template <int N, class CountRow>
void CountPixels(const CImage& picture, Histogram (&total)[N], const CountRow& count)
{
    std::atomic<std::uint32_t> shared[N][256] = {};
    const std::uint8_t* const top = picture.bits();
    const std::ptrdiff_t pitch = picture.pitch();
    ParallelFor(0, picture.height(), [&](int y0, int y1) {
        Histogram local[N] = {};
        for (int y = y0; y < y1; ++y) count(top + y * pitch, picture.width(), local);
        for (int h = 0; h < N; ++h)
            for (int k = 0; k < 256; ++k)
                if (local[h][k]) shared[h][k].fetch_add(local[h][k], std::memory_order_relaxed);
    });
    for (int h = 0; h < N; ++h)
        for (int k = 0; k < 256; ++k) total[h][k] = shared[h][k].load();
}

} // namespace

void CImageProcessor::Equalize()
{
    CImage& picture = *image();
    if (!orvex_colour::HasPixels(picture)) return;
    Histogram histogram[1];
    CountPixels(picture, histogram, [](const std::uint8_t* p, int width, Histogram* h) {
        // (b + g + r) / 3.0 truncated equals the integer quotient for these non-negative sums.
        for (int x = 0; x < width; ++x, p += 3) ++h[0][(p[0] + p[1] + p[2]) / 3];
    });
    std::uint8_t table[256];
    BuildEqualizingTable(histogram[0], static_cast<double>(picture.width()) * picture.height(), table);
    orvex_colour::ApplyTable(picture, picture.bits(), table);
}

void CImageProcessor::AutoColor()
{
    CImage& picture = *image();
    if (!orvex_colour::HasPixels(picture)) return;
    Histogram histograms[3];
    CountPixels(picture, histograms, [](const std::uint8_t* p, int width, Histogram* h) {
        for (int x = 0; x < width; ++x, p += 3) {
            ++h[0][p[0]];
            ++h[1][p[1]];
            ++h[2][p[2]];
        }
    });
    const double pixels = static_cast<double>(picture.width()) * picture.height();
    std::uint8_t tables[3][256];
    for (int c = 0; c < 3; ++c) BuildEqualizingTable(histograms[c], pixels, tables[c]);
    orvex_colour::ApplyChannelTables(picture, picture.bits(), tables[0], tables[1], tables[2]);
}
