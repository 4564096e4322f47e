// Zoom that keeps its place, fitting, scrolling by keys and moving the picture by hand.
#include "shell/picture_painter.h"
#include "tests/shell/shell_test_support.h"

#include <QScrollBar>

#include <algorithm>
#include <cmath>

using namespace shell_test;

namespace {

class ZoomTest : public ShellTest
{
protected:
    // Where picture position `p` is in the view, by the plain proportion of the shown rectangle.
    QPointF ViewPos(QPointF p) const
    {
        const CPictureMapping m = view()->mapping();
        return {m.shown.x() + p.x() * m.shown.width() / m.width, m.shown.y() + p.y() * m.shown.height() / m.height};
    }
    QPointF Middle() const { return {view()->viewport()->width() / 2.0, view()->viewport()->height() / 2.0}; }
    QPoint Scroll() const { return {view()->horizontalScrollBar()->value(), view()->verticalScrollBar()->value()}; }
    void ScrollTo(int x, int y)
    {
        view()->horizontalScrollBar()->setValue(x);
        view()->verticalScrollBar()->setValue(y);
    }
    void Settle()
    {
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
    }
    void Mouse(QEvent::Type type, QPoint at, Qt::MouseButton button, Qt::MouseButtons held)
    {
        QWidget* viewport = view()->viewport();
        QMouseEvent event(type, at, viewport->mapToGlobal(at), button, held, Qt::NoModifier);
        QCoreApplication::sendEvent(viewport, &event);
    }
};

// The view reduces only what it exposes; pieces in any order make the same image as the whole.
TEST(ScalePictureDownPartTest, PiecesMakeTheWholeReduction)
{
    struct PartCase
    {
        int width, height, dw, dh;
    };
    const PartCase cases[] = {{1, 1, 1, 1}, {37, 23, 5, 7}, {1500, 11, 333, 3}, {64, 64, 64, 64}, {9, 400, 2, 101}};
    for (const PartCase& c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << " x " << c.height << " -> " << c.dw << " x " << c.dh);
        const CImage picture = test_pictures::Noise(c.width, c.height, 7);
        const QImage whole = ScalePictureDown(picture, c.dw, c.dh);
        ASSERT_EQ(whole.size(), QSize(c.dw, c.dh));
        QImage pieces(c.dw, c.dh, QImage::Format_RGB32);
        pieces.fill(Qt::magenta);
        // Overlapping and out-of-range pieces, bottom right first.
        const int hx = c.dw / 2, hy = c.dh / 2;
        for (const QRect& r : {QRect(hx, hy, c.dw, c.dh), QRect(0, hy, hx + 1, c.dh), QRect(-3, -3, c.dw + 6, hy + 3)})
            ScalePictureDownPart(picture, pieces, r);
        EXPECT_EQ(pieces, whole);
    }
}

