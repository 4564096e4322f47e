// The diffusion pass eight lanes at a time; this file alone is compiled for AVX-512 and only called
// after the processor has been checked for it.
#include "filters/rank_diffusion/diffusion_kernel.h"

#include <immintrin.h>

void DiffusionBlockColumnAvx512(const double* left, const double* right, double* mean, double* shrink, int lanes,
                                orvex_rank_diffusion::CShrink rule);
void DiffusionFusedColumnAvx512(const double* centre, const double* right, const double* meanLeft,
                                const double* shrinkLeft, double* meanRight, double* shrinkRight, double* out,
                                int pixelLanes, orvex_rank_diffusion::CShrink rule);

namespace {

struct CAvx512Lanes
{
    static constexpr int kWidth = 8;
    using T = __m512d;
    static T Load(const double* p) { return _mm512_loadu_pd(p); }
    static void Store(double* p, T v) { _mm512_storeu_pd(p, v); }
    static T Set(double v) { return _mm512_set1_pd(v); }
    static T Add(T a, T b) { return _mm512_add_pd(a, b); }
    static T Sub(T a, T b) { return _mm512_sub_pd(a, b); }
    static T Mul(T a, T b) { return _mm512_mul_pd(a, b); }
    static T Div(T a, T b) { return _mm512_div_pd(a, b); }
    // The plain _mm512_sqrt_pd passes GCC 12 an undefined vector that it then reports as maybe
    // uninitialised; the masked form with an explicit source is the same instruction.
    static T Sqrt(T a) { return _mm512_mask_sqrt_pd(a, static_cast<__mmask8>(0xFF), a); }
    static T ZeroWhereLessEqual(T a, double limit, T v)
    {
        return _mm512_maskz_mov_pd(_mm512_cmp_pd_mask(a, _mm512_set1_pd(limit), _CMP_NLE_UQ), v);
    }
    static bool AllLessEqual(T a, double limit)
    {
        return _mm512_cmp_pd_mask(a, _mm512_set1_pd(limit), _CMP_LE_OQ) == 0xFF;
    }
};

} // namespace

void DiffusionBlockColumnAvx512(const double* left, const double* right, double* mean, double* shrink, int lanes,
                                orvex_rank_diffusion::CShrink rule)
{
    BlockColumn<CAvx512Lanes>(left, right, mean, shrink, lanes, rule);
}

void DiffusionFusedColumnAvx512(const double* centre, const double* right, const double* meanLeft,
                                const double* shrinkLeft, double* meanRight, double* shrinkRight, double* out,
                                int pixelLanes, orvex_rank_diffusion::CShrink rule)
{
    FusedColumn<CAvx512Lanes>(centre, right, meanLeft, shrinkLeft, meanRight, shrinkRight, out, pixelLanes, rule);
}
