#pragma once

// Pieces of the effects shared with their tests; not part of the engine's interface.
namespace orvex_testing {
// How add noise computes its rows: the best the processor has, one pixel at a time, eight at a
// time (AVX2), or 64 at a time (AVX-512) with the noise looked up or computed.
enum class NoiseKernel : int { kBest = -1, kScalar, kAvx2, kAvx512Lookup, kAvx512 };
// Returns false (and changes nothing) if the processor lacks what the kernel needs.
bool UseNoiseKernel(NoiseKernel kernel);
} // namespace orvex_testing
