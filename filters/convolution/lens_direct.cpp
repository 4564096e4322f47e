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

// Turns the changes of one row's stretch into the disc's sums, sample by sample within each
// channel (every third sample), carrying on from `carry`, and each sum into its quotient by the
// cell count: means[k] for k < n (n a multiple of the vector width). The in-vector running sum
// takes a few shifted additions; the quotient is estimated in single precision, within one of the
// true one for any sum up to 255 cells, and corrected by its remainder.
template <class Ints, class Floats, class Bytes>
__attribute__((always_inline)) inline void RunningMeansOf(const std::int32_t* change, int n, std::int32_t (&carry)[3],
                                                          std::int32_t cells, std::uint8_t* means)
{
    constexpr int L = static_cast<int>(sizeof(Ints) / sizeof(std::int32_t));
    static_assert(L == 8 || L == 16);
    Ints by3, by6, by12, pick, running;
    for (int p = 0; p < L; ++p) {
        by3[p] = p >= 3 ? p - 3 : L;
        by6[p] = p >= 6 ? p - 6 : L;
        by12[p] = p >= 12 ? p - 12 : L;
        pick[p] = L - 3 + p % 3; // the last lane of the same channel, one vector on
        running[p] = carry[p % 3];
    }
    const Ints zero{};
    const Ints divisor = zero + cells;
    const Floats inverse = Floats{} + 1.0f / static_cast<float>(cells);
    for (int k = 0; k < n; k += L) {
        Ints x;
        std::memcpy(&x, change + k, sizeof x);
        x += __builtin_shuffle(x, zero, by3);
        x += __builtin_shuffle(x, zero, by6);
        if constexpr (L > 8) x += __builtin_shuffle(x, zero, by12);
        x += running;
        running = __builtin_shuffle(x, pick);
        Ints q = __builtin_convertvector(__builtin_convertvector(x, Floats) * inverse, Ints);
        const Ints rest = x - q * divisor;
        q += (rest < zero);      // -1 where the estimate was one too high
        q -= (rest >= divisor);  // +1 where it was one too low
        const Bytes bytes = __builtin_convertvector(q, Bytes);
        std::memcpy(means + k, &bytes, sizeof bytes);
    }
    // What the next stretch carries on from: right when n is a whole number of pixels, as it is for
    // every stretch but the last.
    for (int c = 0; c < 3; ++c) carry[c] = running[c];
}

using RunningMeansFn = void (*)(const std::int32_t*, int, std::int32_t (&)[3], std::int32_t, std::uint8_t*);
using Ints16 = std::int32_t __attribute__((vector_size(64)));
using Floats16 = float __attribute__((vector_size(64)));
using Bytes16 = std::uint8_t __attribute__((vector_size(16)));
using Ints8 = std::int32_t __attribute__((vector_size(32)));
using Floats8 = float __attribute__((vector_size(32)));
using Bytes8 = std::uint8_t __attribute__((vector_size(8)));

__attribute__((target("arch=x86-64-v4"))) void RunningMeansWide(const std::int32_t* change, int n, std::int32_t (&carry)[3],
                                                                std::int32_t cells, std::uint8_t* means)
{
    RunningMeansOf<Ints16, Floats16, Bytes16>(change, n, carry, cells, means);
}

__attribute__((target("avx2"))) void RunningMeansAvx2(const std::int32_t* change, int n, std::int32_t (&carry)[3],
                                                      std::int32_t cells, std::uint8_t* means)
{
    RunningMeansOf<Ints8, Floats8, Bytes8>(change, n, carry, cells, means);
}

void RunningMeansPlain(const std::int32_t* change, int n, std::int32_t (&carry)[3], std::int32_t cells, std::uint8_t* means)
{
    RunningMeansOf<Ints8, Floats8, Bytes8>(change, n, carry, cells, means);
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
    RunningMeansFn means;
    int rows;         // output rows made together
    int largestReach; // beyond it the transforms cost less (measured on 6000 x 4000)
};

const CDifferences kKernels[] = {{DifferencesPlain, RunningMeansPlain, 4, 40},
                                 {DifferencesAvx2, RunningMeansAvx2, 4, 70},
                                 {DifferencesWide, RunningMeansWide, 8, 110}};

