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
// The calling thread's state: the seed just given, or where the last draw left it.
std::uint32_t State();

// n steps of the generator as one affine map, state -> multiplier * state + increment (mod 2^32).
struct CLcgStep
{
    std::uint32_t multiplier = 1;
    std::uint32_t increment = 0;

    std::uint32_t Apply(std::uint32_t state) const { return multiplier * state + increment; }
    // The map of `n` steps, in O(log n) compositions.
    static CLcgStep Of(std::uint64_t n);
};

// The same sequence as the per-thread generator, held by value, so that work split between cores
// can start each share of the draws where the single sequence would be at that point.
class CLcg
{
public:
    static constexpr std::uint32_t kMultiplier = 214013u;
    static constexpr std::uint32_t kIncrement = 2531011u;

    explicit CLcg(std::uint32_t state) : m_state(state) {}
    int Next()
    {
        m_state = m_state * kMultiplier + kIncrement;
        return static_cast<int>((m_state >> 16) & 0x7FFFu);
    }
    // Skips `n` draws.
    void JumpAhead(std::uint64_t n) { m_state = CLcgStep::Of(n).Apply(m_state); }
    std::uint32_t state() const { return m_state; }

private:
    std::uint32_t m_state;
};

// Draws made so far inside a ParallelFor body, in any thread: always 0 in a correct program.
long long MisplacedDraws();

} // namespace orvex_random
