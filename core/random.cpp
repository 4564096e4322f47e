#include "core/random.h"

namespace orvex_random {
namespace {
thread_local std::uint32_t t_state = 1;
}

void Seed(std::uint32_t seed)
{
    t_state = seed;
}

int Next()
{
    t_state = t_state * 214013u + 2531011u;
    return static_cast<int>((t_state >> 16) & 0x7FFFu);
}

} // namespace orvex_random
