#include "core/random.h"

#include "core/parallel.h"

#include <atomic>

namespace orvex_random {
namespace {
thread_local std::uint32_t t_state = 1;
std::atomic<long long> g_misplaced{0};
}

void Seed(std::uint32_t seed)
{
    t_state = seed;
}

int Next()
{
    if (InsideParallelBlock()) g_misplaced.fetch_add(1, std::memory_order_relaxed);
    t_state = t_state * 214013u + 2531011u;
    return static_cast<int>((t_state >> 16) & 0x7FFFu);
}

long long MisplacedDraws()
{
    return g_misplaced.load(std::memory_order_relaxed);
}

} // namespace orvex_random