// The picture point at the middle of the view stays there, within a screen pixel, from scrolled
// positions and through every kind of step; Ctrl+wheel keeps the point under the pointer.
TEST_F(ZoomTest, ZoomKeepsThePointAtTheMiddleOrUnderThePointer)
{
    Start({WritePicture("big.png", 2000, 1500)});
    view()->frame()->resize(420, 330);
    view()->Zoom100();
    Settle();
    struct Step
    {
        const char* name;
        float startZoom;
        QPoint scroll;
        std::function<void(COrvexView&)> step;
        float zoom;
    };
    const Step steps[] = {
        {"in", 1.0f, {123, 77}, [](COrvexView& v) { v.ZoomIn(); }, 2.0f},
        {"in below 100", 1.0f / 1.5f, {301, 250}, [](COrvexView& v) { v.ZoomIn(); }, 1.0f},
        {"out", 1.0f, {900, 640}, [](COrvexView& v) { v.ZoomOut(); }, 1.0f / 1.5f},
        {"out above 100", 4.0f, {3001, 2222}, [](COrvexView& v) { v.ZoomOut(); }, 2.0f},
        {"100 from 400", 4.0f, {4567, 3210}, [](COrvexView& v) { v.Zoom100(); }, 1.0f},
        {"100 from 66", 1.0f / 1.5f, {500, 400}, [](COrvexView& v) { v.Zoom100(); }, 1.0f},
        {"toolbar in", 1.0f, {555, 444}, [this](COrvexView&) { Run(CommandId::ZoomIn); }, 2.0f},
        {"toolbar out", 2.0f, {1555, 1444}, [this](COrvexView&) { Run(CommandId::ZoomOut); }, 1.0f},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.name);
        view()->ZoomTo(s.startZoom);
        Settle();
        ScrollTo(s.scroll.x(), s.scroll.y());
        ASSERT_EQ(Scroll(), s.scroll);
        const QPointF kept = view()->PicturePointAt(Middle());
        s.step(*view());
        Settle();
        EXPECT_FLOAT_EQ(view()->zoom(), s.zoom);
        const QPointF now = ViewPos(kept);
        EXPECT_LE(std::abs(now.x() - Middle().x()), 1.0) << now.x();
        EXPECT_LE(std::abs(now.y() - Middle().y()), 1.0) << now.y();
    }

    // Ctrl+wheel from a scrolled position, both ways.
    for (const int delta : {120, -120}) {
        SCOPED_TRACE(delta);
        view()->ZoomTo(1.0f);
        Settle();
        ScrollTo(700, 500);
        const QPoint at(60, 250);
        const QPointF kept = view()->PicturePointAt(QPointF(at));
        QWheelEvent wheel(at, view()->viewport()->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton,
                          Qt::ControlModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(view()->viewport(), &wheel);
        Settle();
        EXPECT_FLOAT_EQ(view()->zoom(), delta > 0 ? 2.0f : 1.0f / 1.5f);
        const QPointF now = ViewPos(kept);
        EXPECT_LE(std::abs(now.x() - at.x()), 1.0);
        EXPECT_LE(std::abs(now.y() - at.y()), 1.0);
    }
}

// After a fit the steps go to the levels next to the fitted zoom, not beside them.
TEST_F(ZoomTest, StepsFromAFittedZoomLandOnTheLevels)
{
    Start({WritePicture("s.png", 1000, 1000)});
    view()->frame()->resize(400, 400);
    Settle();
    view()->FitInWindow();
    const float fitted = view()->zoom();
    ASSERT_GT(fitted, 0.2963f);
    ASSERT_LT(fitted, 0.4444f);
    view()->ZoomIn();
    EXPECT_FLOAT_EQ(view()->zoom(), 0.44444445f);
    view()->FitInWindow();
    view()->ZoomOut();
    EXPECT_FLOAT_EQ(view()->zoom(), 0.2962963f);
    for (int i = 0; i < 20; ++i) view()->ZoomIn();
    EXPECT_EQ(view()->zoom(), COrvexView::kMaxZoom);
}

