// The blur, motion blur, unsharp mask and custom filter dialogs, and their commands driven from the
// editor's menus: texts and mappings, the custom filter's typing rules and files, and what OK and
// Cancel leave in the picture, the history and the modified mark.
#include "dialogs/blur_dialog.h"
#include "dialogs/custom_dlg.h"
#include "dialogs/motion_blur_dlg.h"
#include "dialogs/unsharp_mask_dlg.h"
#include "tests/dialogs/dialog_test_support.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSlider>
#include <QToolBar>

using namespace shell_test;
using test_pictures::Pixel;
using dialog_test::CCall;

namespace {

constexpr CommandId kAverage = CommandId::Average, kBlur = CommandId::Blur, kBlurMore = CommandId::BlurMore;
constexpr CommandId kGaussian = CommandId::GaussianBlur, kLens = CommandId::LensBlur;
constexpr CommandId kMotion = CommandId::MotionBlur, kSharpen = CommandId::Sharpen;
constexpr CommandId kUnsharp = CommandId::UnsharpMask, kFindEdges = CommandId::FindEdges;
constexpr CommandId kCustom = CommandId::Custom;
constexpr CommandId kHighPass = CommandId::HighPass, kUndo = CommandId::EditUndo;

QStringList Labels(const QWidget& dialog)
{
    QStringList texts;
    for (const QLabel* label : dialog.findChildren<QLabel*>()) texts << label->text();
    return texts;
}

QString Text(const CParamDialog& dialog, std::string_view parameter)
{
    return dialog.valueBox(parameter)->text();
}

TEST(RadiusDialogs, CaptionsTextsAndMapping)
{
    EXPECT_EQ(CBlurDialog().windowTitle(), "Gaussian Blur");
    const std::unique_ptr<CBlurDialog> highPass = dialog_test::RowDialog<CBlurDialog>(kHighPass);
    ASSERT_NE(highPass, nullptr);
    CBlurDialog& blur = *highPass;
    blur.show();
    EXPECT_EQ(blur.windowTitle(), "High Pass");
    EXPECT_EQ(Text(blur, "radius"), "0.0");
    EXPECT_EQ(blur.slider("radius")->maximum(), 2500);
    EXPECT_TRUE(Labels(blur).contains("pixels"));
    for (const auto& [position, text] : {std::pair{100, "0.4"}, {500, "10.0"}, {1000, "40.0"}, {2500, "250.0"}}) {
        blur.slider("radius")->setValue(position);
        EXPECT_EQ(Text(blur, "radius"), text) << position;
    }

    const std::unique_ptr<CMotionBlurDlg> motionBlur = dialog_test::RowDialog<CMotionBlurDlg>(kMotion);
    ASSERT_NE(motionBlur, nullptr);
    CMotionBlurDlg& motion = *motionBlur;
    motion.show();
    EXPECT_EQ(motion.windowTitle(), "Motion Blur");
    EXPECT_EQ(motion.slider("angle")->maximum(), 180);
    EXPECT_EQ(Text(motion, "angle"), QString::fromUtf8("0°"));
    EXPECT_EQ(Text(motion, "radius"), "0.0");
    motion.slider("angle")->setValue(45);
    motion.slider("radius")->setValue(500);
    EXPECT_EQ(Text(motion, "angle"), QString::fromUtf8("45°"));
    EXPECT_EQ(Text(motion, "radius"), "10.0");
    EXPECT_EQ(motion.angle(), 45);
    EXPECT_FLOAT_EQ(motion.radius(), 10.0f);

    const std::unique_ptr<CUnsharpMaskDlg> unsharpMask = dialog_test::RowDialog<CUnsharpMaskDlg>(kUnsharp);
    ASSERT_NE(unsharpMask, nullptr);
    CUnsharpMaskDlg& unsharp = *unsharpMask;
    unsharp.show();
    EXPECT_EQ(unsharp.windowTitle(), "Unsharp Mask");
    EXPECT_EQ(unsharp.slider("amount")->value(), 100);
    EXPECT_EQ(unsharp.slider("amount")->maximum(), 500);
    EXPECT_EQ(Text(unsharp, "amount"), "100");
    EXPECT_EQ(Text(unsharp, "radius"), "0.0");
    unsharp.slider("amount")->setValue(250);
    EXPECT_EQ(Text(unsharp, "amount"), "250");
}

TEST(CustomDialog, StartsSharpeningAndBoxesKeepWhatIsTypedAndHoldOkUntilEachIsAWholeNumber)
{
    CCustomDlg dialog;
    dialog.show();
    EXPECT_EQ(dialog.windowTitle(), "Custom");
    EXPECT_EQ(dialog.weightBox(12)->text(), "5");
    EXPECT_EQ(dialog.weightBox(17)->text(), "-1");
    EXPECT_EQ(dialog.weightBox(0)->text(), "") << "zeros start as empty boxes";
    EXPECT_EQ(dialog.scaleBox()->text(), "1");
    EXPECT_EQ(dialog.offsetBox()->text(), "");
    EXPECT_TRUE(dialog.previewBox()->isChecked());
    EXPECT_EQ(dialog.settings(), orvex_convolution::CCustomFilterSettings{});
    EXPECT_TRUE(dialog.okButton()->isEnabled());

    // Nothing typed is dropped: a box that is no number keeps its text and OK waits for it.
    QTest::keyClicks(dialog.weightBox(0), "1a2");
    EXPECT_EQ(dialog.weightBox(0)->text(), "1a2");
    EXPECT_FALSE(dialog.okButton()->isEnabled());
    EXPECT_EQ(dialog.settings().kernel[0], 1) << "the last number the box held";
    dialog.weightBox(0)->setText("12");
    EXPECT_TRUE(dialog.okButton()->isEnabled());
    EXPECT_EQ(dialog.settings().kernel[0], 12);
    dialog.weightBox(12)->clear();
    QTest::keyClicks(dialog.weightBox(12), "5-3");
    EXPECT_EQ(dialog.weightBox(12)->text(), "5-3");
    EXPECT_FALSE(dialog.okButton()->isEnabled());
    dialog.weightBox(12)->setText("5");

    // Typing in the middle of a number changes the number, not the caret's place in it.
    QLineEdit* offset = dialog.offsetBox();
    offset->setText("-10");
    offset->setCursorPosition(1);
    QTest::keyClicks(offset, "4");
    EXPECT_EQ(offset->text(), "-410");
    EXPECT_EQ(dialog.settings().offset, -410);
    offset->setText("-");
    EXPECT_FALSE(dialog.okButton()->isEnabled()) << "a lone minus is on its way to a number";
    offset->setText("");
    EXPECT_EQ(dialog.settings().offset, 0);
    dialog.weightBox(1)->setText("99999999999");
    EXPECT_FALSE(dialog.okButton()->isEnabled()) << "beyond the operation's range, not saturated";
    EXPECT_EQ(dialog.settings().kernel[1], 0);
    dialog.weightBox(1)->clear();
    EXPECT_TRUE(dialog.okButton()->isEnabled());

    dialog.scaleBox()->setText("0");
    EXPECT_EQ(dialog.settings().scale, 1) << "a divisor of 0 is taken as 1";
    dialog.scaleBox()->setText("-3");
    EXPECT_EQ(dialog.settings().scale, -3);
}

TEST(CustomDialog, SaveThenLoadThroughTheButtonsGivesBackTheSameFilter)
{
    QTemporaryDir dir;
    CCustomDlg source;
    source.show();
    source.weightBox(0)->setText("-7");
    source.scaleBox()->setText("3");
    source.offsetBox()->setText("128");
    QStringList filters;
    QString suggested;
    WhenModal<QFileDialog>([&](QFileDialog* d) {
        filters = d->nameFilters();
        suggested = QFileInfo(d->selectedFiles().value(0)).fileName();
        d->selectFile(dir.filePath("edge")); // the default extension is added
        static_cast<QDialog*>(d)->accept();
    });
    source.saveButton()->click();
    EXPECT_EQ(filters, QStringList{"Custom Filters (*.OCF)"});
    EXPECT_EQ(suggested, "Untitled.ocf");
    const QString path = dir.filePath("edge.ocf");
    EXPECT_EQ(QFileInfo(path).size(), 108);

    CCustomDlg target;
    target.show();
    WhenModal<QFileDialog>([&](QFileDialog* d) {
        d->selectFile(path);
        static_cast<QDialog*>(d)->accept();
    });
    target.loadButton()->click();
    EXPECT_EQ(target.settings(), source.settings());
    EXPECT_EQ(target.weightBox(0)->text(), "-7");
    EXPECT_EQ(target.weightBox(1)->text(), "");
    EXPECT_EQ(target.scaleBox()->text(), "3");
    EXPECT_EQ(target.offsetBox()->text(), "128");
}

TEST(CustomDialog, AShortFileIsRefusedWithAMessageKeepingTheValuesAndAZeroScaleLoadsAsOne)
{
    QTemporaryDir dir;
    QFile file(dir.filePath("short.ocf"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(100, '\x01'));
    file.close();

    CCustomDlg dialog;
    dialog.weightBox(3)->setText("9");
    dialog.offsetBox()->setText("2");
    const orvex_convolution::CCustomFilterSettings before = dialog.settings();
    QString message;
    AnswerMessage(QMessageBox::Ok, &message);
    EXPECT_FALSE(dialog.LoadFrom(file.fileName()));
    EXPECT_TRUE(message.contains("108") && message.contains("short.ocf")) << message.toStdString();
    EXPECT_EQ(dialog.settings(), before);
    EXPECT_EQ(dialog.weightBox(3)->text(), "9");

    orvex_convolution::CCustomFilterSettings zeroScale;
    zeroScale.scale = 0;
    std::string error;
    ASSERT_TRUE(orvex_convolution::WriteFilterFile(dir.filePath("zero.ocf").toStdString(), zeroScale, error));
    ASSERT_TRUE(dialog.LoadFrom(dir.filePath("zero.ocf")));
    EXPECT_EQ(dialog.scaleBox()->text(), "");
    EXPECT_EQ(dialog.settings().scale, 1);
    EXPECT_EQ(dialog.settings().kernel[3], 0);
}

TEST(CustomDialog, PreviewRendersTheValuesOfEachRequestAndTheIdentityWhenSwitchedOff)
{
    CImage picture = test_pictures::Filled(9, 7, 50, 50, 50);
    CImageProcessor engine(&picture);
    engine.workImage().CopyFrom(picture);
    engine.preview.store(1);
    CCustomDlg dialog;
    dialog.AttachPreview(engine, &CCustomDlg::Render);
    dialog.show();
    CPreviewRenderer& renderer = *dialog.renderer();
    auto shows = [&](int value) {
        return WaitFor([&] {
            int shown = -1;
            renderer.ReadFrame([&](const CImage& frame) { shown = Pixel(frame, 4, 3)[1]; });
            return renderer.Idle() && shown == value;
        });
    };
    // Opening renders the default filter, which keeps a flat area flat.
    ASSERT_TRUE(WaitFor([&] { return renderer.renderingsStarted() >= 1; }));
    EXPECT_TRUE(shows(50));
    dialog.weightBox(12)->setText("6");
    dialog.offsetBox()->setText("-60");
    EXPECT_TRUE(shows(6 * 50 - 4 * 50 - 60));
    EXPECT_EQ(renderer.shownValues(), dialog.values());
    dialog.previewBox()->click();
    EXPECT_TRUE(shows(50));
    dialog.previewBox()->click();
    EXPECT_TRUE(shows(40));
    EXPECT_EQ(Pixel(picture, 4, 3)[1], 50) << "previews never write the picture";
}

// ---- the commands in the editor ----------------------------------------------------------------

class ConvolutionCommandTest : public dialog_test::EditorCommandTest
{
protected:
    // Applied as `call` does on a copy, as one history step with the modified mark; then undone
    // (the next command's step replaces this one) and the mark cleared for the next check.
    void ExpectAppliedAndUndo(const CCall& call)
    {
        ExpectAsCallOnCopy(call);
        COrvexDoc& doc = view()->document();
        EXPECT_EQ(caption(), "p.png* @ 100%");
        Run(kUndo);
        doc.SetModified(false);
    }
};

TEST_F(ConvolutionCommandTest, EveryCommandIsEnabledInItsSubmenuAndTwoOnTheToolbar)
{
    Open();
    const std::pair<CommandId, const char*> items[] = {
        {kAverage, "Blur"},      {kBlur, "Blur"},    {kBlurMore, "Blur"},   {kGaussian, "Blur"},
        {kLens, "Blur"},         {kMotion, "Blur"},  {kSharpen, "Sharpen"}, {kUnsharp, "Sharpen"},
        {kFindEdges, "Stylize"}, {kCustom, "Other"}, {kHighPass, "Other"}};
    for (const auto& [id, submenu] : items) EXPECT_TRUE(EnabledInFilterSubmenu(id, submenu)) << id;
    // "Hight" is the menu's own spelling, the one users know the command by: not a typo to fix.
    EXPECT_EQ(frame().action(kHighPass)->text(), "Hight Pass...");
    EXPECT_TRUE(frame().toolbar()->actions().contains(frame().action(kBlurMore)));
    EXPECT_TRUE(frame().toolbar()->actions().contains(frame().action(kSharpen)));
}

TEST_F(ConvolutionCommandTest, DirectCommandsApplyTheirFixedArgumentsAsOneStep)
{
    Open();
    const std::pair<CommandId, CCall> commands[] = {
        {kAverage, [](CImageProcessor& e) { e.Average(); }},
        {kBlur, [](CImageProcessor& e) { e.GaussianBlur(0.75f, 1); }},
        {kBlurMore, [](CImageProcessor& e) { e.GaussianBlur(1.5f, 1); }},
        {kSharpen, [](CImageProcessor& e) { e.Sharpen(); }},
        {kFindEdges,
         [](CImageProcessor& e) {
             e.FindEdges();
             e.Invert();
         }},
    };
    for (const auto& [id, call] : commands) {
        SCOPED_TRACE(id);
        Run(id);
        ExpectAppliedAndUndo(call);
    }
}

TEST_F(ConvolutionCommandTest, DialogsCancelledOrWithRadiusZeroApplyNothing)
{
    Open();
    for (CommandId id : {kGaussian, kLens, kHighPass}) {
        for (bool ok : {false, true}) {
            WhenModal<CBlurDialog>([ok](CBlurDialog* d) {
                if (ok) return d->accept(); // the trackbar still at 0
                d->slider("radius")->setValue(800);
                d->reject();
            });
            Run(id);
            EXPECT_TRUE(Unchanged()) << id << ok;
        }
    }
    for (bool ok : {false, true}) {
        WhenModal<CMotionBlurDlg>([ok](CMotionBlurDlg* d) {
            d->slider("angle")->setValue(60);
            if (ok) return d->accept(); // radius 0 whatever the angle
            d->slider("radius")->setValue(800);
            d->reject();
        });
        Run(kMotion);
        EXPECT_TRUE(Unchanged()) << ok;
    }
    WhenModal<CUnsharpMaskDlg>([](CUnsharpMaskDlg* d) {
        d->slider("radius")->setValue(800);
        d->reject();
    });
    Run(kUnsharp);
    EXPECT_TRUE(Unchanged());
}

TEST_F(ConvolutionCommandTest, DialogsAppliedWithOkPassTheirValues)
{
    Open(24, 20);
    const std::tuple<CommandId, const char*, CCall> blurs[] = {
        {kGaussian, "Gaussian Blur", [](CImageProcessor& e) { e.GaussianBlur(10.0f, 1); }},
        {kLens, "Lens Blur", [](CImageProcessor& e) { e.GaussianBlur(10.0f, 0); }},
        {kHighPass, "High Pass", [](CImageProcessor& e) { e.HighPass(10.0f); }},
    };
    for (const auto& [id, title, call] : blurs) {
        QString caption;
        WhenModal<CBlurDialog>([&caption](CBlurDialog* d) {
            caption = d->windowTitle();
            d->slider("radius")->setValue(500);
            d->accept();
        });
        Run(id);
        EXPECT_EQ(caption, title);
        ExpectAppliedAndUndo(call);
    }

    WhenModal<CMotionBlurDlg>([](CMotionBlurDlg* d) {
        d->slider("angle")->setValue(30);
        d->slider("radius")->setValue(500);
        d->accept();
    });
    Run(kMotion);
    ExpectAppliedAndUndo([](CImageProcessor& e) { e.MotionBlur(30, 10.0); });

    WhenModal<CUnsharpMaskDlg>([](CUnsharpMaskDlg* d) {
        d->slider("amount")->setValue(250);
        d->slider("radius")->setValue(300); // 3.6 pixels
        d->accept();
    });
    Run(kUnsharp);
    ExpectAppliedAndUndo([](CImageProcessor& e) { e.UnsharpMask(3.6f, 2.5f); });

    // 100 % at radius 0 changes no pixel, yet it is an applied command.
    WhenModal<CUnsharpMaskDlg>([](CUnsharpMaskDlg* d) { d->accept(); });
    Run(kUnsharp);
    ExpectAppliedAndUndo([](CImageProcessor&) {});
}

TEST_F(ConvolutionCommandTest, AnOperationOutOfMemorySaysSoAndRecordsNothing)
{
    Open();
    QString message;
    WhenModal<CUnsharpMaskDlg>([&message](CUnsharpMaskDlg* d) {
        d->slider("radius")->setValue(300);
        AnswerMessage(QMessageBox::Ok, &message);
        orvex_testing::FailImageAllocationsAfter(0);
        d->accept();
    });
    Run(kUnsharp);
    orvex_testing::FailImageAllocationsAfter(-1);
    EXPECT_EQ(message, "Not enough memory to complete the operation");
    EXPECT_TRUE(Unchanged());
}

TEST_F(ConvolutionCommandTest, CustomFilterPreviewsThenCancelsOrApplies)
{
    COrvexDoc& doc = Open();
    bool previewing = false;
    WhenModal<CCustomDlg>([&](CCustomDlg* d) {
        previewing = doc.engine().preview.load() == 1;
        d->weightBox(12)->setText("9");
        EXPECT_TRUE(WaitFor([d] { return d->renderer()->renderingsStarted() >= 1 && d->renderer()->Idle(); }));
        d->reject();
    });
    Run(kCustom);
    EXPECT_TRUE(previewing);
    EXPECT_EQ(doc.engine().preview.load(), 0);
    EXPECT_TRUE(Unchanged());

    WhenModal<CCustomDlg>([](CCustomDlg* d) {
        d->weightBox(0)->setText("2");
        d->scaleBox()->setText("3");
        d->offsetBox()->setText("10");
        d->accept();
    });
    Run(kCustom);
    std::array<int, 25> kernel{2, 0, 0, 0, 0, 0, 0, -1, 0, 0, 0, -1, 5, -1, 0, 0, 0, -1};
    ExpectAppliedAndUndo([&kernel](CImageProcessor& e) { e.CustomFilter(kernel.data(), 3, 10); });
}

} // namespace
