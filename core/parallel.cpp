#include "core/parallel.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace {

// Set while a thread runs a block of a ParallelFor. A nested call from inside a block must not try
// the pool's lock again (locking a mutex the thread already holds is undefined), so it runs inline.
thread_local bool t_insideBlock = false;

// A fixed set of helper threads, created on first use and kept for the life of the process.
class CWorkerPool
{
public:
    CWorkerPool()
    {
        const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
        const unsigned helpers = std::min(cores, 16u) - 1;
        for (unsigned i = 0; i < helpers; ++i)
            m_threads.emplace_back([this, i] { Loop(i + 1); });
    }

    ~CWorkerPool()
    {
        {
            std::lock_guard lock(m_mutex);
            m_quit = true;
        }
        m_wake.notify_all();
        for (auto& t : m_threads) t.join();
    }

    int ThreadCount() const { return static_cast<int>(m_threads.size()) + 1; }

    bool TryRun(int begin, int end, const std::function<void(int, int)>& body)
    {
        std::unique_lock busy(m_busy, std::try_to_lock);
        if (!busy.owns_lock()) return false;
        const int parts = ThreadCount();
        {
            std::lock_guard lock(m_mutex);
            m_body = &body;
            m_begin = begin;
            m_end = end;
            m_parts = parts;
            m_pending = parts - 1;
            ++m_generation;
        }
        m_wake.notify_all();
        RunPart(0);
        std::unique_lock lock(m_mutex);
        m_done.wait(lock, [this] { return m_pending == 0; });
        m_body = nullptr;
        return true;
    }

private:
    void RunPart(int index)
    {
        const long long span = static_cast<long long>(m_end) - m_begin;
        const int from = m_begin + static_cast<int>(span * index / m_parts);
        const int to = m_begin + static_cast<int>(span * (index + 1) / m_parts);
        if (from < to) {
            t_insideBlock = true;
            (*m_body)(from, to);
            t_insideBlock = false;
        }
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
            RunPart(index);
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
    const std::function<void(int, int)>* m_body = nullptr;
    int m_begin = 0;
    int m_end = 0;
    int m_parts = 1;
    int m_pending = 0;
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

void ParallelFor(int begin, int end, const std::function<void(int, int)>& body)
{
    if (begin >= end) return;
    if (end - begin == 1 || t_insideBlock || Pool().ThreadCount() == 1 || !Pool().TryRun(begin, end, body))
        body(begin, end);
}