// Fit in Window: the whole picture in the window as it is, no bars, and no larger zoom would do;
// small pictures stay at 100 %.
TEST_F(ZoomTest, FitInWindowShowsTheWholePictureAsLargeAsItFits)
{
    struct FitCase
    {
        int width, height;
    };
    const FitCase cases[] = {{2000, 1500}, {300, 1000}, {1001, 37}, {50, 40}, {7, 3000}};
    Start();
    for (const FitCase& c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << " x " << c.height);
        ASSERT_NE(m_app->OpenDocumentFile(WritePicture("fit.png", c.width, c.height)), nullptr);
        view()->frame()->resize(500, 420);
        // From a zoom with both bars showing.
        view()->ZoomTo(4.0f);
        Settle();
        Run(CommandId::ViewFitInWindow);
        Settle();
        EXPECT_FALSE(view()->horizontalScrollBar()->isVisible());
        EXPECT_FALSE(view()->verticalScrollBar()->isVisible());
        const QSize area = view()->viewport()->size();
        const int dw = ScaledSize(c.width, view()->zoom());
        const int dh = ScaledSize(c.height, view()->zoom());
        EXPECT_LE(dw, area.width());
        EXPECT_LE(dh, area.height());
        if (c.width <= area.width() && c.height <= area.height()) {
            EXPECT_EQ(view()->zoom(), 1.0f);
        } else {
            // Touching one side: the reference is the smaller of the two ratios.
            const double reference = std::min(double(area.width()) / c.width, double(area.height()) / c.height);
            EXPECT_NEAR(view()->zoom(), reference, 1e-6);
            EXPECT_TRUE(dw >= area.width() - 1 || dh >= area.height() - 1) << dw << " x " << dh;
        }
        EXPECT_EQ(view()->mapping().shown, QRect((area.width() - dw) / 2, (area.height() - dh) / 2, dw, dh));
        EXPECT_TRUE(caption().endsWith(QString::number(view()->zoomPercent()) + QLatin1Char('%')));
        view()->frame()->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

TEST_F(ZoomTest, FitOnScreenFillsTheDocumentAreaAndFitsInIt)
{
    Start({WritePicture("big.png", 3000, 1000)});
    view()->frame()->resize(300, 250);
    Settle();
    Run(CommandId::ViewFitOnScreen);
    Settle();
    EXPECT_EQ(view()->frame()->geometry(), QRect(QPoint(0, 0), frame().mdiArea()->viewport()->size()));
    EXPECT_FALSE(view()->horizontalScrollBar()->isVisible());
    EXPECT_EQ(ScaledSize(3000, view()->zoom()), view()->viewport()->width());
}

// A command that changes the size keeps the zoom and the relative place at the middle of the view.
TEST_F(ZoomTest, RotationAndResizingKeepTheZoomAndTheRelativeMiddle)
{
    Start({WritePicture("r.png", 1600, 1000)});
    view()->frame()->resize(420, 330);
    view()->Zoom100();
    Settle();
    struct SizeCase
    {
        CommandId command;
        int width, height; // after
    };
    const SizeCase cases[] = {{CommandId::Rotate90CW, 1000, 1600}, {CommandId::Size640, 480, 768}};
    for (const SizeCase& c : cases) {
        SCOPED_TRACE(c.command);
        const CImage& picture = view()->document().picture();
        ScrollTo(view()->horizontalScrollBar()->maximum() / 4, view()->verticalScrollBar()->maximum() * 3 / 5);
        const QPointF start = view()->PicturePointAt(Middle());
        const QPointF startRelative(start.x() / picture.width(), start.y() / picture.height());
        Run(c.command);
        Settle();
        ASSERT_EQ(picture.width(), c.width);
        ASSERT_EQ(picture.height(), c.height);
        EXPECT_EQ(view()->zoom(), 1.0f);
        EXPECT_FALSE(view()->fitPending());
        // The relative place goes back to the middle as far as the bars reach; where the picture
        // fits, it is centred and the bar is gone.
        const QSize area = view()->viewport()->size();
        const auto expected = [](double relative, int size, int shown, int maximum) {
            return std::clamp(static_cast<int>(std::lround(relative * size - shown / 2.0)), 0, maximum);
        };
        EXPECT_NEAR(Scroll().x(),
                    expected(startRelative.x(), c.width, area.width(), view()->horizontalScrollBar()->maximum()), 1);
        EXPECT_NEAR(Scroll().y(),
                    expected(startRelative.y(), c.height, area.height(), view()->verticalScrollBar()->maximum()), 1);
    }
}

// Home, End, Ctrl+Home, Ctrl+End, Page Up and Down with and without Shift, as the keyboard sends them
// (no menu shortcut takes them).
TEST_F(ZoomTest, ScrollKeysReachTheCornersAndTurnPages)
{
    Start({WritePicture("k.png", 2000, 1500)});
    view()->frame()->resize(420, 330);
    view()->Zoom100();
    Settle();
    view()->setFocus();
    QScrollBar* h = view()->horizontalScrollBar();
    QScrollBar* v = view()->verticalScrollBar();
    ScrollTo(500, 500);
    QTest::keyClick(view(), Qt::Key_End);
    EXPECT_EQ(Scroll(), QPoint(h->maximum(), v->maximum()));
    QTest::keyClick(view(), Qt::Key_Home);
    EXPECT_EQ(Scroll(), QPoint(0, 0));
    QTest::keyClick(view(), Qt::Key_End, Qt::ControlModifier);
    EXPECT_EQ(Scroll(), QPoint(h->maximum(), v->maximum()));
    QTest::keyClick(view(), Qt::Key_Home, Qt::ControlModifier);
    EXPECT_EQ(Scroll(), QPoint(0, 0));
    QTest::keyClick(view(), Qt::Key_PageDown);
    EXPECT_EQ(Scroll(), QPoint(0, v->pageStep()));
    EXPECT_EQ(v->pageStep(), view()->viewport()->height());
    QTest::keyClick(view(), Qt::Key_PageDown, Qt::ShiftModifier);
    EXPECT_EQ(Scroll(), QPoint(h->pageStep(), v->pageStep()));
    EXPECT_EQ(h->pageStep(), view()->viewport()->width());
    QTest::keyClick(view(), Qt::Key_PageUp);
    QTest::keyClick(view(), Qt::Key_PageUp, Qt::ShiftModifier);
    EXPECT_EQ(Scroll(), QPoint(0, 0));
}

// The space bar held with the left button, and the middle button alone, move the picture with the
// pointer and select nothing.
TEST_F(ZoomTest, SpaceDragAndMiddleDragPan)
{
    Start({WritePicture("p.png", 2000, 1500)});
    view()->frame()->resize(420, 330);
    view()->Zoom100();
    Settle();
    view()->setFocus();
    QWidget* viewport = view()->viewport();

    ScrollTo(600, 500);
    QTest::keyPress(view(), Qt::Key_Space);
    EXPECT_EQ(viewport->cursor().shape(), Qt::OpenHandCursor);
    Mouse(QEvent::MouseButtonPress, {200, 150}, Qt::LeftButton, Qt::LeftButton);
    EXPECT_EQ(viewport->cursor().shape(), Qt::ClosedHandCursor);
    Mouse(QEvent::MouseMove, {180, 140}, Qt::NoButton, Qt::LeftButton);
    Mouse(QEvent::MouseMove, {150, 100}, Qt::NoButton, Qt::LeftButton);
    Mouse(QEvent::MouseButtonRelease, {150, 100}, Qt::LeftButton, Qt::NoButton);
    EXPECT_EQ(Scroll(), QPoint(650, 550));
    EXPECT_EQ(viewport->cursor().shape(), Qt::OpenHandCursor);
    QTest::keyRelease(view(), Qt::Key_Space);
    EXPECT_NE(viewport->cursor().shape(), Qt::OpenHandCursor);
    EXPECT_FALSE(view()->document().selection().has_value());

    Mouse(QEvent::MouseButtonPress, {100, 100}, Qt::MiddleButton, Qt::MiddleButton);
    Mouse(QEvent::MouseMove, {160, 130}, Qt::NoButton, Qt::MiddleButton);
    Mouse(QEvent::MouseButtonRelease, {160, 130}, Qt::MiddleButton, Qt::NoButton);
    EXPECT_EQ(Scroll(), QPoint(590, 520));
    EXPECT_FALSE(view()->document().selection().has_value());

    // Without the space bar the left button selects again.
    Mouse(QEvent::MouseButtonPress, {100, 100}, Qt::LeftButton, Qt::LeftButton);
    Mouse(QEvent::MouseMove, {160, 130}, Qt::NoButton, Qt::LeftButton);
    Mouse(QEvent::MouseButtonRelease, {160, 130}, Qt::LeftButton, Qt::NoButton);
    EXPECT_TRUE(view()->document().selection().has_value());
    EXPECT_EQ(Scroll(), QPoint(590, 520));
}

} // namespace
