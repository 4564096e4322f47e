// The lens blur of a small disc, summed directly: each row of the disc is a run of pixels, whose sum
// is a difference of two prefix sums of the picture's row. All sums are integers and the division
// by the cell count is exact, so the result is the truncated circular convolution with the
// normalised disc, exactly.
#include "core/parallel.h"
#include "filters/convolution/convolution_internal.h"
#include "filters/convolution/fft_plans.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace orvex_convolution {
namespace {

// out[x] = sum over the disc's rows j of (row j's prefix sums at x + reach + w_j + 1 minus at
// x + reach - w_j), a stretch of x at a time so that the sums stay in the nearest cache while every
// row adds to them.
__attribute__((target_clones("avx2", "default"))) void DiscRow(const std::int32_t* const* rows, const int* halfWidths,
                                                               int count, int reach, int width,
                                                               std::int32_t* __restrict sums)
{
    constexpr int kStretch = 512;
    for (int x0 = 0; x0 < width; x0 += kStretch) {
        const int n = std::min(kStretch, width - x0);
        std::int32_t* __restrict part = sums + x0;
        std::fill(part, part + n, 0);
        for (int k = 0; k < count; ++k) {
            const std::int32_t* __restrict hi = rows[k] + reach + halfWidths[k] + 1 + x0;
            const std::int32_t* __restrict lo = rows[k] + reach - halfWidths[k] + x0;
            for (int x = 0; x < n; ++x) part[x] += hi[x] - lo[x];
        }
    }
}

// Bytes of one channel's sums divided by the cell count: floor(s * m / 2^31) is the exact
// quotient for 0 <= s < 2^20 and m = ceil(2^31 / cells), cells < 2^11.
__attribute__((target_clones("avx2", "default"))) void StoreQuotients(const std::int32_t* __restrict sums,
                                                                      std::uint64_t m, int width,
                                                                      std::uint8_t* __restrict dst)
{
    for (int x = 0; x < width; ++x)
        dst[3 * x] = static_cast<std::uint8_t>((static_cast<std::uint64_t>(sums[x]) * m) >> 31);
}

} // namespace

bool DirectLensWorthIt(int width, int height, float radius)
{
    const int reach = static_cast<int>(radius);
    // The disc must lie within the half picture (no cut-off); beyond a radius of about 12 the
    // 4R + 2 additions per byte cost more than the transforms.
    return reach <= 12 && reach <= width / 2 - 1 && reach <= height / 2 - 1;
}

bool DirectLens(const CImageProcessor& engine, CImage& picture, float radius)
{
    const int w = picture.width();
    const int h = picture.height();
    const int reach = static_cast<int>(radius);
    // Half-width of the disc's row j, and the number of cells.
    std::vector<int> halfWidth(static_cast<std::size_t>(2 * reach + 1));
    long long cells = 0;
    for (int j = -reach; j <= reach; ++j) {
        int hw = 0;
        while (hw + 1 <= reach &&
               std::sqrt(static_cast<double>((hw + 1) * (hw + 1) + j * j)) <= static_cast<double>(radius))
            ++hw;
        halfWidth[static_cast<std::size_t>(j + reach)] = hw;
        cells += 2 * hw + 1;
    }
    // cells <= 49 * 49 < 2^12 and sums <= 255 * cells < 2^20: see StoreQuotients.
    const std::uint64_t multiplier = ((std::uint64_t(1) << 31) + static_cast<std::uint64_t>(cells) - 1) / static_cast<std::uint64_t>(cells);

    // Per channel and row: prefix sums of the row extended by `reach` samples on either side
    // (periodically), W + 2 reach + 1 of them.
    const int span = w + 2 * reach + 1;
    const std::size_t rowSize = static_cast<std::size_t>(span);
    const orvex_fft::CPlaneBuffer prefixBuffer(rowSize * static_cast<std::size_t>(h) * 3 * sizeof(std::int32_t));
    if (!prefixBuffer) return false;
    auto* const prefix = static_cast<std::int32_t*>(prefixBuffer.raw());
    const orvex_fft::CConvolutionRunning inUse; // keeps background measuring off the cores meanwhile
    CImageProcessor::ProgressScope bar(engine, " Lens blur:", static_cast<int>(5.83 * static_cast<double>(w)));
    const auto prefixRow = [&](int c, int y) { return prefix + rowSize * (static_cast<std::size_t>(c) * h + y); };
    std::uint8_t* const top = picture.bits();
    const int pitch = picture.pitch();

    ParallelFor(0, h, [&](int y0, int y1) {
        for (int y = y0; y < y1; ++y) {
            const std::uint8_t* src = top + static_cast<std::ptrdiff_t>(y) * pitch;
            for (int c = 0; c < 3; ++c) {
                std::int32_t* p = prefixRow(c, y);
                std::int32_t running = 0;
                *p++ = 0;
                // The row's last `reach` samples, the row, then its first `reach` samples.
                for (int x = w - reach; x < w; ++x) *p++ = running += src[3 * x + c];
                for (int x = 0; x < w; ++x) *p++ = running += src[3 * x + c];
                for (int x = 0; x < reach; ++x) *p++ = running += src[3 * x + c];
            }
        }
    });
    bar.Set(static_cast<int>(2.0 * w));

    constexpr int kChunks = 8;
    for (int chunk = 0; chunk < kChunks; ++chunk) {
        const int first = static_cast<int>(static_cast<long long>(h) * chunk / kChunks);
        const int end = static_cast<int>(static_cast<long long>(h) * (chunk + 1) / kChunks);
        ParallelFor(first, end, [&](int y0, int y1) {
            std::vector<std::int32_t> sums(static_cast<std::size_t>(w));
            std::vector<const std::int32_t*> rows(halfWidth.size());
            // Channel by channel, so that the 2R + 1 prefix rows a row needs stay in cache for the
            // next row, which needs all but one of them again.
            for (int c = 0; c < 3; ++c)
                for (int y = y0; y < y1; ++y) {
                    for (int j = -reach; j <= reach; ++j)
                        rows[static_cast<std::size_t>(j + reach)] = prefixRow(c, ((y + j) % h + h) % h);
                    DiscRow(rows.data(), halfWidth.data(), 2 * reach + 1, reach, w, sums.data());
                    StoreQuotients(sums.data(), multiplier, w, top + static_cast<std::ptrdiff_t>(y) * pitch + c);
                }
        });
        bar.Set(static_cast<int>(w * (2.0 + 3.8 * (chunk + 1) / kChunks)));
    }
    return true;
}

} // namespace orvex_convolution
