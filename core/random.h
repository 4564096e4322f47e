#pragma once

#include <cstdint>

// The random source of the noise and flare effects: a linear congruential generator with one 32-bit
// state per thread (state = state * 214013 + 2531011, result bits 16..30). Per-thread state means a
// preview rendering on a worker thread and a run on the interface thread never disturb each other's
// sequence.
namespace orvex_random {

void Seed(std::uint32_t seed);
// Next value in 0..32767.
int Next();

} // namespace orvex_random
