// Every dialog of the command table against its operation table row and the shared keyboard
// behaviour.
#include "core/image_processor.h"
#include "core/operation_table.h"
#include "dialogs/add_noise_dlg.h"
#include "dialogs/blur_dialog.h"
#include "dialogs/bw_dlg.h"
#include "dialogs/cbalance_dlg.h"
#include "dialogs/custom_dlg.h"
#include "dialogs/median_dlg.h"
#include "dialogs/offset_dlg.h"
#include "filters/colour/black_and_white_presets.h"
#include "shell/command_table.h"
#include "tests/dialogs/dialog_test_support.h"
#include "tests/test_pictures.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>

namespace {

// Every slot of the row holds a value the row accepts. A dialog holding several settings of its
// row at once (one per channel) keeps slots of its own layout after the row's.
void ExpectWithinRow(const CParamDialog& dialog, const COperation& op, const std::string& when)
{
    ASSERT_GE(dialog.values().size(), op.params.size()) << when;
    for (std::size_t i = 0; i < op.params.size(); ++i) {
        const CParam& p = op.params[i];
        if (p.type == ParamType::Code) continue;
        EXPECT_GE(dialog.values()[i], p.min) << op.name << "." << p.name << " " << when;
        EXPECT_LE(dialog.values()[i], p.max) << op.name << "." << p.name << " " << when;
    }
}

std::string Describe(const QWidget* w)
{
    if (!w) return "nothing";
    std::string text = w->metaObject()->className();
    if (const auto* button = qobject_cast<const QAbstractButton*>(w)) text += " \"" + button->text().toStdString() + "\"";
    return text;
}

struct CParamDialogEntry
{
    std::string name; // for test messages
    std::function<std::unique_ptr<CParamDialog>()> make;
};

// The dialogs of the command table's rows.
std::vector<CParamDialogEntry> RowDialogs()
{
    static const CImage shown = test_pictures::Pattern(40, 30);
    std::vector<CParamDialogEntry> all;
    for (const CDialogSweepEntry& entry : DialogSweepList())
        all.push_back({entry.name.toStdString(), [make = entry.make] { return make(shown); }});
    return all;
}

} // namespace

TEST(EveryParamDialog, SlidersSpanTheirRowsRangeAndOpenAtTheirStartValues)
{
    for (const CParamDialogEntry& entry : RowDialogs()) {
        SCOPED_TRACE(entry.name);
        const std::unique_ptr<CParamDialog> dialog = entry.make();
        const COperation* op = dialog->operation();
        ASSERT_NE(op, nullptr) << "every dialog names its operation";
        for (const CParam& p : op->params) {
            QSlider* slider = dialog->slider(p.name);
            if (!slider) continue;
            SCOPED_TRACE(p.name);
            const CSliderScale scale = dialog->sliderScale(p.name);
            EXPECT_EQ(slider->minimum(), scale.minimum);
            EXPECT_EQ(slider->maximum(), scale.maximum);
            // Both ends reach the row's limits; only the offsets stop at the picture's own size.
            const double low = scale.toValue(slider->minimum()), high = scale.toValue(slider->maximum());
            if (op->name == "Offset") {
                EXPECT_GE(low, p.min);
                EXPECT_LE(high, p.max);
                EXPECT_EQ(high, -low);
            } else {
                EXPECT_FLOAT_EQ(static_cast<float>(low), static_cast<float>(p.min));
                EXPECT_FLOAT_EQ(static_cast<float>(high), static_cast<float>(p.max));
            }
            EXPECT_LE(low, high);
            EXPECT_EQ(slider->value(), scale.PositionOf(dialog->startValue(p.name)));
            EXPECT_FLOAT_EQ(static_cast<float>(scale.toValue(slider->value())),
                            static_cast<float>(dialog->startValue(p.name)))
                << "the start value is a position of the slider";
        }
    }
}

