#pragma once

#include <cstdint>

// Pieces of the effects shared with their tests; not part of the engine's interface.
namespace orvex_testing {
// How add noise computes its rows: the best the processor has, one pixel at a time, eight at a
// time (AVX2), or 64 at a time (AVX-512) with the noise looked up or computed.
enum class NoiseKernel : int { kBest = -1, kScalar, kAvx2, kAvx512Lookup, kAvx512 };
// Returns false (and changes nothing) if the processor lacks what the kernel needs.
bool UseNoiseKernel(NoiseKernel kernel);

// The clamped noise the AVX-512 rows add at scale s (amount * 1.28) without lookups: for every
// 15-bit draw (32768 values), or for `count` (a multiple of 32) Gaussian draw pairs i, j (0..999).
// False where the processor lacks AVX-512 or that noise would be looked up at this scale.
bool WideUniformNoise(float scale, std::int16_t* noise);
bool WideGaussianNoise(float scale, const std::uint16_t* i, const std::uint16_t* j, int count, std::int16_t* noise);
// Red-eye reduction runs the plain kernel (0), the AVX2 one (1) or the AVX-512 one (2), or picks
// the widest the processor has (-1). Returns false if the processor lacks the one asked for.
bool UseRedEyeKernel(int level);
// Fragment averages 16 (SSE2), 32 (AVX2) or 64 (AVX-512) bytes at a time, or the widest the
// processor has. Returns false (and changes nothing) if the processor lacks the one asked for.
enum class FragmentKernel : int { kBest = -1, kSse2, kAvx2, kAvx512 };
bool UseFragmentKernel(FragmentKernel kernel);
} // namespace orvex_testing
