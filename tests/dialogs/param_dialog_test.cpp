// The behaviour every parameter dialog shares, and the preview renderer's guarantees: latest request
// wins, never two renderings at once, nothing after Stop or once the preview flag is down.
#include "dialogs/param_dialog.h"
#include "tests/dialogs/slow_operation.h"
#include "tests/dialogs/wait_for.h"
#include "tests/test_pictures.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QSlider>
#include <QTest>

#include <gtest/gtest.h>

using test_pictures::Pixel;

namespace {

// A picture and its engine set up as the preview command leaves them: the work image a copy of
// the picture and the preview flag raised.
struct PreviewBench
{
    CImage picture = test_pictures::Filled(16, 8, 10, 20, 30);
    CImageProcessor engine{&picture};
    PreviewBench()
    {
        engine.workImage().CopyFrom(picture);
        engine.preview.store(1);
    }
    // First byte of the newest complete rendering.
    int Shown(const CPreviewRenderer& renderer) const
    {
        int value = -1;
        renderer.ReadFrame([&](const CImage& frame) { value = Pixel(frame, 5, 5)[0]; });
        return value;
    }
};

TEST(SliderValueFormat, EachFormatWritesWhatItsDialogsShow)
{
    EXPECT_EQ(FormatSliderValue(CValueFormat::Signed(100), 100, 0), "0");
    EXPECT_EQ(FormatSliderValue(CValueFormat::Signed(100), 60, 0), "-40");
    EXPECT_EQ(FormatSliderValue(CValueFormat::Signed(100), 125, 0), "+25");
    EXPECT_EQ(FormatSliderValue(CValueFormat::Plain(), 10, 0), "10");
    EXPECT_EQ(FormatSliderValue(CValueFormat::RealValue(2), 0, 0.0), "0.00");
    EXPECT_EQ(FormatSliderValue(CValueFormat::RealValue(1), 0, 2.5), "2.5");
    EXPECT_EQ(FormatSliderValue(CValueFormat::RealValue(1), 0, 123.45), "123.5");
    EXPECT_EQ(FormatSliderValue(CValueFormat::Percentage(), 34, 0), "34 %");
}

TEST(ParamDialog, SliderFeedsItsBoxAndStoredValueThroughItsRule)
{
    CParamDialog dialog(QStringLiteral("Test"));
    dialog.BindOperation("GaussianBlur");
    dialog.AddSlider(
        "radius", QStringLiteral("Radius:"), CValueFormat::RealValue(1),
        CSliderScale::Curve(0, 2500, [](int p) { return static_cast<float>(p / 10.0 * (p / 10.0) / 250); }));
    dialog.show();
    dialog.slider("radius")->setValue(500);
    EXPECT_EQ(dialog.valueBox("radius")->text(), "10.0");
    EXPECT_FLOAT_EQ(static_cast<float>(dialog.value("radius")), 10.0f);
    EXPECT_FALSE(dialog.valueBox("radius")->isReadOnly());
}

TEST(ParamDialog, OpeningRendersOnlyWhenTheFirstNotificationIsAChange)
{
    PreviewBench bench;
    std::atomic<int> finished{0};
    {
        // Stored value equals the start position: no rendering at opening.
        CParamDialog dialog(QStringLiteral("Test"));
        dialog.BindOperation("ColorBalance");
        dialog.AddSlider("red", QStringLiteral("Amount:"), CValueFormat::Signed(0));
        dialog.AddPreviewBox();
        dialog.AttachPreview(bench.engine, SlowAdd{2, 1, nullptr, nullptr, nullptr, &finished});
        dialog.show();
        QTest::qWait(150);
        EXPECT_EQ(dialog.renderer()->renderingsStarted(), 0);
        // A notification without movement is no change either.
        emit dialog.slider("red")->valueChanged(0);
        QTest::qWait(150);
        EXPECT_EQ(dialog.renderer()->renderingsStarted(), 0);
    }
    {
        // Acting on every notification (posterize, mosaic): opening renders the start position.
        CParamDialog dialog(QStringLiteral("Test"), nullptr, {{"levels", 10}});
        dialog.BindOperation("Posterize");
        dialog.AddSlider("levels", QStringLiteral("Levels:"), CValueFormat::Plain());
        dialog.SetActsOnEveryNotification(true);
        dialog.AddPreviewBox();
        dialog.AttachPreview(bench.engine, SlowAdd{2, 1});
        dialog.show();
        EXPECT_EQ(dialog.valueBox("levels")->text(), "10");
        ASSERT_TRUE(WaitFor([&] { return dialog.renderer()->renderingsStarted() == 1 && dialog.renderer()->Idle(); }));
        EXPECT_EQ(bench.Shown(*dialog.renderer()), 10 + 10);
    }
}

TEST(ParamDialog, UncheckingPreviewShowsTheIdentityAndCheckingShowsTheValuesAgain)
{
    PreviewBench bench;
    CParamDialog dialog(QStringLiteral("Test"), nullptr, {{"iterations", 0}});
    dialog.BindOperation("TotalVariationDiffusion");
    dialog.AddSlider("iterations", QStringLiteral("Amount:"), CValueFormat::Plain());
    dialog.AddPreviewBox();
    dialog.SetIdentityValues({0});
    dialog.AttachPreview(bench.engine, SlowAdd{2, 1});
    dialog.show();
    CPreviewRenderer& renderer = *dialog.renderer();

    dialog.slider("iterations")->setValue(7);
    ASSERT_TRUE(WaitFor([&] { return renderer.Idle() && bench.Shown(renderer) == 17; }));
    dialog.previewBox()->click();
    ASSERT_TRUE(WaitFor([&] { return renderer.Idle() && bench.Shown(renderer) == 10; }));
    EXPECT_EQ(dialog.value("iterations"), 7) << "the stored value stays";
    // Unchecked: moving the slider renders nothing.
    const int started = renderer.renderingsStarted();
    dialog.slider("iterations")->setValue(9);
    QTest::qWait(150);
    EXPECT_EQ(renderer.renderingsStarted(), started);
    dialog.previewBox()->click();
    ASSERT_TRUE(WaitFor([&] { return renderer.Idle() && bench.Shown(renderer) == 19; }));
}

TEST(PreviewRenderer, LatestRequestWinsAndRenderingsNeverOverlap)
{
    PreviewBench bench;
    std::atomic<int> running{0}, mostAtOnce{0}, stoppedEarly{0};
    CPreviewRenderer renderer(bench.engine, SlowAdd{20, 10, &running, &mostAtOnce, &stoppedEarly});
    int shownSignals = 0;
    QObject::connect(&renderer, &CPreviewRenderer::frameReady, [&] { ++shownSignals; });

    // Ten changes in a burst, as a slider dragged quickly gives them.
    for (int v = 1; v <= 10; ++v) renderer.Request({static_cast<double>(v)});
    ASSERT_TRUE(WaitFor([&] { return renderer.Idle(); }));
    QTest::qWait(20);
    EXPECT_EQ(bench.Shown(renderer), 10 + 10);
    EXPECT_EQ(renderer.shownValues(), std::vector<double>{10});
    EXPECT_LE(renderer.renderingsStarted(), 2);
    EXPECT_EQ(mostAtOnce.load(), 1);
    EXPECT_GE(shownSignals, 1);
    // The picture itself is never written by a preview.
    EXPECT_EQ(Pixel(bench.picture, 5, 5)[0], 10);
}

TEST(PreviewRenderer, AStaleRenderingIsStoppedAndNeverShown)
{
    PreviewBench bench;
    std::atomic<int> stoppedEarly{0}, finished{0};
    CPreviewRenderer renderer(bench.engine, SlowAdd{100, 10, nullptr, nullptr, &stoppedEarly, &finished});
    renderer.Request({1});
    ASSERT_TRUE(WaitFor([&] { return renderer.renderingsStarted() == 1; }));
    QTest::qWait(30);
    renderer.Request({2});
    ASSERT_TRUE(WaitFor([&] { return renderer.Idle(); }, 5000));
    EXPECT_EQ(stoppedEarly.load(), 1);
    EXPECT_EQ(finished.load(), 1);
    EXPECT_EQ(renderer.shownValues(), std::vector<double>{2});
}

TEST(PreviewRenderer, NothingRunsAfterStopAndNothingStartsWithoutThePreviewFlag)
{
    PreviewBench bench;
    std::atomic<int> running{0}, finished{0};
    CPreviewRenderer renderer(bench.engine, SlowAdd{30, 10, &running, nullptr, nullptr, &finished});
    renderer.Request({3});
    ASSERT_TRUE(WaitFor([&] { return running.load() == 1; }));
    renderer.Stop();
    EXPECT_EQ(running.load(), 0) << "Stop returns only once the rendering has ended";
    renderer.Request({4});
    QTest::qWait(150);
    EXPECT_EQ(renderer.renderingsStarted(), 1);
    EXPECT_EQ(finished.load(), 0);

    PreviewBench lowered;
    lowered.engine.preview.store(0);
    CPreviewRenderer idle(lowered.engine, SlowAdd{1, 1});
    idle.Request({5});
    QTest::qWait(150);
    EXPECT_EQ(idle.renderingsStarted(), 0);
    EXPECT_EQ(lowered.Shown(idle), 10) << "before any rendering the frame is the picture";
}

} // namespace
