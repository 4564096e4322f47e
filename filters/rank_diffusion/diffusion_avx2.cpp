// The diffusion pass four lanes at a time; this file alone is compiled for AVX2 and only called after
// the processor has been checked for it.
#include "filters/rank_diffusion/diffusion_kernel.h"

#include <immintrin.h>

void DiffusionBlockColumnAvx2(const double* left, const double* right, double* mean, double* shrink, int lanes,
                              orvex_rank_diffusion::CShrink rule);
void DiffusionFusedColumnAvx2(const double* centre, const double* right, const double* meanLeft,
                              const double* shrinkLeft, double* meanRight, double* shrinkRight, double* out,
                              int pixelLanes, orvex_rank_diffusion::CShrink rule);

namespace {

struct CAvx2Lanes
{
    static constexpr int kWidth = 4;
    using T = __m256d;
    static T Load(const double* p) { return _mm256_loadu_pd(p); }
    static void Store(double* p, T v) { _mm256_storeu_pd(p, v); }
    static T Set(double v) { return _mm256_set1_pd(v); }
    static T Add(T a, T b) { return _mm256_add_pd(a, b); }
    static T Sub(T a, T b) { return _mm256_sub_pd(a, b); }
    static T Mul(T a, T b) { return _mm256_mul_pd(a, b); }
    static T Div(T a, T b) { return _mm256_div_pd(a, b); }
    static T Sqrt(T a) { return _mm256_sqrt_pd(a); }
    static T ZeroWhereLessEqual(T a, double limit, T v)
    {
        return _mm256_andnot_pd(_mm256_cmp_pd(a, _mm256_set1_pd(limit), _CMP_LE_OQ), v);
    }
    static bool AllLessEqual(T a, double limit)
    {
        return _mm256_movemask_pd(_mm256_cmp_pd(a, _mm256_set1_pd(limit), _CMP_LE_OQ)) == 0xF;
    }
};

} // namespace

void DiffusionBlockColumnAvx2(const double* left, const double* right, double* mean, double* shrink, int lanes,
                              orvex_rank_diffusion::CShrink rule)
{
    BlockColumn<CAvx2Lanes>(left, right, mean, shrink, lanes, rule);
}

void DiffusionFusedColumnAvx2(const double* centre, const double* right, const double* meanLeft,
                              const double* shrinkLeft, double* meanRight, double* shrinkRight, double* out,
                              int pixelLanes, orvex_rank_diffusion::CShrink rule)
{
    FusedColumn<CAvx2Lanes>(centre, right, meanLeft, shrinkLeft, meanRight, shrinkRight, out, pixelLanes, rule);
}
