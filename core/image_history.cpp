#include "core/image_history.h"

#include <new>

void CImageHistory::KeepAsSpare(std::shared_ptr<CImage> dropped)
{
    // A state still read elsewhere must keep its pixels: it cannot receive the next push.
    if (dropped && dropped.use_count() == 1) m_spare = std::move(dropped);
}

std::shared_ptr<CImage> CImageHistory::TakeSpare(const CImage& like)
{
    if (m_spare && m_spare->width() == like.width() && m_spare->height() == like.height() &&
        m_spare->bitsPerPixel() == like.bitsPerPixel())
        return std::move(m_spare);
    m_spare.reset();
    return std::make_shared<CImage>();
}

void CImageHistory::GiveSpare(CImage&& buffer)
{
    if (buffer.IsNull()) return;
    try {
        m_spare = std::make_shared<CImage>(std::move(buffer));
    } catch (const std::bad_alloc&) {
        // Only the spare is lost; the next push allocates as usual.
    }
}

bool CImageHistory::Push(const CImage& picture)
{
    while (m_current < count() - 1) {
        KeepAsSpare(std::move(m_snapshots.back()));
        m_snapshots.pop_back();
    }

    // At the limit the second-oldest state goes anyway: let it carry the new copy.
    if (count() == kMaxSnapshots) {
        KeepAsSpare(std::move(m_snapshots[1]));
        m_snapshots.erase(m_snapshots.begin() + 1);
        --m_current;
    }

    try {
        std::shared_ptr<CImage> copy = TakeSpare(picture);
        while (!copy->CopyFrom(picture)) {
            // Out of memory: older states are worth less than recording the newest one. The opened
            // picture is never given up.
            if (count() <= 1) return false;
            m_snapshots.erase(m_snapshots.begin() + 1);
            --m_current;
        }
        m_snapshots.push_back(std::move(copy));
    } catch (const std::bad_alloc&) {
        return false; // the few bytes of a snapshot's record, not its pixels (those never throw)
    }
    m_current = count() - 1;
    return true;
}

bool CImageHistory::Restore(int index, CImage& picture)
{
    const CImage& shot = *m_snapshots[static_cast<std::size_t>(index)];
    const bool sameLayout = picture.width() == shot.width() && picture.height() == shot.height() &&
                            picture.bitsPerPixel() == shot.bitsPerPixel();
    if (sameLayout) return picture.CopyFrom(shot); // reuses the picture's memory: cannot fail
    // Build the other size aside so that a failed allocation leaves the picture as it is.
    CImage restored;
    if (!restored.CopyFrom(shot)) return false;
    picture = std::move(restored);
    return true;
}

bool CImageHistory::Undo(CImage& picture)
{
    if (m_current < 0) return true;
    const int index = m_current > 0 ? m_current - 1 : 0;
    if (!Restore(index, picture)) return false;
    m_current = index;
    return true;
}

bool CImageHistory::Redo(CImage& picture)
{
    if (m_current < 0) return true;
    const int index = m_current < count() - 1 ? m_current + 1 : count() - 1;
    if (!Restore(index, picture)) return false;
    m_current = index;
    return true;
}
