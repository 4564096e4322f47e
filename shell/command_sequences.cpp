#include "shell/command_sequences.h"

#include "core/orvex_doc.h"
#include "dialogs/param_dialog.h"
#include "shell/document_host.h"
#include "shell/orvex_view.h"
#include "shell/progress_bar.h"

#include <QApplication>
#include <QKeyEvent>
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

// Steps 2 to 4 of every applying sequence.
void Record(COrvexView& view)
{
    CDocumentHost& host = view.host();
    const bool recorded = host.doc().CommitChange();
    host.UpdateAllViews();
    if (!recorded) ShowMessage(kNoUndoStep);
}

// While a worker command runs: Escape asks the engine to stop, every other input event is dropped
// (not deferred), and windows cannot be closed under the running operation.
class CBusyInputFilter : public QObject
{
public:
    explicit CBusyInputFilter(CImageProcessor& engine) : m_engine(engine) { qApp->installEventFilter(this); }
    ~CBusyInputFilter() override { qApp->removeEventFilter(this); }
    CBusyInputFilter(const CBusyInputFilter&) = delete;
    CBusyInputFilter& operator=(const CBusyInputFilter&) = delete;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        switch (event->type()) {
        case QEvent::KeyPress:
            if (static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) m_engine.cancel.store(1);
            return true;
        case QEvent::Shortcut:
        case QEvent::ShortcutOverride:
        case QEvent::Close:
        case QEvent::DragEnter:
        case QEvent::DragMove:
        case QEvent::Drop:
        case QEvent::ContextMenu: return true;
        default: return event->isInputEvent();
        }
    }

private:
    CImageProcessor& m_engine;
};

// The worker's progress goes to the engine's shared value (which the interface thread polls), and
// the cancel flag is what a long operation's stop check sees.
class CWorkerProgress : public IProgress
{
public:
    explicit CWorkerProgress(CImageProcessor& engine) : m_engine(engine) {}
    void Begin(std::string_view, int range) override { m_range = range > 0 ? range : 1; }
    void SetPosition(int position) override
    {
        m_engine.progress.store(static_cast<float>(100.0 * position / m_range));
    }
    void End() override {}
    bool StopRequested() override { return m_engine.cancel.load() != 0; }

private:
    CImageProcessor& m_engine;
    int m_range = 1;
};

} // namespace

void Direct(COrvexView& view, const CEngineCall& call)
{
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
    if (sign(engine) != 0 || engine.Failed()) {
        ShowMessage(QStringLiteral("Signature failed"));
        return;
    }
    Record(view);
}

void Asked(COrvexView& view, const std::function<CEngineCall(COrvexView&)>& ask)
{
    const CEngineCall call = ask(view);
    if (call) Direct(view, call);
}

void Preview(COrvexView& view, CParamDialog& dialog, const CPreviewRenderer::Render& render, const CApplies& applies)
{
    CDocumentHost& host = view.host();
    COrvexDoc& doc = host.doc();
    CImageProcessor& engine = doc.engine();

    // A copy rather than a blank image: until the first rendering the view shows the picture.
    CImage& work = engine.workImage();
    work.Destroy();
    if (!work.CopyFrom(doc.picture()))
        work.Create(doc.picture().width(), doc.picture().height(), doc.picture().bitsPerPixel());

    dialog.AttachPreview(engine, render);
    QObject::connect(dialog.renderer(), &CPreviewRenderer::frameReady, &host, [&host] { host.RepaintAllViews(); });
    engine.preview.store(1);
    host.SetPreviewSource(dialog.renderer());

    const int result = dialog.exec();
    // No rendering may run or start once the flag is down.
    dialog.renderer()->Stop();
    host.SetPreviewSource(nullptr);
    engine.preview.store(0);

    const bool apply = applies ? applies(result, dialog) : result == QDialog::Accepted;
    if (apply) {
        const std::vector<double> values = dialog.values();
        Direct(view, [&render, values](CImageProcessor& e) { render(e, values); });
        return;
    }
    host.UpdateAllViews();
}

bool Worker(COrvexView& view, const QString& label, const CEngineCall& call)
{
    CDocumentHost& host = view.host();
    CImageProcessor& engine = host.doc().engine();

    engine.ClearFailure();
    engine.cancel.store(0);
    engine.committed.store(0);
    engine.progress.store(0.0f);
    // Raised here, before the worker exists, so that the loop below cannot miss a run that has
    // not yet raised it itself.
    engine.running.store(1);
    host.FreezeViews(true);

    std::thread worker([&engine, &call] {
        CWorkerProgress progress(engine);
        CImageProcessor::ThreadProgressOverride progressOverride(&progress);
        call(engine);
        // An operation that returns before raising the flag itself must still end the loop.
        engine.running.store(0);
    });

    CProgressBar bar;
    if (bar.Create(label, 100)) bar.SetBarColor();
    {
        CBusyInputFilter filter(engine);
        // Give the worker time to enter the operation (which clears the cancel flag) before
        // Escape is looked at.
        QThread::msleep(100);
        while (engine.running.load()) {
            bar.ShowAndSet(static_cast<int>(engine.progress.load()));
            QCoreApplication::processEvents(QEventLoop::AllEvents);
            QThread::msleep(10);
        }
    }
    worker.join();
    host.FreezeViews(false);

    bool completed = false;
    if (engine.Failed()) {
        bar.Release();
        ShowMessage(kOutOfMemory);
    } else if (engine.cancel.load() == 0) {
        Record(view);
        completed = true;
    }
    return completed;
}

void Undo(COrvexView& view)
{
    if (!view.document().Undo()) ShowMessage(kOutOfMemory);
    view.host().UpdateAllViews();
}

void Redo(COrvexView& view)
{
    if (!view.document().Redo()) ShowMessage(kOutOfMemory);
    view.host().UpdateAllViews();
}

} // namespace sequence
