#include "shell/command_sequences.h"

#include "core/region.h"
#include "dialogs/param_dialog.h"
#include "document/orvex_doc.h"
#include "shell/busy_run.h"
#include "shell/document_host.h"
#include "shell/orvex_view.h"
#include "shell/preview_session.h"
#include "shell/progress_bar.h"

#include <QApplication>
#include <QMessageBox>
#include <QThread>

#include <thread>

namespace sequence {
namespace {

void ShowMessage(const QString& text)
{
    QMessageBox box(QMessageBox::Warning, COrvexDoc::kAppTitle, text, QMessageBox::Ok);
    box.exec();
}

// How every applying sequence ends, once its new picture is in place (or, for a finished preview
// frame, handed over): the document records the step and refreshes its views.
void Record(COrvexView& view, CImage* replacement = nullptr)
{
    if (!view.host().doc().CommitChange(replacement, view.host().stepName)) ShowMessage(kNoUndoStep);
}

// Puts the picture back to the history's current snapshot, which is the picture as it was before
// the run. A picture of another size is built aside first, so that a failed allocation leaves
// whatever is there rather than nothing.
bool RestoreFromHistory(COrvexDoc& doc)
{
    const CImageHistory& history = doc.history();
    if (history.currentIndex() < 0) return true;
    const CImage& snapshot = history.current();
    CImage& picture = doc.picture();
    if (picture.width() == snapshot.width() && picture.height() == snapshot.height() &&
        picture.bitsPerPixel() == snapshot.bitsPerPixel())
        return picture.CopyFrom(snapshot);
    CImage restored;
    if (!restored.CopyFrom(snapshot)) return false;
    picture = std::move(restored);
    return true;
}

// A rendering of the whole picture into the work image, shown only inside `region`.
CPreviewRenderer::Render InsideOnly(CPreviewRenderer::Render render, CRegion region)
{
    return [render = std::move(render), region](CImageProcessor& engine, const std::vector<double>& values) {
        render(engine, values);
        if (engine.preview.load()) KeepOutsideRegion(engine.workImage(), *engine.image(), region);
    };
}

} // namespace

CEngineCall OnSelection(const COrvexView& view, CEngineCall call, std::string_view operation,
                        const std::vector<double>* values)
{
    const std::optional<CRegion>& selection = view.document().selection();
    if (!selection || !call) return call;
    const CRegion region = *selection;
    const COperation* op = operation.empty() ? nullptr : FindOperation(operation);
    if (op && values && values->size() >= op->params.size() && !op->changesSize) {
        const COpArgs args(std::vector<double>(values->begin(), values->begin() + std::ptrdiff_t(op->params.size())));
        return [op, args, region](CImageProcessor& e) { RunOnRegion(e, *op, args, region); };
    }
    return [call = std::move(call), region](CImageProcessor& e) {
        RunOnRegion(
            e,
            [&call](CImageProcessor& engine) {
                call(engine);
                return true;
            },
            region);
    };
}

void Direct(COrvexView& view, const CEngineCall& call, CRun run)
{
    if (run == CRun::Worker) {
        Worker(view, QString(), call);
        return;
    }
    CImageProcessor& engine = view.document().engine();
    engine.ClearFailure();
    call(engine);
    if (engine.Failed()) {
        ShowMessage(kOutOfMemory);
        return;
    }
    Record(view);
}

void Signature(COrvexView& view, const std::function<int(CImageProcessor&)>& sign)
{
    CImageProcessor& engine = view.document().engine();
    engine.ClearFailure();
    const std::optional<CRegion>& selection = view.document().selection();
    const bool signedIt = selection ? RunOnRegion(
                                          engine, [&sign](CImageProcessor& e) { return sign(e) == 0; }, *selection)
                                    : sign(engine) == 0;
    if (!signedIt || engine.Failed()) {
        ShowMessage(QStringLiteral("Signature failed"));
        return;
    }
    Record(view);
}

void Asked(COrvexView& view, const std::function<CEngineCall(COrvexView&)>& ask, CRun run)
{
    const CEngineCall call = ask(view);
    if (call) Direct(view, call, run);
}

void Preview(COrvexView& view, CParamDialog& dialog, const CPreviewRenderer::Render& render, const CApplies& applies,
             CRun run)
{
    BeginPreview(view, dialog, render);
    int result = QDialog::Rejected;
    {
        // The document window stays open to zooming and scrolling while the dialog runs.
        const CPreviewSession session(view, dialog);
        result = dialog.exec();
    }
    EndPreview(view, dialog, render, applies ? applies(result, dialog) : result == QDialog::Accepted, run);
}

void BeginPreview(COrvexView& view, CParamDialog& dialog, const CPreviewRenderer::Render& render)
{
    CDocumentHost& host = view.host();
    COrvexDoc& doc = host.doc();
    CImageProcessor& engine = doc.engine();

    // A copy rather than a blank image: until the first rendering the view shows the picture.
    CImage& work = engine.workImage();
    work.Destroy();
    if (!work.CopyFrom(doc.picture()))
        work.Create(doc.picture().width(), doc.picture().height(), doc.picture().bitsPerPixel());

    const std::optional<CRegion>& selection = doc.selection();
    dialog.AttachPreview(engine, selection ? InsideOnly(render, *selection) : render);
    QObject::connect(dialog.renderer(), &CPreviewRenderer::frameReady, &host, [&host] { host.RepaintAllViews(); });
    dialog.renderer()->SetFrameObserver([&host](const CImage& frame) { host.TapPreviewFrame(frame); });
    engine.preview.store(1);
    host.SetPreviewSource(dialog.renderer());
}

void EndPreview(COrvexView& view, CParamDialog& dialog, const CPreviewRenderer::Render& render, bool apply, CRun run)
{
    CDocumentHost& host = view.host();
    COrvexDoc& doc = host.doc();
    // No rendering may run or start once the flag is down.
    dialog.renderer()->Stop();
    host.SetPreviewSource(nullptr);
    doc.engine().preview.store(0);

    if (!apply) {
        host.UpdateAllViews();
        return;
    }
    const std::vector<double> values = dialog.values();
    CImage frame;
    if (dialog.renderer()->TakeFrame(values, doc.picture(), frame)) {
        Record(view, &frame);
        return;
    }
    Direct(view, OnSelection(view, [&render, values](CImageProcessor& e) { render(e, values); }), run);
}

bool Worker(COrvexView& view, const QString& label, const CEngineCall& call)
{
    CDocumentHost& host = view.host();
    COrvexDoc& doc = host.doc();
    CImageProcessor& engine = doc.engine();

    // A change whose snapshot could not be made is not in the history; keep it aside so that a
    // cancelled run can still come back to it.
    CImage unrecorded;
    if (!host.pictureHasSnapshot && !unrecorded.CopyFrom(doc.picture())) {
        ShowMessage(kOutOfMemory);
        return false;
    }

    engine.ClearFailure();
    engine.cancel.store(0);
    engine.committed.store(0);
    engine.progress.store(0.0f);
    // Raised here, before the worker exists, so that the loop below cannot miss a run that has
    // not yet raised it itself.
    engine.running.store(1);
    host.FreezeViews(true);

    // The worker's progress goes to the engine's shared value, which this thread polls, and the
    // cancel flag is what a long operation's stop check sees.
    CAsideProgress progress(engine.progress, &engine.cancel);
    // An exception escaping the operation fails it like a failed allocation: the picture is
    // restored below. Left to unwind off this thread it would end the program.
    QString escaped;
    std::thread worker([&engine, &call, &progress, &escaped] {
        bool threw = false;
        try {
            CImageProcessor::ThreadProgressOverride progressOverride(&progress);
            call(engine);
        } catch (const std::bad_alloc&) {
            threw = true;
            escaped = kOutOfMemory;
        } catch (const std::exception& e) {
            threw = true;
            escaped = QStringLiteral("The operation failed: %1").arg(QString::fromUtf8(e.what()));
        } catch (...) {
            threw = true;
            escaped = QStringLiteral("The operation failed.");
        }
        // An operation that does not commit by itself has done its whole work when it returns
        // without having been asked to stop.
        if (threw) engine.committed.store(0);
        else if (!engine.Failed() && engine.cancel.load() == 0) engine.committed.store(1);
        // An operation that returns before raising the flag itself must still end the loop.
        engine.running.store(0);
    });

    CProgressBar bar;
    if (bar.Create(label, 100)) bar.SetBarColor();
    int labelVersion = 0;
    {
        CBusyInputFilter filter(&engine.cancel);
        while (engine.running.load()) {
            QString operationLabel;
            if (label.isEmpty() && progress.NewLabel(labelVersion, operationLabel)) {
                bar.Release();
                if (bar.Create(operationLabel, 100)) bar.SetBarColor();
            }
            bar.ShowAndSet(static_cast<int>(engine.progress.load()));
            QCoreApplication::processEvents(QEventLoop::AllEvents);
            filter.Reassert();
            QThread::msleep(10);
        }
        // Input that arrived during the last poll goes the same way as the rest.
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
    worker.join();

    const bool committed = engine.committed.load() != 0;
    bool restored = true;
    if (!committed && !engine.Failed())
        restored = host.pictureHasSnapshot ? RestoreFromHistory(doc) : doc.picture().CopyFrom(unrecorded);
    // What the run left on screen is then in no snapshot; Undo and Redo must stay able to leave it.
    if (!restored) host.pictureHasSnapshot = false;
    host.FreezeViews(false);

    if (committed) {
        Record(view);
        return true;
    }
    bar.Release();
    host.UpdateAllViews();
    if (!escaped.isEmpty()) ShowMessage(escaped);
    else if (engine.Failed() || !restored) ShowMessage(kOutOfMemory);
    return false;
}

void Undo(COrvexView& view)
{
    if (view.document().Undo()) view.host().pictureHasSnapshot = true;
    else ShowMessage(kOutOfMemory);
    view.host().UpdateAllViews();
}

void Redo(COrvexView& view)
{
    if (view.document().Redo()) view.host().pictureHasSnapshot = true;
    else ShowMessage(kOutOfMemory);
    view.host().UpdateAllViews();
}

QString UndoName(const COrvexView& view)
{
    if (!view.host().pictureHasSnapshot) return {};
    return QString::fromStdString(view.document().history().undoName());
}

QString RedoName(const COrvexView& view)
{
    if (!view.host().pictureHasSnapshot) return {};
    return QString::fromStdString(view.document().history().redoName());
}

QString HistoryMemoryText(const COrvexView& view)
{
    const CImageHistory& history = view.document().history();
    const auto megabytes = [](std::size_t bytes) { return qulonglong((bytes + (std::size_t(1) << 19)) >> 20); };
    QString text = QStringLiteral("History: %1 MB in %2 %3")
                       .arg(megabytes(history.memoryInUse()))
                       .arg(history.count())
                       .arg(history.count() == 1 ? QStringLiteral("step") : QStringLiteral("steps"));
    if (const std::size_t spilled = history.bytesSpilled())
        text += QStringLiteral(", %1 MB in a temporary file").arg(megabytes(spilled));
    return text;
}

bool CanUndo(const COrvexView& view)
{
    const CImageHistory& history = view.document().history();
    return history.CanUndo() || (history.currentIndex() >= 0 && !view.host().pictureHasSnapshot);
}

bool CanRedo(const COrvexView& view)
{
    const CImageHistory& history = view.document().history();
    return history.CanRedo() || (history.currentIndex() >= 0 && !view.host().pictureHasSnapshot);
}

} // namespace sequence
