#include "core/image.h"

#include "core/huge_pages.h"
#include "core/parallel.h"

#include <cstdlib>
#include <cstring>
#include <limits>
#include <algorithm>
#include <atomic>
#include <mutex>
#include <utility>

namespace {
std::atomic<int> g_allocationsBeforeFailure{-1};

// Photos are mapped on their own, aligned to 2 MB for huge pages where the kernel can give them
// without stalling: a 6000 x 4000 picture then costs 35 page faults instead of 18000 when first
// written, and every pass over it fewer TLB misses. Smaller pictures come from the ordinary heap.
constexpr std::size_t kHugePage = orvex_memory::kHugePage;
constexpr std::size_t kMapThreshold = std::size_t(8) << 20;

std::size_t MappedLength(std::size_t bytes)
{
    return (bytes + kHugePage - 1) / kHugePage * kHugePage;
}

// Operations that change a picture's size free one photo-sized buffer and ask for another moments
// later (the history trims a snapshot, an undo swaps sizes back). Fresh memory costs a page fault
// and a kernel-side zeroing of every byte, as much as the operation's own pass, so the last few
// freed mappings are kept and handed out again. Only a handful, and only while they fit the
// request closely, so the program holds on to little it does not use.
class CFreedMappings
{
public:
    // A kept mapping of at least `length` bytes and not much more, trimmed to `length`; nullptr
    // when none fits.
    void* Take(std::size_t length)
    {
        const std::lock_guard lock(m_mutex);
        for (int i = 0; i < m_count; ++i) {
            CEntry& entry = m_entries[i];
            if (entry.length < length || entry.length - length > Slack(length)) continue;
            void* const start = entry.start;
            m_kept -= entry.length;
            if (entry.length > length) orvex_memory::TrimTo(start, length);
            for (int j = i + 1; j < m_count; ++j) m_entries[j - 1] = m_entries[j];
            --m_count;
            return start;
        }
        return nullptr;
    }

    // Keeps a mapping for later, unmapping the oldest kept ones to make room.
    void Keep(void* start, std::size_t length)
    {
        CEntry evicted[kKept + 1];
        int evictedCount = 0;
        {
            const std::lock_guard lock(m_mutex);
            if (length > kMostKept) {
                evicted[evictedCount++] = {start, length};
            } else {
                while (m_count == kKept || (m_count > 0 && m_kept + length > kMostKept)) {
                    evicted[evictedCount++] = m_entries[0];
                    m_kept -= m_entries[0].length;
                    for (int i = 1; i < m_count; ++i) m_entries[i - 1] = m_entries[i];
                    --m_count;
                }
                m_entries[m_count++] = {start, length};
                m_kept += length;
            }
        }
        for (int i = 0; i < evictedCount; ++i) orvex_memory::Unmap(evicted[i].start);
    }

    // Gives every kept mapping back to the system (before a mapping is refused for want of memory).
    void Release()
    {
        CEntry entries[kKept];
        int count = 0;
        {
            const std::lock_guard lock(m_mutex);
            count = m_count;
            for (int i = 0; i < count; ++i) entries[i] = m_entries[i];
            m_count = 0;
            m_kept = 0;
        }
        for (int i = 0; i < count; ++i) orvex_memory::Unmap(entries[i].start);
    }

private:
    struct CEntry
    {
        void* start = nullptr;
        std::size_t length = 0;
    };
    static constexpr int kKept = 3;
    static constexpr std::size_t kMostKept = std::size_t(384) << 20; // in all
    static std::size_t Slack(std::size_t length) { return std::max(kHugePage * 4, length / 8); }

