// What the eye sees: painting the visible part of a 6000 x 4000 picture while scrolling, at the
// fitted zoom and at 100 %, dragging a selection over it, and the delay from a value change to its
// preview on screen.
#include "core/operation_table.h"
#include "dialogs/param_dialog.h"
#include "dialogs/preview_renderer.h"
#include "dialogs/variations_dlg.h"
#include "shell/child_frame.h"
#include "shell/command_sequences.h"
#include "shell/document_host.h"
#include "shell/orvex_view.h"
#include "shell/picture_painter.h"
#include "tests/test_pictures.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QMdiArea>
#include <QMouseEvent>
#include <QScrollBar>
#include <QThread>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <string>

namespace {

constexpr int kWidth = 6000;
constexpr int kHeight = 4000;

// A document window as the editor shows it, in a main-window-sized document area.
struct Window
{
    QMdiArea area;
    std::unique_ptr<CDocumentHost> host;
    CChildFrame* frame = nullptr;

    Window()
    {
        auto doc = std::make_unique<COrvexDoc>();
        doc->picture() = test_pictures::Pattern(kWidth, kHeight);
        host = std::make_unique<CDocumentHost>(std::move(doc));
        area.resize(1600, 1000);
        area.show();
        frame = new CChildFrame(*host);
        area.addSubWindow(frame);
        frame->show();
        frame->view()->Refresh();
        QCoreApplication::processEvents();
    }
    ~Window() { frame->view()->Detach(); }
    COrvexView& view() { return *frame->view(); }
};

// One frame of scrolling: the bars move, the uncovered strip is painted and the window flushed.
void ScrollFrames(benchmark::State& state, bool fitted)
{
    Window window;
    COrvexView& view = window.view();
    if (!fitted) {
        view.Zoom100();
        window.frame->resize(1400, 900);
    }
    QCoreApplication::processEvents();
    view.viewport()->repaint(); // the reduction for this zoom is made once, outside the timing
    QScrollBar* bar = view.horizontalScrollBar();
    int step = 23;
    for (auto _ : state) {
        if (bar->maximum() > 0) {
            if (bar->value() + step > bar->maximum() || bar->value() + step < 0) step = -step;
            bar->setValue(bar->value() + step);
        } else {
            view.viewport()->update();
        }
        view.viewport()->repaint();
    }
    state.counters["zoom%"] = static_cast<int>(view.zoom() * 100);
}

// One frame of dragging a new selection at the fitted zoom: the pointer moves, the selection follows
// and what its outline touched, before and after, is painted. Must stay within 16 ms.
void BM_SelectionDragFitted(benchmark::State& state)
{
    Window window;
    COrvexView& view = window.view();
    QWidget* viewport = view.viewport();
    QCoreApplication::processEvents();
    viewport->repaint();
    const QRect shown = view.mapping().shown;
    const auto send = [viewport](QEvent::Type type, QPoint at, Qt::MouseButtons held) {
        QMouseEvent event(type, at, viewport->mapToGlobal(at),
                          type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, held, Qt::NoModifier);
        QCoreApplication::sendEvent(viewport, &event);
    };
    const QPoint start = shown.topLeft() + QPoint(40, 30);
    send(QEvent::MouseButtonPress, start, Qt::LeftButton);
    int step = 0;
    for (auto _ : state) {
        // Back and forth across most of the picture, a few view pixels per frame.
        const int t = step++ % 200;
        const int along = t < 100 ? t : 200 - t;
        send(QEvent::MouseMove,
             start + QPoint(20 + along * (shown.width() - 100) / 100, 20 + along * (shown.height() - 80) / 100),
             Qt::LeftButton);
        // The view asked for a repaint of what changed only; the window paints and flushes it here.
        QCoreApplication::processEvents();
    }
    send(QEvent::MouseButtonRelease, start, Qt::NoButton);
    state.counters["zoom%"] = static_cast<int>(view.zoom() * 100);
}

void BM_ScrollFitted(benchmark::State& state) { ScrollFrames(state, true); }
void BM_ScrollAt100(benchmark::State& state) { ScrollFrames(state, false); }

// A whole-window repaint at 100 %, as after an expose.
void BM_FullRepaintAt100(benchmark::State& state)
{
    Window window;
    window.view().Zoom100();
    window.frame->resize(1400, 900);
    QCoreApplication::processEvents();
    for (auto _ : state) window.view().viewport()->repaint();
}

// The reduction a zoom change costs once.
void BM_ZoomChangeFitted(benchmark::State& state)
{
    Window window;
    for (auto _ : state) {
        window.view().PictureChanged();
        window.view().viewport()->repaint();
    }
}

// The reduction alone, to the fitted size of a 6000 x 4000 picture.
void BM_ReducePicture(benchmark::State& state)
{
    const CImage picture = test_pictures::Pattern(kWidth, kHeight);
    for (auto _ : state) benchmark::DoNotOptimize(ScalePictureDown(picture, 790, 526));
}

// Variations... opening on a 6000 x 4000 picture: the reduced copy and its nine thumbnails, the wait
// before the dialog can show.
void BM_VariationsThumbnails(benchmark::State& state)
{
    const CImage picture = test_pictures::Pattern(kWidth, kHeight);
    for (auto _ : state) {
        CVariationsDlg dialog(picture);
        benchmark::DoNotOptimize(dialog.thumbnail(CVariationsDlg::kCurrentPick).bits());
    }
}

// A preview operation with real work: every byte of the picture plus a value, into the work image,
// `passes` times over (values[1]) to stand for heavier adjustments.
void Lighten(CImageProcessor& engine, const std::vector<double>& values)
{
    const CImage& picture = *engine.image();
    std::uint8_t* out = engine.OutputBits();
    if (!out) return;
    const int add = static_cast<int>(values.at(0));
    const int passes = values.size() > 1 ? static_cast<int>(values[1]) : 1;
    for (int pass = 0; pass < passes; ++pass)
    for (int y = 0; y < picture.height(); ++y) {
        const std::uint8_t* in = picture.bits() + static_cast<std::ptrdiff_t>(y) * picture.pitch();
        std::uint8_t* row = out + static_cast<std::ptrdiff_t>(y) * picture.pitch();
        for (int i = 0; i < picture.width() * 3; ++i) row[i] = static_cast<std::uint8_t>(std::min(in[i] + add, 255));
    }
}

// From a value change to the view having painted its rendering, against the operation alone.
void BM_PreviewLatency(benchmark::State& state)
{
    Window window;
    CImageProcessor& engine = window.host->doc().engine();
    engine.workImage().CopyFrom(window.host->doc().picture());
    engine.preview.store(1);

    const double passes = static_cast<double>(state.range(0));
    QElapsedTimer alone;
    alone.start();
    Lighten(engine, {1, passes});
    const double operationMs = static_cast<double>(alone.nsecsElapsed()) / 1e6;

    // The operation's own time is taken where it runs, on the renderer's thread.
    std::atomic<qint64> renderNs{0}, startNs{0}, endNs{0};
    QElapsedTimer clock;
    clock.start();
    CPreviewRenderer renderer(engine, [&](CImageProcessor& e, const std::vector<double>& v) {
        startNs.store(clock.nsecsElapsed());
        QElapsedTimer own;
        own.start();
        Lighten(e, v);
        renderNs.store(own.nsecsElapsed());
        endNs.store(clock.nsecsElapsed());
    });
    window.host->SetPreviewSource(&renderer);
    QEventLoop waiting;
    double beforeMs = 0, afterMs = 0;
    qint64 requestNs = 0;
    QObject::connect(&renderer, &CPreviewRenderer::frameReady, [&] {
        beforeMs += static_cast<double>(startNs.load() - requestNs) / 1e6;
        afterMs += static_cast<double>(clock.nsecsElapsed() - endNs.load()) / 1e6;
        window.host->RepaintAllViews();
        window.view().viewport()->repaint();
        waiting.quit();
    });
    int value = 0;
    double totalMs = 0;
    double renderMs = 0;
    for (auto _ : state) {
        QThread::msleep(110); // an isolated change, not a burst
        requestNs = clock.nsecsElapsed();
        renderer.Request({static_cast<double>(++value % 50), passes});
        waiting.exec();
        totalMs += static_cast<double>(clock.nsecsElapsed() - requestNs) / 1e6;
        renderMs += static_cast<double>(renderNs.load()) / 1e6;
    }
    renderer.Stop();
    window.host->SetPreviewSource(nullptr);
    engine.preview.store(0);
    state.counters["alone_ms"] = operationMs;
    state.counters["rendering_ms"] = renderMs / static_cast<double>(state.iterations());
    state.counters["shown_ms"] = totalMs / static_cast<double>(state.iterations());
    state.counters["ratio"] = totalMs / renderMs;
    state.counters["to_start_ms"] = beforeMs / static_cast<double>(state.iterations());
    state.counters["to_signal_ms"] = afterMs / static_cast<double>(state.iterations());
}

// Ten changes within 100 ms: how many renderings start.
void BM_PreviewBurst(benchmark::State& state)
{
    Window window;
    CImageProcessor& engine = window.host->doc().engine();
    engine.workImage().CopyFrom(window.host->doc().picture());
    engine.preview.store(1);
    int started = 0;
    int bursts = 0;
    for (auto _ : state) {
        CPreviewRenderer renderer(engine, Lighten);
        for (int v = 1; v <= 10; ++v) {
            renderer.Request({static_cast<double>(v)});
            QThread::msleep(10);
        }
        while (!renderer.Idle()) QThread::msleep(1);
        started += renderer.renderingsStarted();
        ++bursts;
    }
    engine.preview.store(0);
    state.counters["renderings_per_burst"] = static_cast<double>(started) / bursts;
}

// OK on a preview dialog whose preview has finished, from the press to the step being recorded
// and the views refreshed: with the finished frame taken over (frame:1), against the applied
// values rendered once more on the picture, as when no usable frame is there (frame:0).
void PreviewOk(benchmark::State& state, const std::string& operation, const char* parameter, double value)
{
    const bool finishedFrame = state.range(0) != 0;
    const CPreviewRenderer::Render render =
        CPreviewRenderer::Aside([operation](CImageProcessor& e, const std::vector<double>& v) {
            CParamDialog::RenderByTable(operation, e, v);
        });
    std::unique_ptr<Window> window;
    std::unique_ptr<CParamDialog> dialog;
    int committed = 0;
    for (auto _ : state) {
        state.PauseTiming();
        // A document as opened, whose history holds only the opened picture.
        dialog.reset();
        window.reset();
        window = std::make_unique<Window>();
        COrvexDoc& doc = window->host->doc();
        doc.history().Push(doc.picture());
        dialog = std::make_unique<CParamDialog>(QString::fromStdString(operation));
        dialog->BindOperation(operation);
        dialog->AddPreviewBox();
        sequence::BeginPreview(window->view(), *dialog, render);
        if (!finishedFrame) dialog->renderer()->Stop();
        dialog->SetValue(parameter, value);
        while (finishedFrame &&
               !(dialog->renderer()->Idle() && dialog->renderer()->shownValues() == dialog->values())) {
            QCoreApplication::processEvents();
            QThread::msleep(5);
        }
        const int steps = doc.history().count();
        state.ResumeTiming();

        sequence::EndPreview(window->view(), *dialog, render, true);

        state.PauseTiming();
        committed += doc.history().count() - steps;
        state.ResumeTiming();
    }
    dialog.reset();
    window.reset();
    state.counters["steps"] = static_cast<double>(committed) / static_cast<double>(state.iterations());
}

void BM_PreviewOkGaussianBlur50(benchmark::State& state)
{
    PreviewOk(state, "GaussianBlur", "radius", 50);
}
void BM_PreviewOkMedian20(benchmark::State& state)
{
    PreviewOk(state, "RankFilter", "radius", 20);
}

} // namespace

BENCHMARK(BM_ScrollFitted)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SelectionDragFitted)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ScrollAt100)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FullRepaintAt100)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReducePicture)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_VariationsThumbnails)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ZoomChangeFitted)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PreviewLatency)->Unit(benchmark::kMillisecond)->Iterations(10)->Arg(1)->Arg(4);
BENCHMARK(BM_PreviewBurst)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_PreviewOkGaussianBlur50)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3)
    ->ArgName("frame")
    ->Arg(0)
    ->Arg(1);
BENCHMARK(BM_PreviewOkMedian20)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3)
    ->ArgName("frame")
    ->Arg(0)
    ->Arg(1);
