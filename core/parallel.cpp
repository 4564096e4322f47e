#include "core/parallel.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include <pthread.h>

namespace {

// Blocks per participating thread: enough that a thread slowed by other work hands most of its
// share to the others, few enough that taking a block costs nothing next to running it.
constexpr int kBlocksPerThread = 8;

// Set while a thread runs a block of a ParallelFor. A nested call from inside a block must not try
// the pool's lock again (locking a mutex the thread already holds is undefined), so it runs inline.
thread_local bool t_insideBlock = false;
thread_local int t_slot = 0;
// Bodies of ParallelFor being run by this thread, however they were reached (a pool block or the
// whole range inline).
thread_local int t_bodyDepth = 0;
// The calling thread's own share of the cores (CThreadShareScope); 0 when it has none.
thread_local int t_threadShare = 0;

std::atomic<int> g_threadLimit{0};
// Raised in the child of a fork() made after the pool started. The child has only the thread that
// forked: the helpers stay in the parent, and handing them blocks would wait for ever (a script's
// process pool forking after an operation ran). There every ParallelFor runs on the calling thread.
std::atomic<bool> g_forkedChild{false};
std::atomic<int> g_lastBlocks{1};

// A fixed set of helper threads, created on first use and kept for the life of the process.
class CWorkerPool
{
public:
    CWorkerPool()
    {
        const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
        const unsigned helpers = std::min(cores, 16u) - 1;
        for (unsigned i = 0; i < helpers; ++i)
            m_threads.emplace_back([this, i] { Loop(static_cast<int>(i) + 1); });
        pthread_atfork(nullptr, nullptr, [] { g_forkedChild.store(true); });
    }

    ~CWorkerPool()
    {
        if (g_forkedChild.load()) {
            // The handles name the parent's threads: joining them here is undefined, and a joinable
            // std::thread may not be destroyed. They are left as they are.
            static const auto* const parentThreads = new std::vector<std::thread>(std::move(m_threads));
            (void)parentThreads;
            return;
        }
        {
            std::lock_guard lock(m_mutex);
            m_quit = true;
        }
        m_wake.notify_all();
        for (auto& t : m_threads) t.join();
    }

    int ThreadCount() const
    {
        const int all = static_cast<int>(m_threads.size()) + 1;
        int count = all;
        if (const int limit = g_threadLimit.load(); limit > 0) count = std::min(count, limit);
        if (t_threadShare > 0) count = std::min(count, t_threadShare);
        return count;
    }

    bool TryRun(int begin, int end, const CBlockBody& body)
    {
        if (g_forkedChild.load(std::memory_order_relaxed)) return false;
        std::unique_lock busy(m_busy, std::try_to_lock);
        if (!busy.owns_lock()) return false;
        const int parts = ThreadCount();
        const long long span = static_cast<long long>(end) - begin;
        const int blocks = static_cast<int>(std::min<long long>(span, static_cast<long long>(parts) * kBlocksPerThread));
        g_lastBlocks.store(blocks);
        {
            std::lock_guard lock(m_mutex);
            m_body = &body;
            m_begin = begin;
            m_span = span;
            m_blocks = blocks;
            m_parts = parts;
            m_next.store(0);
            m_pending = static_cast<int>(m_threads.size());
            ++m_generation;
        }
        m_wake.notify_all();
        RunBlocks(0);
        std::unique_lock lock(m_mutex);
        m_done.wait(lock, [this] { return m_pending == 0; });
        m_body = nullptr;
        if (m_error) std::rethrow_exception(std::exchange(m_error, nullptr));
        return true;
    }

private:
    void RunBlocks(int slot)
    {
        if (slot >= m_parts) return;
        t_insideBlock = true;
        t_slot = slot;
        for (;;) {
            const int block = m_next.fetch_add(1);
            if (block >= m_blocks) break;
            const int from = m_begin + static_cast<int>(m_span * block / m_blocks);
            const int to = m_begin + static_cast<int>(m_span * (block + 1) / m_blocks);
            if (from >= to) continue;
            ++t_bodyDepth;
            try {
                (*m_body)(from, to);
            } catch (...) {
                // Unwinding a helper thread would end the program: the first exception is kept
                // for the calling thread and no further block is started.
                std::lock_guard lock(m_mutex);
                if (!m_error) m_error = std::current_exception();
                m_next.store(m_blocks);
            }
            --t_bodyDepth;
        }
        t_insideBlock = false;
        t_slot = 0;
    }

    void Loop(int index)
    {
        unsigned long long seen = 0;
        for (;;) {
            {
                std::unique_lock lock(m_mutex);
                m_wake.wait(lock, [&] { return m_quit || m_generation != seen; });
                if (m_quit) return;
                seen = m_generation;
            }
            RunBlocks(index);
            {
                std::lock_guard lock(m_mutex);
                --m_pending;
            }
            m_done.notify_one();
        }
    }

    std::vector<std::thread> m_threads;
    std::mutex m_busy;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_done;
    const CBlockBody* m_body = nullptr;
    int m_begin = 0;
    long long m_span = 0;
    int m_blocks = 1;
    int m_parts = 1;
    std::atomic<int> m_next{0};
    int m_pending = 0;
    std::exception_ptr m_error;
    unsigned long long m_generation = 0;
    bool m_quit = false;
};

CWorkerPool& Pool()
{
    static CWorkerPool pool;
    return pool;
}

} // namespace

int ParallelThreadCount()
{
    return Pool().ThreadCount();
}

int ParallelSlot()
{
    return t_slot;
}

bool InsideParallelBlock()
{
    return t_bodyDepth > 0;
}

void ParallelFor(int begin, int end, CBlockBody body)
{
    if (begin >= end) return;
    if (end - begin == 1 || t_insideBlock || Pool().ThreadCount() == 1 || !Pool().TryRun(begin, end, body)) {
        if (!t_insideBlock) g_lastBlocks.store(1);
        struct CDepth
        {
            CDepth() { ++t_bodyDepth; }
            ~CDepth() { --t_bodyDepth; }
            CDepth(const CDepth&) = delete;
            CDepth& operator=(const CDepth&) = delete;
        } depth;
        body(begin, end);
    }
}

CThreadShareScope::CThreadShareScope(int threads) : m_previous(t_threadShare)
{
    t_threadShare = threads > 0 ? threads : 0;
}

CThreadShareScope::~CThreadShareScope()
{
    t_threadShare = m_previous;
}

void orvex_testing::LimitParallelThreads(int threads)
{
    g_threadLimit.store(threads > 0 ? threads : 0);
}

int orvex_testing::LastParallelBlockCount()
{
    return g_lastBlocks.load();
}
