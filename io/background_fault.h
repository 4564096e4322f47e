#pragma once

#include <atomic>
#include <cstddef>
#include <thread>

namespace orvex_memory {

// Faults in the pages of [start, start + bytes) on a thread of its own, from the lowest address up,
// while the caller fills the range from the top down (a decoder writing a bottom-up picture from
// its top row): the kernel zeroes each fresh page where it is first touched, and that work then
// runs on another core instead of in the decoder's way. Only pages are added; no byte is written,
// so it never disturbs what the caller has filled. The destructor stops and waits for the thread.
// Nothing is started on one core (or a thread held to one, see CThreadShareScope) or for a small
// range.
class CBackgroundFault
{
public:
    CBackgroundFault(const void* start, std::size_t bytes);
    ~CBackgroundFault();
    CBackgroundFault(const CBackgroundFault&) = delete;
    CBackgroundFault& operator=(const CBackgroundFault&) = delete;

private:
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

} // namespace orvex_memory
