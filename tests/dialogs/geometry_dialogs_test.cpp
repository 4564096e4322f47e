// The rotation, image size, canvas size and offset dialogs, and the geometry commands driven from
// the editor's menus, toolbar and keys: texts, typing rules, corrections, and what OK and Cancel
// leave in the picture, its size, the history and the view.
#include "dialogs/canvas_size_dlg.h"
#include "dialogs/image_size_dlg.h"
#include "dialogs/offset_dlg.h"
#include "dialogs/rotate_dlg.h"
#include "tests/dialogs/dialog_test_support.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QSlider>
#include <QToolBar>
#include <QToolButton>

using namespace shell_test;
using test_pictures::Pixel;
using dialog_test::CCall;

namespace {

constexpr CommandId kImageSize = CommandId::ImageSize, kCanvasSize = CommandId::CanvasSize;
constexpr CommandId kRotate180 = CommandId::Rotate180, kRotateCW = CommandId::Rotate90CW;
constexpr CommandId kRotateCCW = CommandId::Rotate90CCW;
constexpr CommandId kArbitrary = CommandId::RotateArbitrary, kFlipH = CommandId::FlipHorizontal;
constexpr CommandId kFlipV = CommandId::FlipVertical, kOffset = CommandId::Offset;
constexpr CommandId kUndo = CommandId::EditUndo;
constexpr CommandId k640 = CommandId::Size640, k1024 = CommandId::Size1024, k1600 = CommandId::Size1600;

void Type(QLineEdit* box, const QString& text)
{
    box->setFocus();
    box->selectAll();
    QTest::keyClicks(box, text);
}

} // namespace

TEST(RotateDialog, ReadsThePointAndTheCommaAndRefusesWhatIsNoAngle)
{
    CRotateDlg dialog;
    EXPECT_EQ(dialog.windowTitle(), "Rotate Canvas");
    EXPECT_EQ(dialog.angleBox()->text(), "0");
    EXPECT_EQ(dialog.angleBox()->selectedText(), "0");
    EXPECT_TRUE(dialog.clockwiseButton()->isChecked());
    EXPECT_EQ(dialog.clockwiseButton()->text(), QString::fromUtf8("°CW"));
    EXPECT_EQ(dialog.counterClockwiseButton()->text(), QString::fromUtf8("°CCW"));
    EXPECT_EQ(dialog.angle(), 0.0f);

    Type(dialog.angleBox(), "12.5");
    EXPECT_EQ(dialog.angleBox()->text(), "12.5");
    Type(dialog.angleBox(), "1a2,5x");
    EXPECT_EQ(dialog.angleBox()->text(), "1a2,5x");
    dialog.accept();
    EXPECT_NE(dialog.result(), QDialog::Accepted);
    Type(dialog.angleBox(), "12,5");
    dialog.accept();
    EXPECT_FLOAT_EQ(dialog.angle(), 12.5f);
    EXPECT_EQ(dialog.values(), (std::vector<double>{12.5}));

    for (const auto& [text, ccw, angle] : {std::tuple{"12,5", true, -12.5f}, {"12.5", true, -12.5f},
                                           {"-30", false, -30.0f}, {",5", false, 0.5f}}) {
        CRotateDlg d;
        d.angleBox()->setText(QString::fromUtf8(text));
        if (ccw) d.counterClockwiseButton()->setChecked(true);
        d.accept();
        EXPECT_EQ(d.result(), QDialog::Accepted) << text;
        EXPECT_FLOAT_EQ(d.angle(), angle) << text;
    }
    for (const QString& text : {QString(), QStringLiteral("-"), QStringLiteral("1,2,3"), QString(400, QLatin1Char('9'))}) {
        CRotateDlg d;
        d.angleBox()->setText(text);
        d.accept();
        EXPECT_NE(d.result(), QDialog::Accepted) << text.left(8).toStdString();
        EXPECT_EQ(d.angle(), 0.0f) << "no angle leaves the dialog";
    }
}

