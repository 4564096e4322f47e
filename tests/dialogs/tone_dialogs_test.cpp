// The Levels and Curves dialogs: what their controls put into values(), and that a preview of
// those values is what OK applies.
#include "dialogs/curves_dlg.h"
#include "dialogs/levels_dlg.h"
#include "dialogs/tone_widgets.h"
#include "filters/colour/histogram.h"
#include "shell/command_table.h"
#include "tests/dialogs/dialog_test_support.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

using orvex_colour::CCurvePoint;
using orvex_colour::CLevelsSetting;
using Points = std::vector<CCurvePoint>;

namespace {

// `render` with `values` as a preview into the work image and in place: both must agree, and the
// preview must leave the picture alone. Returns the in-place result.
CImage PreviewAndApply(const CImage& source, const CPreviewRenderer::Render& render, const std::vector<double>& values)
{
    CImage picture = test_pictures::Copy(source);
    CImageProcessor engine(&picture);
    engine.workImage().CopyFrom(picture);
    engine.preview.store(1);
    render(engine, values);
    EXPECT_TRUE(test_pictures::SamePixels(picture, source)) << "a preview leaves the picture alone";
    const CImage preview = test_pictures::Copy(engine.workImage());
    engine.preview.store(0);
    render(engine, values);
    EXPECT_TRUE(test_pictures::SamePixels(preview, picture)) << "the preview is what OK applies";
    return picture;
}

} // namespace

TEST(LevelsDialog, ControlsWriteTheChosenChannelsSettingAndAutoStretchesEachChannel)
{
    const CImage picture = test_pictures::Noise(31, 17, 5);
    auto dialog = dialog_test::RowDialog<CLevelsDlg>(CommandId::Levels, picture);
    ASSERT_NE(dialog, nullptr);
    dialog->show();
    EXPECT_EQ(dialog->values(), CLevelsDlg::ValuesFromSettings({})) << "opens on the identity";
    EXPECT_EQ(dialog->values().size(), CLevelsDlg::kSlots);

    dialog->channelBox()->setCurrentIndex(CLevelsDlg::kRed);
    dialog->blackBox()->setText("20");
    dialog->gammaBox()->setText("2.5");
    dialog->outWhiteBox()->setText("200");
    EXPECT_EQ(dialog->settings().red, (CLevelsSetting{20, 255, 2.5, 0, 200}));
    EXPECT_EQ(dialog->settings().all, CLevelsSetting{}) << "only the chosen channel";
    dialog->channelBox()->setCurrentIndex(CLevelsDlg::kAll);
    EXPECT_EQ(dialog->blackBox()->text(), "0") << "the boxes show the chosen channel";
    dialog->whiteBox()->setText("230");
    dialog->outBlackBox()->setText("255");
    dialog->outWhiteBox()->setText("0");
    const std::vector<double> values = dialog->values();
    EXPECT_EQ(std::vector<double>(values.begin(), values.begin() + 6), (std::vector<double>{'a', 0, 230, 1, 255, 0}));
    EXPECT_EQ(std::vector<double>(values.begin() + 6, values.begin() + 11),
              (std::vector<double>{20, 255, 2.5, 0, 200}));

    // Markers: black cannot pass white, the mid-tone marker sets the gamma it stands for.
    emit dialog->inputMarkers()->markerMoved(0, 250.0);
    EXPECT_EQ(dialog->settings().all.black, 229);
    EXPECT_EQ(dialog->blackBox()->text(), "229");
    emit dialog->inputMarkers()->markerMoved(0, 0.0);
    const double quarter = 230 * 0.25;
    emit dialog->inputMarkers()->markerMoved(1, quarter);
    EXPECT_DOUBLE_EQ(dialog->settings().all.gamma, 2.0) << "a quarter of the way comes out half way: gamma 2";
    EXPECT_EQ(dialog->gammaBox()->text(), "2.00");
    emit dialog->outputMarkers()->markerMoved(1, 128.0);
    EXPECT_EQ(dialog->settings().all.outWhite, 128);

    dialog->autoButton()->click();
    const orvex_colour::CHistogram h = orvex_colour::ComputeHistogram(picture);
    const std::pair<const CLevelsSetting*, const std::array<std::uint64_t, 256>*> channels[] = {
        {&dialog->settings().red, &h.red}, {&dialog->settings().green, &h.green}, {&dialog->settings().blue, &h.blue}};
    for (const auto& [setting, counts] : channels) {
        EXPECT_EQ(setting->black, orvex_colour::AutoLevelsRange(*counts).black);
        EXPECT_EQ(setting->white, orvex_colour::AutoLevelsRange(*counts).white);
    }
    EXPECT_EQ(dialog->settings().all.black, 0);
    EXPECT_EQ(dialog->settings().all.white, 255);

    const CImage applied = PreviewAndApply(picture, &CLevelsDlg::Render, dialog->values());
    CImage expected = test_pictures::Copy(picture);
    CImageProcessor engine(&expected);
    Levels(engine, dialog->settings());
    EXPECT_TRUE(test_pictures::SamePixels(applied, expected));
    dialog->close();
}