TEST(EveryParamDialog, StartValuesAreTheRowsDefaultsUnlessTheCommandGivesOthers)
{
    // Where the dialogs open for their commands: the start values of the command's row, where it
    // has any, each row its own where one dialog serves several.
    using dialog_test::RowDialog;
    EXPECT_EQ(RowDialog(CommandId::Posterize)->value("levels"), 10);
    EXPECT_EQ(CMedianDlg().slider("radius")->value(), 5) << "the operation row's default";
    for (CommandId id : {CommandId::Median, CommandId::Maximum, CommandId::Minimum})
        EXPECT_EQ(RowDialog(id)->slider("radius")->value(), 1) << static_cast<int>(id);
    for (CommandId id : {CommandId::TotalVariation, CommandId::BalancedDiffusion})
        EXPECT_EQ(RowDialog(id)->slider("iterations")->value(), 0) << static_cast<int>(id);
    for (CommandId id : {CommandId::GaussianBlur, CommandId::LensBlur, CommandId::HighPass, CommandId::MotionBlur,
                         CommandId::UnsharpMask})
        EXPECT_EQ(RowDialog(id)->slider("radius")->value(), 0) << static_cast<int>(id);
    EXPECT_EQ(RowDialog(CommandId::GaussianBlur)->values(), (std::vector<double>{0, 1}));
    EXPECT_EQ(RowDialog(CommandId::LensBlur)->values(), (std::vector<double>{0, 0})) << "a lens blur, not a Gaussian";
    // The size dialogs open on the picture's size.
    const CImage picture = test_pictures::Pattern(23, 17);
    EXPECT_EQ(RowDialog(CommandId::ImageSize, picture)->values(), (std::vector<double>{23, 17, 'b'}));
    EXPECT_EQ(RowDialog(CommandId::CanvasSize, picture)->values(), (std::vector<double>{23, 17, 'C'}));
    EXPECT_EQ(RowDialog(CommandId::Offset, picture)->slider("horizontal")->maximum(), 46);

    // A command's start values move the slider, the box and the stored value together, also on
    // a curve where the value lies between two positions.
    CBlurDialog blur(QString(), nullptr, {{"radius", 10}});
    EXPECT_EQ(blur.slider("radius")->value(), 500);
    EXPECT_EQ(blur.valueBox("radius")->text(), "10.0");
    EXPECT_FLOAT_EQ(blur.radius(), 10.0f);
    CBlurDialog between(QString(), nullptr, {{"radius", 10.01}});
    EXPECT_EQ(between.slider("radius")->value(), 500);
    EXPECT_FLOAT_EQ(between.radius(), 10.0f) << "the stored value is the position's, not the request's";
    CMedianDlg median(QString(), nullptr, {{"radius", 7}});
    EXPECT_EQ(median.slider("radius")->value(), 7);
    EXPECT_EQ(median.values(), (std::vector<double>{7, 0}));

    // Controls of the dialogs' own follow them too.
    CAddNoiseDlg noise(nullptr, {{"uniform", 0}, {"monochromatic", 1}});
    EXPECT_TRUE(noise.gaussianButton()->isChecked());
    EXPECT_FALSE(noise.uniformButton()->isChecked());
    EXPECT_TRUE(noise.monochromaticBox()->isChecked());
    EXPECT_EQ(noise.values(), (std::vector<double>{0, 0, 1}));
    COffsetDlg offset(40, 30, nullptr, {{"horizontal", -5}, {"mode", 'w'}});
    EXPECT_EQ(offset.slider("horizontal")->value(), 35);
    EXPECT_EQ(offset.valueBox("horizontal")->text(), "-5");
    EXPECT_TRUE(offset.modeButton('w')->isChecked());
    EXPECT_EQ(offset.values(), (std::vector<double>{-5, 0, 'w'}));
    CCBalanceDlg balance(nullptr, {{"green", 20}});
    EXPECT_EQ(balance.balanceSlider(CCBalanceDlg::kGreen)->value(), 120);
    EXPECT_EQ(balance.levelBox(CCBalanceDlg::kGreen)->text(), "+20");
    EXPECT_EQ(balance.offset(CCBalanceDlg::kGreen), 20);
    CBWDlg mix(nullptr, {{"reds", 0.5}, {"greens", 0.25}, {"blues", 0.25}});
    EXPECT_EQ(mix.mixSlider(CBWDlg::kReds)->value(), 250);
    EXPECT_FLOAT_EQ(mix.weight(CBWDlg::kGreens), 0.25f);
    EXPECT_EQ(mix.presetBox()->currentIndex(), kBlackAndWhiteCustomIndex) << "a mix no preset holds";
    EXPECT_EQ(CBWDlg().presetBox()->currentIndex(), kBlackAndWhiteNoneIndex);
    CCustomDlg custom(nullptr, {{"k12", 9}, {"offset", 3}});
    EXPECT_EQ(custom.weightBox(12)->text(), "9");
    EXPECT_EQ(custom.offsetBox()->text(), "3");
    EXPECT_EQ(custom.settings().kernel[12], 9);
    EXPECT_EQ(custom.settings().offset, 3);
}

