// What a zoom step and a pointer move cost the interface thread: the first frame at a new zoom of
// a 100 MP picture (within 100 ms), and the status bar's fields following the pointer over a
// 6000 x 4000 picture (within 1 ms a move), beside the floor pass over the same picture.
#include "bench/bench_support.h"
#include "shell/child_frame.h"
#include "shell/document_host.h"
#include "shell/orvex_view.h"
#include "shell/status_fields.h"
#include "tests/test_pictures.h"

#include <QApplication>
#include <QMainWindow>
#include <QMdiArea>
#include <QMouseEvent>
#include <QStatusBar>

#include <benchmark/benchmark.h>

#include <memory>

namespace {

// A document window in a main-window-sized document area, with the status bar's fields on it.
struct Window
{
    QMainWindow main;
    QMdiArea* area = new QMdiArea;
    std::unique_ptr<CDocumentHost> host;
    CChildFrame* frame = nullptr;
    CStatusFields* fields = nullptr;

    Window(int width, int height)
    {
        auto doc = std::make_unique<COrvexDoc>();
        doc->picture() = test_pictures::Pattern(width, height);
        host = std::make_unique<CDocumentHost>(std::move(doc));
        main.setCentralWidget(area);
        fields = new CStatusFields(*main.statusBar());
        main.resize(1600, 1040);
        main.show();
        frame = new CChildFrame(*host);
        area->addSubWindow(frame);
        frame->show();
        frame->view()->Refresh();
        frame->resize(1400, 900);
        fields->Follow(frame->view());
        QCoreApplication::processEvents();
    }
    ~Window()
    {
        fields->Follow(nullptr);
        frame->view()->Detach();
    }
    COrvexView& view() { return *frame->view(); }
};

// One zoom step of a 12000 x 8333 picture, from the call to the end of the first paint at the new
// zoom. zoomed:0 steps between two levels at which the whole picture shows (all of it is reduced),
// zoomed:1 between 66 % and 44 %, where the window shows a part.
void BM_ZoomStep100MP(benchmark::State& state)
{
    Window window(12000, 8333);
    COrvexView& view = window.view();
    const bool zoomed = state.range(0) != 0;
    const float levels[2] = {zoomed ? 1.0f / 1.5f : 0.0877915f, zoomed ? 0.44444445f : 0.0585277f};
    view.ZoomTo(levels[0]);
    view.viewport()->repaint();
    int i = 0;
    for (auto _ : state) {
        view.ZoomTo(levels[++i % 2]);
        view.viewport()->repaint();
    }
    state.counters["zoom%"] = view.zoomPercent();
}

// The floor for a 100 MP picture: one read-write pass over every byte.
void BM_Floor100MP(benchmark::State& state)
{
    CImage picture = test_pictures::Pattern(12000, 8333);
    bench_support::InvertEveryBytePass(state, picture);
}

// One pointer move over a 6000 x 4000 picture at the fitted zoom, as the view receives it: the
// selection's cursor and the status bar's position and colour, texts set where they changed.
void BM_PointerMoveStatus(benchmark::State& state)
{
    Window window(bench_support::kWidth, bench_support::kHeight);
    COrvexView& view = window.view();
    QWidget* viewport = view.viewport();
    const QRect shown = view.mapping().shown;
    int step = 0;
    for (auto _ : state) {
        const QPoint at = shown.topLeft() + QPoint(step % shown.width(), (step / 3) % shown.height());
        step += 7;
        QMouseEvent move(QEvent::MouseMove, at, viewport->mapToGlobal(at), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(viewport, &move);
    }
    state.counters["zoom%"] = view.zoomPercent();
}

// The status bar's update alone, the pointer resting on the picture.
void BM_StatusFieldsUpdate(benchmark::State& state)
{
    Window window(bench_support::kWidth, bench_support::kHeight);
    for (auto _ : state) window.fields->Update();
}

void BM_Floor24MP(benchmark::State& state)
{
    CImage picture;
    picture.CopyFrom(bench_support::GradientPicture());
    bench_support::InvertEveryBytePass(state, picture);
}

} // namespace

BENCHMARK(BM_ZoomStep100MP)->Unit(benchmark::kMillisecond)->UseRealTime()->ArgName("zoomed")->Arg(0)->Arg(1);
BENCHMARK(BM_Floor100MP)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PointerMoveStatus)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_StatusFieldsUpdate)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Floor24MP)->Unit(benchmark::kMillisecond)->UseRealTime();
