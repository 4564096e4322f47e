#include "core/image_history.h"

#include "core/parallel.h"

#include <zstd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include <fcntl.h>
#include <malloc.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

std::atomic<int> g_buffersBeforeFailure{-1};

bool BufferAllowed()
{
    int left = g_buffersBeforeFailure.load();
    while (left >= 0) {
        if (left == 0) return false;
        if (g_buffersBeforeFailure.compare_exchange_weak(left, left - 1)) break;
    }
    return true;
}

// Bands are packed as independent frames, so that Undo can unpack them on every core at once.
constexpr std::size_t kBand = std::size_t(1) << 20;
// The fastest level: a photo's noise leaves little for the slower ones to find, and the worker
// should be done long before the user's next command.
constexpr int kLevel = 1;

enum class CMode : std::uint8_t {
    Stored, // the bytes as they are
    Alone,  // zstd of the bytes
    Left,   // zstd of each byte less the same channel of the pixel to its left
    Xor,    // zstd of the bytes XOR the reference state's
    Sub     // zstd of the bytes less the reference state's, mod 256
};

// Anonymous memory of its own: packed states come and go in sizes the heap keeps badly, and
// unmapping one gives its memory straight back to the system.
class CMapping
{
public:
    CMapping() = default;
    CMapping(const CMapping&) = delete;
    CMapping& operator=(const CMapping&) = delete;
    ~CMapping() { Reset(); }

    // Address space for `bytes`; only the pages written are ever backed by memory.
    bool Reserve(std::size_t bytes)
    {
        Reset();
        if (bytes == 0 || !BufferAllowed()) return false;
        void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
        if (p == MAP_FAILED) return false;
        m_data = static_cast<std::uint8_t*>(p);
        m_length = bytes;
        return true;
    }
    // Gives back everything past the first `used` bytes.
    void Shrink(std::size_t used)
    {
        const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
        const std::size_t keep = std::max(page, (used + page - 1) / page * page);
        if (keep < m_length) {
            munmap(m_data + keep, m_length - keep);
            m_length = keep;
        }
    }
    void Reset()
    {
        if (m_data) munmap(m_data, m_length);
        m_data = nullptr;
        m_length = 0;
    }
    std::uint8_t* data() const { return m_data; }

private:
    std::uint8_t* m_data = nullptr;
    std::size_t m_length = 0;
};

std::size_t BandCount(std::size_t bytes)
{
    return (bytes + kBand - 1) / kBand;
}

// Bits per byte of a histogram's source, for choosing the cheapest form of a band.
double Entropy(const std::uint32_t (&histogram)[256], std::uint32_t samples)
{
    double bits = 0.0;
    for (const std::uint32_t n : histogram)
        if (n) bits -= n * std::log2(double(n) / samples);
    return bits;
}

// Which form of a band promises the fewest bytes, judged by the spread of a sample of its bytes.
CMode ChooseMode(const std::uint8_t* s, const std::uint8_t* r, std::size_t len)
{
    constexpr std::size_t kStep = 29;
    std::uint32_t alone[256] = {}, left[256] = {}, xored[256] = {}, sub[256] = {};
    std::uint32_t samples = 0;
    for (std::size_t k = 3; k < len; k += kStep, ++samples) {
        ++alone[s[k]];
        ++left[std::uint8_t(s[k] - s[k - 3])];
        if (r) {
            ++xored[std::uint8_t(s[k] ^ r[k])];
            ++sub[std::uint8_t(s[k] - r[k])];
        }
    }
    if (samples == 0) return CMode::Alone;
    CMode best = CMode::Alone;
    double bestBits = Entropy(alone, samples);
    const auto consider = [&](CMode mode, const std::uint32_t(&histogram)[256]) {
        const double bits = Entropy(histogram, samples);
        if (bits < bestBits * 0.98) best = mode, bestBits = bits;
    };
    consider(CMode::Left, left);
    if (r) {
        consider(CMode::Xor, xored);
        consider(CMode::Sub, sub);
    }
    return best;
}

struct CZstdCContextFree
{
    void operator()(ZSTD_CCtx* c) const { ZSTD_freeCCtx(c); }
};
struct CZstdDContextFree
{
    void operator()(ZSTD_DCtx* c) const { ZSTD_freeDCtx(c); }
};

