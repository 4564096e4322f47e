#pragma once

// Pieces of the effects shared with their tests; not part of the engine's interface.
namespace orvex_testing {
// Add noise draws eight pixels at a time where the processor has AVX2 (true) or one at a time
// (false). Returns false if the vector path was asked for and the processor lacks AVX2.
bool UseVectorNoise(bool vector);
// Red-eye reduction runs the plain kernel (0), the AVX2 one (1) or the AVX-512 one (2), or picks
// the widest the processor has (-1). Returns false if the processor lacks the one asked for.
bool UseRedEyeKernel(int level);
} // namespace orvex_testing