TEST(ImageSizeDialog, ConstrainedBoxesFollowEachOtherAndTheCaptionComparesSizes)
{
    CImageSizeDlg dialog(640, 480);
    EXPECT_EQ(dialog.windowTitle(), "Image Size");
    EXPECT_EQ(dialog.dimensionsGroup()->title(), "Pixel Dimensions: 900K");
    EXPECT_TRUE(dialog.constrainBox()->isChecked());
    EXPECT_EQ(dialog.methodList()->currentText(), "Bilinear");
    EXPECT_EQ(dialog.methodList()->count(), 3);

    Type(dialog.widthBox(), "320");
    EXPECT_EQ(dialog.heightBox()->text(), "240");
    EXPECT_EQ(dialog.dimensionsGroup()->title(), "Pixel Dimensions: 225K (was 900K)");
    Type(dialog.heightBox(), "100");
    EXPECT_EQ(dialog.widthBox()->text(), "133");
    EXPECT_EQ(dialog.dimensionsGroup()->title(), "Pixel Dimensions: 38.96K (was 900K)");

    dialog.constrainBox()->click();
    Type(dialog.widthBox(), "50");
    EXPECT_EQ(dialog.heightBox()->text(), "100") << "unconstrained";
    dialog.constrainBox()->click();
    EXPECT_EQ(dialog.widthBox()->text(), "640");
    EXPECT_EQ(dialog.heightBox()->text(), "480");
    EXPECT_EQ(dialog.dimensionsGroup()->title(), "Pixel Dimensions: 900K");

    Type(dialog.widthBox(), "abc");
    EXPECT_EQ(dialog.widthBox()->text(), "abc");
    EXPECT_EQ(dialog.heightBox()->text(), "480");
    QString message;
    AnswerMessage(QMessageBox::Ok, &message);
    dialog.accept();
    EXPECT_EQ(message, "Incompatible width value");
    EXPECT_EQ(dialog.resultWidth(), 640) << "the dialog stayed open and kept the given size";

    dialog.constrainBox()->click();
    dialog.widthBox()->setText("10");
    dialog.heightBox()->setText("-3");
    AnswerMessage(QMessageBox::Ok, &message);
    dialog.accept();
    EXPECT_EQ(message, "Incompatible height value");
    dialog.heightBox()->setText("  7 ");
    dialog.methodList()->setCurrentIndex(0);
    dialog.accept();
    EXPECT_EQ(dialog.resultWidth(), 10);
    EXPECT_EQ(dialog.resultHeight(), 7);
    EXPECT_EQ(dialog.method(), 'n');
}

TEST(SizeText, UnitsDecimalsAndTheLimit)
{
    EXPECT_EQ(SizeText(10, 10), "300 bytes");
    EXPECT_EQ(SizeText(1, 1), "3 bytes");
    EXPECT_EQ(SizeText(100, 100), "29.30K");
    EXPECT_EQ(SizeText(1024, 1024), "3M");
    EXPECT_EQ(SizeText(6000, 4000), "68.66M");
    EXPECT_EQ(SizeText(715827882, 1), "2.00G");
    EXPECT_EQ(SizeText(715827883, 1), "--");
    EXPECT_EQ(SizeText(-5, 3, true), "--");
}

