// The tonal and colour adjustment dialogs on their own (texts, presets, what each change renders)
// and driven from the editor's menus (Cancel, OK, the commands without a dialog).
#include "dialogs/bc_dlg.h"
#include "dialogs/bw_dlg.h"
#include "dialogs/cbalance_dlg.h"
#include "dialogs/hue_dlg.h"
#include "filters/colour/posterize.h"
#include "shell/command_table.h"
#include "tests/dialogs/dialog_test_support.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QSlider>
#include <QToolBar>

#include <array>
#include <cstdlib>

using namespace shell_test;
using test_pictures::Pixel;

namespace {

struct PreviewBench : dialog_test::PreviewEngine
{
    // Waits until the renderer is idle and returns the shown middle pixel (blue, green, red).
    std::array<int, 3> Shown(const CPreviewRenderer& renderer) const
    {
        EXPECT_TRUE(WaitFor([&] { return renderer.Idle(); }));
        QTest::qWait(10);
        std::array<int, 3> bgr{};
        renderer.ReadFrame([&](const CImage& frame) {
            for (int c = 0; c < 3; ++c) bgr[static_cast<std::size_t>(c)] = Pixel(frame, 6, 3)[c];
        });
        return bgr;
    }
};

QStringList Texts(std::initializer_list<const QLineEdit*> boxes)
{
    QStringList texts;
    for (const QLineEdit* box : boxes) texts << box->text();
    return texts;
}

TEST(ColourDialogs, ValueBoxesShowTheirFormatsAtTheEndsAndInTheMiddle)
{
    CBCDlg bc;
    bc.show();
    EXPECT_EQ(bc.windowTitle(), "Brightness/Contrast");
    EXPECT_EQ(Texts({bc.brightnessBox(), bc.contrastBox()}), (QStringList{"0", "0"}));
    bc.brightnessSlider()->setValue(0);
    bc.contrastSlider()->setValue(200);
    EXPECT_EQ(Texts({bc.brightnessBox(), bc.contrastBox()}), (QStringList{"-100", "+100"}));
    EXPECT_EQ(bc.contrast(), 4.0f);
    bc.contrastSlider()->setValue(150);
    EXPECT_EQ(bc.contrastBox()->text(), "+50");
    EXPECT_FLOAT_EQ(bc.contrast(), 2.25f) << "the right half squares";
    bc.contrastSlider()->setValue(50);
    EXPECT_FLOAT_EQ(bc.contrast(), 0.5f) << "the left half is linear";

    CHueDlg hue;
    hue.show();
    EXPECT_EQ(Texts({hue.hueBox(), hue.saturationBox(), hue.lightnessBox()}), (QStringList{"0", "0", "0"}));
    EXPECT_EQ(hue.saturation(), 1.0f);
    hue.hueSlider()->setValue(360);
    hue.saturationSlider()->setValue(150);
    hue.lightnessSlider()->setValue(0);
    EXPECT_EQ(Texts({hue.hueBox(), hue.saturationBox(), hue.lightnessBox()}), (QStringList{"+180", "+50", "-100"}));
    EXPECT_EQ(hue.hue(), 180.0f);
    EXPECT_FLOAT_EQ(hue.saturation(), 3.5f);
    EXPECT_EQ(hue.lightness(), -1.0f);
    EXPECT_FLOAT_EQ(CHueDlg::SaturationFromPosition(101), 1.001f);
    EXPECT_FLOAT_EQ(CHueDlg::SaturationFromPosition(200), 11.0f);

    CCBalanceDlg balance;
    balance.show();
    balance.balanceSlider(CCBalanceDlg::kRed)->setValue(0);
    balance.balanceSlider(CCBalanceDlg::kBlue)->setValue(137);
    EXPECT_EQ(Texts({balance.levelBox(CCBalanceDlg::kRed), balance.levelBox(CCBalanceDlg::kGreen),
                     balance.levelBox(CCBalanceDlg::kBlue)}),
              (QStringList{"-100", "0", "+37"}));
    EXPECT_EQ(balance.offset(CCBalanceDlg::kBlue), 37);

    const std::unique_ptr<CParamDialog> posterize = dialog_test::RowDialog(CommandId::Posterize);
    posterize->show();
    EXPECT_EQ(posterize->windowTitle(), "Posterize");
    EXPECT_EQ(posterize->valueBox("levels")->text(), "10");

    CBWDlg bw;
    bw.show();
    EXPECT_EQ(Texts({bw.mixBox(CBWDlg::kReds), bw.mixBox(CBWDlg::kGreens), bw.mixBox(CBWDlg::kBlues)}),
              (QStringList{"34 %", "33 %", "33 %"}));
    EXPECT_EQ(bw.presetBox()->currentText(), "None");
    bw.preserveLuminosityBox()->click();
    bw.mixSlider(CBWDlg::kGreens)->setValue(500);
    bw.mixSlider(CBWDlg::kBlues)->setValue(150);
    EXPECT_EQ(Texts({bw.mixBox(CBWDlg::kGreens), bw.mixBox(CBWDlg::kBlues)}), (QStringList{"300 %", "-50 %"}));
    EXPECT_FLOAT_EQ(bw.weight(CBWDlg::kBlues), -0.5f);
}

TEST(ColourDialogs, OpeningRendersOnlyWhereTheFirstNotificationCounts)
{
    PreviewBench bench;
    {
        // Brightness/Contrast: its stored contrast starts at 0, so opening renders the identity.
        CBCDlg bc;
        bc.AttachPreview(bench.engine, &CBCDlg::Render);
        bc.show();
        EXPECT_EQ(bench.Shown(*bc.renderer()), (std::array<int, 3>{40, 90, 200}));
        EXPECT_EQ(bc.renderer()->renderingsStarted(), 1);
        EXPECT_EQ(bc.contrast(), 1.0f);
        EXPECT_EQ(bc.contrastBox()->text(), "0");
    }
    {
        // Posterize renders 10 levels at once, and again on a notification without movement.
        const std::unique_ptr<CParamDialog> dialog = dialog_test::RowDialog(CommandId::Posterize);
        CParamDialog& posterize = *dialog;
        posterize.AttachPreview(bench.engine, [](CImageProcessor& e, const std::vector<double>& values) {
            CParamDialog::RenderByTable("Posterize", e, values);
        });
        posterize.show();
        EXPECT_EQ(bench.Shown(*posterize.renderer()), (std::array<int, 3>{28, 85, 198}));
        emit posterize.slider("levels")->valueChanged(10);
        EXPECT_TRUE(WaitFor([&] { return posterize.renderer()->renderingsStarted() == 2; }));
        // Unchecked: 256 levels, the picture itself.
        posterize.previewBox()->click();
        EXPECT_EQ(bench.Shown(*posterize.renderer()), (std::array<int, 3>{40, 90, 200}));
    }
    {
        // The others wait for a change, and a notification at the same position is none.
        CHueDlg hue;
        CCBalanceDlg balance;
        CBWDlg bw;
        hue.AttachPreview(bench.engine, &CHueDlg::Render);
        balance.AttachPreview(bench.engine, &CCBalanceDlg::Render);
        bw.AttachPreview(bench.engine, &CBWDlg::Render);
        hue.show();
        balance.show();
        bw.show();
        emit hue.saturationSlider()->valueChanged(100);
        emit balance.balanceSlider(CCBalanceDlg::kGreen)->valueChanged(100);
        emit bw.mixSlider(CBWDlg::kReds)->valueChanged(234);
        QTest::qWait(150);
        EXPECT_EQ(hue.renderer()->renderingsStarted(), 0);
        EXPECT_EQ(balance.renderer()->renderingsStarted(), 0);
        EXPECT_EQ(bw.renderer()->renderingsStarted(), 0);
        EXPECT_EQ(bw.presetBox()->currentText(), "None");
    }
}

TEST(BlackAndWhiteDialog, PresetsMoveTheSlidersWithOnePreviewAndSeparatorsLeadToNoneOrCustom)
{
    PreviewBench bench;
    CBWDlg bw;
    bw.AttachPreview(bench.engine, &CBWDlg::Render);
    bw.show();
    QComboBox& presets = *bw.presetBox();
    ASSERT_EQ(presets.count(), 11);
    EXPECT_EQ(presets.itemText(1), QString(30, QLatin1Char('-')));
    EXPECT_EQ(presets.itemText(9), QString(30, QLatin1Char('-')));
    const auto choose = [&](const QString& text) {
        const int index = text == "-" ? 9 : presets.findText(text);
        presets.setCurrentIndex(index);
        emit presets.activated(index);
    };
    const auto positions = [&] {
        return std::array<int, 3>{bw.mixSlider(CBWDlg::kReds)->value(), bw.mixSlider(CBWDlg::kGreens)->value(),
                                  bw.mixSlider(CBWDlg::kBlues)->value()};
    };

    // Preserve Luminosity is on, yet a preset's own moves are not redistributed.
    choose("High Contrast Red Filter");
    EXPECT_EQ(positions(), (std::array<int, 3>{400, 150, 150}));
    EXPECT_EQ(bench.Shown(*bw.renderer()), (std::array<int, 3>{255, 255, 255})) << "2*200 - 0.5*90 - 0.5*40";
    EXPECT_EQ(bw.renderer()->renderingsStarted(), 1) << "one preview for the three moves";
    EXPECT_EQ(presets.currentText(), "High Contrast Red Filter");

    choose("Red Filter");
    EXPECT_EQ(bench.Shown(*bw.renderer()), (std::array<int, 3>{200, 200, 200}));
    EXPECT_EQ(bw.renderer()->shownValues(), (std::vector<double>{1, 0, 0}));

    // The second separator keeps the sliders and names them "Custom".
    choose("-");
    EXPECT_EQ(presets.currentText(), "Custom");
    EXPECT_EQ(positions(), (std::array<int, 3>{300, 200, 200}));
    // The first separator goes back to "None" and its mix: truncate(200*.34 + 90*.33 + 40*.33) = 110.
    presets.setCurrentIndex(1);
    emit presets.activated(1);
    EXPECT_EQ(presets.currentText(), "None");
    EXPECT_EQ(positions(), (std::array<int, 3>{234, 233, 233}));
    EXPECT_EQ(bench.Shown(*bw.renderer()), (std::array<int, 3>{110, 110, 110}));
}

TEST(BlackAndWhiteDialog, MovingASliderKeepsTheTotalAndSwitchesToCustom)
{
    PreviewBench bench;
    CBWDlg bw;
    bw.AttachPreview(bench.engine, &CBWDlg::Render);
    bw.show();
    QSlider& reds = *bw.mixSlider(CBWDlg::kReds);
    QSlider& greens = *bw.mixSlider(CBWDlg::kGreens);
    QSlider& blues = *bw.mixSlider(CBWDlg::kBlues);

    reds.setValue(300);
    EXPECT_EQ(greens.value(), 200);
    EXPECT_EQ(blues.value(), 200);
    EXPECT_EQ(Texts({bw.mixBox(CBWDlg::kGreens), bw.mixBox(CBWDlg::kBlues)}), (QStringList{"0 %", "0 %"}));
    EXPECT_EQ(bw.presetBox()->currentText(), "Custom");
    EXPECT_EQ(bench.Shown(*bw.renderer()), (std::array<int, 3>{200, 200, 200}));
    EXPECT_EQ(bw.renderer()->shownValues(), (std::vector<double>{1, 0, 0})) << "partners' weights were stored";
    // An odd remainder leaves the total 1 % off.
    reds.setValue(301);
    EXPECT_EQ(reds.value() + greens.value() + blues.value(), 701);

    // Without "Preview" a hand-moved mix still stops being the preset it came from.
    bw.previewCheck()->click();
    bw.presetBox()->setCurrentIndex(2);
    emit bw.presetBox()->activated(2);
    greens.setValue(260);
    EXPECT_EQ(bw.presetBox()->currentText(), "Custom");

    // Unchecked, a drifted total is left alone; checking again restores 100 % even with the reds
    // already at 34 %.
    bw.preserveLuminosityBox()->click();
    reds.setValue(234);
    greens.setValue(400);
    const int drifted = reds.value() + greens.value() + blues.value();
    ASSERT_GT(drifted, 702);
    bw.preserveLuminosityBox()->click();
    EXPECT_EQ(reds.value(), 234);
    EXPECT_LE(std::abs(reds.value() + greens.value() + blues.value() - 700), 1);
    EXPECT_FLOAT_EQ(bw.weight(CBWDlg::kGreens), (greens.value() - 200) / 100.0f);
}

// ---- from the editor's menus ------------------------------------------------------------------

class ColourCommandsTest : public ShellTest
{
protected:
    // A menu item reached through the menu bar, as "Image>Adjustments>Posterize...".
    QAction* MenuItem(const QString& path)
    {
        const QStringList parts = path.split('>');
        QList<QAction*> actions;
        for (QMenu* menu : frame().currentMenus()) actions << menu->menuAction();
        QAction* found = nullptr;
        for (const QString& part : parts) {
            found = nullptr;
            for (QAction* action : actions)
                if (PlainCaption(action->text()) == part) found = action;
            if (!found) return nullptr;
            if (found->menu()) actions = found->menu()->actions();
        }
        return found;
    }