    std::mutex m_mutex;
    CEntry m_entries[kKept];
    int m_count = 0;
    std::size_t m_kept = 0;
};

CFreedMappings& FreedMappings()
{
    static CFreedMappings* const mappings = new CFreedMappings; // never destroyed: freed pictures may outlive statics
    return *mappings;
}

void* NewMapping(std::size_t length)
{
    if (void* mapping = orvex_memory::MapHugeAligned(length)) return mapping; // arrives zero-filled
    FreedMappings().Release();
    return orvex_memory::MapHugeAligned(length);
}

void* MapPixels(std::size_t bytes, bool zeroed)
{
    const std::size_t length = MappedLength(bytes);
    if (void* kept = FreedMappings().Take(length)) {
        if (zeroed) ParallelFill(kept, 0, bytes);
        return kept;
    }
    return NewMapping(length);
}

void* AllocatePixels(std::size_t bytes, bool zeroed)
{
    int left = g_allocationsBeforeFailure.load();
    while (left >= 0) {
        if (left == 0) return nullptr;
        if (g_allocationsBeforeFailure.compare_exchange_weak(left, left - 1)) break;
    }
    if (bytes >= kMapThreshold) return MapPixels(bytes, zeroed);
    return zeroed ? std::calloc(bytes, 1) : std::malloc(bytes);
}

void FreePixels(void* pixels, std::size_t bytes)
{
    if (!pixels) return;
    if (bytes >= kMapThreshold) FreedMappings().Keep(pixels, MappedLength(bytes));
    else std::free(pixels);
}
} // namespace

void ReleaseFreedPictureMemory()
{
    FreedMappings().Release();
}

void orvex_testing::FailImageAllocationsAfter(int allocations)
{
    g_allocationsBeforeFailure.store(allocations < 0 ? -1 : allocations);
}

CImage::~CImage()
{
    Destroy();
}

CImage::CImage(CImage&& other) noexcept
{
    SwapWith(other);
}

CImage& CImage::operator=(CImage&& other) noexcept
{
    if (this != &other) {
        Destroy();
        SwapWith(other);
    }
    return *this;
}

std::int64_t CImage::StrideFor(int width, int bitsPerPixel)
{
    if (width <= 0 || bitsPerPixel <= 0) return 0;
    const std::int64_t stride = ((std::int64_t(bitsPerPixel) * width + 31) / 32) * 4;
    if (stride > std::numeric_limits<int>::max()) return 0;
    return stride;
}

bool CImage::Create(int width, int height, int bitsPerPixel, unsigned flags)
{
    return Allocate(width, height, bitsPerPixel, flags, true);
}

bool CImage::CreateForOverwrite(int width, int height, int bitsPerPixel)
{
    return Allocate(width, height, bitsPerPixel, 0, false);
}

bool CImage::CreateGrey(int width, int height, std::uint8_t level)
{
    // Black is what a fresh mapping holds already; anything else is one pass of row fills.
    if (level == 0) return Create(width, height, 24);
    if (!CreateForOverwrite(width, height, 24)) return false;
    const std::size_t pixelBytes = static_cast<std::size_t>(width) * 3;
    const std::size_t padding = rowBytes() - pixelBytes;
    ParallelFor(0, height, [&](int y0, int y1) {
        for (int y = y0; y < y1; ++y) {
            std::uint8_t* row = m_bits + static_cast<std::ptrdiff_t>(y) * m_pitch;
            std::memset(row, level, pixelBytes);
            std::memset(row + pixelBytes, 0, padding);
        }
    });
    return true;
}

bool CImage::Allocate(int width, int height, int bitsPerPixel, unsigned flags, bool zeroed)
{
    Destroy();
    if (width <= 0 || height <= 0) return false;
    if (bitsPerPixel != 24 && bitsPerPixel != 32) return false;
    if (std::int64_t(width) * height > kMaxPixels) return false;
    const std::int64_t stride = StrideFor(width, bitsPerPixel);
    if (stride == 0) return false;
    const std::int64_t total = stride * height;
    if (total > std::int64_t(std::numeric_limits<std::ptrdiff_t>::max())) return false;

    // calloc: large blocks arrive as fresh zero pages, so a new black picture costs no writes.
    auto* buffer = static_cast<std::uint8_t*>(AllocatePixels(static_cast<std::size_t>(total), zeroed));
    if (!buffer) return false;

    m_buffer = buffer;
    m_width = width;
    m_height = height;
    m_pitch = -static_cast<int>(stride);
    m_bitsPerPixel = bitsPerPixel;
    m_hasAlpha = (flags & 1u) != 0;
    m_transparentIndex = -1;
    // Bottom-up: the top picture row is the last row in memory.
    m_bits = m_buffer + stride * (height - 1);
    return true;
}

