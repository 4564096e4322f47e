// The command side of a preview dialog, with a real view: what is on screen while the dialog is
// open, and what Cancel and OK leave behind.
#include "core/operation_table.h"
#include "dialogs/param_dialog.h"
#include "filters/convolution/fft_plans.h"
#include "shell/command_sequences.h"
#include "tests/dialogs/slow_operation.h"
#include "tests/shell/shell_test_support.h"

#include <QSlider>

#include <atomic>
#include <string>

using namespace shell_test;
using test_pictures::Pixel;

namespace {

class PreviewSequenceTest : public ShellTest
{
protected:
    // The colour the view shows at the middle of the picture.
    QColor Shown()
    {
        QCoreApplication::processEvents();
        const QImage shot = view()->viewport()->grab().toImage();
        return QColor(shot.pixel(shot.width() / 2, shot.height() / 2));
    }

    static std::unique_ptr<CParamDialog> MakeDialog()
    {
        auto dialog =
            std::make_unique<CParamDialog>(QStringLiteral("Lighten"), nullptr, CStartValues{{"iterations", 0}});
        dialog->BindOperation("TotalVariationDiffusion");
        dialog->AddSlider("iterations", QStringLiteral("Amount:"), CValueFormat::Plain());
        dialog->AddPreviewBox();
        dialog->SetIdentityValues({0});
        return dialog;
    }

    // A dialog for a row of the operations table, previewing as soon as a value changes.
    static std::unique_ptr<CParamDialog> BoundDialog(const std::string& operation)
    {
        auto dialog = std::make_unique<CParamDialog>(QString::fromStdString(operation));
        dialog->BindOperation(operation);
        dialog->AddPreviewBox();
        return dialog;
    }

    // The row's call as a command pairs it with its dialog (aside for operations that always write
    // the picture), counting every rendering, preview or final.
    static CPreviewRenderer::Render TableRender(const std::string& operation, std::atomic<int>& calls)
    {
        CPreviewRenderer::Render render = [operation](CImageProcessor& e, const std::vector<double>& values) {
            CParamDialog::RenderByTable(operation, e, values);
        };
        if (FindOperation(operation)->inPlaceOnly) render = CPreviewRenderer::Aside(render);
        return [render, &calls](CImageProcessor& e, const std::vector<double>& values) {
            ++calls;
            render(e, values);
        };
    }

    // What OK would give by rendering once more: the row's call on the picture as it was.
    static CImage RenderedAgain(const CImage& picture, const std::string& operation, const std::vector<double>& values)
    {
        return test_pictures::Applied(picture,
                                      [&](CImageProcessor& e) { CParamDialog::RenderByTable(operation, e, values); });
    }

