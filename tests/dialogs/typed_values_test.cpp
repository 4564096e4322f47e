// Values typed into the slider boxes of the dialogs: their units and ranges, the slider following,
// the typed value kept, stepping with the keys and the wheel, one preview once typing pauses, and
// Image Size in percent.
#include "dialogs/blur_dialog.h"
#include "dialogs/bw_dlg.h"
#include "dialogs/cbalance_dlg.h"
#include "dialogs/dialog_settings.h"
#include "dialogs/hue_dlg.h"
#include "dialogs/image_size_dlg.h"
#include "dialogs/motion_blur_dlg.h"
#include "dialogs/number_box.h"
#include "dialogs/unsharp_mask_dlg.h"
#include "dialogs/value_box.h"
#include "filters/colour/black_and_white_presets.h"
#include "filters/convolution/convolution.h"
#include "tests/dialogs/slow_operation.h"
#include "tests/dialogs/wait_for.h"
#include "tests/test_pictures.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>
#include <QWheelEvent>

#include <gtest/gtest.h>

namespace {

// Replaces the box's text key by key, as a user does.
void Type(QLineEdit* box, const QString& text)
{
    box->setFocus();
    box->selectAll();
    QTest::keyClick(box, Qt::Key_Backspace);
    // Characters beyond ASCII have no key of their own in the test's keyboard; they arrive as
    // input method text does.
    for (const QChar c : text) {
        if (c.unicode() < 128) QTest::keyClick(box, c.toLatin1());
        else box->insert(QString(c));
    }
}

// Replaces the box's text in one edit, as pasting does.
void Paste(QLineEdit* box, const QString& text)
{
    box->setFocus();
    box->selectAll();
    box->insert(text);
}

bool RedFrame(const QLineEdit* box)
{
    return box->styleSheet().contains(QStringLiteral("#d00000"));
}

void Wheel(QWidget* w, int delta)
{
    const QPointF at(w->width() / 2.0, w->height() / 2.0);
    QWheelEvent event(at, w->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(w, &event);
}

// Shown and active, so that the boxes take and lose the focus as they do for a user.
void Open(QWidget& dialog)
{
    dialog.show();
    dialog.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
}

double Radius(int position)
{
    return orvex_convolution::BlurRadiusFromSlider(position);
}

} // namespace

TEST(ValueBoxReading, AUnitOfTheRuleMayFollowTheNumber)
{
    const CNumberRule percent = CNumberRule::Whole(-200, 300).WithUnits({QStringLiteral("%")});
    EXPECT_EQ(ReadNumber(QStringLiteral("50 %"), percent).value, 50.0);
    EXPECT_EQ(ReadNumber(QStringLiteral("-50%"), percent).value, -50.0);
    EXPECT_EQ(ReadNumber(QStringLiteral(" 7 % "), percent).value, 7.0);
    EXPECT_FALSE(ReadNumber(QStringLiteral("%"), percent).value) << "a unit alone is no number";
    EXPECT_FALSE(ReadNumber(QStringLiteral("5 %%"), percent).value) << "one unit only";
    EXPECT_FALSE(ReadNumber(QStringLiteral("% 5"), percent).value) << "the unit follows";
    EXPECT_FALSE(ReadNumber(QStringLiteral("50 %"), CNumberRule::Whole(0, 100)).value) << "no units in the rule";
    const CNumberRule radius = CNumberRule::Real(0, 250).WithUnits({QStringLiteral("pixels")});
    EXPECT_EQ(ReadNumber(QStringLiteral("2,5 Pixels"), radius).value, 2.5);
    const CNumberRule angle = CNumberRule::Whole(0, 180).WithUnits({QString(QChar(0x00B0))});
    EXPECT_EQ(ReadNumber(QString::fromUtf8("45°"), angle).value, 45.0);
}

TEST(ValueBox, RealBoxKeepsTheTypedValueAndTheSliderGoesToTheNearestPosition)
{
    CBlurDialog dialog;
    Open(dialog);
    QLineEdit* box = dialog.valueBox("radius");
    QSlider* slider = dialog.slider("radius");
    EXPECT_FALSE(box->isReadOnly());
    EXPECT_EQ(box->placeholderText(), "0..250");
    EXPECT_EQ(box->toolTip(), "0..250");

    // The reference: the position whose radius lies nearest, by a plain scan.
    const auto nearest = [](double v) {
        int best = 0;
        for (int p = 1; p <= 2500; ++p)
            if (std::abs(Radius(p) - v) < std::abs(Radius(best) - v)) best = p;
        return best;
    };
    for (const char* typed : {"2.37", "2,37", "0", "250", "0.05", "17.123", "+3"}) {
        Type(box, QString::fromUtf8(typed));
        const double expected = QString::fromUtf8(typed).replace(',', '.').toDouble();
        EXPECT_EQ(dialog.value("radius"), expected) << typed;
        EXPECT_EQ(slider->value(), nearest(expected)) << typed;
        EXPECT_EQ(box->text(), QString::fromUtf8(typed)) << "never rewritten while typing";
        EXPECT_TRUE(dialog.okButton()->isEnabled()) << typed;
    }
    Type(box, QStringLiteral("2,37 pixels"));
    EXPECT_EQ(dialog.value("radius"), 2.37);
    QTest::keyClick(box, Qt::Key_Tab);
    EXPECT_EQ(box->text(), "2.37") << "leaving the box writes the typed value in the box's format";
    Type(box, QStringLiteral("10"));
    box->clearFocus();
    EXPECT_EQ(box->text(), QString::asprintf("%3.1f", 10.0));

    // Out of range or unreadable: red frame, the reason, OK waits; the value stays the last one.
    for (const char* typed : {"250.01", "-1", "1..2", "", "abc"}) {
        Paste(box, QString::fromUtf8(typed));
        EXPECT_TRUE(RedFrame(box)) << typed;
        EXPECT_FALSE(dialog.okButton()->isEnabled()) << typed;
        EXPECT_NE(box->toolTip(), "0..250") << typed;
        EXPECT_EQ(dialog.value("radius"), 10.0) << typed;
    }
    // Leaving an unreadable box leaves it as typed, still red.
    box->clearFocus();
    EXPECT_EQ(box->text(), "abc");
    EXPECT_FALSE(dialog.okButton()->isEnabled());
    Type(box, QStringLiteral("12"));
    EXPECT_FALSE(RedFrame(box));
    EXPECT_TRUE(dialog.okButton()->isEnabled());
    dialog.close();
}

TEST(ValueBox, BoxesSpeakTheUnitsTheyShow)
{
    {
        // Signed offsets from the middle, the minus sign U+2212 included; a curve behind the
        // position (saturation) gives the position's value.
        CHueDlg hue;
        Open(hue);
        EXPECT_EQ(hue.hueBox()->placeholderText(), "-180..+180");
        Type(hue.hueBox(), QString(QChar(0x2212)) + QStringLiteral("45"));
        EXPECT_EQ(hue.hueSlider()->value(), 135);
        EXPECT_EQ(hue.hue(), -45.0f);
        Type(hue.hueBox(), QStringLiteral("-181"));
        EXPECT_TRUE(RedFrame(hue.hueBox()));
        EXPECT_FALSE(hue.okButton()->isEnabled());
        Type(hue.hueBox(), QStringLiteral("+180"));
        EXPECT_EQ(hue.hueSlider()->value(), 360);
        Type(hue.saturationBox(), QStringLiteral("50"));
        EXPECT_EQ(hue.saturationSlider()->value(), 150);
        EXPECT_EQ(hue.saturation(), CHueDlg::SaturationFromPosition(150));
        Type(hue.saturationBox(), QStringLiteral("12.5"));
        EXPECT_TRUE(RedFrame(hue.saturationBox())) << "a box of positions takes whole numbers";
        hue.close();
    }
    {
        // A percentage of a factor, typed with or without its unit.
        CUnsharpMaskDlg unsharp;
        Open(unsharp);
        QLineEdit* box = unsharp.valueBox("amount");
        Type(box, QStringLiteral("150 %"));
        EXPECT_EQ(unsharp.amount(), 150);
        EXPECT_FLOAT_EQ(unsharp.factor(), 1.5f);
        Type(box, QStringLiteral("75%"));
        EXPECT_EQ(unsharp.amount(), 75);
        Type(box, QStringLiteral("501"));
        EXPECT_TRUE(RedFrame(box));
        unsharp.close();
    }
    {
        CMotionBlurDlg motion;
        Open(motion);
        Type(motion.valueBox("angle"), QString::fromUtf8("45°"));
        EXPECT_EQ(motion.angle(), 45);
        EXPECT_EQ(motion.slider("angle")->value(), 45);
        motion.valueBox("angle")->clearFocus();
        EXPECT_EQ(motion.valueBox("angle")->text(), QString::fromUtf8("45°"));
        motion.close();
    }
    {
        // The colour balance's own boxes: offsets from the middle.
        CCBalanceDlg balance;
        Open(balance);
        Type(balance.levelBox(CCBalanceDlg::kRed), QStringLiteral("-30"));
        EXPECT_EQ(balance.offset(CCBalanceDlg::kRed), -30);
        EXPECT_EQ(balance.balanceSlider(CCBalanceDlg::kRed)->value(), 70);
        Type(balance.levelBox(CCBalanceDlg::kGreen), QStringLiteral("101"));
        EXPECT_FALSE(balance.okButton()->isEnabled());
        balance.close();
    }
    {
        // Black and white: percent of the weight, and the luminosity rule moves the others.
        CBWDlg bw;
        Open(bw);
        QLineEdit* reds = bw.mixBox(CBWDlg::kReds);
        EXPECT_EQ(reds->placeholderText(), "-200..300");
        bw.preserveLuminosityBox()->setChecked(false);
        Type(reds, QStringLiteral("-50 %"));
        EXPECT_FLOAT_EQ(bw.weight(CBWDlg::kReds), -0.5f);
        EXPECT_EQ(bw.mixSlider(CBWDlg::kReds)->value(), 150);
        EXPECT_EQ(bw.presetBox()->currentIndex(), kBlackAndWhiteCustomIndex);
        Type(reds, QStringLiteral("301"));
        EXPECT_TRUE(RedFrame(reds));
        bw.close();
    }
}

TEST(ValueBox, KeysAndWheelStepByTheSlidersSteps)
{
    CBlurDialog dialog;
    Open(dialog);
    QLineEdit* box = dialog.valueBox("radius");
    QSlider* slider = dialog.slider("radius");
    // From a typed value between positions, the first step lands on the neighbouring position.
    Type(box, QStringLiteral("2.37"));
    int above = 0;
    while (Radius(above) <= 2.37) ++above;
    int below = 2500;
    while (Radius(below) >= 2.37) --below;
    QTest::keyClick(box, Qt::Key_Up);
    EXPECT_EQ(slider->value(), above);
    EXPECT_EQ(dialog.value("radius"), Radius(above));
    EXPECT_EQ(box->text(), QString::asprintf("%3.1f", Radius(above)));
    Type(box, QStringLiteral("2.37"));
    QTest::keyClick(box, Qt::Key_Down);
    EXPECT_EQ(slider->value(), below);
    EXPECT_EQ(dialog.value("radius"), Radius(below));

    QTest::keyClick(box, Qt::Key_Up);
    EXPECT_EQ(slider->value(), below + 1);
    QTest::keyClick(box, Qt::Key_PageUp);
    EXPECT_EQ(slider->value(), below + 1 + 500);
    QTest::keyClick(box, Qt::Key_PageDown);
    QTest::keyClick(box, Qt::Key_PageDown);
    EXPECT_EQ(slider->value(), below + 1 - 500 < 0 ? 0 : below + 1 - 500);
    Wheel(box, 120);
    EXPECT_EQ(slider->value(), 1);
    Wheel(box, -240);
    EXPECT_EQ(slider->value(), 0);
    EXPECT_EQ(box->text(), QString::asprintf("%3.1f", Radius(0)));
    // At the end of the range a step goes nowhere, and an unreadable box shows the value again.
    Type(box, QStringLiteral("x"));
    QTest::keyClick(box, Qt::Key_Down);
    EXPECT_EQ(slider->value(), 0);
    EXPECT_EQ(box->text(), QString::asprintf("%3.1f", Radius(0)));
    EXPECT_TRUE(dialog.okButton()->isEnabled());
    dialog.close();
}

TEST(ValueBox, TypingRendersOnceWhenItPausesAndEnterActsAsOkOnlyWhenValid)
{
    CImage picture = test_pictures::Filled(16, 8, 10, 20, 30);
    CImageProcessor engine{&picture};
    engine.workImage().CopyFrom(picture);
    engine.preview.store(1);
    CParamDialog dialog(QStringLiteral("Test"), nullptr, {{"iterations", 0}});
    dialog.BindOperation("TotalVariationDiffusion");
    dialog.AddSlider("iterations", QStringLiteral("Iterations:"), CValueFormat::Plain());
    dialog.AddPreviewBox();
    dialog.AttachPreview(engine, SlowAdd{2, 1});
    Open(dialog);
    QLineEdit* box = dialog.valueBox("iterations");
    Type(box, QStringLiteral("57"));
    EXPECT_EQ(dialog.values(), std::vector<double>{57});
    EXPECT_EQ(dialog.slider("iterations")->value(), 57);
    QTest::qWait(40);
    EXPECT_EQ(dialog.renderer()->renderingsStarted(), 0) << "nothing while typing";
    ASSERT_TRUE(WaitFor([&] { return dialog.renderer()->renderingsStarted() == 1 && dialog.renderer()->Idle(); }));
    QTest::qWait(CValueBox::kSettleMs + 50);
    EXPECT_EQ(dialog.renderer()->renderingsStarted(), 1) << "one preview for the keystrokes";
    EXPECT_EQ(dialog.renderer()->shownValues(), std::vector<double>{57});

    // Enter with an unreadable value keeps the dialog open; with a readable one it is OK.
    Type(box, QStringLiteral("101"));
    QTest::keyClick(box, Qt::Key_Return);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), 0);
    Type(box, QStringLiteral("8"));
    QTest::keyClick(box, Qt::Key_Return);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.values(), std::vector<double>{8});
}

