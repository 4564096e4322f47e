#pragma once

// Pieces of the effects shared with their tests; not part of the engine's interface.
namespace orvex_testing {
// Add noise draws eight pixels at a time where the processor has AVX2 (true) or one at a time
// (false). Returns false if the vector path was asked for and the processor lacks AVX2.
bool UseVectorNoise(bool vector);
} // namespace orvex_testing
