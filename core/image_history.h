#pragma once

#include "core/image.h"

#include <memory>
#include <vector>

// Full snapshots of a document's picture for Undo and Redo. The first snapshot (the picture as
// opened) is kept for the document's whole life; after it come at most 15 of the newest states.
class CImageHistory
{
public:
    static constexpr int kMaxSnapshots = 16;

    // Records `picture` as the newest state, discarding the states that could have been redone.
    // When no copy can be made even after giving up older states, returns false and leaves the
    // history as it was apart from the discarded redo states: the picture on screen then has no
    // snapshot, and the caller tells the user.
    bool Push(const CImage& picture);

    // Steps back (forward) and copies the snapshot at the new index into `picture`. At the oldest
    // (newest) state the current snapshot is copied again. On an empty history nothing happens.
    // Returns false, changing neither the picture nor the index, when the copy cannot be allocated.
    bool Undo(CImage& picture);
    bool Redo(CImage& picture);

    // A picture buffer its owner no longer needs (the picture that a finished preview frame
    // replaced), kept to receive the next push without going back to the allocator.
    void GiveSpare(CImage&& buffer);

    bool CanUndo() const { return m_current > 0; }
    bool CanRedo() const { return m_current >= 0 && m_current < count() - 1; }

    int currentIndex() const { return m_current; }
    int count() const { return static_cast<int>(m_snapshots.size()); }
    const CImage& snapshot(int index) const { return *m_snapshots.at(static_cast<std::size_t>(index)); }
    // The current state, shared: a background reader (the recovery writer) keeps it alive for as
    // long as it needs it, whatever the history does meanwhile, and never needs a copy of its own.
    // Null on an empty history. The pixels never change while shared.
    std::shared_ptr<const CImage> SharedCurrent() const
    {
        return m_current < 0 ? nullptr : m_snapshots[static_cast<std::size_t>(m_current)];
    }

private:
    bool Restore(int index, CImage& picture);
    std::shared_ptr<CImage> TakeSpare(const CImage& like);

    int m_current = -1;
    std::vector<std::shared_ptr<CImage>> m_snapshots;
    // A snapshot just dropped from the history, kept to receive the next push without going back
    // to the allocator (pictures of a few hundred megabytes cost more to map than to copy).
    std::shared_ptr<CImage> m_spare;
    void KeepAsSpare(std::shared_ptr<CImage> dropped);
};