TEST(CanvasSizeDialog, RelativeModeCorrectionsAndAnchorArrows)
{
    CCanvasSizeDlg dialog(100, 80);
    dialog.show();
    dialog.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
    EXPECT_EQ(dialog.windowTitle(), "Canvas Size");
    EXPECT_EQ(dialog.currentGroup()->title(), "Current Size: 23.44K");
    EXPECT_EQ(dialog.currentWidthText()->text(), "Width:  100 pixels");
    EXPECT_EQ(dialog.currentHeightText()->text(), "Height:  80 pixels");
    EXPECT_EQ(dialog.newGroup()->title(), "New Size: 23.44K");
    EXPECT_EQ(dialog.anchor(), 'C');
    // Same size: the anchor in the middle, arrows pointing away from it all round.
    const QStringList away = {"arrow_nw", "arrow_n", "arrow_ne", "arrow_w", "anchor", "arrow_e", "arrow_sw", "arrow_s", "arrow_se"};
    for (int i = 0; i < 9; ++i) EXPECT_EQ(dialog.iconName(i), away[i]) << i;
    EXPECT_FALSE(dialog.anchorButton(0)->icon().isNull());

    dialog.relativeBox()->click();
    EXPECT_EQ(dialog.widthBox()->text(), "0");
    Type(dialog.widthBox(), "20");
    EXPECT_EQ(dialog.editedWidth(), 120);
    EXPECT_EQ(dialog.newGroup()->title(), "New Size: 28.13K");
    dialog.relativeBox()->click();
    EXPECT_EQ(dialog.widthBox()->text(), "120");
    EXPECT_EQ(dialog.editedWidth(), 120);

    // Narrower and lower with the anchor at the top left: arrows point back at it.
    dialog.anchorButton(0)->click();
    Type(dialog.widthBox(), "50");
    Type(dialog.heightBox(), "90");
    EXPECT_EQ(dialog.anchor(), 'w');
    EXPECT_EQ(dialog.iconName(0), "anchor");
    EXPECT_EQ(dialog.iconName(1), "arrow_w") << "narrower: toward the anchor";
    EXPECT_EQ(dialog.iconName(3), "arrow_s") << "taller: away from it";
    EXPECT_EQ(dialog.iconName(4), "arrow_nw") << "diagonal: toward unless neither side shrinks";
    EXPECT_EQ(dialog.iconName(2), "");

    // Leaving a box with 0: the message, then 1.
    QString message;
    Type(dialog.widthBox(), "0");
    AnswerMessage(QMessageBox::Ok, &message);
    dialog.heightBox()->setFocus();
    EXPECT_TRUE(WaitFor([&] { return !message.isEmpty(); }));
    EXPECT_EQ(message, "An integer greater than 0 is required.\nClosest value inserted.");
    EXPECT_EQ(dialog.widthBox()->text(), "1");
    EXPECT_EQ(dialog.editedWidth(), 1);

    // Relative: a change of -150 on 100 pixels becomes -99, a width of 1.
    dialog.relativeBox()->click();
    message.clear();
    dialog.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
    Type(dialog.widthBox(), "-150");
    AnswerMessage(QMessageBox::Ok, &message);
    dialog.heightBox()->setFocus();
    EXPECT_TRUE(WaitFor([&] { return !message.isEmpty(); }));
    EXPECT_EQ(message, "An integer greater than -100 is required.\nClosest value inserted.");
    EXPECT_EQ(dialog.widthBox()->text(), "-99");
    EXPECT_EQ(dialog.editedWidth(), 1);

    // OK straight from the box still corrects first, so no size below 1 leaves the dialog.
    dialog.heightBox()->setText("-200");
    AnswerMessage(QMessageBox::Ok, &message);
    dialog.accept();
    EXPECT_EQ(dialog.resultWidth(), 1);
    EXPECT_EQ(dialog.resultHeight(), 1);
}

TEST(OffsetDialog, SlidersRunFromMinusToPlusTheSizeAndTheModeIsStored)
{
    COffsetDlg dialog(40, 30);
    dialog.show();
    EXPECT_EQ(dialog.windowTitle(), "Offset");
    EXPECT_EQ(dialog.modeGroup()->title(), "Unfefinied Areas");
    QSlider* horizontal = dialog.slider("horizontal");
    QSlider* vertical = dialog.slider("vertical");
    EXPECT_EQ(horizontal->maximum(), 80);
    EXPECT_EQ(horizontal->value(), 40);
    EXPECT_EQ(vertical->maximum(), 60);
    EXPECT_EQ(dialog.valueBox("horizontal")->text(), "0");
    EXPECT_EQ(dialog.valueBox("vertical")->text(), "0");
    EXPECT_TRUE(dialog.previewBox()->isChecked());
    EXPECT_EQ(dialog.edgeMode(), 's');
    horizontal->setValue(50);
    vertical->setValue(0);
    EXPECT_EQ(dialog.valueBox("horizontal")->text(), "+10");
    EXPECT_EQ(dialog.valueBox("vertical")->text(), "-30");
    dialog.modeButton('w')->click();
    EXPECT_EQ(dialog.edgeMode(), 'w');
    EXPECT_EQ(dialog.values(), (std::vector<double>{10, -30, 'w'}));
}

