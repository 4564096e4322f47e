// The status-bar bar and the worker-thread command: placement, idle text, Escape, discarded keys.
#include "shell/busy_run.h"
#include "shell/command_sequences.h"
#include "shell/progress_bar.h"
#include "tests/shell/shell_test_support.h"

#include <QLabel>
#include <QStatusBar>
#include <QToolBar>
#include <QToolButton>

#include <atomic>
#include <chrono>
#include <cstring>
#include <new>
#include <stdexcept>
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

// Shaped like the diffusion operations: steps that check the cancel flag, then the commit and a
// write-back that no longer looks at it. `committedNow` tells the test when the commit happened.
struct CommittingInvert
{
    int steps = 5;
    int writeBackMs = 150;
    std::atomic<bool>* committedNow = nullptr;
    void operator()(CImageProcessor& engine) const
    {
        CImageProcessor::WorkerScope scope(engine);
        for (int i = 0; i < steps; ++i) {
            if (engine.cancel.load()) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        engine.committed.store(1);
        if (committedNow) committedNow->store(true);
        std::this_thread::sleep_for(std::chrono::milliseconds(writeBackMs));
        engine.Invert();
    }
};

// Writes into the picture as it goes (one row per step) and stops early when asked: the partial
// result must not survive a cancel.
struct RowByRowInvert
{
    int stepMs = 20;
    void operator()(CImageProcessor& engine) const
    {
        CImage& picture = *engine.image();
        CImageProcessor::ProgressScope bar(engine, " Row test:", picture.height());
        for (int y = 0; y < picture.height(); ++y) {
            if (bar.StopRequested()) return;
            std::uint8_t* row = picture.bits() + static_cast<std::ptrdiff_t>(y) * picture.pitch();
            for (int i = 0; i < picture.width() * 3; ++i) row[i] = static_cast<std::uint8_t>(255 - row[i]);
            bar.Set(y + 1);
            std::this_thread::sleep_for(std::chrono::milliseconds(stepMs));
        }
    }
};

void PressEscapeWhen(const std::function<bool()>& ready)
{
    auto* timer = new QTimer;
    timer->setInterval(2);
    QObject::connect(timer, &QTimer::timeout, [timer, ready] {
        if (!ready()) return;
        timer->stop();
        timer->deleteLater();
        QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : QApplication::activeWindow(),
                        Qt::Key_Escape);
    });
    timer->start();
}

TEST_F(ProgressWorkerTest, EscapeAfterTheCommitIsIgnoredAndTheRunIsRecorded)
{
    Start({WritePicture("w.png", 6, 6)});
    COrvexDoc& doc = view()->document();
    const std::uint8_t before = Pixel(doc.picture(), 2, 3)[1];
    std::atomic<bool> committedNow{false};
    PressEscapeWhen([&] { return committedNow.load(); });
    EXPECT_TRUE(sequence::Worker(*view(), QStringLiteral(" Total variation:"), CommittingInvert{5, 150, &committedNow}));
    EXPECT_EQ(doc.engine().cancel.load(), 1) << "the Escape did arrive";
    EXPECT_EQ(Pixel(doc.picture(), 2, 3)[1], 255 - before);
    EXPECT_EQ(doc.history().count(), 2);
    EXPECT_TRUE(test_pictures::SamePixels(doc.history().current(), doc.picture()));
    EXPECT_EQ(caption(), "w.png* @ 100%");

    // Before the commit the same Escape cancels.
    PressEscapeWhen([] { return true; });
    EXPECT_FALSE(sequence::Worker(*view(), QStringLiteral(" Total variation:"), CommittingInvert{100, 0, nullptr}));
    EXPECT_EQ(Pixel(doc.picture(), 2, 3)[1], 255 - before);
    EXPECT_EQ(doc.history().count(), 2);
}

TEST_F(ProgressWorkerTest, ACancelledRunThatWroteInPlaceGetsThePictureBack)
{
    Start({WritePicture("w.png", 7, 40)});
    COrvexDoc& doc = view()->document();
    CImage original;
    ASSERT_TRUE(original.CopyFrom(doc.picture()));
    bool labelShown = false;
    // Half-way through the rows.
    PressEscapeWhen([&] {
        labelShown = labelShown || frame().messagePane()->text() == " Row test:";
        return doc.engine().progress.load() >= 40.0f;
    });
    EXPECT_FALSE(sequence::Worker(*view(), QString(), RowByRowInvert{}));
    EXPECT_TRUE(labelShown) << "the operation's own label when the command names none";
    EXPECT_TRUE(test_pictures::SamePixels(doc.picture(), original));
    EXPECT_EQ(doc.history().count(), 1);
    EXPECT_FALSE(doc.modified());
    EXPECT_EQ(caption(), "w.png @ 100%");
    EXPECT_EQ(frame().messagePane()->text(), "For Help, press F1");
}

