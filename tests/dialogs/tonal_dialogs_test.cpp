// The Threshold dialog on its own (histogram, marker, picking the level) and Threshold, Auto Levels
// and Auto Contrast run from the editor.
#include "dialogs/threshold_dlg.h"
#include "filters/colour/auto_levels.h"
#include "filters/colour/threshold.h"
#include "shell/command_table.h"
#include "tests/dialogs/dialog_test_support.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QSlider>

using namespace shell_test;

TEST(ThresholdDialog, ShowsTheLuminanceHistogramAndTheLevelMovesWithSliderAndClicks)
{
    const CImage picture = test_pictures::Noise(23, 17, 8);
    const auto dialog = dialog_test::RowDialog<CThresholdDlg>(CommandId::Threshold, picture);
    ASSERT_TRUE(dialog);
    dialog->show();
    EXPECT_EQ(dialog->windowTitle(), "Threshold");
    EXPECT_EQ(dialog->level(), 128);
    EXPECT_EQ(dialog->levelSlider()->minimum(), 0);
    EXPECT_EQ(dialog->levelSlider()->maximum(), 255);
    EXPECT_EQ(dialog->valueBox("level")->text(), "128");
    CThresholdHistogram* histogram = dialog->histogramView();
    EXPECT_EQ(histogram->histogram().luminance, orvex_colour::ComputeHistogram(picture).luminance);
    EXPECT_EQ(histogram->histogram().pixels, 23u * 17u);
    EXPECT_EQ(histogram->level(), 128);

    dialog->levelSlider()->setValue(40);
    EXPECT_EQ(histogram->level(), 40);
    EXPECT_EQ(dialog->level(), 40);

    // A click at a value's column, then a drag to another, picks each value; every column's
    // middle maps back to its value, the ends hold to 0 and 255.
    ASSERT_GT(histogram->width(), 100);
    for (int v : {0, 1, 77, 200, 254, 255})
        EXPECT_EQ(histogram->ValueAt(1.0 + (v + 0.5) * (histogram->width() - 2) / 256.0), v);
    EXPECT_EQ(histogram->ValueAt(-20), 0);
    EXPECT_EQ(histogram->ValueAt(histogram->width() + 20), 255);
    const auto at = [&](int v) {
        return QPoint(static_cast<int>(1.0 + (v + 0.5) * (histogram->width() - 2) / 256.0), histogram->height() / 2);
    };
    QTest::mousePress(histogram, Qt::LeftButton, {}, at(90));
    EXPECT_EQ(dialog->level(), 90);
    QMouseEvent drag(QEvent::MouseMove, at(180), histogram->mapToGlobal(at(180)), Qt::NoButton, Qt::LeftButton,
                     Qt::NoModifier);
    QApplication::sendEvent(histogram, &drag);
    QTest::mouseRelease(histogram, Qt::LeftButton, {}, at(180));
    EXPECT_EQ(dialog->level(), 180);
    EXPECT_EQ(dialog->levelSlider()->value(), 180);
    EXPECT_NEAR(histogram->MarkerX(), at(180).x() + 0.5, 2.0);
}

class TonalCommandsTest : public dialog_test::EditorCommandTest
{
};

TEST_F(TonalCommandsTest, ThresholdPreviewsAndOkAppliesTheLevel)
{
    COrvexDoc& doc = Open(31, 19);
    bool previewed = false;
    WhenModal<CThresholdDlg>([&](CThresholdDlg* d) {
        d->levelSlider()->setValue(100);
        EXPECT_TRUE(WaitFor([&] { return d->renderer()->shownValues() == std::vector<double>{100}; }));
        // Only black and white on show while the picture itself is untouched.
        d->renderer()->ReadFrame([&](const CImage& frame) {
            previewed = true;
            for (int y = 0; y < frame.height(); ++y)
                for (int i = 0; i < 3 * frame.width(); ++i) {
                    const int v = test_pictures::Pixel(frame, 0, y)[i];
                    if (v != 0 && v != 255) previewed = false;
                }
        });
        EXPECT_TRUE(test_pictures::SamePixels(doc.picture(), m_before));
        // "Preview" unchecked shows the picture as it is, though no level would give it back.
        d->previewBox()->click();
        EXPECT_TRUE(WaitFor([&] { return d->renderer()->shownValues() == std::vector<double>{-1}; }));
        d->renderer()->ReadFrame([&](const CImage& frame) { EXPECT_TRUE(test_pictures::SamePixels(frame, m_before)); });
        d->previewBox()->click();
        d->accept();
    });
    Run(CommandId::Threshold);
    EXPECT_TRUE(previewed);
    ExpectAsCallOnCopy([](CImageProcessor& e) { Threshold(e, 100); });
}

TEST_F(TonalCommandsTest, AutoLevelsAndAutoContrastRunFromTheirKeys)
{
    // Noise squeezed into 50..180 (a little more in red), so that both stretch visibly.
    CImage narrow = test_pictures::Noise(40, 30, 12);
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 40; ++x)
            for (int c = 0; c < 3; ++c) {
                std::uint8_t& v = test_pictures::Pixel(narrow, x, y)[c];
                v = static_cast<std::uint8_t>(50 + v * (c == 2 ? 150 : 130) / 255);
            }
    ASSERT_TRUE(SavePicture(narrow, Path("narrow.png")));
    Start({Path("narrow.png")});
    COrvexDoc& doc = view()->document();
    ASSERT_TRUE(m_before.CopyFrom(doc.picture()));
    EXPECT_EQ(FindCommand(CommandId::AutoLevels)->caption, "Auto Levels\tShift+Ctrl+L");
    EXPECT_EQ(FindCommand(CommandId::AutoContrast)->caption, "Auto Contrast\tAlt+Shift+Ctrl+L");
    QTest::keyClick(view()->viewport(), Qt::Key_L, Qt::ControlModifier | Qt::ShiftModifier);
    ExpectAsCallOnCopy([](CImageProcessor& e) { AutoLevels(e, 0.1f); });
    EXPECT_FALSE(test_pictures::SamePixels(doc.picture(), m_before));

    CImage expected;
    ASSERT_TRUE(expected.CopyFrom(doc.picture()));
    CImageProcessor engine(&expected);
    AutoContrast(engine, 0.1f);
    EXPECT_FALSE(test_pictures::SamePixels(expected, doc.picture()));
    QTest::keyClick(view()->viewport(), Qt::Key_L, Qt::ControlModifier | Qt::AltModifier | Qt::ShiftModifier);
    EXPECT_TRUE(test_pictures::SamePixels(doc.picture(), expected));
    EXPECT_EQ(doc.history().count(), 3);
}
