#pragma once

#include "core/image.h"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct ZSTD_CCtx_s;

// The states of a document's picture for Undo and Redo. The first state (the picture as opened) is
// kept for the document's whole life; after it come at most 15 of the newest states.
//
// Only the current state is kept as plain pixels. The others are packed by a worker thread the
// history owns, behind the user: band by band with zstd, each band either alone (or as the
// difference to its left neighbour pixel) or as the byte difference (XOR, or subtraction mod 256)
// to the neighbouring state on the way to the current one, whichever promises fewer bytes. A state
// whose packing has not finished is simply still held as plain pixels, so a push never waits.
// Undo and Redo then unpack one state against the current one, the bands spread over the cores.
//
// When memory runs short (an allocation fails, or the memory limit is reached) the oldest packed
// states go to a temporary file before any state is given up; only when that fails too is the
// oldest state dropped, and `droppedForMemory()` says so.
class CImageHistory
{
public:
    static constexpr int kMaxSnapshots = 16;

    CImageHistory();
    ~CImageHistory();
    CImageHistory(const CImageHistory&) = delete;
    CImageHistory& operator=(const CImageHistory&) = delete;

    // Records `picture` as the newest state, made by the step called `name`, discarding the states
    // that could have been redone. When no copy can be made even after moving states to the
    // temporary file and giving up older ones, returns false and leaves the history as it was apart
    // from the discarded redo states: the picture on screen then has no state, and the caller
    // tells the user.
    bool Push(const CImage& picture, std::string name = {});

    // Steps back (forward) and copies the state at the new index into `picture`. At the oldest
    // (newest) state the current state is copied again. On an empty history nothing happens.
    // Returns false, changing neither the picture nor the index, when the memory for it cannot be
    // had or a state cannot be read back.
    bool Undo(CImage& picture);
    bool Redo(CImage& picture);

    // A picture buffer its owner no longer needs (the picture that a finished preview frame
    // replaced), kept to receive the next push without going back to the allocator.
    void GiveSpare(CImage&& buffer);

    bool CanUndo() const { return m_current > 0; }
    bool CanRedo() const { return m_current >= 0 && m_current < count() - 1; }

    int currentIndex() const { return m_current; }
    int count() const { return static_cast<int>(m_states.size()); }
    // The current state's pixels; an empty picture on an empty history.
    const CImage& current() const;
    // Makes `out` an exact copy of the state at `index`, unpacking it if need be; false when the
    // index is out of range, the memory cannot be had or the state cannot be read back.
    bool Materialize(int index, CImage& out) const;
    // The name of the step that made the state at `index` (empty for the opened picture).
    std::string name(int index) const;
    // The step Undo (Redo) would take back (bring again); empty when there is none.
    std::string undoName() const { return CanUndo() ? name(m_current) : std::string(); }
    std::string redoName() const { return CanRedo() ? name(m_current + 1) : std::string(); }

    // The current state, shared: a background reader (the recovery writer) keeps it alive for as
    // long as it needs it, whatever the history does meanwhile, and never needs a copy of its own.
    // Null on an empty history. The pixels never change while shared.
    std::shared_ptr<const CImage> SharedCurrent() const;

    // Memory the history may hold before the oldest states go to the temporary file; 0 for no
    // limit. The current state always stays in memory.
    void SetMemoryLimit(std::size_t bytes);
    // Where the temporary file is made; empty for the system's temporary file.
    void SetSpillDirectory(std::string directory);

    // Bytes the history holds in memory (plain states, packed states, the spare buffer) and in the
    // temporary file.
    std::size_t memoryInUse() const;
    std::size_t bytesSpilled() const;
    // States kept in the temporary file.
    int spilledCount() const;
    // States still held as plain pixels besides the current one.
    int unpackedCount() const;
    // Whether states were given up for want of memory since the history was last full.
    bool droppedForMemory() const;

    // Waits until the worker has nothing left to do (tests, benchmarks).
    void WaitUntilSettled() const;
    // While paused the worker packs nothing (tests that need states held as plain pixels).
    void PauseWorker(bool paused);
    // How long the worker took to pack the last state, in seconds.
    double lastPackSeconds() const;

    struct CPacked;

private:
    struct CState
    {
        std::uint64_t id = 0;
        std::string name;
        int width = 0, height = 0, bitsPerPixel = 0;
        bool hasAlpha = false;
        // The plain pixels; always there for the current state, and for others until packed.
        std::shared_ptr<CImage> raw;
        // The packed pixels, in memory or in the temporary file; valid while its reference is the
        // neighbour on the way to the current state (or it has none).
        std::shared_ptr<const CPacked> packed;
    };

    using CLock = std::unique_lock<std::mutex>;

    bool Restore(CLock& lock, int index, CImage& picture);
    std::shared_ptr<CImage> TakeSpare(const CImage& like);
    void KeepAsSpare(std::shared_ptr<CImage> dropped);
    void DropRawIfPacked(int index);
    bool PackedValid(int index) const;
    int TowardCurrent(int index) const;
    std::size_t MemoryLocked() const;
    // Moves the oldest state held in memory (other than the current one) to the temporary file;
    // false when there is none or the file cannot take it.
    bool SpillOldest(CLock& lock, bool includeUnpacked);
    bool WriteSpill(const void* data, std::size_t bytes, std::int64_t& offset);
    void ReleaseSpillFileIfUnused();
    // Gives up the oldest state that can go (not the opened picture, not the current one).
    bool DropOldest();
    // Spills (and, where `mayDrop`, drops) the oldest states while the history is over its limit.
    void KeepWithinLimit(CLock& lock, bool mayDrop);
    void Wake();
    void WorkerLoop();
    bool PackOne(CLock& lock, ZSTD_CCtx_s* context, std::vector<std::uint8_t>& scratch);
    bool MaterializeLocked(CLock& lock, int index, CImage& out) const;

    // Only the calling thread changes the states' order and the current index; the worker packs
    // and spills states in place, under the mutex.
    std::vector<CState> m_states;
    int m_current = -1;
    std::uint64_t m_nextId = 1;
    // A state's buffer just given up, kept to receive the next push without going back to the
    // allocator (pictures of a few hundred megabytes cost more to map than to copy).
    std::shared_ptr<CImage> m_spare;
    std::size_t m_limit = 0;
    bool m_dropped = false;

    std::string m_spillDirectory;
    int m_spillFd = -1;
    std::int64_t m_spillEnd = 0;

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_wake;
    mutable std::condition_variable m_settled;
    bool m_stop = false;
    bool m_paused = false;
    bool m_busy = false;
    // Bumped by every change of the states; the worker is settled once it has gone over the
    // states as they were at the newest one. States it failed to pack wait for the next change.
    std::uint64_t m_generation = 0;
    std::uint64_t m_doneGeneration = 0;
    std::vector<std::uint64_t> m_failed;
    double m_lastPackSeconds = 0.0;
    std::thread m_worker;
};

// Fault injection for tests: after `allocations` more successful allocations of packed-state
// buffers, every further one fails until the hook is reset with a negative count.
namespace orvex_testing {
void FailHistoryBuffersAfter(int allocations);
}
