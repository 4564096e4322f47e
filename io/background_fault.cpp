#include "io/background_fault.h"

#include "core/huge_pages.h"
#include "core/parallel.h"

#include <algorithm>
#include <cstdint>
#include <system_error>

#include <sys/mman.h>
#include <unistd.h>

namespace orvex_memory {

CBackgroundFault::CBackgroundFault(const void* start, std::size_t bytes)
{
#ifdef MADV_POPULATE_WRITE
    constexpr std::size_t kWorthIt = std::size_t(16) << 20;
    if (!start || bytes < kWorthIt || ParallelThreadCount() < 2) return;
    const long pageSize = sysconf(_SC_PAGESIZE);
    const auto page = static_cast<std::uintptr_t>(pageSize > 0 ? pageSize : 4096);
    const auto first = (reinterpret_cast<std::uintptr_t>(start) + page - 1) & ~(page - 1);
    const auto end = (reinterpret_cast<std::uintptr_t>(start) + bytes) & ~(page - 1);
    if (end <= first) return;
    try {
        m_thread = std::thread([this, first, end] {
            for (std::uintptr_t at = first; at < end && !m_stop.load(std::memory_order_relaxed); at += kHugePage) {
                // Kernels without the advice refuse it; the caller's own faults then do the work.
                if (madvise(reinterpret_cast<void*>(at), std::min<std::uintptr_t>(kHugePage, end - at),
                            MADV_POPULATE_WRITE) != 0)
                    break;
            }
        });
    } catch (const std::system_error&) {
        // No thread to be had: the caller faults its pages in itself, as it would anyway.
    }
#else
    (void)start;
    (void)bytes;
#endif
}

CBackgroundFault::~CBackgroundFault()
{
    m_stop.store(true, std::memory_order_relaxed);
    if (m_thread.joinable()) m_thread.join();
}

} // namespace orvex_memory
