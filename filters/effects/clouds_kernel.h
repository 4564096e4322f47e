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

// One thread's working rows for a tile of at most kTile columns.
struct CCloudScratch
{
    static constexpr int kTile = 512;
    // Lattice columns one octave can need for a tile, the 16 read past the last included.
    static constexpr int kColumns = kTile + 40;

    std::int32_t relative[kMaxOctaves][kTile];  // lattice column of each pixel, from the tile's first
    float fraction[kMaxOctaves][kTile];         // position of each pixel within its cell
    std::int32_t hashed[kMaxOctaves][kColumns]; // column[] of each lattice column
    float g0x[kMaxOctaves][kColumns];           // gradients of the lattice row above the pixel row
    float g0y[kMaxOctaves][kColumns];
    float g1x[kMaxOctaves][kColumns]; // and of the one below
    float g1y[kMaxOctaves][kColumns];
    int cachedRow[kMaxOctaves];
    int columns[kMaxOctaves];
    float s[kColumns];
    float t[kColumns];
    float a[kColumns];
    float b[kColumns];
    float c[kColumns];
    float d[kColumns];
    float sum[kTile];
};

using CCloudTileFn = void (*)(const CCloudTables& tables, CCloudScratch& scratch, int tileX, int tileWidth, int y0,
                              int y1, const std::uint8_t* source, std::uint8_t* target, std::ptrdiff_t pitch);

CCloudTileFn CloudTileAvx2();
CCloudTileFn CloudTileAvx512();

} // namespace orvex_clouds

