#pragma once

#include "core/region.h"

#include <QImage>
#include <QStringList>

#include <optional>

class CImage;
class COrvexView;
class QMimeData;

// The system clipboard as the editor uses it: Copy and Cut put a picture on it, Paste opens what
// is on it in new document windows.
namespace clipboard {

// What Paste opens from the clipboard.
struct COffer
{
    // Files named on the clipboard, opened as File > Open opens them: a file manager's copied
    // files (text/uri-list), or plain text whose every line is an existing file or a file URL.
    QStringList paths;
    // Otherwise a picture on the clipboard, opened as a new untitled document.
    QImage image;
    bool IsEmpty() const { return paths.isEmpty() && image.isNull(); }
};

// Whether Paste would open anything from `data` (null: nothing). Only looks at the names of the
// formats and at file names, never decodes a picture, so that it can run on every change of the
// clipboard.
bool HasOffer(const QMimeData* data);
// What Paste opens from `data` (null: nothing): named files come before a picture.
COffer ReadOffer(const QMimeData* data);

// Puts the part of `picture` inside `selection`, or the whole picture without one, on the system
// clipboard as an image that other programs can paste (X11 offers it as image/png among others).
// False, with the clipboard as it was, when the copy cannot be allocated.
bool CopyPicture(const CImage& picture, const std::optional<CRegion>& selection);

// Sets every pixel of `region` (clamped to the picture) to the background colour, as Cut leaves it.
void FillWithBackground(CImage& picture, CRegion region);

// Edit > Copy on the view's document: its selection, or the whole picture. Says so when memory ran
// short, and returns false then.
bool Copy(const COrvexView& view);
// Edit > Cut: copies the selection, then fills it with the background colour as one history step.
// Does nothing without a selection, or when the copy failed.
void Cut(COrvexView& view);
bool CanCut(const COrvexView& view);

} // namespace clipboard