bool Supported(int level)
{
    __builtin_cpu_init();
    if (level == 2) // everything x86-64-v4 adds to AVX2
        return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
               __builtin_cpu_supports("avx512cd") && __builtin_cpu_supports("avx512dq") &&
               __builtin_cpu_supports("avx512vl");
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
    std::int32_t cells = 0;
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
        disc.cells += 2 * hw + 1;
    }
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
    // Stretches short enough that the read windows of every disc row stay in the core's
    // second-level cache while the rows below reuse them; whole pixels, whole chunks.
    const int tile = std::clamp(262144 / (2 * reach + 1) / (3 * kGrain), 1, 26) * 3 * kGrain;
    const CDifferences& differences = Kernel();
    const int together = differences.rows;
    // Each thread's scratch for one stretch, had before the picture is touched.
    const std::size_t threads = static_cast<std::size_t>(ParallelThreadCount());
    // Whole cache lines per thread, so that no two threads write one line.
    const std::size_t inputCount = (static_cast<std::size_t>(2 * reach + together) + 7) / 8 * 8;
    const std::size_t deltaCount = static_cast<std::size_t>(tile) * static_cast<std::size_t>(together);
    const auto inputBuffer = orvex_fft::AllocateArray<const std::int16_t*>(inputCount * threads);
    const auto deltaBuffer = orvex_fft::AllocateArray<std::int32_t>(deltaCount * threads);
    const auto meansBuffer = orvex_fft::AllocateArray<std::uint8_t>(static_cast<std::size_t>(tile) * threads);
    if (!rowsBuffer || !carryBuffer || !inputBuffer || !deltaBuffer || !meansBuffer) return false;
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

    const int tiles = (sums + tile - 1) / tile;
    std::vector<int> enter(disc.halfWidth.size()), leave(disc.halfWidth.size());
    for (std::size_t j = 0; j < disc.halfWidth.size(); ++j) {
        enter[j] = 3 * (reach + 1 + disc.halfWidth[j]);
        leave[j] = 3 * (reach - disc.halfWidth[j]);
    }
    for (int t = 0; t < tiles; ++t) {
        // A cancelled run's picture is put back by its caller, so stopping between tiles is safe.
        if (bar.StopRequested()) return true;
        const int t0 = t * tile;
        const int n = std::min(tile, sums - t0);
        const int rounded = (n + kGrain - 1) / kGrain * kGrain;
        // Output samples of this stretch begin at `from` (the first stretches cover the margin).
        const int from = std::clamp(start - t0, 0, n);
        ParallelFor(0, h, [&](int y0, int y1) {
            const std::size_t slot = std::min(static_cast<std::size_t>(ParallelSlot()), threads - 1);
            const std::int16_t** const input = inputBuffer.get() + inputCount * slot;
            std::int32_t* const delta = deltaBuffer.get() + deltaCount * slot;
            std::uint8_t* const means = meansBuffer.get() + static_cast<std::size_t>(tile) * slot;
            for (int y = y0; y < y1;) {
                const bool all = y + together <= y1;
                const int made = all ? together : 1;
                for (int i = 0; i < 2 * reach + made; ++i)
                    input[i] = padded + stride * static_cast<std::size_t>(((y - reach + i) % h + h) % h) + t0;
                differences.run(input, enter.data(), leave.data(), reach, all, rounded, delta);
                for (int b = 0; b < made; ++b, ++y) {
                    std::int32_t* d = carry + 3 * static_cast<std::size_t>(y);
                    std::int32_t sums3[3] = {d[0], d[1], d[2]};
                    differences.means(delta + static_cast<std::size_t>(b) * static_cast<std::size_t>(rounded), rounded,
                                      sums3, disc.cells, means);
                    std::copy(sums3, sums3 + 3, d);
                    std::copy(means + from, means + n, top + static_cast<std::ptrdiff_t>(y) * pitch + (t0 + from - start));
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
    static const CDifferences anyRadius[] = {{DifferencesPlain, RunningMeansPlain, 4, 250},
                                             {DifferencesAvx2, RunningMeansAvx2, 4, 250},
                                             {DifferencesWide, RunningMeansWide, 8, 250}};
    if (level < 0) {
        g_forcedKernel.store(nullptr);
        return true;
    }
    if (level > 2 || !Supported(level)) return false;
    g_forcedKernel.store(&anyRadius[level]);
    return true;
}
