// Every dialog of the command table against its operation table row and the shared keyboard behaviour.
#include "core/image_processor.h"
#include "core/operation_table.h"
#include "dialogs/param_dialog.h"
#include "shell/command_table.h"
#include "tests/test_pictures.h"

#include <QApplication>
#include <QCheckBox>
#include <QPushButton>
#include <QSlider>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

namespace {

// Every slot holds a value the row accepts.
void ExpectWithinRow(const CParamDialog& dialog, const COperation& op, const std::string& when)
{
    ASSERT_EQ(dialog.values().size(), op.params.size()) << when;
    for (std::size_t i = 0; i < op.params.size(); ++i) {
        const CParam& p = op.params[i];
        if (p.type == ParamType::Code) continue;
        EXPECT_GE(dialog.values()[i], p.min) << op.name << "." << p.name << " " << when;
        EXPECT_LE(dialog.values()[i], p.max) << op.name << "." << p.name << " " << when;
    }
}

} // namespace

TEST(EveryParamDialog, DeclaresItsControlsByTheOperationTablesNames)
{
    const CImage shown = test_pictures::Pattern(40, 30);
    for (const CDialogSweepEntry& entry : DialogSweepList()) {
        SCOPED_TRACE(entry.name.toStdString());
        const std::unique_ptr<CParamDialog> dialog = entry.make(shown);
        const COperation* op = dialog->operation();
        ASSERT_NE(op, nullptr) << "every dialog names its operation";
        ExpectWithinRow(*dialog, *op, "at construction");
        dialog->show();
        ExpectWithinRow(*dialog, *op, "after opening");

        // A slider declared for a parameter moves that parameter's slot and no other.
        for (std::size_t i = 0; i < op->params.size(); ++i) {
            QSlider* slider = dialog->slider(static_cast<int>(i));
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
        if (dialog->previewBox()) {
            ASSERT_EQ(dialog->identityValues().size(), op->params.size());
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
    const CImage shown = test_pictures::Pattern(40, 30);
    for (const CDialogSweepEntry& entry : DialogSweepList()) {
        SCOPED_TRACE(entry.name.toStdString());
        const std::unique_ptr<CParamDialog> dialog = entry.make(shown);
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
        for (QWidget* next : expected) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            ASSERT_EQ(QApplication::focusWidget(), next)
                << "expected " << next->metaObject()->className() << " got "
                << (QApplication::focusWidget() ? QApplication::focusWidget()->metaObject()->className() : "nothing");
        }

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

TEST(ParamDialog, UnboundDialogsKeepTheirOwnSlotOrder)
{
    // The older way of declaring slots still works: slots in the order they were added.
    CParamDialog dialog(QStringLiteral("Old"));
    const int a = dialog.AddSlider(QStringLiteral("A:"), 0, 10, 3, CValueFormat::Plain(), 3);
    const int b = dialog.AddValue(7);
    EXPECT_EQ(a, 0);
    EXPECT_EQ(b, 1);
    EXPECT_EQ(dialog.operation(), nullptr);
    EXPECT_EQ(dialog.values(), (std::vector<double>{3, 7}));

    // A bound dialog's named slots follow the row whatever order they are declared in.
    CParamDialog bound(QStringLiteral("Bound"));
    bound.BindOperation("BrightnessContrast");
    EXPECT_EQ(bound.AddValue("brightness", 5), 1);
    EXPECT_EQ(bound.AddValue("contrast", 2), 0);
    EXPECT_EQ(bound.values(), (std::vector<double>{2, 5}));
    EXPECT_EQ(bound.identityValues(), (std::vector<double>{1, 0}));
}
