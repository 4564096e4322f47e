// The status-bar bar and the worker-thread command: placement, idle text, Escape, discarded keys.
#include "shell/command_sequences.h"
#include "shell/progress_bar.h"
#include "tests/shell/shell_test_support.h"

#include <QLabel>
#include <QStatusBar>

#include <atomic>
#include <chrono>
#include <thread>

using namespace shell_test;
using test_pictures::Pixel;

namespace {

class ProgressWorkerTest : public ShellTest
{
};

TEST_F(ProgressWorkerTest, BarTakesTheRightHalfOfWhatTheLabelLeaves)
{
    Start();
    QLabel* pane = frame().messagePane();
    const QRect paneRect = pane->geometry();
    {
        CProgressBar bar;
        ASSERT_TRUE(bar.Create(QString(), 100));
        const QRect placed = bar.placedRect();
        EXPECT_EQ(placed.left(), paneRect.left());
        EXPECT_NEAR(placed.width(), paneRect.width() / 2, 1);
        EXPECT_EQ(placed.top() - paneRect.top(), paneRect.height() / 10);
    }
    EXPECT_EQ(pane->text(), "For Help, press F1");

    CProgressBar bar;
    ASSERT_TRUE(bar.Create(QStringLiteral(" Median filtering:"), 10));
    bar.SetBarColor();
    EXPECT_EQ(pane->text(), " Median filtering:");
    const QFontMetrics metrics(frame().statusBar()->font());
    const int left = paneRect.left() + metrics.horizontalAdvance(" Median filtering:") + 4 * metrics.horizontalAdvance(' ');
    EXPECT_EQ(bar.placedRect().left(), left);
    EXPECT_NEAR(bar.placedRect().right() + 1, left + (paneRect.right() + 1 - left) / 2, 1);
    EXPECT_TRUE(bar.styleSheet().contains("#8282A0"));
    bar.Release();
    EXPECT_EQ(pane->text(), "For Help, press F1");
}

TEST_F(ProgressWorkerTest, InterfaceThreadOperationsShowTheBarThroughTheEngine)
{
    Start({WritePicture("p.png", 8, 8)});
    CImageProcessor& engine = view()->document().engine();
    ASSERT_EQ(engine.progressSink(), frame().progressSink());
    {
        CImageProcessor::ProgressScope scope(engine, " Gaussian blur:", 4);
        scope.Step();
        EXPECT_TRUE(frame().progressSink()->isVisible());
        EXPECT_EQ(frame().messagePane()->text(), " Gaussian blur:");
    }
    EXPECT_FALSE(frame().progressSink()->isVisible());
    EXPECT_EQ(frame().messagePane()->text(), "For Help, press F1");
}

TEST_F(ProgressWorkerTest, NoStatusBarMeansNoBarAndNoCrash)
{
    CProgressBar bar;
    EXPECT_FALSE(bar.Create(QStringLiteral(" Total variation:"), 100));
    bar.SetBarColor();
    bar.ShowAndSet(50);
    EXPECT_FALSE(bar.created());
}

// A cancellable stand-in for the diffusion operations: inverts the picture after `steps` steps of
// 10 ms unless cancelled, as the engine's worker protocol asks.
struct SlowInvert
{
    int steps = 20;
    std::atomic<int>* done = nullptr;
    void operator()(CImageProcessor& engine) const
    {
        CImageProcessor::WorkerScope scope(engine);
        for (int i = 0; i < steps; ++i) {
            if (engine.cancel.load()) return;
            engine.progress.store(100.0f * i / steps);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        engine.Invert();
        if (done) ++*done;
    }
};

TEST_F(ProgressWorkerTest, WorkerRunRecordsOnceAndRestoresTheIdleText)
{
    Start({WritePicture("w.png", 6, 6)});
    COrvexDoc& doc = view()->document();
    const std::uint8_t before = Pixel(doc.picture(), 1, 1)[0];
    std::atomic<int> done{0};
    EXPECT_TRUE(sequence::Worker(*view(), QStringLiteral(" Total variation:"), SlowInvert{20, &done}));
    EXPECT_EQ(done.load(), 1);
    EXPECT_EQ(Pixel(doc.picture(), 1, 1)[0], 255 - before);
    EXPECT_EQ(doc.history().count(), 2);
    EXPECT_EQ(caption(), "w.png* @ 100%");
    EXPECT_EQ(frame().messagePane()->text(), "For Help, press F1");
}

TEST_F(ProgressWorkerTest, EscapeCancelsAndLeavesEverythingAsItWas)
{
    Start({WritePicture("w.png", 6, 6)});
    COrvexDoc& doc = view()->document();
    const CImage& picture = doc.picture();
    CImage original;
    original.CopyFrom(picture);

    bool labelShown = false;
    QTimer::singleShot(250, [&] {
        labelShown = frame().messagePane()->text() == " Total variation:";
        // A key other than Escape first: Ctrl+I would invert if it were let through.
        QTest::keyClick(view()->viewport(), Qt::Key_I, Qt::ControlModifier);
        QTest::keyClick(view()->viewport(), Qt::Key_Escape);
    });
    EXPECT_FALSE(sequence::Worker(*view(), QStringLiteral(" Total variation:"), SlowInvert{500}));
    EXPECT_TRUE(labelShown);
    EXPECT_TRUE(test_pictures::SamePixels(picture, original));
    EXPECT_EQ(doc.history().count(), 1);
    EXPECT_FALSE(doc.modified());
    EXPECT_EQ(caption(), "w.png @ 100%");
    EXPECT_EQ(frame().messagePane()->text(), "For Help, press F1");

    // Nothing typed during the run arrives later either.
    QCoreApplication::processEvents();
    EXPECT_TRUE(test_pictures::SamePixels(picture, original));
}

TEST_F(ProgressWorkerTest, AnOperationThatReturnsAtOnceStillEndsTheLoop)
{
    Start({WritePicture("w.png", 6, 6)});
    // It never touches the running flag: the loop must rely on the flag raised before the start.
    EXPECT_TRUE(sequence::Worker(*view(), QStringLiteral(" Balanced Forward-Backward:"), [](CImageProcessor&) {}));
    EXPECT_EQ(view()->document().engine().running.load(), 0);
}

} // namespace