void CImage::Destroy()
{
    FreePixels(m_buffer, bufferBytes());
    m_buffer = nullptr;
    m_bits = nullptr;
    m_width = m_height = m_pitch = m_bitsPerPixel = 0;
    m_hasAlpha = false;
    m_transparentIndex = -1;
}

void CImage::SwapWith(CImage& other) noexcept
{
    std::swap(m_buffer, other.m_buffer);
    std::swap(m_bits, other.m_bits);
    std::swap(m_width, other.m_width);
    std::swap(m_height, other.m_height);
    std::swap(m_pitch, other.m_pitch);
    std::swap(m_bitsPerPixel, other.m_bitsPerPixel);
    std::swap(m_hasAlpha, other.m_hasAlpha);
    std::swap(m_transparentIndex, other.m_transparentIndex);
}

bool CImage::CopyFrom(const CImage& source)
{
    if (this == &source) return true;
    if (source.IsNull()) {
        Destroy();
        return true;
    }
    const bool sameLayout = !IsNull() && m_width == source.m_width && m_height == source.m_height &&
                            m_bitsPerPixel == source.m_bitsPerPixel;
    if (!sameLayout) {
        // A fresh buffer is overwritten whole, so skip calloc's zeroing.
        Destroy();
        const std::int64_t stride = StrideFor(source.m_width, source.m_bitsPerPixel);
        auto* buffer = static_cast<std::uint8_t*>(AllocatePixels(static_cast<std::size_t>(stride) * source.m_height, false));
        if (!buffer) return false;
        m_buffer = buffer;
        m_width = source.m_width;
        m_height = source.m_height;
        m_pitch = source.m_pitch;
        m_bitsPerPixel = source.m_bitsPerPixel;
        m_bits = m_buffer + stride * (m_height - 1);
    }
    m_hasAlpha = source.m_hasAlpha;
    m_transparentIndex = -1;
    ParallelCopy(m_buffer, source.m_buffer, source.bufferBytes());
    return true;
}

namespace {

// Runs `part(from, to)` over [0, bytes) in 4 MB pieces shared by the cores; below two pieces a
// second thread costs more than it saves, so it runs at once.
template <class F>
void InPieces(std::size_t bytes, const F& part)
{
    constexpr std::size_t kChunk = std::size_t(1) << 22;
    if (bytes < 2 * kChunk) {
        part(std::size_t(0), bytes);
        return;
    }
    const std::size_t parts = (bytes + kChunk - 1) / kChunk;
    ParallelFor(0, static_cast<int>(parts), [&](int begin, int end) {
        part(std::size_t(begin) * kChunk, std::min(bytes, std::size_t(end) * kChunk));
    });
}

} // namespace

void ParallelCopy(void* dst, const void* src, std::size_t bytes)
{
    auto* d = static_cast<std::uint8_t*>(dst);
    const auto* s = static_cast<const std::uint8_t*>(src);
    InPieces(bytes, [d, s](std::size_t from, std::size_t to) { std::memcpy(d + from, s + from, to - from); });
}

void ParallelFill(void* dst, int value, std::size_t bytes)
{
    auto* d = static_cast<std::uint8_t*>(dst);
    InPieces(bytes, [d, value](std::size_t from, std::size_t to) { std::memset(d + from, value, to - from); });
}
