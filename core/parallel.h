#pragma once

#include <functional>

// Splits [begin, end) into several blocks per core, which the cores take one after another as
// they get free, and runs `body(blockBegin, blockEnd)` on each; the calling thread takes part.
// A core slowed down by other work then costs only its share of the blocks, not half the time.
// Only for work whose result depends neither on the order in which the blocks run nor on where
// the range is split (per-block state must not carry into the result). If the shared workers are
// already busy (a preview rendering and an interface-thread operation at the same time), the whole
// range runs on the calling thread as one block.
void ParallelFor(int begin, int end, const std::function<void(int, int)>& body);

// Number of threads ParallelFor spreads work over (at least 1).
int ParallelThreadCount();

// Inside a block: the index (0 .. ParallelThreadCount() - 1) of the thread running it, the same
// for every block that thread runs during one ParallelFor, and never the index of another thread
// running at the same time. Scratch kept per thread can be picked with it. 0 outside a block.
int ParallelSlot();

// True while the calling thread runs a block of a ParallelFor.
bool InsideParallelBlock();

namespace orvex_testing {
// Spreads work over at most `threads` threads (the machine's count again with 0 or less).
void LimitParallelThreads(int threads);
// Blocks the last ParallelFor was split into (1 when it ran on the calling thread alone).
int LastParallelBlockCount();
} // namespace orvex_testing
