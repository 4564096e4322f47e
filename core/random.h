#pragma once

#include <cstdint>

// The random source of the noise and flare effects: a linear congruential generator with one 32-bit
// state per thread (state = state * 214013 + 2531011, result bits 16..30). Per-thread state means a
// preview rendering on a worker thread and a run on the interface thread never disturb each other's
// sequence.
//
// Rule: every draw of one run is made on the thread that seeded it, in the run's pixel order,
// never inside a ParallelFor body. ParallelFor's helper threads have states of their own that the
// seed never reaches, and which block a draw falls in changes with the machine's load, so a draw
// there would make the picture depend on timing. Work that wants several threads must derive each
// block's values from the seed itself (jumping the sequence ahead to the block's first draw), not
// draw here. A draw made inside a ParallelFor body is counted (MisplacedDraws) and the tests fail on it.
namespace orvex_random {

void Seed(std::uint32_t seed);
// Next value in 0..32767.
int Next();

// Draws made so far inside a ParallelFor body, in any thread: always 0 in a correct program.
long long MisplacedDraws();

} // namespace orvex_random
