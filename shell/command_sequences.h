#pragma once

#include "dialogs/preview_renderer.h"

#include <QString>

#include <functional>
#include <string_view>
#include <vector>

class CImageProcessor;
class COrvexView;
class CParamDialog;

// The ways a command applies an operation, written once. They differ only in how the new picture is
// computed; every one ends in the document's CommitChange (modified mark, one history snapshot,
// refresh of every view of the document);
// an operation that runs out of memory leaves the picture as it was, shows a message and records
// nothing.
namespace sequence {

using CEngineCall = std::function<void(CImageProcessor&)>;

// Where an operation runs: on this thread, or (operations that show a progress bar) on a worker
// while this thread keeps the windows painted, drops input and turns Escape into a cancel request.
enum class CRun { Here, Worker };

inline const QString kOutOfMemory = QStringLiteral("Not enough memory to complete the operation");
inline const QString kNoUndoStep = QStringLiteral("Not enough memory to keep this change in the undo history");

// `call` as it is to run on the view's document now: with a selection, only the selected pixels
// change, each to what running `call` on the whole picture gives it (core/region.h); without one,
// `call` itself. When `call` is exactly the operations-table row `operation` with `values` (in table
// order), that row runs on the selection and its margin only; any other call runs on the whole
// picture beside a copy. Only for calls that keep the picture's size.
CEngineCall OnSelection(const COrvexView& view, CEngineCall call, std::string_view operation = {},
                        const std::vector<double>* values = nullptr);

// The operation, then modified mark, snapshot and refresh.
void Direct(COrvexView& view, const CEngineCall& call, CRun run = CRun::Here);

// `sign` returns 0 on success; otherwise "Signature failed" and nothing is recorded.
void Signature(COrvexView& view, const std::function<int(CImageProcessor&)>& sign);

// Value and OK dialogs: `ask` runs the dialog and returns the call to make, or an empty call when
// its deciding value says nothing is to be applied.
void Asked(COrvexView& view, const std::function<CEngineCall(COrvexView&)>& ask, CRun run = CRun::Here);

// Live preview: the work image starts as a copy of the picture, the preview flag is set while the
// dialog runs, `render` draws each preview from the values of a request, and on OK (or whatever
// `applies` decides) the change is recorded. When the last complete preview frame is a rendering of
// exactly the applied values from the picture as it is, that frame becomes the picture; otherwise
// the same call runs once more on the picture. With a selection the previews show the rendering
// inside it and the picture outside, and OK changes only the selection (OnSelection).
using CApplies = std::function<bool(int result, const CParamDialog& dialog)>;
void Preview(COrvexView& view, CParamDialog& dialog, const CPreviewRenderer::Render& render,
             const CApplies& applies = {}, CRun run = CRun::Here);
// Preview's two halves around the dialog's own loop: BeginPreview attaches the renderer and shows
// its frames in the views; EndPreview stops it and applies (or not) as above.
void BeginPreview(COrvexView& view, CParamDialog& dialog, const CPreviewRenderer::Render& render);
void EndPreview(COrvexView& view, CParamDialog& dialog, const CPreviewRenderer::Render& render, bool apply,
                CRun run = CRun::Here);

// Runs `call` on a worker thread while this thread shows its progress under `label` (empty: the
// label the operation gives its own progress), keeps the windows painted and turns Escape into the
// engine's cancel request; every other input event is dropped, never delivered later.
//
// The run is recorded exactly when it committed: the operation raised the engine's committed flag
// (the diffusion operations do, just before their write-back), or returned without the cancel flag
// raised. Escape after that point changes nothing. A run that did not commit leaves picture and
// history as they were: whatever the operation had written is replaced by the history's current
// snapshot. Returns true when the run was recorded.
bool Worker(COrvexView& view, const QString& label, const CEngineCall& call);

// Undo and Redo: copy a snapshot back, refresh; the modified mark stays as it is.
void Undo(COrvexView& view);
void Redo(COrvexView& view);
// Whether Undo (Redo) would change the picture: there is an older (newer) state, or the picture
// shows a change that has no snapshot, which either brings back the last recorded state.
bool CanUndo(const COrvexView& view);
// The step Undo (Redo) would take back (bring again), empty when it has no name or the picture shows
// a change that has no snapshot.
QString UndoName(const COrvexView& view);
QString RedoName(const COrvexView& view);
// What the document's history holds, for the status bar ("History: 183 MB in 12 steps").
QString HistoryMemoryText(const COrvexView& view);
bool CanRedo(const COrvexView& view);

} // namespace sequence