// ---- the commands in the editor ----------------------------------------------------------------

class GeometryCommandTest : public dialog_test::EditorCommandTest
{
protected:
    // Applied as `call` does on a copy, as one history step with the mark; Undo brings back the
    // old size and pixels.
    void ExpectAppliedAndUndo(const CCall& call)
    {
        ExpectAsCallOnCopy(call);
        COrvexDoc& doc = view()->document();
        EXPECT_TRUE(caption().startsWith("p.png* @ ")) << caption().toStdString();
        Run(kUndo);
        EXPECT_TRUE(test_pictures::SamePixels(doc.picture(), m_before));
        doc.SetModified(false);
    }
};

TEST_F(GeometryCommandTest, DirectCommandsAndPresetsApplyFromMenusAndToolbarAsOneStep)
{
    Open(16, 12);
    for (CommandId id : {kImageSize, kCanvasSize, kRotate180, kRotateCW, kRotateCCW, kArbitrary, kFlipH, kFlipV,
                         kOffset, k640, k1024, k1600})
        EXPECT_TRUE(frame().action(id)->isEnabled()) << id;
    for (CommandId id : {kRotateCW, kRotateCCW, k640, k1024, k1600})
        EXPECT_TRUE(frame().toolbar()->actions().contains(frame().action(id))) << id;
    EXPECT_EQ(frame().action(kRotate180)->text(), QString::fromUtf8("180°"));

    const std::pair<CommandId, CCall> commands[] = {
        {kRotate180, [](CImageProcessor& e) { e.Rotate180(); }},
        {kRotateCW, [](CImageProcessor& e) { e.Rotate90CW(); }},
        {kRotateCCW, [](CImageProcessor& e) { e.Rotate90CCW(); }},
        {kFlipH, [](CImageProcessor& e) { e.FlipHorizontal(); }},
        {kFlipV, [](CImageProcessor& e) { e.FlipVertical(); }},
        {k640, [](CImageProcessor& e) { e.ResizeImage(640, 480, 'b'); }},
        {k1024, [](CImageProcessor& e) { e.ResizeImage(1024, 768, 'b'); }},
        {k1600, [](CImageProcessor& e) { e.ResizeImage(1600, 1200, 'b'); }},
    };
    for (const auto& [id, call] : commands) {
        SCOPED_TRACE(id);
        Run(id);
        ExpectAppliedAndUndo(call);
    }
}

TEST_F(GeometryCommandTest, PresetsSetTheWidthByOrientationAndNeverASideOfZero)
{
    for (const auto& [w, h, nw, nh] : {std::array{1000, 2000, 480, 960}, {2000, 1000, 640, 320}, {800, 800, 480, 480},
                                       {77, 20, 639, 166}, {2000, 1, 640, 1}}) {
        SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
        ASSERT_TRUE(SavePicture(test_pictures::Filled(w, h, 1, 2, 3), Path("s.png")));
        Start({Path("s.png")});
        Run(k640);
        EXPECT_EQ(view()->document().picture().width(), nw);
        EXPECT_EQ(view()->document().picture().height(), nh);
        EXPECT_EQ(view()->document().history().count(), 2);
        TearDown();
        SetUp();
    }
}

