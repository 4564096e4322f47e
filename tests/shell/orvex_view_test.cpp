// Zoom arithmetic, the first fit, captions and what the view actually paints.
#include "shell/picture_painter.h"
#include "tests/shell/shell_test_support.h"

#include <QScrollBar>

using namespace shell_test;
using test_pictures::Pixel;

namespace {

class OrvexViewTest : public ShellTest
{
protected:
    QStringList Zooms(void (COrvexView::*step)(), int times)
    {
        QStringList shown;
        for (int i = 0; i < times; ++i) {
            (view()->*step)();
            shown << caption().section(QLatin1Char('@'), 1).trimmed();
        }
        return shown;
    }
};

struct FitCase
{
    int width, height;
    const char* caption;
    int frameWidth, frameHeight; // 0: not checked
};

TEST_F(OrvexViewTest, FirstRefreshFitsLargePicturesAndSizesTheWindow)
{
    const FitCase cases[] = {
        {4000, 3000, "fit.bmp @ 19%", 850, 672},
        {1200, 700, "fit.bmp @ 100%", 1260, 780},
        {1201, 700, "fit.bmp @ 66%", 860, 546},
        {20000, 100, "fit.bmp @ 5%", 0, 0},
        {30000, 100, "fit.bmp @ 5%", 0, 0},
    };
    Start();
    // A work area larger than the largest window, which would otherwise be kept inside it.
    frame().showNormal();
    frame().resize(1500, 1100);
    QCoreApplication::processEvents();
    for (const FitCase& c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << " x " << c.height);
        const QString path = WritePicture("fit.bmp", c.width, c.height);
        ASSERT_NE(m_app->OpenDocumentFile(path), nullptr);
        EXPECT_EQ(caption(), c.caption);
        EXPECT_FALSE(view()->fitPending());
        if (c.frameWidth) {
            EXPECT_EQ(view()->frame()->size(), QSize(c.frameWidth, c.frameHeight));
        }
        view()->frame()->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

TEST_F(OrvexViewTest, ZoomStepsThroughTheLevelsAndStopsAtTheEnds)
{
    Start({WritePicture("z.png", 40, 30)});
    EXPECT_EQ(Zooms(&COrvexView::ZoomIn, 5), (QStringList{"200%", "400%", "800%", "1600%", "1600%"}));
    view()->Zoom100();
    EXPECT_EQ(Zooms(&COrvexView::ZoomOut, 8), (QStringList{"66%", "44%", "29%", "19%", "13%", "8%", "5%", "5%"}));
    // Back up from the smallest level lands exactly on 1, not next to it.
    Zooms(&COrvexView::ZoomIn, 7);
    EXPECT_EQ(view()->zoom(), 1.0f);

    // The keys: Shift+Z and Shift+O.
    QTest::keyClick(view()->viewport(), Qt::Key_Z, Qt::ShiftModifier);
    EXPECT_EQ(view()->zoom(), 2.0f);
    QTest::keyClick(view()->viewport(), Qt::Key_O, Qt::ShiftModifier);
    QTest::keyClick(view()->viewport(), Qt::Key_O, Qt::ShiftModifier);
    EXPECT_EQ(caption(), "z.png @ 66%");
}

TEST_F(OrvexViewTest, LayoutCentresAndPinsToTheCornerWhenTooBig)
{
    const CPictureLayout small = LayoutPicture(100, 50, 1.0f, 301, 200);
    EXPECT_EQ(small.x0, 100);
    EXPECT_EQ(small.y0, 75);
    const CPictureLayout big = LayoutPicture(1000, 50, 0.6666667f, 300, 10);
    EXPECT_EQ(big.dw, 666);
    EXPECT_EQ(big.dh, 33);
    EXPECT_EQ(big.x0, 0);
    EXPECT_EQ(big.y0, 0);
}

// What reaches the screen: the top picture row at the top (the buffer is stored bottom-up), colour
// channels in their places, the surround in the background colour, crisp blocks when enlarged.
TEST_F(OrvexViewTest, PaintsThePictureUprightOnTheBackground)
{
    CImage picture = test_pictures::Filled(20, 10, 0, 0, 255); // red
    for (int x = 0; x < 20; ++x) {
        Pixel(picture, x, 0)[0] = 255; // top row blue
        Pixel(picture, x, 0)[2] = 0;
    }
    ASSERT_TRUE(SavePicture(picture, Path("rb.png")));
    Start({Path("rb.png")});
    view()->frame()->resize(300, 200);
    view()->Zoom100();
    QCoreApplication::processEvents();

    // Read in view coordinates whatever the device pixel ratio.
    auto at = [](const QImage& shot, int x, int y) {
        const qreal ratio = shot.devicePixelRatio();
        return QColor(shot.pixel(static_cast<int>(x * ratio), static_cast<int>(y * ratio)));
    };
    const QImage shot = view()->viewport()->grab().toImage();
    const QRect area = view()->viewport()->rect();
    const CPictureLayout layout = LayoutPicture(20, 10, 1.0f, area.width(), area.height());
    EXPECT_EQ(at(shot, 1, 1), QColor(100, 100, 100));
    EXPECT_EQ(at(shot, layout.x0 + 3, layout.y0), QColor(0, 0, 255));
    EXPECT_EQ(at(shot, layout.x0 + 3, layout.y0 + 1), QColor(255, 0, 0));

    view()->ZoomIn();
    view()->ZoomIn(); // 400 %
    QCoreApplication::processEvents();
    const QImage big = view()->viewport()->grab().toImage();
    const CPictureLayout at4 = LayoutPicture(20, 10, 4.0f, area.width(), area.height());
    for (int y = 0; y < 4; ++y) EXPECT_EQ(at(big, at4.x0 + 5, at4.y0 + y), QColor(0, 0, 255)) << y;
    EXPECT_EQ(at(big, at4.x0 + 5, at4.y0 + 4), QColor(255, 0, 0));
}

TEST_F(OrvexViewTest, ReductionIsTheAreaAverageOfEachCell)
{
    // Alternating black and white columns: a reduction that samples would show black or white.
    CImage stripes;
    stripes.Create(64, 64, 24);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) std::fill_n(Pixel(stripes, x, y), 3, static_cast<std::uint8_t>(x % 2 ? 255 : 0));
    EXPECT_EQ(qRed(ScalePictureDown(stripes, 32, 32).pixel(7, 9)), 127);

    // Wide enough that a row is summed in several pieces, with cells of unequal sizes.
    const CImage picture = test_pictures::Pattern(3001, 23, 5);
    const int dw = 173, dh = 7;
    const QImage reduced = ScalePictureDown(picture, dw, dh);
    ASSERT_EQ(reduced.size(), QSize(dw, dh));
    for (int j = 0; j < dh; ++j)
        for (int i = 0; i < dw; ++i) {
            const int xa = i * 3001 / dw, xb = (i + 1) * 3001 / dw, ya = j * 23 / dh, yb = (j + 1) * 23 / dh;
            long long sum[3] = {0, 0, 0};
            for (int y = ya; y < yb; ++y)
                for (int x = xa; x < xb; ++x)
                    for (int c = 0; c < 3; ++c) sum[c] += Pixel(picture, x, y)[c];
            const long long cells = static_cast<long long>(xb - xa) * (yb - ya);
            ASSERT_EQ(reduced.pixel(i, j), qRgb(int(sum[2] / cells), int(sum[1] / cells), int(sum[0] / cells)))
                << i << ", " << j;
        }
}

TEST_F(OrvexViewTest, CtrlWheelZoomsAroundThePointer)
{
    Start({WritePicture("w.png", 400, 300)});
    view()->frame()->resize(300, 250);
    QCoreApplication::processEvents();
    const QPoint at(100, 80);
    const QRect before = QRect(view()->horizontalScrollBar()->value(), view()->verticalScrollBar()->value(), 1, 1);
    QWheelEvent wheel(at, view()->viewport()->mapToGlobal(at), QPoint(), QPoint(0, 120), Qt::NoButton,
                      Qt::ControlModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(view()->viewport(), &wheel);
    EXPECT_EQ(view()->zoom(), 2.0f);
    // The picture pixel under the pointer stays under it: (scroll + at) doubles.
    EXPECT_EQ(view()->horizontalScrollBar()->value(), 2 * (before.x() + at.x()) - at.x());
    EXPECT_EQ(view()->verticalScrollBar()->value(), 2 * (before.y() + at.y()) - at.y());
}

TEST_F(OrvexViewTest, DoubleClickFitsTheWindowToThePicture)
{
    Start({WritePicture("d.png", 120, 90)});
    view()->frame()->resize(600, 500);
    QCoreApplication::processEvents();
    QTest::mouseDClick(view()->viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
    QCoreApplication::processEvents();
    EXPECT_EQ(view()->viewport()->size(), QSize(120, 90));
}

// The fill of Canvas Size and rotation is the surround's own grey: only the edge tells them apart.
TEST_F(OrvexViewTest, ThePictureEdgeShowsAgainstTheSurroundAtEveryZoom)
{
    struct EdgeCase
    {
        int width, height;
        void (COrvexView::*step)();
        int steps;
        const char* zoom;
    };
    const EdgeCase cases[] = {
        {600, 400, &COrvexView::ZoomOut, 7, "5%"},
        {60, 40, &COrvexView::ZoomIn, 0, "100%"},
        {12, 9, &COrvexView::ZoomIn, 4, "1600%"},
    };
    const QColor surround(100, 100, 100);
    Start();
    for (const EdgeCase& c : cases) {
        SCOPED_TRACE(c.zoom);
        ASSERT_TRUE(SavePicture(test_pictures::Filled(c.width, c.height, 100, 100, 100), Path("grey.png")));
        ASSERT_NE(m_app->OpenDocumentFile(Path("grey.png")), nullptr);
        view()->Zoom100();
        for (int i = 0; i < c.steps; ++i) (view()->*c.step)();
        view()->frame()->resize(400, 300);
        QCoreApplication::processEvents();
        ASSERT_TRUE(caption().endsWith(QLatin1String(c.zoom))) << caption().toStdString();

        const QImage shot = view()->viewport()->grab().toImage();
        const qreal ratio = shot.devicePixelRatio();
        auto at = [&](int x, int y) { return QColor(shot.pixel(int(x * ratio), int(y * ratio))); };
        const QRect area = view()->viewport()->rect();
        const CPictureLayout layout = LayoutPicture(c.width, c.height, view()->zoom(), area.width(), area.height());
        const QRect picture(layout.x0, layout.y0, layout.dw, layout.dh);
        ASSERT_TRUE(area.adjusted(2, 2, -2, -2).contains(picture));
        const QPoint middle = picture.center();
        EXPECT_EQ(at(1, 1), surround);
        // Left, right, top and bottom: outside the edge line, inside the picture's own grey.
        const QPoint sides[4][2] = {{{picture.left() - 1, middle.y()}, {picture.left(), middle.y()}},
                                    {{picture.right() + 1, middle.y()}, {picture.right(), middle.y()}},
                                    {{middle.x(), picture.top() - 1}, {middle.x(), picture.top()}},
                                    {{middle.x(), picture.bottom() + 1}, {middle.x(), picture.bottom()}}};
        for (const auto& side : sides) {
            EXPECT_NE(at(side[0].x(), side[0].y()), surround) << side[0].x() << "," << side[0].y();
            EXPECT_EQ(at(side[1].x(), side[1].y()), surround) << side[1].x() << "," << side[1].y();
        }
        view()->frame()->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

// The window was sized by a guess at its borders; with the bars already showing, both stayed and
// each hid a strip of the picture.
TEST_F(OrvexViewTest, FitWindowToPictureLeavesNoScrollBars)
{
    Start({WritePicture("f.png", 500, 350)});
    view()->Zoom100();
    for (const QSize before : {QSize(300, 200), QSize(510, 200)}) {
        SCOPED_TRACE(testing::Message() << before.width() << " x " << before.height());
        view()->frame()->resize(before);
        QCoreApplication::processEvents();
        QTest::mouseDClick(view()->viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
        QCoreApplication::processEvents();
        EXPECT_FALSE(view()->horizontalScrollBar()->isVisible());
        EXPECT_FALSE(view()->verticalScrollBar()->isVisible());
        EXPECT_EQ(view()->viewport()->size(), QSize(500, 350));
    }
    // Made smaller by hand, the bars come back.
    view()->frame()->resize(view()->frame()->size() - QSize(50, 0));
    QCoreApplication::processEvents();
    EXPECT_TRUE(view()->horizontalScrollBar()->isVisible());
    EXPECT_EQ(view()->horizontalScrollBar()->maximum(), 500 - view()->viewport()->width());
}

} // namespace
