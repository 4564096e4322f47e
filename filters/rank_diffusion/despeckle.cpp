// Despeckle: a 3 x 3 or 5 x 5 median per channel, taken only where the pixel stands out from it.
//
// Channels stay interleaved: the neighbour dx pixels away in the same channel lies 3 dx bytes
// along, so 32 bytes of a row (about ten pixels, all three channels) go through one median at a
// time. Each output row first sorts the window's column of every padded byte (a 5-sorter, shared
// by the 2r + 1 outputs that see that column); the median of the square then comes from a
// selection network that knows its columns are sorted (pruned from a sorting network, and checked
// on every 0-1 input of sorted columns, which by the 0-1 principle covers all inputs).
#include "filters/rank_diffusion/despeckle.h"

#include "core/beside_output.h"
#include "core/image_processor.h"
#include "core/parallel.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <utility>
#include <vector>

// The vector helpers below are always inlined into each instruction-set clone, so the calling
// convention of a vector passed by value never comes into play.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace {

using CBytes32 = std::uint8_t __attribute__((vector_size(32)));

enum CKeep : unsigned char { kBoth, kLow, kHigh };

// One compare-exchange: the smaller value goes to `a`, the larger to `b`; kLow and kHigh keep only
// the side the median still needs.
struct CExchange
{
    unsigned char a, b;
    CKeep keep;
};

// Wire c * (2r + 1) + k holds the k-th smallest value of window column c; the median ends on the
// middle wire.
constexpr CExchange kMedian3x3[] = {{0, 3, kHigh}, {3, 6, kBoth}, {1, 4, kBoth}, {4, 7, kLow},
                                    {1, 4, kHigh}, {5, 8, kLow},  {2, 3, kHigh}, {4, 6, kBoth},
                                    {5, 6, kLow},  {3, 5, kLow},  {3, 4, kHigh}};
constexpr CExchange kMedian5x5[] = {
    {10, 15, kBoth}, {15, 20, kBoth}, {0, 5, kBoth},   {5, 10, kBoth},  {10, 15, kBoth}, {1, 6, kBoth},
    {11, 16, kBoth}, {6, 11, kBoth},  {1, 6, kHigh},   {11, 16, kBoth}, {6, 11, kBoth},  {16, 21, kBoth},
    {11, 16, kBoth}, {2, 7, kBoth},   {12, 17, kBoth}, {7, 12, kBoth},  {17, 22, kBoth}, {2, 7, kBoth},
    {12, 17, kBoth}, {7, 12, kBoth},  {17, 22, kLow},  {12, 17, kBoth}, {13, 18, kBoth}, {8, 13, kBoth},
    {18, 23, kBoth}, {3, 8, kBoth},   {13, 18, kBoth}, {8, 13, kBoth},  {18, 23, kLow},  {3, 8, kBoth},
    {13, 18, kLow},  {14, 19, kBoth}, {9, 14, kBoth},  {19, 24, kLow},  {4, 9, kBoth},   {14, 19, kLow},
    {9, 14, kBoth},  {2, 3, kHigh},   {4, 5, kHigh},   {6, 7, kHigh},   {14, 15, kLow},  {4, 6, kLow},
    {5, 7, kBoth},   {9, 11, kBoth},  {12, 14, kBoth}, {13, 14, kBoth}, {0, 4, kHigh},   {8, 12, kBoth},
    {16, 20, kBoth}, {17, 21, kLow},  {3, 5, kHigh},   {11, 13, kBoth}, {18, 20, kLow},  {11, 12, kBoth},
    {13, 14, kLow},  {17, 18, kBoth}, {4, 8, kHigh},   {5, 9, kHigh},   {7, 11, kBoth},  {7, 9, kBoth},
    {11, 13, kLow},  {7, 8, kHigh},   {9, 10, kHigh},  {11, 12, kBoth}, {8, 16, kHigh},  {10, 18, kLow},
    {12, 16, kLow},  {13, 17, kLow},  {10, 12, kHigh}, {11, 13, kLow},  {11, 12, kHigh}};

__attribute__((always_inline)) inline CBytes32 Min(CBytes32 a, CBytes32 b)
{
    return a < b ? a : b;
}
__attribute__((always_inline)) inline CBytes32 Max(CBytes32 a, CBytes32 b)
{
    return a < b ? b : a;
}

template <const auto& kNetwork, std::size_t... I>
__attribute__((always_inline)) inline void ApplyNetwork(CBytes32* v, std::index_sequence<I...>)
{
    (
        [&] {
            constexpr CExchange e = kNetwork[I];
            const CBytes32 lo = Min(v[e.a], v[e.b]);
            const CBytes32 hi = Max(v[e.a], v[e.b]);
            if constexpr (e.keep != kHigh) v[e.a] = lo;
            if constexpr (e.keep != kLow) v[e.b] = hi;
        }(),
        ...);
}

__attribute__((always_inline)) inline void Exchange(CBytes32& a, CBytes32& b)
{
    const CBytes32 lo = Min(a, b);
    b = Max(a, b);
    a = lo;
}