TEST_F(ProgressWorkerTest, ACancelledRunThatChangedTheSizeGetsTheOldSizeBack)
{
    Start({WritePicture("w.png", 9, 5)});
    COrvexDoc& doc = view()->document();
    CImage original;
    ASSERT_TRUE(original.CopyFrom(doc.picture()));
    PressEscapeWhen([] { return true; });
    EXPECT_FALSE(sequence::Worker(*view(), QString(), [](CImageProcessor& engine) {
        CImage bigger;
        if (!bigger.Create(30, 20, 24)) return;
        *engine.image() = std::move(bigger);
        while (!engine.cancel.load()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }));
    EXPECT_EQ(doc.picture().width(), 9);
    EXPECT_TRUE(test_pictures::SamePixels(doc.picture(), original));
    EXPECT_EQ(doc.history().count(), 1);
}

TEST_F(ProgressWorkerTest, ACancelledRunKeepsAChangeThatHadNoUndoSnapshot)
{
    Start({WritePicture("w.png", 6, 6)});
    COrvexDoc& doc = view()->document();
    // As after "Not enough memory to keep this change in the undo history".
    doc.engine().Invert();
    view()->host().pictureHasSnapshot = false;
    CImage changed;
    ASSERT_TRUE(changed.CopyFrom(doc.picture()));
    PressEscapeWhen([] { return true; });
    EXPECT_FALSE(sequence::Worker(*view(), QString(), RowByRowInvert{50}));
    EXPECT_TRUE(test_pictures::SamePixels(doc.picture(), changed));
}

// The interface thread waits for the operation without freezing; what is typed or clicked
// meanwhile is dropped, never run afterwards.
TEST_F(ProgressWorkerTest, InputDuringARunNeverRunsACommandLater)
{
    Start({WritePicture("w.png", 6, 6)});
    COrvexDoc& doc = view()->document();
    const float zoom = view()->zoom();
    QWidget* zoomButton = frame().toolbar()->widgetForAction(frame().action(CommandId::ZoomIn));
    ASSERT_NE(zoomButton, nullptr);
    int painted = 0;
    QTimer::singleShot(60, [&] {
        QTest::keyClick(view()->viewport(), Qt::Key_Z, Qt::ShiftModifier);
        QTest::keyClick(view()->viewport(), Qt::Key_I, Qt::ControlModifier);
        QTest::mouseClick(zoomButton, Qt::LeftButton);
        view()->viewport()->repaint();
        ++painted;
    });
    sequence::Direct(*view(), SlowInvert{40}, sequence::CRun::Worker);
    QCoreApplication::processEvents();
    QTest::qWait(50);
    EXPECT_EQ(painted, 1) << "events are handled while the operation runs";
    EXPECT_EQ(view()->zoom(), zoom);
    EXPECT_EQ(doc.history().count(), 2) << "the operation alone was recorded";
}

TEST_F(ProgressWorkerTest, ClosingTheEditorOrTheDocumentDuringARunIsRefused)
{
    Start({WritePicture("w.png", 6, 6)});
    bool mainClosed = true;
    bool documentClosed = true;
    QTimer::singleShot(60, [&] {
        mainClosed = frame().close();
        documentClosed = view()->frame()->close();
    });
    sequence::Direct(*view(), SlowInvert{40}, sequence::CRun::Worker);
    QCoreApplication::processEvents();
    EXPECT_FALSE(mainClosed);
    EXPECT_FALSE(documentClosed);
    EXPECT_TRUE(frame().isVisible());
    ASSERT_EQ(windowCount(), 1);
    EXPECT_EQ(view()->document().history().count(), 2);
}

TEST_F(ProgressWorkerTest, AGaussianBlurCancelledOnTheWorkerLeavesPictureAndHistory)
{
    Start({WritePicture("w.png", 120, 80, 3)});
    COrvexDoc& doc = view()->document();
    const CImage before = test_pictures::Copy(doc.picture());
    // The blur starts only once Escape has reached the engine (a small blur could otherwise finish
    // before the first poll); it stops at its first look at the request, and the sequence puts back
    // whatever it had written.
    PressEscapeWhen([] { return true; });
    sequence::Direct(*view(), [](CImageProcessor& e) {
        for (int waited = 0; !e.cancel.load() && waited < 5000; ++waited) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        e.GaussianBlur(20.0f, 1);
    }, sequence::CRun::Worker);
    EXPECT_TRUE(test_pictures::SamePixels(doc.picture(), before));
    EXPECT_EQ(doc.history().count(), 1);
    EXPECT_FALSE(doc.modified());

    // Left alone, the same run is recorded.
    sequence::Direct(*view(), [](CImageProcessor& e) { e.GaussianBlur(20.0f, 1); }, sequence::CRun::Worker);
    EXPECT_FALSE(test_pictures::SamePixels(doc.picture(), before));
    EXPECT_EQ(doc.history().count(), 2);
    EXPECT_TRUE(test_pictures::SamePixels(doc.picture(), test_pictures::Applied(before, [](CImageProcessor& e) {
        e.GaussianBlur(20.0f, 1);
    })));
}

TEST_F(ProgressWorkerTest, AnOperationThatReturnsAtOnceStillEndsTheLoop)
{
    Start({WritePicture("w.png", 6, 6)});
    // It never touches the running flag: the loop must rely on the flag raised before the start.
    EXPECT_TRUE(sequence::Worker(*view(), QStringLiteral(" Balanced Forward-Backward:"), [](CImageProcessor&) {}));
    EXPECT_EQ(view()->document().engine().running.load(), 0);
}

TEST_F(ProgressWorkerTest, ALongSaveRunsAsideWithItsBarWhileTheWindowsPaintAndInputIsDropped)
{
    // Large enough for the save's bar and for the save to outlast a few polls.
    const QString path = WritePicture("big.png", 3000, 2700, 3);
    Start({path});
    COrvexDoc& doc = view()->document();
    Run(CommandId::Invert); // Invert, so that there is something to save
    ASSERT_EQ(doc.history().count(), 2);

    int ticks = 0, painted = 0;
    bool barShown = false;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        ++ticks;
        view()->viewport()->repaint();
        ++painted;
        barShown = barShown || frame().messagePane()->text() == " Saving:";
        QTest::keyClick(view()->viewport(), Qt::Key_I, Qt::ControlModifier);
    });
    timer.start(5);
    Run(CommandId::FileSave); // File > Save
    timer.stop();
    QCoreApplication::processEvents();

    EXPECT_GT(ticks, 0) << "the interface thread went on while the picture was written";
    EXPECT_GT(painted, 0);
    EXPECT_TRUE(barShown);
    EXPECT_EQ(frame().messagePane()->text(), "For Help, press F1");
    EXPECT_EQ(doc.history().count(), 2) << "keys pressed during the save ran nothing";
    EXPECT_FALSE(doc.modified());
    CImage saved;
    ASSERT_TRUE(LoadPicture(path, saved));
    EXPECT_TRUE(test_pictures::SamePixels(saved, doc.picture()));
}

} // namespace

TEST_F(ProgressWorkerTest, WorkThatThrowsOnItsThreadFailsInsteadOfEndingTheEditor)
{
    Start({WritePicture("w.png", 8, 6)});
    COrvexDoc& doc = view()->document();
    CImage original;
    ASSERT_TRUE(original.CopyFrom(doc.picture()));
    QString message;
    AnswerMessage(QMessageBox::Ok, &message);
    // Half the picture changed, then memory runs out.
    EXPECT_FALSE(sequence::Worker(*view(), QString(), [](CImageProcessor& engine) {
        std::memset(engine.image()->bits(), 0, 3);
        throw std::bad_alloc();
    }));
    EXPECT_EQ(message, sequence::kOutOfMemory);
    EXPECT_TRUE(test_pictures::SamePixels(doc.picture(), original));
    EXPECT_EQ(doc.history().count(), 1);
    EXPECT_EQ(doc.engine().running.load(), 0);

    // The thread a save runs on.
    EXPECT_FALSE(RunAside([](IProgress&) -> bool { throw std::runtime_error("the encoder gave up"); }));
    EXPECT_TRUE(RunAside([](IProgress&) { return true; }));
}
