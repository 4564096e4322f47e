#pragma once

#include "dialogs/preview_renderer.h"

#include <QString>

#include <functional>

class CImageProcessor;
class COrvexView;
class CParamDialog;

// The ways a command applies an operation, written once. Every sequence that changes the picture
// ends the same way: modified mark, one history snapshot, refresh of every view of the document;
// an operation that runs out of memory leaves the picture as it was, shows a message and records
// nothing.
namespace sequence {

using CEngineCall = std::function<void(CImageProcessor&)>;

inline const QString kOutOfMemory = QStringLiteral("Not enough memory to complete the operation");
inline const QString kNoUndoStep = QStringLiteral("Not enough memory to keep this change in the undo history");

// The operation, then modified mark, snapshot and refresh.
void Direct(COrvexView& view, const CEngineCall& call);

// `sign` returns 0 on success; otherwise "Signature failed" and nothing is recorded.
void Signature(COrvexView& view, const std::function<int(CImageProcessor&)>& sign);

// Value and OK dialogs: `ask` runs the dialog and returns the call to make, or an empty call when
// its deciding value says nothing is to be applied.
void Asked(COrvexView& view, const std::function<CEngineCall(COrvexView&)>& ask);

// Live preview: the work image starts as a copy of the picture, the preview flag is set while the
// dialog runs, `render` draws each preview from the values of a request, and on OK (or whatever
// `applies` decides) the same call runs once more on the picture.
using CApplies = std::function<bool(int result, const CParamDialog& dialog)>;
void Preview(COrvexView& view, CParamDialog& dialog, const CPreviewRenderer::Render& render,
             const CApplies& applies = {});

// Runs `call` on a worker thread while this thread shows its progress under `label`, keeps the
// windows painted and turns Escape into the engine's cancel request; other input is discarded.
// Returns true when the run completed (and was recorded), false when it was cancelled or failed.
bool Worker(COrvexView& view, const QString& label, const CEngineCall& call);

// Undo and Redo: copy a snapshot back, refresh; the modified mark stays as it is.
void Undo(COrvexView& view);
void Redo(COrvexView& view);

} // namespace sequence
