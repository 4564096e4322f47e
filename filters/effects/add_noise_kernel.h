#pragma once

// What add noise shares with its vector kernels (add_noise_avx2.cpp, add_noise_avx512.cpp), which
// are compiled for wider instruction sets than the rest of the engine and only called after the
// processor has been checked. The structures here carry data only; their member functions are
// defined in add_noise.cpp, and the helpers have internal linkage, so that the linker can never
// pick a copy built for a wider instruction set for the baseline code.

#include "core/random.h"

#include <algorithm>
#include <cstdint>

namespace orvex_noise {

using orvex_random::CLcgStep;

// Noise beyond +-255 clamps every byte alike, so values are held there and fit 16 bits.
constexpr int kNoiseLimit = 255;

namespace {

inline std::int16_t HeldNoise(double scaledNoise)
{
    const int n = static_cast<int>(scaledNoise);
    return static_cast<std::int16_t>(std::clamp(n, -kNoiseLimit, kNoiseLimit));
}

} // namespace

// Everything a draw can map to, worked out once per run: the uniform noise of draw d is
// uniform[d % 2000]; the Gaussian one is trunc(s * radius[d1 % 1000] * angle[d2 % 1000]), with the
// product formed as sqrt(-2 ln u1) * cos(2 pi u2) first and then scaled, as the formula reads.
struct CNoiseTables
{
    double scale = 0.0;
    std::int16_t uniform[2001] = {};   // the last is padding for the gathers, which read dwords
    std::int32_t uniform32[2000] = {}; // the same, for gathers
    double radius[1000] = {};
    double angle[1000] = {};

    explicit CNoiseTables(float s);
};

// |uniform noise| of draw d as a function of a = |d mod 2000 - 1000|, in 16-bit lanes:
// g(a) = (a * high + ((a * low) >> 16)) >> shift = floor(a * (high * 65536 + low) / 2^(16 + shift)),
// with a first held at `limit`, where the noise reaches 255 and stays. The double products the
// plain path truncates are not exactly a * s / 1000, so the constant is not taken from s but
// derived from the run's table: every index gives an interval of constants that reproduce its
// value, and any constant in all of them reproduces the table. Where the two signs round apart or
// no 16-bit constant fits (a negative or enormous amount), the table is looked up instead.
struct CUniformFormula
{
    bool exact = false;
    bool brief = false; // g(a) = (a * low >> 16) >> shift
    std::uint16_t high = 0;
    std::uint16_t low = 0;
    std::uint16_t shift = 0;
    std::uint16_t limit = 1000;

    // What the vector code computes for index i (0..1999), before the packs clamp it to +-255.
    int Noise(int i) const;

    CUniformFormula() = default; // not exact: for Gaussian runs, which have no use for it
    explicit CUniformFormula(const std::int16_t* table);
};

struct CDrawSteps;
// Noise of a row's first pixels, eight at a time (add_noise_avx2.cpp); returns how many pixels it
// did and leaves in `state` the generator state of the first pixel it did not do.
using CNoiseRowPart = int (*)(std::uint32_t& state, CLcgStep column, const CDrawSteps& steps, const CNoiseTables& t,
                              int width, std::int16_t* out);

struct CDrawSteps
{
    CLcgStep draw[7];                         // draw t (1..6) of a pixel from the pixel's state
    CLcgStep eight;                           // eight columns on
    CNoiseRowPart avx2 = nullptr;             // the vector part of every row, if any
    const CUniformFormula* formula = nullptr; // exact, or null to look uniform noise up
};

// Degree 6 would cut the radius error from 2e-6 to 4e-7 and the values done the plain way by four,
// but costs more than those few values.
constexpr int kRadiusDegree = 5;

struct CGaussianShape
{
    alignas(64) float coefficient[kRadiusDegree + 1][32] = {}; // squared radius of 32h + l: sum c[k][h] l^k
    alignas(64) float firstRadius[32] = {};                    // radius of draws 0 .. 31
    alignas(64) float cosHigh[32] = {};
    alignas(64) float sinHigh[32] = {};
    alignas(64) float cosLow[32] = {};
    alignas(64) float sinLow[32] = {};
    double largestRadius = 0.0; // of the unscaled radius
    double radiusError = 1.0;   // relative
    double angleError = 1.0;    // absolute

    CGaussianShape() = default;
    explicit CGaussianShape(bool fitted); // the tables, fitted and measured
};

// Everything the rows of one run share.
struct CWideRun
{
    alignas(64) std::uint32_t firstMultiplier[64] = {}; // a row's first pixel to its pixel p
    alignas(64) std::uint32_t firstIncrement[64] = {};
    CLcgStep block;   // 64 columns on
    CLcgStep draw[7]; // draw t of a pixel from its state
    CUniformFormula formula;
    const std::int16_t* lookup = nullptr; // 2000 uniform or 1000 x 1000 Gaussian values
    const CNoiseTables* tables = nullptr;
    CGaussianShape shape;       // scaled by the run's s
    float gaussianBound = 0.0f; // relative; 0: look the noise up

    void PrepareGaussian(float s);
    CWideRun(CLcgStep column, const CNoiseTables& t, bool uniform);
};

enum class CNoiseKind { kUniformBrief, kUniformFormula, kUniformLookup, kGaussian, kGaussianLookup };

using CWideRowFn = void (*)(std::uint32_t, const CWideRun&, const std::uint8_t*, std::uint8_t*, int);

// add_noise_avx2.cpp
CNoiseRowPart NoiseRowAvx2(bool uniform, bool monochromatic);
void AddNoiseToRowAvx2(const std::uint8_t* in, const std::int16_t* noise, std::uint8_t* out, int bytes);
void AddNoiseInPlaceAvx2(std::uint8_t* row, const std::int16_t* noise, int bytes);

// add_noise_avx512.cpp
// The vector code's radius and angle of every draw 0..999 (the arrays padded to whole vectors).
void EvaluateShape(const CGaussianShape& g, float (&radius)[1008], float (&angle)[1008]);
CWideRowFn WideRowFunction(CNoiseKind kind, bool monochromatic);
// The held Gaussian noise of draws (i, j), at i * 1000 + j: the same products as the plain path,
// eight at a time. One padding value follows, as the gathers read a dword for each 16-bit value.
void GaussianRows(const CNoiseTables& t, int i0, int i1, std::int16_t* table);
// The noise words the rows would add, for the tests: every 15-bit draw, or the given draw pairs.
void WideUniformDraws(const CUniformFormula& f, std::int16_t* noise);
void WideGaussianPairs(const CWideRun& run, const std::uint16_t* i, const std::uint16_t* j, int count,
                       std::int16_t* noise);

} // namespace orvex_noise