    // The colour the view shows at the middle of the picture.
    QColor Shown()
    {
        QCoreApplication::processEvents();
        const QImage shot = view()->viewport()->grab().toImage();
        return QColor(shot.pixel(shot.width() / 2, shot.height() / 2));
    }

    COrvexDoc& OpenPattern()
    {
        Start({WritePicture("photo.png", 20, 14, 3)});
        return view()->document();
    }
};

struct CDialogCommand
{
    const char* path;
    std::function<void(CParamDialog&)> change; // moves the controls away from the start
    std::function<void(CImageProcessor&)> expected; // the call OK must amount to
};

std::vector<CDialogCommand> DialogCommands()
{
    return {
        {"Image>Adjustments>Posterize...",
         [](CParamDialog& d) { d.slider("levels")->setValue(3); },
         [](CImageProcessor& e) { Posterize(e, 3); }},
        {"Image>Adjustments>Brightness/Contrast...",
         [](CParamDialog& d) {
             auto& bc = static_cast<CBCDlg&>(d);
             bc.brightnessSlider()->setValue(130);
             bc.contrastSlider()->setValue(170);
         },
         [](CImageProcessor& e) { e.BrightnessContrast(1.7f * 1.7f, 30.0f); }},
        {"Image>Adjustments>Color Balance...",
         [](CParamDialog& d) {
             auto& cb = static_cast<CCBalanceDlg&>(d);
             cb.balanceSlider(CCBalanceDlg::kRed)->setValue(180);
             cb.balanceSlider(CCBalanceDlg::kBlue)->setValue(40);
         },
         [](CImageProcessor& e) { e.ColorBalance(80, 0, -60); }},
        {"Image>Adjustments>Hue/Saturation",
         [](CParamDialog& d) {
             auto& hue = static_cast<CHueDlg&>(d);
             hue.hueSlider()->setValue(60);
             hue.saturationSlider()->setValue(150);
             hue.lightnessSlider()->setValue(90);
         },
         [](CImageProcessor& e) { e.HueSaturation(-120.0f, 3.5f, -0.1f); }},
        {"Image>Adjustments>Black & White...",
         [](CParamDialog& d) {
             auto& bw = static_cast<CBWDlg&>(d);
             bw.presetBox()->setCurrentIndex(8);
             emit bw.presetBox()->activated(8);
         },
         [](CImageProcessor& e) { e.BlackAndWhite(-0.4f, 1.44f, -0.04f); }},
    };
}

TEST_F(ColourCommandsTest, CancelLeavesPictureHistoryAndMarkAndTheViewShowsThePictureAgain)
{
    const CImage flat = test_pictures::Filled(30, 20, 40, 90, 200);
    ASSERT_TRUE(SavePicture(flat, Path("flat.png")));
    Start({Path("flat.png")});
    COrvexDoc& doc = view()->document();
    for (const CDialogCommand& command : DialogCommands()) {
        SCOPED_TRACE(command.path);
        QAction* item = MenuItem(QString::fromUtf8(command.path));
        ASSERT_NE(item, nullptr);
        ASSERT_TRUE(item->isEnabled());
        QColor whileOpen;
        WhenModal<CParamDialog>([&](CParamDialog* d) {
            command.change(*d);
            EXPECT_TRUE(WaitFor([&] { return d->renderer()->Idle() && Shown() != QColor(200, 90, 40); }));
            whileOpen = Shown();
            d->reject();
        });
        item->trigger();
        EXPECT_NE(whileOpen, QColor(200, 90, 40)) << "the preview showed the effect";
        EXPECT_EQ(doc.engine().preview.load(), 0);
        EXPECT_TRUE(test_pictures::SamePixels(doc.picture(), flat));
        EXPECT_EQ(doc.history().count(), 1);
        EXPECT_FALSE(doc.modified());
        EXPECT_EQ(Shown(), QColor(200, 90, 40));
    }
}

TEST_F(ColourCommandsTest, OkAppliesTheDialogsValuesOnceAndRecordsIt)
{
    COrvexDoc& doc = OpenPattern();
    int steps = 1;
    for (const CDialogCommand& command : DialogCommands()) {
        SCOPED_TRACE(command.path);
        CImage expected;
        ASSERT_TRUE(expected.CopyFrom(doc.picture()));
        CImageProcessor reference(&expected);
        command.expected(reference);

        WhenModal<CParamDialog>([&](CParamDialog* d) {
            command.change(*d);
            d->accept();
        });
        MenuItem(QString::fromUtf8(command.path))->trigger();
        EXPECT_TRUE(test_pictures::SamePixels(doc.picture(), expected));
        EXPECT_EQ(doc.history().count(), ++steps);
        EXPECT_TRUE(doc.modified());
        EXPECT_EQ(doc.engine().preview.load(), 0);
    }
}

TEST_F(ColourCommandsTest, CommandsWithoutDialogRunFromMenuToolbarAndKeys)
{
    const CImage red = test_pictures::Filled(10, 10, 0, 0, 255);
    ASSERT_TRUE(SavePicture(red, Path("red.png")));
    Start({Path("red.png")});
    COrvexDoc& doc = view()->document();

    MenuItem("Image>Adjustments>Desaturate")->trigger();
    EXPECT_EQ(Pixel(doc.picture(), 4, 4)[2], 127);
    EXPECT_EQ(Pixel(doc.picture(), 4, 4)[0], 127);
    EXPECT_EQ(caption(), "red.png* @ 100%");
    MenuItem("Filter>Stylize>Solarize")->trigger();
    EXPECT_EQ(Pixel(doc.picture(), 4, 4)[1], 127);
    EXPECT_EQ(doc.history().count(), 3);

    // A flat picture turns white under Auto Color; Equalize then keeps it white.
    QAction* autoColor = nullptr;
    QAction* equalize = nullptr;
    for (QAction* action : frame().toolbar()->actions()) {
        if (PlainCaption(action->text()) == "Auto Color") autoColor = action;
        if (PlainCaption(action->text()) == "Equalize") equalize = action;
    }
    ASSERT_TRUE(autoColor && equalize);
    autoColor->trigger();
    EXPECT_EQ(Pixel(doc.picture(), 0, 0)[1], 255);
    equalize->trigger();
    EXPECT_EQ(Pixel(doc.picture(), 9, 9)[2], 255);
    EXPECT_EQ(doc.history().count(), 5);

    // Ctrl+U opens Hue/Saturation; Escape cancels it.
    bool opened = false;
    WhenModal<CHueDlg>([&](CHueDlg* d) {
        opened = d->windowTitle() == "Hue/Saturation";
        QTest::keyClick(d, Qt::Key_Escape);
    });
    QTest::keyClick(view()->viewport(), Qt::Key_U, Qt::ControlModifier);
    EXPECT_TRUE(opened);
    EXPECT_EQ(doc.history().count(), 5);
}

TEST_F(ColourCommandsTest, BlackAndWhiteWithoutPreviewShowsThePictureInColourWhileOpen)
{
    ASSERT_TRUE(SavePicture(test_pictures::Filled(30, 20, 40, 90, 200), Path("flat.png")));
    Start({Path("flat.png")});
    QColor withMix, without;
    WhenModal<CBWDlg>([&](CBWDlg* d) {
        d->mixSlider(CBWDlg::kReds)->setValue(300);
        EXPECT_TRUE(WaitFor([&] { return Shown() == QColor(200, 200, 200); }));
        withMix = Shown();
        d->previewCheck()->click();
        EXPECT_TRUE(WaitFor([&] { return Shown() == QColor(200, 90, 40); }));
        without = Shown();
        EXPECT_EQ(view()->document().engine().preview.load(), 1);
        d->previewCheck()->click();
        EXPECT_TRUE(WaitFor([&] { return Shown() == QColor(200, 200, 200); })) << "checked again: the mix";
        d->reject();
    });
    MenuItem("Image>Adjustments>Black & White...")->trigger();
    EXPECT_EQ(withMix, QColor(200, 200, 200));
    EXPECT_EQ(without, QColor(200, 90, 40));
}

} // namespace