    // Sets a parameter as its control would and waits until that rendering is on screen.
    static bool Previewed(CParamDialog& dialog, const char* parameter, double value)
    {
        dialog.SetValue(parameter, value);
        return WaitFor(
            [&] { return dialog.renderer()->Idle() && dialog.renderer()->shownValues() == dialog.values(); });
    }
};

TEST_F(PreviewSequenceTest, CancelLeavesPictureMarkAndHistoryAndShowsThePictureAgain)
{
    const CImage grey = test_pictures::Filled(30, 20, 50, 50, 50);
    ASSERT_TRUE(SavePicture(grey, Path("grey.png")));
    Start({Path("grey.png")});
    COrvexDoc& doc = view()->document();

    auto dialog = MakeDialog();
    QColor whileOpen;
    bool flagWhileOpen = false;
    WhenModal<CParamDialog>([&](CParamDialog* d) {
        flagWhileOpen = doc.engine().preview.load() == 1;
        // Before any rendering the view shows the picture, not a black work image.
        EXPECT_EQ(Shown(), QColor(50, 50, 50));
        d->slider("iterations")->setValue(40);
        EXPECT_TRUE(WaitFor([&] { return d->renderer()->Idle() && Shown() == QColor(90, 90, 90); }));
        whileOpen = Shown();
        d->reject();
    });
    sequence::Preview(*view(), *dialog, SlowAdd{});

    EXPECT_TRUE(flagWhileOpen);
    EXPECT_EQ(whileOpen, QColor(90, 90, 90));
    EXPECT_EQ(doc.engine().preview.load(), 0);
    EXPECT_TRUE(test_pictures::SamePixels(doc.picture(), grey));
    EXPECT_EQ(doc.history().count(), 1);
    EXPECT_FALSE(doc.modified());
    EXPECT_EQ(Shown(), QColor(50, 50, 50));
}

TEST_F(PreviewSequenceTest, OkAppliesTheLatestValuesOnceToThePicture)
{
    ASSERT_TRUE(SavePicture(test_pictures::Filled(30, 20, 50, 50, 50), Path("grey.png")));
    Start({Path("grey.png")});
    COrvexDoc& doc = view()->document();

    auto dialog = MakeDialog();
    WhenModal<CParamDialog>([&](CParamDialog* d) {
        for (int v = 1; v <= 30; ++v) d->slider("iterations")->setValue(v);
        d->accept();
    });
    sequence::Preview(*view(), *dialog, SlowAdd{});

    EXPECT_EQ(Pixel(doc.picture(), 3, 3)[1], 80);
    EXPECT_EQ(doc.history().count(), 2);
    EXPECT_EQ(caption(), "grey.png* @ 100%");
    EXPECT_EQ(Shown(), QColor(80, 80, 80));
}

TEST_F(PreviewSequenceTest, OkAfterAFinishedPreviewRecordsItsFrameWithoutRenderingAgain)
{
    Start({WritePicture(QStringLiteral("p.png"), 40, 30)});
    COrvexDoc& doc = view()->document();
    struct Case
    {
        const char* operation;
        const char* parameter;
        double first;
        double applied;
    };
    // One operation of each family; each is previewed twice so that the work image holds an older
    // rendering when the last one starts.
    const Case cases[] = {{"CustomFilter", "offset", 10, 30},
                          {"Offset", "horizontal", 5, -7},
                          {"RankFilter", "radius", 1, 3},
                          {"HueSaturation", "hue", 40, 120},
                          {"Mosaic", "size", 3, 4}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.operation);
        const CImage before = test_pictures::Copy(doc.picture());
        const int steps = doc.history().count();
        std::atomic<int> calls{0};
        auto dialog = BoundDialog(c.operation);
        const CPreviewRenderer::Render render = TableRender(c.operation, calls);
        sequence::BeginPreview(*view(), *dialog, render);
        ASSERT_TRUE(Previewed(*dialog, c.parameter, c.first));
        ASSERT_TRUE(Previewed(*dialog, c.parameter, c.applied));
        const int rendered = calls.load();
        const std::vector<double> values = dialog->values();
        sequence::EndPreview(*view(), *dialog, render, true);

        EXPECT_EQ(calls.load(), rendered);
        EXPECT_TRUE(test_pictures::SamePixels(doc.picture(), RenderedAgain(before, c.operation, values)));
        EXPECT_FALSE(test_pictures::SamePixels(doc.picture(), before));
        EXPECT_EQ(doc.history().count(), std::min(steps + 1, CImageHistory::kMaxSnapshots));
        EXPECT_TRUE(test_pictures::SamePixels(doc.history().current(), doc.picture()));
        EXPECT_EQ(caption(), "p.png* @ 100%");
        EXPECT_EQ(doc.engine().preview.load(), 0);
    }
}