TEST(ImageSizeDialog, PercentOfTheGivenSizeWithAndWithoutTheLock)
{
    EXPECT_EQ(CImageSizeDlg::PixelsFromPercent(640, 50), 320);
    EXPECT_EQ(CImageSizeDlg::PixelsFromPercent(640, 33.3), 213); // 213.12
    EXPECT_EQ(CImageSizeDlg::PixelsFromPercent(480, 33.3), 160); // 159.84
    EXPECT_EQ(CImageSizeDlg::PixelsFromPercent(3, 50), 2);       // 1.5: a tie rounds up
    EXPECT_EQ(CImageSizeDlg::PixelsFromPercent(640, 0.01), 1) << "never below one pixel";

    CImageSizeDlg dialog(640, 480);
    QComboBox* units = dialog.unitList();
    ASSERT_EQ(units->count(), 2);
    EXPECT_EQ(units->itemText(0), "Pixels");
    EXPECT_EQ(units->itemText(1), "Percent");
    Type(dialog.widthBox(), QStringLiteral("320"));
    units->setCurrentIndex(1);
    EXPECT_EQ(dialog.widthBox()->text(), "50");
    EXPECT_EQ(dialog.heightBox()->text(), "50");

    Type(dialog.widthBox(), QStringLiteral("33,3"));
    EXPECT_EQ(dialog.heightBox()->text(), "33,3") << "locked: the same percentage";
    EXPECT_EQ(dialog.dimensionsGroup()->title(), "Pixel Dimensions: 99.84K (was 900K)"); // 213 x 160
    units->setCurrentIndex(0);
    EXPECT_EQ(dialog.widthBox()->text(), "213");
    EXPECT_EQ(dialog.heightBox()->text(), "160");
    units->setCurrentIndex(1);
    EXPECT_EQ(dialog.widthBox()->text(), "33.28"); // 213 of 640

    dialog.constrainBox()->click();
    Type(dialog.heightBox(), QStringLiteral("200"));
    EXPECT_EQ(dialog.widthBox()->text(), "33.28") << "unlocked";
    Type(dialog.widthBox(), QStringLiteral("0"));
    EXPECT_FALSE(dialog.okButton()->isEnabled());
    Type(dialog.widthBox(), QStringLiteral("0.01"));
    EXPECT_TRUE(dialog.okButton()->isEnabled());
    dialog.accept();
    EXPECT_EQ(dialog.resultWidth(), 1);
    EXPECT_EQ(dialog.resultHeight(), 960);
}

