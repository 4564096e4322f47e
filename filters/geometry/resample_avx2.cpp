// The resampler's whole-row loops built with AVX2 (and without fused multiply-add).
#include "filters/geometry/resample.h"
#include "filters/geometry/resample_rows.h"

void orvex_geometry::AccumulateRowAvx2(float* acc, const std::uint8_t* in, float weight, std::size_t n)
{
    AccumulateRow(acc, in, weight, n);
}

void orvex_geometry::BlendRowsAvx2(const float* r0, const float* r1, float w0, float w1, std::uint8_t* out, std::size_t n)
{
    BlendRows(r0, r1, w0, w1, out, n);
}
