#pragma once

#include <cstddef>
#include <string_view>

// Large anonymous mappings for pictures and work buffers: aligned to 2 MB so that the kernel can
// back them with transparent huge pages, and marked MADV_HUGEPAGE only as far as a fault in them
// cannot stall.
//
// With `defrag` at `madvise` (Debian's default), `defer+madvise` or `always`, a fault in a marked
// region that finds no free 2 MB block compacts and reclaims memory there and then. On a desktop
// whose memory is fragmented by the page cache, that cost seconds of system time per photo-sized
// buffer. So, where the kernel would stall, only as many huge pages are marked as there are free
// 2 MB blocks now, less those already marked in live mappings and a reserve for everyone else; the
// rest of the mapping gets small pages at once. Where it would not stall (`defer`, `never`), the
// whole mapping is marked; where marking adds nothing (`enabled` at `always` or `never`), none is.
//
// Thread-safe. Mappings stay valid until unmapped here; the memory arrives zero-filled.
namespace orvex_memory {

constexpr std::size_t kHugePage = std::size_t(2) << 20;

enum class CHugePageAdvice
{
    None,          // marking gains nothing, or the kernel gives huge pages without it
    Whole,         // a fault in a marked region never compacts synchronously
    FreeBlocksOnly // it may: mark no more than the free blocks cover
};

// From the contents of /sys/kernel/mm/transparent_hugepage/{enabled,defrag}, the selected word in
// brackets. Unreadable or unknown settings keep the whole mapping marked (no huge pages at all
// there, or a kernel whose behaviour we do not know to stall).
CHugePageAdvice AdviceFor(std::string_view enabled, std::string_view defrag);

// Free 2 MB blocks listed in the text of /proc/buddyinfo, larger blocks counted in 2 MB units. The
// DMA zone is left out: huge pages never come from it.
std::size_t FreeHugeBlocks(std::string_view buddyinfo);

// Huge pages to mark at the start of a mapping of `pages` huge pages.
std::size_t PagesToMark(CHugePageAdvice advice, std::size_t pages, std::size_t freeBlocks, std::size_t markedLive);

// A zero-filled mapping of `bytes` rounded up to whole huge pages, 2 MB aligned; nullptr when the
// memory cannot be had.
void* MapHugeAligned(std::size_t bytes);
// Gives back the whole mapping that starts at `start`; false (and nothing done) when no mapping
// made here starts there.
bool Unmap(void* start);
// Gives back all of the mapping at `start` beyond its first `bytes` rounded up to huge pages.
void TrimTo(void* start, std::size_t bytes);

// Huge pages marked in live mappings; for tests.
std::size_t MarkedPages();

} // namespace orvex_memory

// Makes the next mappings follow `advice` with `freeBlocks` free, instead of reading the system's
// settings; with `use` false the system's are read again.
namespace orvex_testing {
void UseHugePageSettings(bool use, orvex_memory::CHugePageAdvice advice = {}, std::size_t freeBlocks = 0);
} // namespace orvex_testing
