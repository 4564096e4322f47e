// The median and diffusion dialogs, and the five rank and diffusion commands driven from the
// editor's menus as worker commands: titles, ranges, what OK and Cancel leave in the picture, the
// history and the modified mark, and Escape during a run.
#include "dialogs/diffusion_dlg.h"
#include "dialogs/median_dlg.h"
#include "filters/rank_diffusion/rank_diffusion.h"
#include "tests/dialogs/dialog_test_support.h"

#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QSlider>

using namespace shell_test;
using test_pictures::Pixel;
using dialog_test::CCall;

namespace {

constexpr CommandId kTotalVariation = CommandId::TotalVariation, kBalanced = CommandId::BalancedDiffusion;
constexpr CommandId kMedian = CommandId::Median, kMaximum = CommandId::Maximum, kMinimum = CommandId::Minimum;
constexpr CommandId kUndo = CommandId::EditUndo;

QStringList Labels(const QWidget& dialog)
{
    QStringList texts;
    for (const QLabel* label : dialog.findChildren<QLabel*>()) texts << label->text();
    return texts;
}

TEST(RankDiffusionDialogs, TitlesRangesTextsAndStarts)
{
    EXPECT_EQ(CMedianDlg().windowTitle(), "Median");
    const std::unique_ptr<CMedianDlg> maximum = dialog_test::RowDialog<CMedianDlg>(kMaximum);
    ASSERT_NE(maximum, nullptr);
    CMedianDlg& median = *maximum;
    median.show();
    EXPECT_EQ(median.windowTitle(), "Maximum");
    QSlider* radius = median.slider("radius");
    EXPECT_EQ(radius->minimum(), 1);
    EXPECT_EQ(radius->maximum(), 100);
    EXPECT_EQ(radius->value(), 1);
    EXPECT_EQ(median.valueBox("radius")->text(), "1");
    EXPECT_TRUE(Labels(median).contains("Radius:"));
    EXPECT_TRUE(Labels(median).contains("pixels"));
    radius->setValue(37);
    EXPECT_EQ(median.valueBox("radius")->text(), "37");
    EXPECT_EQ(median.values(), (std::vector<double>{37, 1})) << "the radius, and the mode the row gives";
    for (const auto& [id, mode] : {std::pair{kMedian, 0.0}, {kMinimum, -1.0}})
        EXPECT_EQ(dialog_test::RowDialog(id)->values(), (std::vector<double>{1, mode})) << id;

    EXPECT_EQ(CDiffusionDlg().windowTitle(), "Diffusion");
    for (const auto& [id, title] : {std::pair{kTotalVariation, "Total variation diffusion"},
                                    {kBalanced, "Balanced Forward-Backward diffusion"}}) {
        const std::unique_ptr<CDiffusionDlg> diffusion = dialog_test::RowDialog<CDiffusionDlg>(id);
        ASSERT_NE(diffusion, nullptr);
        diffusion->show();
        EXPECT_EQ(diffusion->windowTitle(), title);
        QSlider* iterations = diffusion->slider("iterations");
        EXPECT_EQ(iterations->minimum(), 0);
        EXPECT_EQ(iterations->maximum(), 100);
        EXPECT_EQ(diffusion->valueBox("iterations")->text(), "0");
        EXPECT_TRUE(Labels(*diffusion).contains("Iterations:"));
        iterations->setValue(12);
        EXPECT_EQ(diffusion->valueBox("iterations")->text(), "12");
        EXPECT_EQ(diffusion->iterations(), 12);
    }
}

class RankDiffusionCommandTest : public dialog_test::EditorCommandTest
{
protected:
    void ExpectAppliedAndUndo(const CCall& call)
    {
        ExpectAsCallOnCopy(call);
        COrvexDoc& doc = view()->document();
        EXPECT_EQ(caption(), "p.png* @ 100%");
        EXPECT_EQ(frame().messagePane()->text(), "For Help, press F1");
        Run(kUndo);
        doc.SetModified(false);
        m_steps = doc.history().count();
        view()->Refresh();
    }
};

TEST_F(RankDiffusionCommandTest, EveryCommandIsEnabledInItsSubmenu)
{
    Open();
    const std::pair<CommandId, const char*> items[] = {{kTotalVariation, "Diffusion"},
                                                       {kBalanced, "Diffusion"},
                                                       {kMedian, "Noise"},
                                                       {kMaximum, "Other"},
                                                       {kMinimum, "Other"}};
    for (const auto& [id, submenu] : items) EXPECT_TRUE(EnabledInFilterSubmenu(id, submenu)) << id;
}

TEST_F(RankDiffusionCommandTest, OkAppliesAsOneStepAndCancelOrZeroAppliesNothing)
{
    Open(24, 20);
    const std::tuple<CommandId, const char*, int> ranks[] = {
        {kMedian, "Median", 0}, {kMaximum, "Maximum", 1}, {kMinimum, "Minimum", -1}};
    for (const auto& [id, title, mode] : ranks) {
        SCOPED_TRACE(title);
        WhenModal<CMedianDlg>([](CMedianDlg* d) {
            d->slider("radius")->setValue(9);
            d->reject();
        });
        Run(id);
        EXPECT_TRUE(Unchanged());

        QString caption;
        WhenModal<CMedianDlg>([&caption](CMedianDlg* d) {
            caption = d->windowTitle();
            d->slider("radius")->setValue(3);
            d->accept();
        });
        Run(id);
        EXPECT_EQ(caption, title);
        ExpectAppliedAndUndo([mode = mode](CImageProcessor& e) { e.RankFilter(3, mode); });
    }

    const std::tuple<CommandId, const char*, CCall> diffusions[] = {
        {kTotalVariation, "Total variation diffusion", [](CImageProcessor& e) { e.TotalVariationDiffusion(4); }},
        {kBalanced, "Balanced Forward-Backward diffusion", [](CImageProcessor& e) { e.BalancedDiffusion(4); }},
    };
    for (const auto& [id, title, call] : diffusions) {
        SCOPED_TRACE(title);
        for (bool ok : {false, true}) {
            WhenModal<CDiffusionDlg>([ok](CDiffusionDlg* d) {
                if (ok) return d->accept(); // the count still at 0
                d->slider("iterations")->setValue(30);
                d->reject();
            });
            Run(id);
            EXPECT_TRUE(Unchanged());
        }
        QString caption;
        WhenModal<CDiffusionDlg>([&caption](CDiffusionDlg* d) {
            caption = d->windowTitle();
            d->slider("iterations")->setValue(4);
            d->accept();
        });
        Run(id);
        EXPECT_EQ(caption, title);
        ExpectAppliedAndUndo(call);
    }
}

TEST_F(RankDiffusionCommandTest, EscapeDuringALongRunLeavesEverythingAsItWas)
{
    // Large enough that even the median takes well over the worker command's first 100 ms.
    COrvexDoc& doc = Open(2400, 1800);
    const std::tuple<CommandId, const char*> runs[] = {{kTotalVariation, " Total variation:"},
                                                       {kMedian, " Median filtering:"}};
    for (const auto& [id, label] : runs) {
        SCOPED_TRACE(label);
        if (id == kMedian) {
            WhenModal<CMedianDlg>([](CMedianDlg* d) {
                d->slider("radius")->setValue(100);
                d->accept();
            });
        } else {
            WhenModal<CDiffusionDlg>([](CDiffusionDlg* d) {
                d->slider("iterations")->setValue(100);
                d->accept();
            });
        }
        // Escape as soon as the command polls for input, while the operation runs.
        bool labelShown = false;
        bool sent = false;
        QTimer escape;
        escape.setInterval(5);
        QObject::connect(&escape, &QTimer::timeout, [&, text = QString::fromUtf8(label)] {
            if (sent || !doc.engine().running.load()) return;
            sent = true;
            labelShown = frame().messagePane()->text() == text;
            QTest::keyClick(view()->viewport(), Qt::Key_Escape);
        });
        escape.start();
        Run(id);
        escape.stop();
        EXPECT_TRUE(sent);
        EXPECT_TRUE(labelShown);
        EXPECT_TRUE(Unchanged());
        EXPECT_EQ(frame().messagePane()->text(), "For Help, press F1");
    }
}

TEST_F(RankDiffusionCommandTest, OutOfMemorySaysSoAndRecordsNothing)
{
    Open();
    for (CommandId id : {kBalanced, kMinimum}) {
        QString message;
        AnswerMessage(QMessageBox::Ok, &message);
        if (id == kBalanced) {
            WhenModal<CDiffusionDlg>([](CDiffusionDlg* d) {
                d->slider("iterations")->setValue(3);
                orvex_testing::FailRankDiffusionAllocationsAfter(0);
                d->accept();
            });
        } else {
            WhenModal<CMedianDlg>([](CMedianDlg* d) {
                d->slider("radius")->setValue(3);
                orvex_testing::FailImageAllocationsAfter(0);
                d->accept();
            });
        }
        Run(id);
        orvex_testing::FailRankDiffusionAllocationsAfter(-1);
        orvex_testing::FailImageAllocationsAfter(-1);
        EXPECT_EQ(message, "Not enough memory to complete the operation") << id;
        EXPECT_TRUE(Unchanged());
    }
}

} // namespace