TEST(ImageSizeDialog, RemembersTheUnitAndTheMethodChosen)
{
    QTemporaryDir folder;
    QSettings settings(folder.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat);
    SetDialogSettings(&settings);
    {
        CImageSizeDlg first(100, 50);
        EXPECT_EQ(first.unitList()->currentIndex(), 0);
        EXPECT_EQ(first.method(), 'b');
        first.unitList()->setCurrentIndex(1);
        first.methodList()->setCurrentIndex(0);
        first.widthBox()->setText(QStringLiteral("50"));
        first.accept();
        EXPECT_EQ(first.resultWidth(), 50);
        EXPECT_EQ(first.resultHeight(), 25);
    }
    {
        CImageSizeDlg second(30, 20);
        EXPECT_EQ(second.unitList()->currentIndex(), 1);
        EXPECT_EQ(second.widthBox()->text(), "100");
        EXPECT_EQ(second.methodList()->currentIndex(), 0);
        EXPECT_EQ(second.method(), 'n');
        EXPECT_EQ(second.values(), (std::vector<double>{30, 20, 'n'}));
        // Cancel remembers nothing.
        second.unitList()->setCurrentIndex(0);
        second.reject();
    }
    {
        CImageSizeDlg third(30, 20);
        EXPECT_EQ(third.unitList()->currentIndex(), 1);
        third.unitList()->setCurrentIndex(0);
        third.methodList()->setCurrentIndex(2);
        third.accept();
    }
    CImageSizeDlg fourth(30, 20);
    EXPECT_EQ(fourth.unitList()->currentIndex(), 0);
    EXPECT_EQ(fourth.widthBox()->text(), "30");
    EXPECT_EQ(fourth.method(), 'l');
    SetDialogSettings(nullptr);
}
