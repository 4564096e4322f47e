#pragma once

// The cloud rows, compiled once per instruction set (clouds.cpp, clouds_avx2.cpp,
// clouds_avx512.cpp): everything here has internal linkage and calls no shared inline code, so
// no copy built for a wider instruction set can stand in for the plain one. Every build does the
// same single-precision operations in the same order, so all give the same bytes.
#include "filters/effects/clouds.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__AVX512F__)
#include <immintrin.h>
// GCC 12 takes the undefined source of the permute for an uninitialised read.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

namespace orvex_clouds {

// Where the samples of one octave's level fall in its lattice, the same for every row: worked out
// once per run and shared by the threads. Sample s (s < padded, a multiple of 16) lies in lattice
// column first + relative[s] at fraction[s] across it, with fade u = f^2 (3 - 2 f) and u * f kept.
struct COctaveColumns
{
    const std::int32_t* relative = nullptr;
    const float* fraction = nullptr;
    const float* fade = nullptr;
    const float* fadeFraction = nullptr;
    const std::int32_t* hashed = nullptr; // column[(first + j) & 255] for every lattice column j
    int columns = 0;                      // lattice columns the samples touch, the right corners included
    int padded = 0;
};

// One thread's lattice rows of one octave, every array columns + 16 long. The gradients of the
// lattice rows above and below the last sample row are kept, so the next row of samples, mostly in
// the same cells or the next ones down, looks up few or none.
struct COctaveRows
{
    float* g0x = nullptr;
    float* g0y = nullptr;
    float* g1x = nullptr;
    float* g1y = nullptr;
    float* a = nullptr;
    float* b = nullptr;
    float* c = nullptr;
    float* d = nullptr;
    int cachedRow = 0;
    bool cached = false;
};

struct CCloudKernel
{
    // sum[s] += octave k at sample s of the row whose noise coordinate is y (s < columns.padded).
    void (*addOctave)(const CCloudTables& tables, int k, const COctaveColumns& columns, COctaveRows& rows, double y,
                      float* sum) = nullptr;
    // out[i] = 0.5625 (r1[i] + r2[i]) - 0.0625 (r0[i] + r3[i]): the value halfway between rows 1 and 2.
    void (*betweenRows)(const float* r0, const float* r1, const float* r2, const float* r3, int n,
                        float* out) = nullptr;
    // Doubles a row: out[2p] = v[p + 1], out[2p + 1] halfway between v[p + 1] and v[p + 2], as above.
    void (*doubleRow)(const float* v, int pairs, float* out) = nullptr;
    // Greys of `width` sums into 3 * width bytes: the grey itself, or |source - grey| with a source.
    void (*finishRow)(const float* sum, int width, float gain, const std::uint8_t* source, std::uint8_t* out,
                      std::uint8_t* grey) = nullptr;
};

CCloudKernel CloudKernelAvx2();
CCloudKernel CloudKernelAvx512();

} // namespace orvex_clouds

