#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

// The resampler's loops over whole rows, compiled into the baseline kernel and, on x86-64, into an
// AVX2 one chosen at run time. Internal linkage keeps the two builds apart; the arithmetic is
// element by element (no fused multiply-add, no reordering), so both give the same bytes.
namespace {

// Rounds a blended value to a byte. Weights are never negative and add up to 1, so the value
// cannot fall below 0 and can pass 255 only by a rounding error; the plain form lets the compiler
// convert whole vectors at once.
[[maybe_unused]] inline std::uint8_t ToByte(float v)
{
    return static_cast<std::uint8_t>(static_cast<int>(std::min(v + 0.5f, 255.0f)));
}

// The two row loops that run over whole rows: separate functions with unaliased pointers and a
// count held by value, so that the byte stores cannot be taken to change the bounds and the loops
// become vector code.
[[maybe_unused]] void AccumulateRow(float* __restrict acc, const std::uint8_t* __restrict in, float weight, std::size_t n)
{
    for (std::size_t i = 0; i < n; ++i) acc[i] += weight * in[i];
}

[[maybe_unused]] void BlendRows(const float* __restrict r0, const float* __restrict r1, float w0, float w1,
               std::uint8_t* __restrict out, std::size_t n)
{
    for (std::size_t i = 0; i < n; ++i) out[i] = ToByte(0.0f + w0 * r0[i] + w1 * r1[i]);
}

} // namespace
