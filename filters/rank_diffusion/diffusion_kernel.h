#pragma once

// The four-block rule written once over a lane type, for every vector width the diffusion pass is
// built at (diffusion.cpp: one double at a time; diffusion_avx2.cpp: four).
//
// Lanes run down one buffer column of three-channel cells: lane i + 3 is the same channel one row
// below lane i, so a block's lower values are three lanes on. Every value goes through the same
// operations in the same order at every width (IEEE arithmetic, square root and division are exact
// per lane), so all builds give the same bits. Everything here has internal linkage, so the copies
// compiled with different instruction sets never meet at link time.

#include "filters/rank_diffusion/rank_diffusion.h"

#include <cmath>

namespace {

// CLanes must provide: kWidth, T, Load, Store, Set, Add, Sub, Mul, Div, Sqrt, ZeroWhereLessEqual(a,
// limit, v) (v where a > limit, +0 where a <= limit) and AllLessEqual(a, limit).

// Below these sums of squared differences a block's shrink factor is 0 whatever the rounding of the
// square root and products on the way: S <= 64 gives sqrt(S) <= 8, so G x 0.25 <= 1 (total
// variation); S <= 319 gives 0.125 x G x G < 9.97 (balanced). Such blocks skip the square roots and
// the division, which bound the cost of a step.
constexpr double kFlatTotalVariation = 64.0;
constexpr double kFlatBalanced = 319.0;

template <class CLanes>
typename CLanes::T ShrinkFactor(typename CLanes::T g, orvex_rank_diffusion::CShrink shrink)
{
    using L = CLanes;
    if (shrink == orvex_rank_diffusion::CShrink::TotalVariation) {
        // 0 while G x 0.25 <= 1, else 1 - 4 / G.
        const auto k = L::Sub(L::Set(1.0), L::Div(L::Set(4.0), g));
        return L::ZeroWhereLessEqual(L::Mul(g, L::Set(0.25)), 1.0, k);
    }
    // 0 while 0.125 x G x G <= 10, else sqrt(1 - 80 / G^2).
    const auto k = L::Sqrt(L::Sub(L::Set(1.0), L::Div(L::Set(80.0), L::Mul(g, g))));
    return L::ZeroWhereLessEqual(L::Mul(L::Mul(L::Set(0.125), g), g), 10.0, k);
}

// Mean and shrink factor of the blocks between two adjacent buffer columns at lanes i .. i + width:
// block lane i has top-left left[i], top-right right[i], bottom-left left[i + 3], bottom-right
// right[i + 3].
template <class CLanes>
inline void BlockVector(const double* left, const double* right, double* mean, double* shrink, int i, double flat,
                        orvex_rank_diffusion::CShrink rule)
{
    using L = CLanes;
    const auto tl = L::Load(left + i);
    const auto tr = L::Load(right + i);
    const auto bl = L::Load(left + i + 3);
    const auto br = L::Load(right + i + 3);
    const auto m = L::Mul(L::Add(L::Add(L::Add(tl, tr), bl), br), L::Set(0.25));
    const auto d01 = L::Sub(tl, tr);
    const auto d02 = L::Sub(tl, bl);
    const auto d03 = L::Sub(tl, br);
    const auto d12 = L::Sub(tr, bl);
    const auto d13 = L::Sub(tr, br);
    const auto d23 = L::Sub(bl, br);
    auto s = L::Mul(d01, d01);
    s = L::Add(s, L::Mul(d02, d02));
    s = L::Add(s, L::Mul(d03, d03));
    s = L::Add(s, L::Mul(d12, d12));
    s = L::Add(s, L::Mul(d13, d13));
    s = L::Add(s, L::Mul(d23, d23));
    L::Store(mean + i, m);
    if (L::AllLessEqual(s, flat)) {
        L::Store(shrink + i, L::Set(0.0));
        return;
    }
    const auto g = L::Mul(L::Set(0.5), L::Sqrt(s));
    L::Store(shrink + i, ShrinkFactor<L>(g, rule));
}

inline double FlatLimit(orvex_rank_diffusion::CShrink rule)
{
    return rule == orvex_rank_diffusion::CShrink::TotalVariation ? kFlatTotalVariation : kFlatBalanced;
}

template <class CLanes>
void BlockLanes(const double* left, const double* right, double* mean, double* shrink, int from, int to,
                orvex_rank_diffusion::CShrink rule)
{
    for (int i = from; i < to; i += CLanes::kWidth) BlockVector<CLanes>(left, right, mean, shrink, i, FlatLimit(rule), rule);
}

// New values of one column's interior at lanes i .. i + width: centre lane i + 3 of `centre`, its
// four blocks at lanes i and i + 3 of the left and right block columns; result to out[i].
template <class CLanes>
inline void PixelVector(const double* centre, const double* meanLeft, const double* shrinkLeft, const double* meanRight,
                        const double* shrinkRight, double* out, int i)
{
    using L = CLanes;
    const auto e = L::Load(centre + i + 3);
    auto estimate = [&](const double* mean, const double* shrink, int at) {
        const auto m = L::Load(mean + at);
        return L::Add(m, L::Mul(L::Load(shrink + at), L::Sub(e, m)));
    };
    const auto q1 = estimate(meanLeft, shrinkLeft, i);
    const auto q2 = estimate(meanRight, shrinkRight, i);
    const auto q3 = estimate(meanLeft, shrinkLeft, i + 3);
    const auto q4 = estimate(meanRight, shrinkRight, i + 3);
    L::Store(out + i, L::Mul(L::Add(L::Add(L::Add(q1, q2), q3), q4), L::Set(0.25)));
}

template <class CLanes>
void PixelLanes(const double* centre, const double* meanLeft, const double* shrinkLeft, const double* meanRight,
                const double* shrinkRight, double* out, int from, int to)
{
    for (int i = from; i < to; i += CLanes::kWidth)
        PixelVector<CLanes>(centre, meanLeft, shrinkLeft, meanRight, shrinkRight, out, i);
}

// One lane at a time: also the tail of every wider build.
struct CScalarLanes
{
    static constexpr int kWidth = 1;
    using T = double;
    static T Load(const double* p) { return *p; }
    static void Store(double* p, T v) { *p = v; }
    static T Set(double v) { return v; }
    static T Add(T a, T b) { return a + b; }
    static T Sub(T a, T b) { return a - b; }
    static T Mul(T a, T b) { return a * b; }
    static T Div(T a, T b) { return a / b; }
    static T Sqrt(T a) { return a < 0.0 ? 0.0 : std::sqrt(a); }
    static T ZeroWhereLessEqual(T a, double limit, T v) { return a <= limit ? 0.0 : v; }
    static bool AllLessEqual(T a, double limit) { return a <= limit; }
};

// Whole-column work at lane width CLanes, the remainder one lane at a time.
template <class CLanes>
void BlockColumn(const double* left, const double* right, double* mean, double* shrink, int lanes,
                 orvex_rank_diffusion::CShrink rule)
{
    const int whole = lanes / CLanes::kWidth * CLanes::kWidth;
    BlockLanes<CLanes>(left, right, mean, shrink, 0, whole, rule);
    BlockLanes<CScalarLanes>(left, right, mean, shrink, whole, lanes, rule);
}

// One column of a step: the blocks between `centre` and `right` (into meanRight/shrinkRight), and the
// column's new values, which need the blocks on both sides. Both run in one loop, the values a fixed
// distance behind the blocks they read, so that the square roots and divisions of the blocks overlap
// with the arithmetic of the values (and the values read blocks already written back to the cache).
template <class CLanes>
void FusedColumn(const double* centre, const double* right, const double* meanLeft, const double* shrinkLeft,
                 double* meanRight, double* shrinkRight, double* out, int pixelLanes, orvex_rank_diffusion::CShrink rule)
{
    using L = CLanes;
    constexpr int kLag = 64;
    static_assert(kLag % L::kWidth == 0 && kLag >= L::kWidth + 3, "values must trail the blocks they read");
    const double flat = FlatLimit(rule);
    const int blockLanes = pixelLanes + 3;
    const int blockWhole = blockLanes / L::kWidth * L::kWidth;
    const int pixelWhole = pixelLanes / L::kWidth * L::kWidth;
    int done = 0;
    for (int i = 0; i < blockWhole; i += L::kWidth) {
        BlockVector<L>(centre, right, meanRight, shrinkRight, i, flat, rule);
        if (i - kLag == done && done < pixelWhole) {
            PixelVector<L>(centre, meanLeft, shrinkLeft, meanRight, shrinkRight, out, done);
            done += L::kWidth;
        }
    }
    BlockLanes<CScalarLanes>(centre, right, meanRight, shrinkRight, blockWhole, blockLanes, rule);
    PixelLanes<L>(centre, meanLeft, shrinkLeft, meanRight, shrinkRight, out, done, pixelWhole);
    PixelLanes<CScalarLanes>(centre, meanLeft, shrinkLeft, meanRight, shrinkRight, out, pixelWhole, pixelLanes);
}

} // namespace