ZSTD_DCtx* ThreadDContext()
{
    thread_local std::unique_ptr<ZSTD_DCtx, CZstdDContextFree> context(ZSTD_createDCtx());
    return context.get();
}

bool SameLayout(const CImage& a, const CImage& b)
{
    return a.width() == b.width() && a.height() == b.height() && a.bitsPerPixel() == b.bitsPerPixel();
}

bool WriteAll(int fd, const void* data, std::size_t bytes, std::int64_t offset)
{
    const auto* p = static_cast<const std::uint8_t*>(data);
    while (bytes > 0) {
        const ssize_t n = pwrite(fd, p, std::min<std::size_t>(bytes, std::size_t(1) << 30), off_t(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n, bytes -= std::size_t(n), offset += n;
    }
    return true;
}

bool ReadAll(int fd, void* data, std::size_t bytes, std::int64_t offset)
{
    auto* p = static_cast<std::uint8_t*>(data);
    while (bytes > 0) {
        const ssize_t n = pread(fd, p, std::min<std::size_t>(bytes, std::size_t(1) << 30), off_t(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n, bytes -= std::size_t(n), offset += n;
    }
    return true;
}

} // namespace

struct CImageHistory::CPacked
{
    struct CBand
    {
        std::size_t offset = 0;
        std::size_t size = 0;
        CMode mode = CMode::Stored;
    };
    // The state this one is a difference to; 0 when it stands alone.
    std::uint64_t refId = 0;
    // Band b holds the picture bytes from b * kBand on.
    std::vector<CBand> bands;
    std::size_t rawBytes = 0;
    std::size_t bytes = 0;
    CMapping memory;
    // Where it lies in the temporary file; negative while in memory.
    std::int64_t fileOffset = -1;
    bool inFile() const { return fileOffset >= 0; }
};

namespace {

using CPackedPtr = std::shared_ptr<CImageHistory::CPacked>;

// Packs `raw`, as a difference to `ref` where a band gains by it; null when the memory cannot be had.
CPackedPtr Pack(const CImage& raw, const CImage* ref, ZSTD_CCtx* context, std::vector<std::uint8_t>& scratch)
{
    const std::size_t total = raw.bufferBytes();
    const std::size_t count = BandCount(total);
    std::size_t bound = 0;
    for (std::size_t b = 0; b < count; ++b) bound += ZSTD_compressBound(std::min(kBand, total - b * kBand));
    auto packed = std::make_shared<CImageHistory::CPacked>();
    packed->bands.resize(count);
    packed->rawBytes = total;
    scratch.resize(kBand);
    if (!packed->memory.Reserve(bound)) return nullptr;
    std::uint8_t* const out = packed->memory.data();
    std::size_t at = 0;
    for (std::size_t b = 0; b < count; ++b) {
        const std::size_t len = std::min(kBand, total - b * kBand);
        const std::uint8_t* s = raw.bufferStart() + b * kBand;
        const std::uint8_t* r = ref ? ref->bufferStart() + b * kBand : nullptr;
        CMode mode = ChooseMode(s, r, len);
        const std::uint8_t* in = s;
        std::uint8_t* t = scratch.data();
        switch (mode) {
        case CMode::Left:
            for (std::size_t k = 0; k < len; ++k) t[k] = std::uint8_t(s[k] - (k >= 3 ? s[k - 3] : 0));
            in = t;
            break;
        case CMode::Xor:
            for (std::size_t k = 0; k < len; ++k) t[k] = std::uint8_t(s[k] ^ r[k]);
            in = t;
            break;
        case CMode::Sub:
            for (std::size_t k = 0; k < len; ++k) t[k] = std::uint8_t(s[k] - r[k]);
            in = t;
            break;
        default: break;
        }
        std::size_t n = ZSTD_compressCCtx(context, out + at, bound - at, in, len, kLevel);
        if (ZSTD_isError(n) || n >= len) {
            std::memcpy(out + at, s, len);
            n = len;
            mode = CMode::Stored;
        }
        packed->bands[b] = {at, n, mode};
        at += n;
    }
    packed->memory.Shrink(at);
    packed->bytes = at;
    return packed;
}

// Unpacks into `dst` (a buffer of the packed state's layout) from the packed bytes at `data`.
bool Unpack(const CImageHistory::CPacked& packed, const std::uint8_t* data, const std::uint8_t* ref, std::uint8_t* dst)
{
    std::atomic<bool> failed{false};
    const int count = int(packed.bands.size());
    ParallelFor(0, count, [&](int from, int to) {
        ZSTD_DCtx* context = ThreadDContext();
        for (int b = from; b < to && !failed.load(); ++b) {
            const auto& band = packed.bands[std::size_t(b)];
            const std::size_t start = std::size_t(b) * kBand;
            const std::size_t len = std::min(kBand, packed.rawBytes - start);
            std::uint8_t* d = dst + start;
            if (band.mode == CMode::Stored) {
                if (band.size != len) failed = true;
                else std::memcpy(d, data + band.offset, len);
                continue;
            }
            if (!context || ZSTD_decompressDCtx(context, d, len, data + band.offset, band.size) != len) {
                failed = true;
                continue;
            }
            const std::uint8_t* r = ref ? ref + start : nullptr;
            switch (band.mode) {
            case CMode::Left:
                for (std::size_t k = 3; k < len; ++k) d[k] = std::uint8_t(d[k] + d[k - 3]);
                break;
            case CMode::Xor:
                if (!r) failed = true;
                else
                    for (std::size_t k = 0; k < len; ++k) d[k] ^= r[k];
                break;
            case CMode::Sub:
                if (!r) failed = true;
                else
                    for (std::size_t k = 0; k < len; ++k) d[k] = std::uint8_t(d[k] + r[k]);
                break;
            default: break;
            }
        }
    });
    return !failed.load();
}

} // namespace

void orvex_testing::FailHistoryBuffersAfter(int allocations)
{
    g_buffersBeforeFailure.store(allocations);
}

CImageHistory::CImageHistory()
{
    try {
        m_worker = std::thread([this] { WorkerLoop(); });
    } catch (const std::system_error&) {
        // Without a worker every state stays plain: more memory, nothing lost.
    }
}

CImageHistory::~CImageHistory()
{
    {
        const CLock lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
    if (m_worker.joinable()) m_worker.join();
    if (m_spillFd >= 0) close(m_spillFd);
}

void CImageHistory::Wake()
{
    ++m_generation;
    m_wake.notify_all();
}

int CImageHistory::TowardCurrent(int index) const
{
    return index < m_current ? index + 1 : index - 1;
}

bool CImageHistory::PackedValid(int index) const
{
    const CState& state = m_states[std::size_t(index)];
    if (!state.packed) return false;
    if (state.packed->refId == 0) return true;
    if (index == 0 || index == m_current) return false;
    return m_states[std::size_t(TowardCurrent(index))].id == state.packed->refId;
}

void CImageHistory::KeepAsSpare(std::shared_ptr<CImage> dropped)
{
    // A state still read elsewhere must keep its pixels: it cannot receive the next push.
    if (dropped && dropped.use_count() == 1) m_spare = std::move(dropped);
}

void CImageHistory::DropRawIfPacked(int index)
{
    CState& state = m_states[std::size_t(index)];
    if (index == m_current || !state.raw || !PackedValid(index)) return;
    KeepAsSpare(std::move(state.raw));
    state.raw.reset();
}

std::shared_ptr<CImage> CImageHistory::TakeSpare(const CImage& like)
{
    if (m_spare && SameLayout(*m_spare, like)) return std::move(m_spare);
    m_spare.reset();
    return std::make_shared<CImage>();
}

void CImageHistory::GiveSpare(CImage&& buffer)
{
    if (buffer.IsNull()) return;
    try {
        auto spare = std::make_shared<CImage>(std::move(buffer));
        const CLock lock(m_mutex);
        m_spare = std::move(spare);
    } catch (const std::bad_alloc&) {
        // Only the spare is lost; the next push allocates as usual.
    }
}

const CImage& CImageHistory::current() const
{
    static const CImage empty;
    return m_current < 0 ? empty : *m_states[std::size_t(m_current)].raw;
}

std::shared_ptr<const CImage> CImageHistory::SharedCurrent() const
{
    const CLock lock(m_mutex);
    return m_current < 0 ? nullptr : m_states[std::size_t(m_current)].raw;
}

std::string CImageHistory::name(int index) const
{
    const CLock lock(m_mutex);
    return index >= 0 && index < count() ? m_states[std::size_t(index)].name : std::string();
}

bool CImageHistory::Push(const CImage& picture, std::string name)
{
    CLock lock(m_mutex);
    while (m_current < count() - 1) {
        KeepAsSpare(std::move(m_states.back().raw));
        m_states.pop_back();
    }

    // At the limit the second-oldest state goes anyway: let it carry the new copy.
    if (count() == kMaxSnapshots) {
        KeepAsSpare(std::move(m_states[1].raw));
        m_states.erase(m_states.begin() + 1);
        --m_current;
    }

    try {
        std::shared_ptr<CImage> copy = TakeSpare(picture);
        while (!copy->CopyFrom(picture)) {
            // Out of memory: first the oldest states go to the temporary file; only when that fails
            // are older states given up, which are worth less than recording the newest one. The
            // opened picture and the last recorded state are never given up.
            if (SpillOldest(lock, true)) continue;
            if (m_current <= 1) {
                ReleaseSpillFileIfUnused();
                Wake();
                return false;
            }
            m_states.erase(m_states.begin() + 1);
            --m_current;
            m_dropped = true;
        }
        CState state;
        state.id = m_nextId++;
        state.name = std::move(name);
        state.width = picture.width();
        state.height = picture.height();
        state.bitsPerPixel = picture.bitsPerPixel();
        state.hasAlpha = picture.hasAlpha();
        state.raw = std::move(copy);
        m_states.push_back(std::move(state));
    } catch (const std::bad_alloc&) {
        Wake();
        return false; // the few bytes of a state's record, not its pixels (those never throw)
    }
    m_current = count() - 1;
    if (count() == kMaxSnapshots) m_dropped = false;
    KeepWithinLimit(lock, true);
    ReleaseSpillFileIfUnused();
    Wake();
    return true;
}

bool CImageHistory::MaterializeLocked(CLock& lock, int index, CImage& out) const
{
    const CState& state = m_states[std::size_t(index)];
    if (state.raw) return out.CopyFrom(*state.raw);
    if (!state.packed) return false;
    const CPacked& packed = *state.packed;
    CImage ref;
    if (packed.refId != 0 && !MaterializeLocked(lock, TowardCurrent(index), ref)) return false;
    CImage result;
    if (!result.CreateForOverwrite(state.width, state.height, state.bitsPerPixel)) return false;
    result.SetHasAlpha(state.hasAlpha);
    if (result.bufferBytes() != packed.rawBytes || (!ref.IsNull() && ref.bufferBytes() != packed.rawBytes))
        return false;
    CMapping read;
    const std::uint8_t* data = packed.memory.data();
    if (packed.inFile()) {
        if (!read.Reserve(packed.bytes) || !ReadAll(m_spillFd, read.data(), packed.bytes, packed.fileOffset))
            return false;
        data = read.data();
    }
    if (!Unpack(packed, data, ref.IsNull() ? nullptr : ref.bufferStart(), result.bufferStart())) return false;
    out = std::move(result);
    return true;
}

bool CImageHistory::Materialize(int index, CImage& out) const
{
    CLock lock(m_mutex);
    if (index < 0 || index >= count()) return false;
    return MaterializeLocked(lock, index, out);
}

bool CImageHistory::Restore(CLock& lock, int index, CImage& picture)
{
    CState& state = m_states[std::size_t(index)];
    if (!state.raw) {
        // Unpacked against the current state (its neighbour), or alone; into a buffer of its own
        // first, so that a failure leaves the picture as it is.
        const std::shared_ptr<const CPacked> packed = state.packed;
        if (!packed) return false;
        const CImage& ref = *m_states[std::size_t(m_current)].raw;
        if (packed->refId != 0 && (TowardCurrent(index) != m_current || ref.bufferBytes() != packed->rawBytes))
            return false;
        std::shared_ptr<CImage> fresh;
        try {
            fresh = m_spare && m_spare->width() == state.width && m_spare->height() == state.height &&
                            m_spare->bitsPerPixel() == state.bitsPerPixel
                        ? std::move(m_spare)
                        : std::make_shared<CImage>();
        } catch (const std::bad_alloc&) {
            return false;
        }
        if (fresh->IsNull()) {
            m_spare.reset();
            while (!fresh->CreateForOverwrite(state.width, state.height, state.bitsPerPixel))
                if (!SpillOldest(lock, true)) return false;
        }
        fresh->SetHasAlpha(state.hasAlpha);
        if (fresh->bufferBytes() != packed->rawBytes) return false;
        CMapping read;
        const std::uint8_t* data = packed->memory.data();
        if (packed->inFile()) {
            if (!read.Reserve(packed->bytes) || !ReadAll(m_spillFd, read.data(), packed->bytes, packed->fileOffset))
                return false;
            data = read.data();
        }
        if (!Unpack(*packed, data, packed->refId != 0 ? ref.bufferStart() : nullptr, fresh->bufferStart()))
            return false;
        state.raw = std::move(fresh);
    }
    const CImage& shot = *state.raw;
    if (SameLayout(picture, shot)) return picture.CopyFrom(shot); // reuses the picture's memory: cannot fail
    // Build the other size aside so that a failed allocation leaves the picture as it is.
    CImage restored;
    if (!restored.CopyFrom(shot)) {
        if (index != m_current) DropRawIfPacked(index);
        return false;
    }
    picture = std::move(restored);
    return true;
}

bool CImageHistory::Undo(CImage& picture)
{
    if (m_current < 0) return true;
    CLock lock(m_mutex);
    const int index = m_current > 0 ? m_current - 1 : 0;
    if (!Restore(lock, index, picture)) return false;
    const int old = m_current;
    m_current = index;
    if (old != index) {
        DropRawIfPacked(old);
        Wake();
    }
    return true;
}

bool CImageHistory::Redo(CImage& picture)
{
    if (m_current < 0) return true;
    CLock lock(m_mutex);
    const int index = m_current < count() - 1 ? m_current + 1 : count() - 1;
    if (!Restore(lock, index, picture)) return false;
    const int old = m_current;
    m_current = index;
    if (old != index) {
        DropRawIfPacked(old);
        Wake();
    }
    return true;
}

// ---- memory

std::size_t CImageHistory::MemoryLocked() const
{
    std::size_t bytes = m_spare ? m_spare->bufferBytes() : 0;
    for (const CState& state : m_states) {
        if (state.raw) bytes += state.raw->bufferBytes();
        if (state.packed && !state.packed->inFile()) bytes += state.packed->bytes;
    }
    return bytes;
}

std::size_t CImageHistory::memoryInUse() const
{
    const CLock lock(m_mutex);
    return MemoryLocked();
}

std::size_t CImageHistory::bytesSpilled() const
{
    const CLock lock(m_mutex);
    std::size_t bytes = 0;
    for (const CState& state : m_states)
        if (state.packed && state.packed->inFile()) bytes += state.packed->bytes;
    return bytes;
}

int CImageHistory::spilledCount() const
{
    const CLock lock(m_mutex);
    return int(std::count_if(m_states.begin(), m_states.end(),
                             [](const CState& s) { return s.packed && s.packed->inFile() && !s.raw; }));
}

int CImageHistory::unpackedCount() const
{
    const CLock lock(m_mutex);
    int n = 0;
    for (int i = 0; i < count(); ++i)
        if (i != m_current && m_states[std::size_t(i)].raw) ++n;
    return n;
}

bool CImageHistory::droppedForMemory() const
{
    const CLock lock(m_mutex);
    return m_dropped;
}

double CImageHistory::lastPackSeconds() const
{
    const CLock lock(m_mutex);
    return m_lastPackSeconds;
}

void CImageHistory::SetMemoryLimit(std::size_t bytes)
{
    CLock lock(m_mutex);
    m_limit = bytes;
    Wake();
}

void CImageHistory::SetSpillDirectory(std::string directory)
{
    const CLock lock(m_mutex);
    m_spillDirectory = std::move(directory);
    // A new place applies to the next file; one in use stays where it is.
}

bool CImageHistory::WriteSpill(const void* data, std::size_t bytes, std::int64_t& offset)
{
    if (m_spillFd < 0) {
        if (m_spillDirectory.empty()) {
            std::FILE* file = std::tmpfile();
            if (!file) return false;
            m_spillFd = dup(fileno(file));
            std::fclose(file);
        } else {
            std::string path = m_spillDirectory + "/orvex-history-XXXXXX";
            m_spillFd = mkstemp(path.data());
            if (m_spillFd >= 0) unlink(path.c_str()); // gone with the process, whatever happens
        }
        if (m_spillFd < 0) return false;
        m_spillEnd = 0;
    }
    if (!WriteAll(m_spillFd, data, bytes, m_spillEnd)) {
        if (ftruncate(m_spillFd, off_t(m_spillEnd)) != 0) {
            // The file keeps a tail no state points at; the next write goes over it.
        }
        return false;
    }
    offset = m_spillEnd;
    m_spillEnd += std::int64_t(bytes);
    return true;
}

void CImageHistory::ReleaseSpillFileIfUnused()
{
    if (m_spillFd < 0 || m_spillEnd == 0) return;
    for (const CState& state : m_states)
        if (state.packed && state.packed->inFile()) return;
    if (ftruncate(m_spillFd, 0) == 0) m_spillEnd = 0;
}

bool CImageHistory::SpillOldest(CLock& lock, bool includeUnpacked)
{
    (void)lock;
    if (m_spare) {
        m_spare.reset();
        return true;
    }
    // Packed states first, oldest first; the current state's packed copy is only kept for later.
    for (int i = 0; i < count(); ++i) {
        CState& state = m_states[std::size_t(i)];
        if (!state.packed || state.packed->inFile()) continue;
        if (i == m_current || !PackedValid(i)) {
            state.packed.reset();
            return true;
        }
        std::int64_t offset = 0;
        if (!WriteSpill(state.packed->memory.data(), state.packed->bytes, offset)) return false;
        auto spilled = std::make_shared<CPacked>();
        spilled->refId = state.packed->refId;
        spilled->bands = state.packed->bands;
        spilled->rawBytes = state.packed->rawBytes;
        spilled->bytes = state.packed->bytes;
        spilled->fileOffset = offset;
        state.packed = std::move(spilled);
        return true;
    }
    if (!includeUnpacked) return false;
    // Then states not packed yet, stored as they are: that needs no memory at all.
    for (int i = 0; i < count(); ++i) {
        CState& state = m_states[std::size_t(i)];
        if (i == m_current || !state.raw) continue;
        std::int64_t offset = 0;
        auto spilled = std::make_shared<CPacked>();
        const std::size_t total = state.raw->bufferBytes();
        spilled->rawBytes = total;
        spilled->bytes = total;
        spilled->bands.resize(BandCount(total));
        for (std::size_t b = 0; b < spilled->bands.size(); ++b)
            spilled->bands[b] = {b * kBand, std::min(kBand, total - b * kBand), CMode::Stored};
        if (!WriteSpill(state.raw->bufferStart(), total, offset)) return false;
        spilled->fileOffset = offset;
        state.packed = std::move(spilled);
        state.raw.reset();
        return true;
    }
    return false;
}

bool CImageHistory::DropOldest()
{
    if (m_current > 1) {
        m_states.erase(m_states.begin() + 1);
        --m_current;
    } else if (count() - 1 > m_current && count() > 1) {
        m_states.pop_back();
    } else {
        return false;
    }
    m_dropped = true;
    return true;
}

void CImageHistory::KeepWithinLimit(CLock& lock, bool mayDrop)
{
    if (m_limit == 0) return;
    // States not packed yet shrink by themselves soon: they never cost a step given up.
    const auto used = [&] {
        std::size_t bytes = MemoryLocked();
        if (mayDrop)
            for (int i = 0; i < count(); ++i)
                if (i != m_current && m_states[std::size_t(i)].raw && !PackedValid(i))
                    bytes -= m_states[std::size_t(i)].raw->bufferBytes();
        return bytes;
    };
    // Commands faster than the worker leave states plain: past the limit the oldest of those go to
    // the file as they are, so that the memory stays bounded without the push waiting for a packing.
    while (MemoryLocked() > m_limit && SpillOldest(lock, true)) {
    }
    while (mayDrop && used() > m_limit && DropOldest()) {
    }
}

// ---- the worker

void CImageHistory::WaitUntilSettled() const
{
    CLock lock(m_mutex);
    m_settled.wait(
        lock, [this] { return !m_worker.joinable() || m_paused || (m_doneGeneration == m_generation && !m_busy); });
}

void CImageHistory::PauseWorker(bool paused)
{
    {
        const CLock lock(m_mutex);
        m_paused = paused;
        Wake();
    }
    m_settled.notify_all();
}

bool CImageHistory::PackOne(CLock& lock, ZSTD_CCtx* context, std::vector<std::uint8_t>& scratch)
{
    int index = -1;
    // Farthest from the current state first: its neighbour on the way to the current state is then
    // still plain, so that it can be packed as the difference to it.
    for (int distance = count() - 1; distance >= 1 && index < 0; --distance)
        for (const int i : {m_current - distance, m_current + distance}) {
            if (i < 0 || i >= count()) continue;
            const CState& state = m_states[std::size_t(i)];
            if (state.raw && !PackedValid(i) &&
                std::find(m_failed.begin(), m_failed.end(), state.id) == m_failed.end()) {
                index = i;
                break;
            }
        }
    if (index < 0) return false;

    CState& state = m_states[std::size_t(index)];
    const std::uint64_t id = state.id;
    std::shared_ptr<const CImage> raw = state.raw;
    std::shared_ptr<const CImage> ref;
    std::uint64_t refId = 0;
    if (index != 0) {
        const CState& toward = m_states[std::size_t(TowardCurrent(index))];
        if (toward.raw && SameLayout(*toward.raw, *raw)) ref = toward.raw, refId = toward.id;
    }

    lock.unlock();
    const auto start = std::chrono::steady_clock::now();
    CPackedPtr packed;
    try {
        if (context) packed = Pack(*raw, ref.get(), context, scratch);
    } catch (const std::bad_alloc&) {
        packed.reset();
    }
    if (packed) packed->refId = refId;
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    raw.reset();
    ref.reset();
    lock.lock();

    int at = -1;
    for (int i = 0; i < count(); ++i)
        if (m_states[std::size_t(i)].id == id) at = i;
    if (at < 0) return true; // discarded meanwhile
    CState& now = m_states[std::size_t(at)];
    if (!packed) {
        // Out of memory for the packed copy: the state goes to the temporary file as it is, or, if
        // that fails too, stays plain.
        if (at != m_current && now.raw && !PackedValid(at)) {
            std::int64_t offset = 0;
            const std::size_t total = now.raw->bufferBytes();
            auto spilled = std::make_shared<CPacked>();
            spilled->rawBytes = total;
            spilled->bytes = total;
            spilled->bands.resize(BandCount(total));
            for (std::size_t b = 0; b < spilled->bands.size(); ++b)
                spilled->bands[b] = {b * kBand, std::min(kBand, total - b * kBand), CMode::Stored};
            if (WriteSpill(now.raw->bufferStart(), total, offset)) {
                spilled->fileOffset = offset;
                now.packed = std::move(spilled);
                now.raw.reset();
                return true;
            }
        }
        m_failed.push_back(id);
        return true;
    }
    const bool refStill =
        refId == 0 || (at != 0 && at != m_current && m_states[std::size_t(TowardCurrent(at))].id == refId);
    if (!PackedValid(at) && refStill) {
        now.packed = std::move(packed);
        m_lastPackSeconds = seconds;
        DropRawIfPacked(at);
    } else if (!refStill && at != m_current) {
        // The current state moved while packing: pack it again against its new neighbour.
    }
    lock.unlock();
    packed.reset(); // unmapped outside the lock
    lock.lock();
    return true;
}

void CImageHistory::WorkerLoop()
{
    // Packing is behind the user: the command the user runs next must get the cores first.
    setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), 10);
    std::unique_ptr<ZSTD_CCtx, CZstdCContextFree> context(ZSTD_createCCtx());
    std::vector<std::uint8_t> scratch;
    CLock lock(m_mutex);
    while (true) {
        m_wake.wait(lock, [this] { return m_stop || (!m_paused && m_doneGeneration != m_generation); });
        if (m_stop) break;
        const std::uint64_t generation = m_generation;
        m_busy = true;
        m_failed.clear();
        bool packedAny = false;
        try {
            while (!m_stop && !m_paused && PackOne(lock, context.get(), scratch)) packedAny = true;
            if (!m_stop && !m_paused) KeepWithinLimit(lock, false);
        } catch (...) {
            // Nothing may escape the worker; whatever it was doing stays plain, which loses nothing.
            if (!lock.owns_lock()) lock.lock();
        }
        if (packedAny) {
            // The buffers of the states just packed are of no use to anyone now.
            lock.unlock();
            ReleaseFreedPictureMemory();
            malloc_trim(0);
            lock.lock();
        }
        if (!m_paused) m_doneGeneration = generation;
        m_busy = false;
        m_settled.notify_all();
    }
}
