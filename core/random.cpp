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

std::uint32_t State()
{
    return t_state;
}

CLcgStep CLcgStep::Of(std::uint64_t n)
{
    // Square-and-multiply on affine maps: `power` is the map of 2^k steps, `result` collects the
    // powers whose bits are set in n. Affine maps of one generator commute, so order is free.
    CLcgStep result;
    CLcgStep power{CLcg::kMultiplier, CLcg::kIncrement};
    while (n) {
        if (n & 1u) result = {power.multiplier * result.multiplier, power.multiplier * result.increment + power.increment};
        power = {power.multiplier * power.multiplier, power.multiplier * power.increment + power.increment};
        n >>= 1;
    }
    return result;
}

} // namespace orvex_random
