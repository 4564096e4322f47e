#pragma once

#include <functional>

// Splits [begin, end) into one contiguous block per core and runs `body(blockBegin, blockEnd)` on
// each, the calling thread taking the first block. Only for work whose result does not depend on
// the order in which the blocks run. If the shared workers are already busy (a preview rendering
// and an interface-thread operation at the same time), the whole range runs on the calling thread.
void ParallelFor(int begin, int end, const std::function<void(int, int)>& body);

// Number of threads ParallelFor spreads work over (at least 1).
int ParallelThreadCount();