template <int R>
__attribute__((always_inline)) inline void SortColumn(CBytes32* v)
{
    if constexpr (R == 1) {
        Exchange(v[0], v[1]);
        Exchange(v[1], v[2]);
        Exchange(v[0], v[1]);
    } else {
        Exchange(v[0], v[1]);
        Exchange(v[3], v[4]);
        Exchange(v[2], v[4]);
        Exchange(v[2], v[3]);
        Exchange(v[0], v[3]);
        Exchange(v[0], v[2]);
        Exchange(v[1], v[4]);
        Exchange(v[1], v[3]);
        Exchange(v[1], v[2]);
    }
}

inline CBytes32 Load(const std::uint8_t* p)
{
    CBytes32 v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

inline void Store(std::uint8_t* p, CBytes32 v)
{
    std::memcpy(p, &v, sizeof v);
}

// Output rows y0 .. y1 - 1. Scratch rows are `stride` bytes: the padded row (r repeated edge
// pixels each side) and zeros after it, so that whole vectors can be read past its end.
template <int R>
__attribute__((target_clones("avx2", "default"))) void DespeckleRows(const CImage& picture, const CBesideOutput& out,
                                                                     int threshold, int y0, int y1)
{
    constexpr int kWindow = 2 * R + 1;
    const int width = picture.width();
    const int height = picture.height();
    const int bytes = 3 * width;
    const int padded = 3 * (width + 2 * R);
    const int vectors = (padded + 31) / 32;
    const std::size_t stride = static_cast<std::size_t>(vectors) * 32 + 64;
    std::vector<std::uint8_t> scratch(stride * 2 * kWindow, 0);
    std::uint8_t* const ring = scratch.data();
    std::uint8_t* const sorted = ring + stride * kWindow;
    auto ringRow = [&](int y) { return ring + stride * static_cast<std::size_t>((y + kWindow * 4) % kWindow); };
    auto load = [&](int y) {
        const std::uint8_t* src =
            picture.bits() + static_cast<std::ptrdiff_t>(std::clamp(y, 0, height - 1)) * picture.pitch();
        std::uint8_t* row = ringRow(y);
        std::memcpy(row + 3 * R, src, static_cast<std::size_t>(bytes));
        for (int i = 0; i < R; ++i) {
            std::memcpy(row + 3 * i, src, 3);
            std::memcpy(row + 3 * (R + width + i), src + 3 * (width - 1), 3);
        }
    };
    for (int y = y0 - R; y < y0 + R; ++y) load(y);
    const CBytes32 limit = CBytes32{} + static_cast<std::uint8_t>(threshold);
    for (int y = y0; y < y1; ++y) {
        load(y + R);
        // The window's rows in any order: sorting forgets it.
        for (int i = 0; i < vectors * 32; i += 32) {
            CBytes32 v[kWindow];
            for (int k = 0; k < kWindow; ++k) v[k] = Load(ring + stride * static_cast<std::size_t>(k) + i);
            SortColumn<R>(v);
            for (int k = 0; k < kWindow; ++k) Store(sorted + stride * static_cast<std::size_t>(k) + i, v[k]);
        }
        const std::uint8_t* centre = ringRow(y) + 3 * R;
        std::uint8_t* target = out.Row(y);
        for (int i = 0; i < bytes; i += 32) {
            CBytes32 v[kWindow * kWindow];
            for (int c = 0; c < kWindow; ++c)
                for (int k = 0; k < kWindow; ++k)
                    v[c * kWindow + k] = Load(sorted + stride * static_cast<std::size_t>(k) + i + 3 * c);
            if constexpr (R == 1) ApplyNetwork<kMedian3x3>(v, std::make_index_sequence<std::size(kMedian3x3)>());
            else ApplyNetwork<kMedian5x5>(v, std::make_index_sequence<std::size(kMedian5x5)>());
            const CBytes32 median = v[kWindow * kWindow / 2];
            const CBytes32 original = Load(centre + i);
            const CBytes32 distance = Max(median, original) - Min(median, original);
            const CBytes32 result = distance > limit ? median : original;
            if (i + 32 <= bytes) {
                Store(target + i, result);
            } else {
                std::uint8_t tail[32];
                Store(tail, result);
                std::memcpy(target + i, tail, static_cast<std::size_t>(bytes - i));
            }
        }
    }
}

} // namespace

void Despeckle(CImageProcessor& engine, int radius, int threshold)
{
    CBesideOutput out;
    if (!out.Begin(engine)) return;
    const CImage& picture = *engine.image();
    radius = std::clamp(radius, 1, 2);
    threshold = std::clamp(threshold, 0, 255);
    try {
        ParallelFor(0, picture.height(), [&](int y0, int y1) {
            if (radius == 1) DespeckleRows<1>(picture, out, threshold, y0, y1);
            else DespeckleRows<2>(picture, out, threshold, y0, y1);
        });
    } catch (const std::bad_alloc&) {
        engine.ReportFailure();
        return;
    }
    out.Commit();
}