TEST_F(PreviewSequenceTest, OkRendersAgainWhenTheLastFrameIsNotOfTheAppliedValuesOrIsStale)
{
    Start({WritePicture(QStringLiteral("p.png"), 40, 30)});
    COrvexDoc& doc = view()->document();
    const auto mosaic = [&](const std::function<void(CParamDialog&)>& afterFrame, double expectedSize, int renderings) {
        const CImage before = test_pictures::Copy(doc.picture());
        std::atomic<int> calls{0};
        auto dialog = BoundDialog("Mosaic");
        const CPreviewRenderer::Render render = TableRender("Mosaic", calls);
        sequence::BeginPreview(*view(), *dialog, render);
        ASSERT_TRUE(Previewed(*dialog, "size", 3));
        afterFrame(*dialog);
        const int rendered = calls.load();
        sequence::EndPreview(*view(), *dialog, render, true);
        EXPECT_EQ(calls.load(), rendered + renderings);
        EXPECT_TRUE(test_pictures::SamePixels(doc.picture(), RenderedAgain(before, "Mosaic", {expectedSize})));
    };
    {
        SCOPED_TRACE("values changed after the last frame, never rendered");
        mosaic(
            [](CParamDialog& d) {
                d.renderer()->Stop();
                d.SetValue("size", 5);
            },
            5, 1);
    }
    {
        SCOPED_TRACE("a newer request than the frame, with the frame's own values applied");
        mosaic(
            [&](CParamDialog& d) {
                // The worker now skips every request, so the newer one is never rendered.
                doc.engine().preview.store(0);
                d.renderer()->Request({7});
                ASSERT_TRUE(WaitFor([&] { return d.renderer()->Idle(); }));
                EXPECT_EQ(d.renderer()->shownValues(), std::vector<double>{3});
            },
            3, 1);
    }
    {
        SCOPED_TRACE("a frame is only ever handed over for the picture it was rendered from");
        std::atomic<int> calls{0};
        auto dialog = BoundDialog("Mosaic");
        sequence::BeginPreview(*view(), *dialog, TableRender("Mosaic", calls));
        ASSERT_TRUE(Previewed(*dialog, "size", 3));
        dialog->renderer()->Stop();
        const CImage same = test_pictures::Copy(doc.picture());
        CImage out;
        EXPECT_FALSE(dialog->renderer()->TakeFrame({3}, same, out));
        EXPECT_FALSE(dialog->renderer()->TakeFrame({4}, doc.picture(), out));
        EXPECT_TRUE(out.IsNull());
        EXPECT_TRUE(dialog->renderer()->TakeFrame({3}, doc.picture(), out));
        EXPECT_TRUE(test_pictures::SamePixels(out, RenderedAgain(doc.picture(), "Mosaic", {3})));
        sequence::EndPreview(*view(), *dialog, TableRender("Mosaic", calls), false);
    }
}

TEST_F(PreviewSequenceTest, AFailedPreviewRenderingIsNeitherShownNorRecorded)
{
    Start({WritePicture(QStringLiteral("p.png"), 40, 30)});
    COrvexDoc& doc = view()->document();
    const CImage before = test_pictures::Copy(doc.picture());
    std::atomic<int> calls{0};
    auto dialog = BoundDialog("CustomFilter");
    const CPreviewRenderer::Render render = TableRender("CustomFilter", calls);
    sequence::BeginPreview(*view(), *dialog, render);
    ASSERT_TRUE(Previewed(*dialog, "offset", 10));
    const std::vector<double> worked = dialog->values();
    orvex_testing::FailFftBuffersAfter(0);
    dialog->SetValue("offset", 60);
    const bool settled = WaitFor([&] { return dialog->renderer()->Idle() && calls.load() >= 2; });
    orvex_testing::FailFftBuffersAfter(-1);
    ASSERT_TRUE(settled);
    // The screen keeps the last rendering that worked, labelled with its own values.
    EXPECT_EQ(dialog->renderer()->shownValues(), worked);
    sequence::EndPreview(*view(), *dialog, render, true);
    EXPECT_TRUE(test_pictures::SamePixels(doc.picture(), RenderedAgain(before, "CustomFilter", dialog->values())));
}

} // namespace