TEST(EveryParamDialog, DeclaresItsControlsByTheOperationTablesNames)
{
    for (const CParamDialogEntry& entry : RowDialogs()) {
        SCOPED_TRACE(entry.name);
        const std::unique_ptr<CParamDialog> dialog = entry.make();
        const COperation* op = dialog->operation();
        ASSERT_NE(op, nullptr) << "every dialog names its operation";
        ExpectWithinRow(*dialog, *op, "at construction");
        dialog->show();
        ExpectWithinRow(*dialog, *op, "after opening");

        // A slider declared for a parameter moves that parameter's slot and no other.
        for (std::size_t i = 0; i < op->params.size(); ++i) {
            QSlider* slider = dialog->slider(op->params[i].name);
            if (!slider) continue;
            for (int position : {slider->minimum(), slider->maximum()}) {
                const std::vector<double> before = dialog->values();
                slider->setValue(position);
                ExpectWithinRow(*dialog, *op, op->params[i].name + " at " + std::to_string(position));
                for (std::size_t j = 0; j < before.size(); ++j) {
                    if (j != i) {
                        EXPECT_EQ(dialog->values()[j], before[j]) << op->params[i].name << " moved slot " << j;
                    }
                }
            }
        }
        // Every other slider, at its ends, keeps every slot within the row.
        for (QSlider* slider : dialog->findChildren<QSlider*>()) {
            slider->setValue(slider->minimum());
            ExpectWithinRow(*dialog, *op, "a slider at its left end");
            slider->setValue(slider->maximum());
            ExpectWithinRow(*dialog, *op, "a slider at its right end");
        }

        // With "Preview" unchecked the dialog shows its identity values: the operation gives the
        // picture back with them (to a level where its colour model rounds).
        // Threshold has no level that gives the picture back.
        if (dialog->previewBox() && op->name != "Threshold") {
            ASSERT_EQ(dialog->identityValues().size(), dialog->values().size());
            const CImage noise = test_pictures::Noise(9, 7, 3);
            CImage picture = test_pictures::Copy(noise);
            CImageProcessor engine(&picture);
            CParamDialog::RenderByTable(op->name, engine, dialog->identityValues());
            int largest = 0;
            for (int y = 0; y < 7; ++y)
                for (int x = 0; x < 9; ++x)
                    for (int c = 0; c < 3; ++c)
                        largest = std::max(largest, std::abs(test_pictures::Pixel(picture, x, y)[c] - test_pictures::Pixel(noise, x, y)[c]));
            EXPECT_LE(largest, 1) << "identity of " << op->name;
        }
        dialog->close();
    }
}

TEST(EveryParamDialog, OpensOnItsFirstValueControlAndTabsThroughTheControlsThenOkThenCancel)
{
    for (const CParamDialogEntry& entry : RowDialogs()) {
        SCOPED_TRACE(entry.name);
        const std::unique_ptr<CParamDialog> dialog = entry.make();
        dialog->show();
        dialog->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(dialog.get()));

        const QList<QWidget*> controls = dialog->tabControls();
        ASSERT_FALSE(controls.isEmpty());
        ASSERT_NE(dialog->firstValueControl(), nullptr);
        EXPECT_EQ(dialog->firstValueControl(), controls.front());
        EXPECT_EQ(QApplication::focusWidget(), dialog->firstValueControl());
        EXPECT_NE(QApplication::focusWidget(), dialog->okButton());

        QList<QWidget*> expected = controls.mid(1);
        expected << dialog->okButton() << dialog->cancelButton() << controls.front();
        // A dialog whose chain breaks is reported, and the sweep goes on to the next dialog.
        bool chained = true;
        for (QWidget* next : expected) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            chained = QApplication::focusWidget() == next;
            EXPECT_TRUE(chained) << "expected " << Describe(next) << " got " << Describe(QApplication::focusWidget());
            if (!chained) break;
        }
        if (!chained) continue;

        // Sliders step like trackbars: arrows by 1, Page Up by a fifth of the range.
        for (QSlider* slider : dialog->findChildren<QSlider*>()) {
            EXPECT_EQ(slider->singleStep(), 1);
            EXPECT_EQ(slider->pageStep(), std::max(1, (slider->maximum() - slider->minimum()) / 5));
        }
        if (auto* slider = qobject_cast<QSlider*>(dialog->firstValueControl())) {
            slider->setValue(slider->minimum());
            QTest::keyClick(slider, Qt::Key_PageUp);
            EXPECT_EQ(slider->value(), slider->minimum() + slider->pageStep());
            QTest::keyClick(slider, Qt::Key_Right);
            EXPECT_EQ(slider->value(), slider->minimum() + slider->pageStep() + 1);
        }
        dialog->close();
    }
}

TEST(ParamDialog, NamedSlotsFollowTheRowWhateverOrderTheyAreDeclaredIn)
{
    // Without a row there is nothing to declare a control for.
    CParamDialog unbound(QStringLiteral("Unbound"));
    EXPECT_EQ(unbound.AddSlider("radius", QStringLiteral("Radius:"), CValueFormat::Plain()), nullptr);
    EXPECT_EQ(unbound.operation(), nullptr);
    EXPECT_TRUE(unbound.values().empty());

    // A bound dialog's named slots follow the row whatever order they are declared in, each at
    // its start value.
    CParamDialog bound(QStringLiteral("Bound"), nullptr, {{"brightness", 5}, {"contrast", 2}});
    bound.BindOperation("BrightnessContrast");
    EXPECT_EQ(bound.AddValue("brightness"), 5);
    EXPECT_EQ(bound.AddValue("contrast"), 2);
    EXPECT_EQ(bound.values(), (std::vector<double>{2, 5}));
    EXPECT_EQ(bound.identityValues(), (std::vector<double>{1, 0}));
    EXPECT_EQ(bound.AddSlider("no such", QStringLiteral("X:"), CValueFormat::Plain()), nullptr);
}
