// The lens blur summed directly. Along a row, the disc's sum at pixel x follows from its sum at x - 1:
// each row of the disc gains the sample at its right end and loses the one past its left end. So a
// pixel costs two reads per disc row, made sixteen or thirty-two samples at a time, and one
// addition, whatever the radius. All sums are integers and the division by the cell count is exact,
// so the result is the truncated circular convolution with the normalised disc, exactly.
#include "core/parallel.h"
#include "filters/convolution/convolution_internal.h"
#include "filters/convolution/fft_plans.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

namespace orvex_convolution {
namespace {

// 16-bit sums and their 32-bit totals, as wide as each instruction set holds in a register.
using Wide16 = std::int16_t __attribute__((vector_size(64)));
using Wide32 = std::int32_t __attribute__((vector_size(128)));
using Half16 = std::int16_t __attribute__((vector_size(32)));
using Half32 = std::int32_t __attribute__((vector_size(64)));
using Narrow16 = std::int16_t __attribute__((vector_size(16)));
using Narrow32 = std::int32_t __attribute__((vector_size(32)));

// Samples of the running sums made in one piece: every kernel's chunk divides it.
constexpr int kGrain = 64;
// Each difference lies in -255 .. 255: 128 of them still fit 16 bits.
constexpr int kTermsPerFlush = 128;

// For output rows y .. y + B - 1 and samples k < n (a multiple of kGrain) of the stretch:
// delta[b * n + k] = sum over disc rows j = 0 .. 2R of input[j + b][k + enter[j]] - input[j + b][k + leave[j]],
// where input[i] is picture row y - R + i. The B outputs' sums stay in registers for a chunk of
// V vectors of samples while the input rows go by once: each row's read windows overlap from one output
// to the next, so they are read from the nearest cache.
template <class Lanes16, class Lanes32, int B, int V>
__attribute__((always_inline)) inline void DifferencesOf(const std::int16_t* const* input, const int* enter,
                                                         const int* leave, int reach, int n, std::int32_t* delta)
{
    constexpr int kLanes = static_cast<int>(sizeof(Lanes16) / sizeof(std::int16_t));
    const int inputs = 2 * reach + B;
    for (int k = 0; k < n; k += kLanes * V) {
        Lanes32 total[B][V] = {};
        Lanes16 sum[B][V] = {};
        const auto add = [&](const std::int16_t* row, int b, int j) {
#pragma GCC unroll 2
            for (int v = 0; v < V; ++v) {
                Lanes16 in, out;
                std::memcpy(&in, row + enter[j] + kLanes * v, sizeof in);
                std::memcpy(&out, row + leave[j] + kLanes * v, sizeof out);
                sum[b][v] += in - out;
            }
        };
        for (int i = 0; i < inputs;) {
            for (const int end = std::min(inputs, i + kTermsPerFlush); i < end; ++i) {
                const std::int16_t* row = input[i] + k;
                if (i >= B - 1 && i <= 2 * reach) {
#pragma GCC unroll 8
                    for (int b = 0; b < B; ++b) add(row, b, i - b);
                } else {
                    // The first and last few rows reach only some outputs (b must stay a constant
                    // of the unrolled loop for the sums to live in registers).
#pragma GCC unroll 8
                    for (int b = 0; b < B; ++b)
                        if (i - b >= 0 && i - b <= 2 * reach) add(row, b, i - b);
                }
            }
            for (int b = 0; b < B; ++b)
                for (int v = 0; v < V; ++v) {
                    total[b][v] += __builtin_convertvector(sum[b][v], Lanes32);
                    sum[b][v] = Lanes16{};
                }
        }
        for (int b = 0; b < B; ++b)
            for (int v = 0; v < V; ++v)
                std::memcpy(delta + static_cast<std::size_t>(b) * static_cast<std::size_t>(n) + k + kLanes * v, &total[b][v],
                            sizeof total[b][v]);
    }
}

using DifferencesFn = void (*)(const std::int16_t* const*, const int*, const int*, int, bool, int, std::int32_t*);

// `together`: all the kernel's rows at once, or else a single row.
__attribute__((target("arch=x86-64-v4"))) void DifferencesWide(const std::int16_t* const* input, const int* enter,
                                                               const int* leave, int reach, bool together, int n,
                                                               std::int32_t* delta)
{
    if (together) DifferencesOf<Wide16, Wide32, 8, 2>(input, enter, leave, reach, n, delta);
    else DifferencesOf<Wide16, Wide32, 1, 2>(input, enter, leave, reach, n, delta);
}

__attribute__((target("avx2"))) void DifferencesAvx2(const std::int16_t* const* input, const int* enter,
                                                     const int* leave, int reach, bool together, int n,
                                                     std::int32_t* delta)
{
    if (together) DifferencesOf<Half16, Half32, 4, 2>(input, enter, leave, reach, n, delta);
    else DifferencesOf<Half16, Half32, 1, 2>(input, enter, leave, reach, n, delta);
}

void DifferencesPlain(const std::int16_t* const* input, const int* enter, const int* leave, int reach, bool together,
                      int n, std::int32_t* delta)
{
    if (together) DifferencesOf<Narrow16, Narrow32, 4, 2>(input, enter, leave, reach, n, delta);
    else DifferencesOf<Narrow16, Narrow32, 1, 2>(input, enter, leave, reach, n, delta);
}

struct CDifferences
{
    DifferencesFn run;
    int rows;         // output rows made together
    int largestReach; // beyond it the transforms cost less (measured on 6000 x 4000)
};

const CDifferences kKernels[] = {{DifferencesPlain, 4, 40}, {DifferencesAvx2, 4, 70}, {DifferencesWide, 8, 100}};

bool Supported(int level)
{
    __builtin_cpu_init();
    if (level == 2) return __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vl");
    if (level == 1) return __builtin_cpu_supports("avx2");
    return level == 0;
}

std::atomic<const CDifferences*> g_forcedKernel{nullptr};

const CDifferences& Kernel()
{
    static const CDifferences& chosen = Supported(2) ? kKernels[2] : Supported(1) ? kKernels[1] : kKernels[0];
    const CDifferences* forced = g_forcedKernel.load();
    return forced ? *forced : chosen;
}

struct CDisc
{
    int reach = 0;
    std::vector<int> halfWidth; // of rows -reach .. reach
    std::uint64_t cells = 0;
    // floor(s * multiplier >> shift) = floor(s / cells) for every sum s <= 255 * cells.
    std::uint64_t multiplier = 0;
    int shift = 0;
};

CDisc MakeDisc(float radius)
{
    CDisc disc;
    disc.reach = static_cast<int>(radius);
    const int reach = disc.reach;
    disc.halfWidth.resize(static_cast<std::size_t>(2 * reach + 1));
    for (int j = -reach; j <= reach; ++j) {
        int hw = 0;
        while (hw + 1 <= reach &&
               std::sqrt(static_cast<double>((hw + 1) * (hw + 1) + j * j)) <= static_cast<double>(radius))
            ++hw;
        disc.halfWidth[static_cast<std::size_t>(j + reach)] = hw;
        disc.cells += static_cast<std::uint64_t>(2 * hw + 1);
    }
    // With 2^shift >= 255 * cells^2 and multiplier = ceil(2^shift / cells), the multiplier's excess
    // adds less than 1 / cells to any quotient of a sum up to 255 * cells: the floor is exact. The
    // product stays under 2^shift * 256 <= 2^52 for radii up to 250.
    const std::uint64_t bound = 255 * disc.cells * disc.cells;
    while ((std::uint64_t(1) << disc.shift) < bound) ++disc.shift;
    disc.multiplier = ((std::uint64_t(1) << disc.shift) + disc.cells - 1) / disc.cells;
    return disc;
}

} // namespace

bool DirectLensWorthIt(int width, int height, float radius)
{
    const int reach = static_cast<int>(radius);
    // The disc must lie within the half picture, where the cut-off trims nothing.
    return reach <= Kernel().largestReach && reach <= width / 2 - 1 && reach <= height / 2 - 1;
}

bool DirectLens(const CImageProcessor& engine, CImage& picture, float radius)
{
    const int w = picture.width();
    const int h = picture.height();
    const CDisc disc = MakeDisc(radius);
    const int reach = disc.reach;

    // Each row as 16-bit samples of pixels -3R-1 .. W+R-1: zeros up to pixel -R-1, then the row
    // continued periodically. The running sum starts at pixel -2R-1, where the disc covers only
    // the zeros, so it needs no sum made the slow way; output begins at pixel 0. The slack lets the
    // last stretch be summed whole.
    const std::size_t used = 3 * (static_cast<std::size_t>(w) + 4 * static_cast<std::size_t>(reach) + 1);
    const std::size_t stride = used + 2 * kGrain;
    const int start = 6 * reach; // sample index of pixel 0 in the running sums
    const int sums = 3 * (w + 2 * reach); // samples of pixels -2R .. W-1
    const orvex_fft::CPlaneBuffer rowsBuffer(stride * static_cast<std::size_t>(h) * sizeof(std::int16_t));
    const orvex_fft::CPlaneBuffer carryBuffer(static_cast<std::size_t>(h) * 3 * sizeof(std::int32_t));
    if (!rowsBuffer || !carryBuffer) return false;
    auto* const padded = static_cast<std::int16_t*>(rowsBuffer.raw());
    auto* const carry = static_cast<std::int32_t*>(carryBuffer.raw());
    const orvex_fft::CConvolutionRunning inUse; // keeps background measuring off the cores meanwhile
    CImageProcessor::ProgressScope bar(engine, " Lens blur:", static_cast<int>(5.83 * static_cast<double>(w)));
    std::uint8_t* const top = picture.bits();
    const int pitch = picture.pitch();

    ParallelFor(0, h, [&](int y0, int y1) {
        for (int y = y0; y < y1; ++y) {
            const std::uint8_t* src = top + static_cast<std::ptrdiff_t>(y) * pitch;
            std::int16_t* row = padded + stride * static_cast<std::size_t>(y);
            std::int16_t* p = std::fill_n(row, 3 * (2 * reach + 1), std::int16_t(0));
            // The row's last R pixels, the row, then its first R pixels (R < W / 2).
            p = std::copy(src + 3 * (w - reach), src + 3 * w, p);
            p = std::copy(src, src + 3 * w, p);
            p = std::copy(src, src + 3 * reach, p);
            std::fill(p, row + stride, std::int16_t(0));
            std::fill_n(carry + 3 * static_cast<std::size_t>(y), 3, 0);
        }
    });
    bar.Set(w / 2);

    // Stretches short enough that the read windows of every disc row stay in the core's
    // second-level cache while the rows below reuse them; whole pixels, whole chunks.
    const int tile = std::clamp(262144 / (2 * reach + 1) / (3 * kGrain), 1, 26) * 3 * kGrain;
    const CDifferences& differences = Kernel();
    const int together = differences.rows;
    const int tiles = (sums + tile - 1) / tile;
    std::vector<int> enter(disc.halfWidth.size()), leave(disc.halfWidth.size());
    for (std::size_t j = 0; j < disc.halfWidth.size(); ++j) {
        enter[j] = 3 * (reach + 1 + disc.halfWidth[j]);
        leave[j] = 3 * (reach - disc.halfWidth[j]);
    }
    const std::uint64_t multiplier = disc.multiplier;
    const int shift = disc.shift;
    for (int t = 0; t < tiles; ++t) {
        const int t0 = t * tile;
        const int n = std::min(tile, sums - t0);
        const int rounded = (n + kGrain - 1) / kGrain * kGrain;
        ParallelFor(0, h, [&](int y0, int y1) {
            std::vector<const std::int16_t*> input(static_cast<std::size_t>(2 * reach + together));
            std::vector<std::int32_t> delta(static_cast<std::size_t>(rounded) * static_cast<std::size_t>(together));
            for (int y = y0; y < y1;) {
                const bool all = y + together <= y1;
                const int made = all ? together : 1;
                for (int i = 0; i < 2 * reach + made; ++i)
                    input[static_cast<std::size_t>(i)] = padded + stride * static_cast<std::size_t>(((y - reach + i) % h + h) % h) + t0;
                differences.run(input.data(), enter.data(), leave.data(), reach, all, rounded, delta.data());
                for (int b = 0; b < made; ++b, ++y) {
                    const std::int32_t* change = delta.data() + static_cast<std::size_t>(b) * static_cast<std::size_t>(rounded);
                    std::int32_t* d = carry + 3 * static_cast<std::size_t>(y);
                    std::int32_t d0 = d[0], d1 = d[1], d2 = d[2];
                    std::uint8_t* dst = top + static_cast<std::ptrdiff_t>(y) * pitch;
                    for (int k = 0; k < n; k += 3) {
                        d0 += change[k];
                        d1 += change[k + 1];
                        d2 += change[k + 2];
                        const int at = t0 + k - start;
                        if (at < 0) continue;
                        dst[at] = static_cast<std::uint8_t>((static_cast<std::uint64_t>(d0) * multiplier) >> shift);
                        dst[at + 1] = static_cast<std::uint8_t>((static_cast<std::uint64_t>(d1) * multiplier) >> shift);
                        dst[at + 2] = static_cast<std::uint8_t>((static_cast<std::uint64_t>(d2) * multiplier) >> shift);
                    }
                    d[0] = d0, d[1] = d1, d[2] = d2;
                }
            }
        });
        bar.Set(static_cast<int>(w * (0.5 + 5.31 * (t + 1) / tiles)));
    }
    return true;
}

} // namespace orvex_convolution

bool orvex_testing::UseLensKernel(int level)
{
    using namespace orvex_convolution;
    static const CDifferences anyRadius[] = {{DifferencesPlain, 4, 250}, {DifferencesAvx2, 4, 250}, {DifferencesWide, 8, 250}};
    if (level < 0) {
        g_forcedKernel.store(nullptr);
        return true;
    }
    if (level > 2 || !Supported(level)) return false;
    g_forcedKernel.store(&anyRadius[level]);
    return true;
}