namespace {

using namespace orvex_clouds;

typedef float CVec16 __attribute__((vector_size(64)));
typedef std::int32_t CInt16 __attribute__((vector_size(64)));

inline void FillLatticeRow(const CCloudTables& tables, const std::int32_t* __restrict hashed, int columns, int row,
                           float* __restrict gx, float* __restrict gy)
{
    int j = 0;
#if defined(__AVX512F__)
    // The arrays have 16 entries to spare past the last column.
    for (; j < columns; j += 16) {
        const __m512i h = _mm512_and_si512(_mm512_add_epi32(_mm512_loadu_si512(hashed + j), _mm512_set1_epi32(row)),
                                           _mm512_set1_epi32(255));
        _mm512_storeu_ps(gx + j, _mm512_i32gather_ps(h, tables.gradientX, 4));
        _mm512_storeu_ps(gy + j, _mm512_i32gather_ps(h, tables.gradientY, 4));
    }
#endif
    for (; j < columns; ++j) {
        const int h = (hashed[j] + row) & 255;
        gx[j] = tables.gradientX[h];
        gy[j] = tables.gradientY[h];
    }
}

[[maybe_unused]] void AddOctave(const CCloudTables& tables, int k, const COctaveColumns& oc, COctaveRows& w, double y,
                                float* sum)
{
    const double py = y * tables.frequency[k] + tables.offsetY[k];
    double floored = static_cast<double>(static_cast<long long>(py));
    if (floored > py) floored -= 1.0;
    const int row = static_cast<int>(floored);
    const float fy = static_cast<float>(py - floored);
    const float fy1 = fy - 1.0f;
    const float v = fy * fy * (3.0f - 2.0f * fy);
    const float amp = tables.amplitude[k];
    const int columns = oc.columns;
    if (!w.cached || w.cachedRow != row) {
        if (w.cached && w.cachedRow + 1 == row) {
            float* x = w.g0x;
            float* yy = w.g0y;
            w.g0x = w.g1x;
            w.g0y = w.g1y;
            w.g1x = x;
            w.g1y = yy;
        } else {
            FillLatticeRow(tables, oc.hashed, columns, row, w.g0x, w.g0y);
        }
        FillLatticeRow(tables, oc.hashed, columns, row + 1, w.g1x, w.g1y);
        w.cachedRow = row;
        w.cached = true;
    }
    const float* const g0x = w.g0x;
    const float* const g0y = w.g0y;
    const float* const g1x = w.g1x;
    const float* const g1y = w.g1y;
    // The vertical blend first: along the row, each lattice column is a line in fx. Then
    // n = a + fx b + u c + u fx d within the cell of lattice column j, from the blends of columns
    // j and j + 1 (worked out twice rather than stored). The arrays have 16 entries to spare.
    float* __restrict const a = w.a;
    float* __restrict const b = w.b;
    float* __restrict const c = w.c;
    float* __restrict const d = w.d;
    for (int j = 0; j + 1 < columns; j += 16) {
        CVec16 x0, y0, x1, y1, nx0, ny0, nx1, ny1;
        std::memcpy(&x0, g0x + j, sizeof x0);
        std::memcpy(&y0, g0y + j, sizeof y0);
        std::memcpy(&x1, g1x + j, sizeof x1);
        std::memcpy(&y1, g1y + j, sizeof y1);
        std::memcpy(&nx0, g0x + j + 1, sizeof nx0);
        std::memcpy(&ny0, g0y + j + 1, sizeof ny0);
        std::memcpy(&nx1, g1x + j + 1, sizeof nx1);
        std::memcpy(&ny1, g1y + j + 1, sizeof ny1);
        const CVec16 s0 = x0 + v * (x1 - x0);
        const CVec16 t0 = y0 * fy + v * (y1 * fy1 - y0 * fy);
        const CVec16 s1 = nx0 + v * (nx1 - nx0);
        const CVec16 t1 = ny0 * fy + v * (ny1 * fy1 - ny0 * fy);
        const CVec16 av = amp * t0;
        const CVec16 bv = amp * s0;
        const CVec16 cv = amp * ((t1 - t0) - s1);
        const CVec16 dv = amp * (s1 - s0);
        std::memcpy(a + j, &av, sizeof av);
        std::memcpy(b + j, &bv, sizeof bv);
        std::memcpy(c + j, &cv, sizeof cv);
        std::memcpy(d + j, &dv, sizeof dv);
    }
    const std::int32_t* const relative = oc.relative;
    const float* const fraction = oc.fraction;
    const float* const fade = oc.fade;
    const float* const fadeFraction = oc.fadeFraction;
    // A cell is at least one sample wide, so 16 samples span at most 16 lattice columns.
    for (int i = 0; i < oc.padded; i += 16) {
        const int base = relative[i];
#if defined(__AVX512F__)
        const __m512i lane = _mm512_sub_epi32(_mm512_loadu_si512(relative + i), _mm512_set1_epi32(base));
        const __m512 av = _mm512_permutexvar_ps(lane, _mm512_loadu_ps(a + base));
        const __m512 bv = _mm512_permutexvar_ps(lane, _mm512_loadu_ps(b + base));
        const __m512 cv = _mm512_permutexvar_ps(lane, _mm512_loadu_ps(c + base));
        const __m512 dv = _mm512_permutexvar_ps(lane, _mm512_loadu_ps(d + base));
        const __m512 fx = _mm512_loadu_ps(fraction + i);
        const __m512 n = _mm512_add_ps(
            _mm512_add_ps(_mm512_add_ps(av, _mm512_mul_ps(fx, bv)), _mm512_mul_ps(_mm512_loadu_ps(fade + i), cv)),
            _mm512_mul_ps(_mm512_loadu_ps(fadeFraction + i), dv));
        _mm512_storeu_ps(sum + i, _mm512_add_ps(_mm512_loadu_ps(sum + i), n));
#else
        CInt16 lane;
        std::memcpy(&lane, relative + i, sizeof lane);
        lane -= base;
        CVec16 av, bv, cv, dv, fx, u, uf, total;
        std::memcpy(&av, a + base, sizeof av);
        std::memcpy(&bv, b + base, sizeof bv);
        std::memcpy(&cv, c + base, sizeof cv);
        std::memcpy(&dv, d + base, sizeof dv);
        std::memcpy(&fx, fraction + i, sizeof fx);
        std::memcpy(&u, fade + i, sizeof u);
        std::memcpy(&uf, fadeFraction + i, sizeof uf);
        std::memcpy(&total, sum + i, sizeof total);
        av = __builtin_shuffle(av, lane);
        bv = __builtin_shuffle(bv, lane);
        cv = __builtin_shuffle(cv, lane);
        dv = __builtin_shuffle(dv, lane);
        total += ((av + fx * bv) + u * cv) + uf * dv;
        std::memcpy(sum + i, &total, sizeof total);
#endif
    }
}

[[maybe_unused]] void BetweenRows(const float* __restrict r0, const float* __restrict r1, const float* __restrict r2,
                                  const float* __restrict r3, int n, float* __restrict out)
{
    for (int i = 0; i < n; ++i) out[i] = 0.5625f * (r1[i] + r2[i]) - 0.0625f * (r0[i] + r3[i]);
}

[[maybe_unused]] void DoubleRow(const float* __restrict v, int pairs, float* __restrict out)
{
    int p = 0;
    for (; p + 16 <= pairs; p += 16) {
        CVec16 v0, v1, v2, v3;
        std::memcpy(&v0, v + p, sizeof v0);
        std::memcpy(&v1, v + p + 1, sizeof v1);
        std::memcpy(&v2, v + p + 2, sizeof v2);
        std::memcpy(&v3, v + p + 3, sizeof v3);
        const CVec16 half = 0.5625f * (v1 + v2) - 0.0625f * (v0 + v3);
        const CVec16 low = __builtin_shuffle(v1, half, CInt16{0, 16, 1, 17, 2, 18, 3, 19, 4, 20, 5, 21, 6, 22, 7, 23});
        const CVec16 high =
            __builtin_shuffle(v1, half, CInt16{8, 24, 9, 25, 10, 26, 11, 27, 12, 28, 13, 29, 14, 30, 15, 31});
        std::memcpy(out + 2 * p, &low, sizeof low);
        std::memcpy(out + 2 * p + 16, &high, sizeof high);
    }
    for (; p < pairs; ++p) {
        out[2 * p] = v[p + 1];
        out[2 * p + 1] = 0.5625f * (v[p + 1] + v[p + 2]) - 0.0625f * (v[p] + v[p + 3]);
    }
}

[[maybe_unused]] void FinishRow(const float* __restrict sum, int width, float gain, const std::uint8_t* source,
                                std::uint8_t* out, std::uint8_t* __restrict grey)
{
    typedef std::uint8_t CGrey16 __attribute__((vector_size(16)));
    for (int i = 0; i < width; i += 16) {
        CVec16 g;
        std::memcpy(&g, sum + i, sizeof g);
        g = g * gain + 128.5f;
        g = g < 0.0f ? 0.0f : g;
        g = g > 255.0f ? 255.0f : g;
        const CGrey16 q = __builtin_convertvector(__builtin_convertvector(g, CInt16), CGrey16);
        std::memcpy(grey + i, &q, sizeof q);
    }
    // Sixteen greys become the 48 bytes of their pixels in three shuffles.
    typedef std::uint8_t CBytes16 __attribute__((vector_size(16)));
    constexpr CBytes16 kSpread[3] = {{0, 0, 0, 1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4, 4, 5},
                                     {5, 5, 6, 6, 6, 7, 7, 7, 8, 8, 8, 9, 9, 9, 10, 10},
                                     {10, 11, 11, 11, 12, 12, 12, 13, 13, 13, 14, 14, 14, 15, 15, 15}};
    int i = 0;
    for (; i + 16 <= width; i += 16) {
        CBytes16 g;
        std::memcpy(&g, grey + i, sizeof g);
        for (int part = 0; part < 3; ++part) {
            CBytes16 v = __builtin_shuffle(g, kSpread[part]);
            const std::ptrdiff_t at = 3 * static_cast<std::ptrdiff_t>(i) + 16 * part;
            if (source) {
                CBytes16 in;
                std::memcpy(&in, source + at, sizeof in);
                v = in > v ? in - v : v - in;
            }
            std::memcpy(out + at, &v, sizeof v);
        }
    }
    for (; i < width; ++i)
        for (int ch = 0; ch < 3; ++ch) {
            const int at = 3 * i + ch;
            const int difference = source ? source[at] - grey[i] : grey[i];
            out[at] = static_cast<std::uint8_t>(difference < 0 ? -difference : difference);
        }
}

[[maybe_unused]] constexpr CCloudKernel kCloudKernel{&AddOctave, &BetweenRows, &DoubleRow, &FinishRow};

} // namespace