namespace {

using namespace orvex_clouds;

typedef float CVec16 __attribute__((vector_size(64)));
typedef std::int32_t CInt16 __attribute__((vector_size(64)));

[[maybe_unused]] void CloudTile(const CCloudTables& tables, CCloudScratch& w, int tileX, int tileWidth, int y0, int y1,
                                const std::uint8_t* source, std::uint8_t* target, std::ptrdiff_t pitch)
{
    // Whole chunks of 16 pixels; the columns past the tile are worked out and never written.
    const int padded = (tileWidth + 15) & ~15;
    const int octaves = tables.octaves;
    for (int k = 0; k < octaves; ++k) {
        const double f = tables.frequency[k];
        const double o = tables.offsetX[k];
        int first = 0;
        for (int i = 0; i < padded; ++i) {
            const double p = (tileX + i + 0.5) * f + o;
            const int cell = static_cast<int>(p);
            if (i == 0) first = cell;
            w.relative[k][i] = cell - first;
            w.fraction[k][i] = static_cast<float>(p - cell);
        }
        // A cell is at least one pixel wide, so 16 pixels span at most 16 lattice columns.
        w.columns[k] = w.relative[k][padded - 1] + 2;
        for (int j = 0; j < CCloudScratch::kColumns; ++j)
            w.hashed[k][j] = j < w.columns[k] ? tables.column[(first + j) & 255] : 0;
        w.cachedRow[k] = -1;
    }
    for (int j = 0; j < CCloudScratch::kColumns; ++j) w.a[j] = w.b[j] = w.c[j] = w.d[j] = 0.0f;

    for (int y = y0; y < y1; ++y) {
        for (int i = 0; i < padded; ++i) w.sum[i] = 0.0f;
        for (int k = 0; k < octaves; ++k) {
            const double py = (y + 0.5) * tables.frequency[k] + tables.offsetY[k];
            const int row = static_cast<int>(py);
            const float fy = static_cast<float>(py - row);
            const float fy1 = fy - 1.0f;
            const float v = fy * fy * (3.0f - 2.0f * fy);
            const float amp = tables.amplitude[k];
            const int columns = w.columns[k];
            float* const g0x = w.g0x[k];
            float* const g0y = w.g0y[k];
            float* const g1x = w.g1x[k];
            float* const g1y = w.g1y[k];
            if (w.cachedRow[k] != row) {
                const std::int32_t* const hashed = w.hashed[k];
                for (int j = 0; j < columns; ++j) {
                    const int h0 = (hashed[j] + row) & 255;
                    const int h1 = (hashed[j] + row + 1) & 255;
                    g0x[j] = tables.gradientX[h0];
                    g0y[j] = tables.gradientY[h0];
                    g1x[j] = tables.gradientX[h1];
                    g1y[j] = tables.gradientY[h1];
                }
                w.cachedRow[k] = row;
            }
            // The vertical blend first: along the row, each lattice column is a line in fx.
            for (int j = 0; j < columns; ++j) {
                w.s[j] = g0x[j] + v * (g1x[j] - g0x[j]);
                w.t[j] = g0y[j] * fy + v * (g1y[j] * fy1 - g0y[j] * fy);
            }
            // n = a + fx b + u c + u fx d within the cell of lattice column j.
            for (int j = 0; j + 1 < columns; ++j) {
                w.a[j] = amp * w.t[j];
                w.b[j] = amp * w.s[j];
                w.c[j] = amp * ((w.t[j + 1] - w.t[j]) - w.s[j + 1]);
                w.d[j] = amp * (w.s[j + 1] - w.s[j]);
            }
            const std::int32_t* const relative = w.relative[k];
            const float* const fraction = w.fraction[k];
#if defined(__AVX512F__)
            const __m512 three = _mm512_set1_ps(3.0f);
            const __m512 two = _mm512_set1_ps(2.0f);
            for (int i = 0; i < padded; i += 16) {
                const int base = relative[i];
                const __m512i lane = _mm512_sub_epi32(_mm512_loadu_si512(relative + i), _mm512_set1_epi32(base));
                const __m512 a = _mm512_permutexvar_ps(lane, _mm512_loadu_ps(w.a + base));
                const __m512 b = _mm512_permutexvar_ps(lane, _mm512_loadu_ps(w.b + base));
                const __m512 c = _mm512_permutexvar_ps(lane, _mm512_loadu_ps(w.c + base));
                const __m512 d = _mm512_permutexvar_ps(lane, _mm512_loadu_ps(w.d + base));
                const __m512 fx = _mm512_loadu_ps(fraction + i);
                const __m512 u = _mm512_mul_ps(_mm512_mul_ps(fx, fx), _mm512_sub_ps(three, _mm512_mul_ps(two, fx)));
                const __m512 n =
                    _mm512_add_ps(_mm512_add_ps(_mm512_add_ps(a, _mm512_mul_ps(fx, b)), _mm512_mul_ps(u, c)),
                                  _mm512_mul_ps(_mm512_mul_ps(u, fx), d));
                _mm512_storeu_ps(w.sum + i, _mm512_add_ps(_mm512_loadu_ps(w.sum + i), n));
            }
#else
            for (int i = 0; i < padded; i += 16) {
                const int base = relative[i];
                CInt16 lane;
                std::memcpy(&lane, relative + i, sizeof lane);
                lane -= base;
                CVec16 a, b, c, d, fx, sum;
                std::memcpy(&a, w.a + base, sizeof a);
                std::memcpy(&b, w.b + base, sizeof b);
                std::memcpy(&c, w.c + base, sizeof c);
                std::memcpy(&d, w.d + base, sizeof d);
                std::memcpy(&fx, fraction + i, sizeof fx);
                std::memcpy(&sum, w.sum + i, sizeof sum);
                a = __builtin_shuffle(a, lane);
                b = __builtin_shuffle(b, lane);
                c = __builtin_shuffle(c, lane);
                d = __builtin_shuffle(d, lane);
                const CVec16 u = fx * fx * (3.0f - 2.0f * fx);
                sum += ((a + fx * b) + u * c) + (u * fx) * d;
                std::memcpy(w.sum + i, &sum, sizeof sum);
            }
#endif
        }
        const float gain = tables.gain;
        std::uint8_t grey[CCloudScratch::kTile];
        for (int i = 0; i < padded; ++i) {
            float g = w.sum[i] * gain + 128.5f;
            g = g < 0.0f ? 0.0f : g > 255.0f ? 255.0f : g;
            grey[i] = static_cast<std::uint8_t>(static_cast<int>(g));
        }
        std::uint8_t* const out = target + y * pitch + 3 * static_cast<std::ptrdiff_t>(tileX);
        if (source) {
            const std::uint8_t* const in = source + y * pitch + 3 * static_cast<std::ptrdiff_t>(tileX);
            for (int i = 0; i < tileWidth; ++i)
                for (int ch = 0; ch < 3; ++ch) {
                    const int difference = in[3 * i + ch] - grey[i];
                    out[3 * i + ch] = static_cast<std::uint8_t>(difference < 0 ? -difference : difference);
                }
        } else {
            for (int i = 0; i < tileWidth; ++i) out[3 * i] = out[3 * i + 1] = out[3 * i + 2] = grey[i];
        }
    }
}

} // namespace
