#include "core/huge_pages.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <map>
#include <mutex>
#include <new>
#include <string>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

namespace orvex_memory {
namespace {

// Left to other processes and the kernel's own watermarks: taking the last free blocks would send
// the next fault, ours or anyone's, into reclaim.
constexpr std::size_t kReservedBlocks = 64;

std::string_view Selected(std::string_view setting)
{
    const std::size_t open = setting.find('[');
    if (open == std::string_view::npos) return {};
    const std::size_t close = setting.find(']', open);
    if (close == std::string_view::npos) return {};
    return setting.substr(open + 1, close - open - 1);
}

std::string ReadSmallFile(const char* path)
{
    std::string text;
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return text;
    char chunk[4096];
    for (;;) {
        const ssize_t got = read(fd, chunk, sizeof chunk);
        if (got <= 0 || text.size() > 65536) break;
        text.append(chunk, static_cast<std::size_t>(got));
    }
    close(fd);
    return text;
}

struct CMapping
{
    std::size_t length = 0;
    std::size_t markedPages = 0;
};

// Every mapping made here, so that buffers can be given back by their start alone and so that the
// huge pages already marked are known when the next mapping is marked.
class CRegistry
{
public:
    std::mutex mutex;
    std::map<std::uintptr_t, CMapping> mappings;
    std::size_t markedPages = 0;
    bool overridden = false;
    CHugePageAdvice overrideAdvice = CHugePageAdvice::Whole;
    std::size_t overrideFreeBlocks = 0;
};

CRegistry& Registry()
{
    static CRegistry* const registry = new CRegistry; // never destroyed: pictures may outlive statics
    return *registry;
}

// Caller holds the registry's mutex (so that two mappings made at once do not count the same free
// blocks).
std::size_t MarkFor(CRegistry& registry, std::size_t pages)
{
    if (registry.overridden)
        return PagesToMark(registry.overrideAdvice, pages, registry.overrideFreeBlocks, registry.markedPages);
    const CHugePageAdvice advice = AdviceFor(ReadSmallFile("/sys/kernel/mm/transparent_hugepage/enabled"),
                                             ReadSmallFile("/sys/kernel/mm/transparent_hugepage/defrag"));
    if (advice != CHugePageAdvice::FreeBlocksOnly) return PagesToMark(advice, pages, 0, 0);
    return PagesToMark(advice, pages, FreeHugeBlocks(ReadSmallFile("/proc/buddyinfo")), registry.markedPages);
}

} // namespace

CHugePageAdvice AdviceFor(std::string_view enabled, std::string_view defrag)
{
    const std::string_view use = Selected(enabled);
    if (use == "always" || use == "never") return CHugePageAdvice::None;
    if (use != "madvise") return CHugePageAdvice::Whole;
    const std::string_view compact = Selected(defrag);
    if (compact == "madvise" || compact == "defer+madvise" || compact == "always")
        return CHugePageAdvice::FreeBlocksOnly;
    return CHugePageAdvice::Whole;
}

std::size_t FreeHugeBlocks(std::string_view buddyinfo)
{
    constexpr int kHugeOrder = 9;
    std::size_t blocks = 0;
    while (!buddyinfo.empty()) {
        const std::size_t end = std::min(buddyinfo.find('\n'), buddyinfo.size());
        std::string_view line = buddyinfo.substr(0, end);
        buddyinfo.remove_prefix(std::min(end + 1, buddyinfo.size()));
        const std::size_t zone = line.find("zone");
        if (zone == std::string_view::npos) continue;
        line.remove_prefix(zone + 4);
        // Words: the zone's name, then the free blocks of order 0, 1, 2, ...
        int word = -1;
        while (!line.empty()) {
            const std::size_t start = line.find_first_not_of(" \t");
            if (start == std::string_view::npos) break;
            line.remove_prefix(start);
            const std::size_t length = std::min(line.find_first_of(" \t"), line.size());
            const std::string_view token = line.substr(0, length);
            line.remove_prefix(length);
            if (word == -1) {
                if (token == "DMA") break;
            } else if (word >= kHugeOrder) {
                std::size_t count = 0;
                for (const char c : token) {
                    if (c < '0' || c > '9') break;
                    count = count * 10 + static_cast<std::size_t>(c - '0');
                }
                const int shift = std::min(word - kHugeOrder, 20);
                blocks += count << shift;
            }
            ++word;
        }
    }
    return blocks;
}

std::size_t PagesToMark(CHugePageAdvice advice, std::size_t pages, std::size_t freeBlocks, std::size_t markedLive)
{
    switch (advice) {
    case CHugePageAdvice::None:
        return 0;
    case CHugePageAdvice::Whole:
        return pages;
    case CHugePageAdvice::FreeBlocksOnly:
        break;
    }
    const std::size_t taken = kReservedBlocks + markedLive;
    return freeBlocks > taken ? std::min(pages, freeBlocks - taken) : 0;
}

void* MapHugeAligned(std::size_t bytes)
{
    if (bytes > std::numeric_limits<std::size_t>::max() - 2 * kHugePage) return nullptr;
    const std::size_t length = std::max<std::size_t>((bytes + kHugePage - 1) / kHugePage, 1) * kHugePage;
    void* raw = mmap(nullptr, length + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) return nullptr;
    auto* first = static_cast<std::uint8_t*>(raw);
    auto* aligned = reinterpret_cast<std::uint8_t*>((reinterpret_cast<std::uintptr_t>(first) + kHugePage - 1) &
                                                    ~std::uintptr_t(kHugePage - 1));
    const std::size_t head = static_cast<std::size_t>(aligned - first);
    if (head) munmap(first, head);
    if (kHugePage - head) munmap(aligned + length, kHugePage - head);

    CRegistry& registry = Registry();
    const std::lock_guard lock(registry.mutex);
    const std::size_t marked = MarkFor(registry, length / kHugePage);
    try {
        registry.mappings[reinterpret_cast<std::uintptr_t>(aligned)] = {length, marked};
    } catch (const std::bad_alloc&) {
        munmap(aligned, length);
        return nullptr;
    }
    registry.markedPages += marked;
    if (marked) madvise(aligned, marked * kHugePage, MADV_HUGEPAGE);
    return aligned;
}

bool Unmap(void* start)
{
    CMapping mapping;
    {
        CRegistry& registry = Registry();
        const std::lock_guard lock(registry.mutex);
        const auto it = registry.mappings.find(reinterpret_cast<std::uintptr_t>(start));
        if (it == registry.mappings.end()) return false;
        mapping = it->second;
        registry.mappings.erase(it);
        registry.markedPages -= mapping.markedPages;
    }
    munmap(start, mapping.length);
    return true;
}

void TrimTo(void* start, std::size_t bytes)
{
    const std::size_t kept = (bytes + kHugePage - 1) / kHugePage * kHugePage;
    std::size_t cut = 0;
    {
        CRegistry& registry = Registry();
        const std::lock_guard lock(registry.mutex);
        const auto it = registry.mappings.find(reinterpret_cast<std::uintptr_t>(start));
        if (it == registry.mappings.end() || kept == 0 || kept >= it->second.length) return;
        CMapping& mapping = it->second;
        cut = mapping.length - kept;
        const std::size_t stillMarked = std::min(mapping.markedPages, kept / kHugePage);
        registry.markedPages -= mapping.markedPages - stillMarked;
        mapping.markedPages = stillMarked;
        mapping.length = kept;
    }
    munmap(static_cast<std::uint8_t*>(start) + kept, cut);
}

std::size_t MarkedPages()
{
    CRegistry& registry = Registry();
    const std::lock_guard lock(registry.mutex);
    return registry.markedPages;
}

} // namespace orvex_memory

void orvex_testing::UseHugePageSettings(bool use, orvex_memory::CHugePageAdvice advice, std::size_t freeBlocks)
{
    auto& registry = orvex_memory::Registry();
    const std::lock_guard lock(registry.mutex);
    registry.overridden = use;
    registry.overrideAdvice = advice;
    registry.overrideFreeBlocks = freeBlocks;
}
