#pragma once

#include <functional>
#include <memory>
#include <type_traits>

// What ParallelFor runs: a reference to the caller's callable, which outlives the call. Unlike a
// std::function it never allocates, so an operation that starts a ParallelFor after it has begun
// writing its picture cannot fail half way for want of a few bytes.
class CBlockBody
{
public:
    template <class F, class = std::enable_if_t<!std::is_same_v<std::decay_t<F>, CBlockBody>>>
    CBlockBody(F&& body) noexcept // NOLINT: implicit, so that a lambda can be passed as it is
        : m_body(const_cast<void*>(static_cast<const void*>(std::addressof(body)))),
          m_call([](void* target, int from, int to) { (*static_cast<std::remove_reference_t<F>*>(target))(from, to); })
    {
    }
    void operator()(int from, int to) const { m_call(m_body, from, to); }

private:
    void* m_body;
    void (*m_call)(void*, int, int);
};

// Splits [begin, end) into several blocks per core, which the cores take one after another as
// they get free, and runs `body(blockBegin, blockEnd)` on each; the calling thread takes part.
// A core slowed down by other work then costs only its share of the blocks, not half the time.
// Only for work whose result depends neither on the order in which the blocks run nor on where
// the range is split (per-block state must not carry into the result). If the shared workers are
// already busy (a preview rendering and an interface-thread operation at the same time), the whole
// range runs on the calling thread as one block. An exception thrown by `body` stops the handing
// out of blocks and is rethrown on the calling thread once the blocks already running have ended.
void ParallelFor(int begin, int end, CBlockBody body);

// Number of threads ParallelFor spreads work over when called on this thread (at least 1).
int ParallelThreadCount();

// Limits the ParallelFor calls made on the calling thread to `threads` threads (0 or less: no
// limit of its own) until the scope ends. Several pictures worked on at once, each on a thread of
// its own, would otherwise each ask every core for its blocks. With 1, every ParallelFor on the
// thread runs inline as one block.
class CThreadShareScope
{
public:
    explicit CThreadShareScope(int threads);
    ~CThreadShareScope();
    CThreadShareScope(const CThreadShareScope&) = delete;
    CThreadShareScope& operator=(const CThreadShareScope&) = delete;

private:
    int m_previous;
};

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