TEST_F(GeometryCommandTest, SizeDialogsApplyOnlyAChangedSizeAndTheViewFollowsIt)
{
    COrvexDoc& doc = Open(40, 30);
    // Cancel after typing, and OK with the size unchanged, do nothing.
    WhenModal<CImageSizeDlg>([](CImageSizeDlg* d) {
        d->widthBox()->setText("20");
        d->reject();
    });
    Run(kImageSize);
    WhenModal<CImageSizeDlg>([](CImageSizeDlg* d) {
        d->methodList()->setCurrentIndex(0);
        d->accept();
    });
    Run(kImageSize);
    WhenModal<CCanvasSizeDlg>([](CCanvasSizeDlg* d) {
        d->anchorButton(0)->click();
        d->accept();
    });
    Run(kCanvasSize);
    WhenModal<CRotateDlg>([](CRotateDlg* d) { d->accept(); });
    Run(kArbitrary);
    WhenModal<CRotateDlg>([](CRotateDlg* d) {
        d->angleBox()->setText("30");
        d->reject();
    });
    Run(kArbitrary);
    EXPECT_TRUE(Unchanged());

    WhenModal<CImageSizeDlg>([](CImageSizeDlg* d) {
        d->widthBox()->setText("80");
        d->methodList()->setCurrentIndex(0);
        d->accept();
    });
    Run(kImageSize);
    EXPECT_EQ(caption(), "p.png* @ 100%");
    ExpectAppliedAndUndo([](CImageProcessor& e) { e.ResizeImage(80, 60, 'n'); });

    WhenModal<CCanvasSizeDlg>([](CCanvasSizeDlg* d) {
        d->widthBox()->setText("50");
        d->anchorButton(8)->click();
        d->accept();
    });
    Run(kCanvasSize);
    ExpectAppliedAndUndo([](CImageProcessor& e) { e.CanvasSize(50, 30, 'e'); });

    WhenModal<CRotateDlg>([](CRotateDlg* d) {
        d->angleBox()->setText("12,5");
        d->counterClockwiseButton()->setChecked(true);
        d->accept();
    });
    Run(kArbitrary);
    ExpectAppliedAndUndo([](CImageProcessor& e) { e.RotateArbitrary(-12.5f); });
    EXPECT_EQ(doc.picture().width(), 40);

    // Shortcuts reach the dialogs.
    bool opened = false;
    WhenModal<CCanvasSizeDlg>([&](CCanvasSizeDlg* d) {
        opened = true;
        d->reject();
    });
    frame().activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&frame()));
    EXPECT_EQ(frame().action(kCanvasSize)->shortcut(), QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_C));
    QTest::keyClick(view()->viewport(), Qt::Key_C, Qt::ControlModifier | Qt::AltModifier);
    EXPECT_TRUE(opened);
    if (!opened) QTest::keyClick(view()->viewport(), Qt::Key_Escape);
}

TEST_F(GeometryCommandTest, OffsetPreviewsThenCancelsOrApplies)
{
    COrvexDoc& doc = Open();
    bool previewing = false;
    WhenModal<COffsetDlg>([&](COffsetDlg* d) {
        previewing = doc.engine().preview.load() == 1;
        d->slider("horizontal")->setValue(16 + 5);
        EXPECT_TRUE(WaitFor([d] { return d->renderer()->renderingsStarted() >= 1 && d->renderer()->Idle(); }));
        d->reject();
    });
    Run(kOffset);
    EXPECT_TRUE(previewing);
    EXPECT_EQ(doc.engine().preview.load(), 0);
    EXPECT_TRUE(Unchanged());

    WhenModal<COffsetDlg>([](COffsetDlg* d) {
        d->slider("horizontal")->setValue(16 - 3);
        d->slider("vertical")->setValue(12 + 2);
        d->modeButton('r')->click();
        d->accept();
    });
    Run(kOffset);
    ExpectAppliedAndUndo([](CImageProcessor& e) { e.Offset(-3, 2, 'r'); });
}

TEST_F(GeometryCommandTest, OutOfMemoryForTheNewSizeSaysSoAndRecordsNothing)
{
    Open();
    QString message;
    AnswerMessage(QMessageBox::Ok, &message);
    orvex_testing::FailImageAllocationsAfter(0);
    Run(kRotateCW);
    orvex_testing::FailImageAllocationsAfter(-1);
    EXPECT_EQ(message, "Not enough memory to complete the operation");
    EXPECT_TRUE(Unchanged());
    EXPECT_EQ(view()->document().picture().width(), 16);
}