TEST(CurvesDialog, ClicksAddDragsMoveBetweenNeighboursAndRemovalKeepsTheEnds)
{
    const CImage picture = test_pictures::Noise(20, 20, 7);
    auto dialog = dialog_test::RowDialog<CCurvesDlg>(CommandId::Curves, picture);
    ASSERT_NE(dialog, nullptr);
    dialog->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog.get()));
    CCurveEditor* editor = dialog->editor();
    EXPECT_EQ(editor->points(), (Points{{0, 0}, {255, 255}}));
    const auto at = [&](CCurvePoint p) { return editor->PointPosition(p).toPoint(); };

    dialog->channelBox()->setCurrentIndex(CCurvesDlg::kGreen);
    QTest::mouseClick(editor, Qt::LeftButton, {}, at({128, 200}));
    ASSERT_EQ(editor->points().size(), 3u);
    const CCurvePoint added = editor->points()[1];
    EXPECT_NEAR(added.x, 128, 1);
    EXPECT_NEAR(added.y, 200, 1);
    EXPECT_EQ(dialog->curves().green, editor->points());
    EXPECT_EQ(dialog->values()[1 + 2 * 16 + 2], added.x) << "green's second point";
    EXPECT_TRUE(dialog->pointerLine()->text().startsWith("Input: "));

    // A drag past the right neighbour stops one short of its x.
    QTest::mousePress(editor, Qt::LeftButton, {}, at(added));
    QTest::mouseMove(editor, at({255, 100}) + QPoint(1, 0));
    QTest::mouseRelease(editor, Qt::LeftButton, {}, at({255, 100}));
    EXPECT_EQ(editor->points()[1].x, 254);
    EXPECT_NEAR(editor->points()[1].y, 100, 1);

    // No more than 8 points; the ends are not removed by a right click.
    for (int x : {20, 40, 60, 80, 100, 120, 140}) QTest::mouseClick(editor, Qt::LeftButton, {}, at({x, 30}));
    EXPECT_EQ(editor->points().size(), 8u);
    QTest::mouseClick(editor, Qt::RightButton, {}, at(editor->points().front()));
    EXPECT_EQ(editor->points().size(), 8u);
    QTest::mouseClick(editor, Qt::RightButton, {}, at(editor->points()[2]));
    EXPECT_EQ(editor->points().size(), 7u);
    // A point dragged far outside goes.
    QTest::mousePress(editor, Qt::LeftButton, {}, at(editor->points()[1]));
    QTest::mouseMove(editor, QPoint(editor->width() / 2, editor->height() + 3 * CCurveEditor::kRemoveDistance));
    QTest::mouseRelease(editor, Qt::LeftButton, {}, QPoint(editor->width() / 2, editor->height() + 60));
    EXPECT_EQ(editor->points().size(), 6u);
    EXPECT_EQ(dialog->curves().green, editor->points());

    dialog->channelBox()->setCurrentIndex(CCurvesDlg::kAll);
    EXPECT_EQ(editor->points(), (Points{{0, 0}, {255, 255}})) << "each channel its own curve";
    QTest::mouseClick(editor, Qt::LeftButton, {}, at({64, 40}));

    const CImage applied = PreviewAndApply(picture, &CCurvesDlg::Render, dialog->values());
    CImage expected = test_pictures::Copy(picture);
    CImageProcessor engine(&expected);
    Curves(engine, dialog->curves());
    EXPECT_TRUE(test_pictures::SamePixels(applied, expected));
    EXPECT_EQ(CCurvesDlg::CurvesFromValues(dialog->values()).green, dialog->curves().green);
    dialog->close();
}