TEST(BilateralDialog, SlidersValuesAndPreviewEqualTheFinalResult)
{
    const CImage picture = test_pictures::Pattern(33, 17);
    const std::unique_ptr<CParamDialog> bilateral = dialog_test::RowDialog(CommandId::Bilateral, picture);
    ASSERT_TRUE(bilateral);
    CParamDialog& dialog = *bilateral;
    EXPECT_EQ(dialog.windowTitle(), "Bilateral");
    EXPECT_EQ(dialog.values(), (std::vector<double>{5, 30}));
    EXPECT_EQ(dialog.slider("radius")->minimum(), 0);
    EXPECT_EQ(dialog.slider("radius")->maximum(), 20);
    EXPECT_EQ(dialog.slider("sigma")->minimum(), 1);
    EXPECT_EQ(dialog.slider("sigma")->maximum(), 150);
    dialog.slider("radius")->setValue(3);
    dialog.slider("sigma")->setValue(70);
    EXPECT_EQ(dialog.values(), (std::vector<double>{3, 70}));
    EXPECT_EQ(dialog.valueBox("sigma")->text(), "70");

    CImage previewed = test_pictures::Copy(picture);
    CImageProcessor preview(&previewed);
    preview.workImage().CopyFrom(previewed);
    preview.preview.store(1);
    CParamDialog::RenderByTable("Bilateral", preview, dialog.values());
    EXPECT_TRUE(test_pictures::SamePixels(previewed, picture)) << "a preview leaves the picture alone";

    CImage applied = test_pictures::Copy(picture);
    CImageProcessor engine(&applied);
    CParamDialog::RenderByTable("Bilateral", engine, dialog.values());
    EXPECT_FALSE(test_pictures::SamePixels(applied, picture));
    EXPECT_TRUE(test_pictures::SamePixels(preview.workImage(), applied));
}

TEST_F(RankDiffusionCommandTest, DespeckleFacetAndFragmentAreDirectCommands)
{
    Open(20, 14);
    EXPECT_TRUE(EnabledInFilterSubmenu(CommandId::Despeckle, "Noise"));
    EXPECT_TRUE(EnabledInFilterSubmenu(CommandId::Bilateral, "Noise"));
    EXPECT_TRUE(EnabledInFilterSubmenu(CommandId::Facet, "Pixelate"));
    EXPECT_TRUE(EnabledInFilterSubmenu(CommandId::Fragment, "Pixelate"));
    Run(CommandId::Fragment);
    ExpectAsCallOnCopy([](CImageProcessor& e) { CParamDialog::RenderByTable("Fragment", e, {4}); });
}
