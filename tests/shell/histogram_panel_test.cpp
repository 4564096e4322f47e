// View > Histogram: the panel follows the active window and counts again after changes, during
// previews and after Undo; its visibility is remembered.
#include "dialogs/threshold_dlg.h"
#include "filters/colour/histogram.h"
#include "shell/histogram_panel.h"
#include "tests/shell/shell_test_support.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QSlider>

using namespace shell_test;

namespace {

class HistogramPanelTest : public ShellTest
{
protected:
    CHistogramPanel& panel() { return *frame().histogramPanel(); }
    const orvex_colour::CHistogram& shown() { return panel().histogramView()->histogram(); }

    // Waits until the panel shows the counts of `picture`.
    bool ShowsCountsOf(const CImage& picture)
    {
        const orvex_colour::CHistogram expected = orvex_colour::ComputeHistogram(picture);
        return WaitFor([&] {
            const orvex_colour::CHistogram& h = shown();
            return h.pixels == expected.pixels && h.luminance == expected.luminance && h.red == expected.red &&
                   h.green == expected.green && h.blue == expected.blue;
        });
    }
};

} // namespace

TEST_F(HistogramPanelTest, FollowsChangesUndoPreviewsAndTheActiveWindow)
{
    Start({WritePicture("a.png", 37, 21, 1), WritePicture("b.png", 8, 5, 2)});
    EXPECT_FALSE(panel().isVisible()) << "hidden until asked for";
    QAction* item = frame().action(CommandId::ViewHistogram);
    EXPECT_EQ(item->text(), "&Histogram");
    EXPECT_TRUE(item->isCheckable());
    item->trigger();
    EXPECT_TRUE(panel().isVisible());
    EXPECT_EQ(panel().windowTitle(), "Histogram");
    EXPECT_TRUE(item->isChecked());
    COrvexDoc& b = view()->document();
    EXPECT_TRUE(ShowsCountsOf(b.picture()));

    Run(CommandId::Invert);
    EXPECT_TRUE(ShowsCountsOf(b.picture()));
    CImage inverted;
    ASSERT_TRUE(inverted.CopyFrom(b.picture()));
    Run(CommandId::EditUndo);
    EXPECT_FALSE(test_pictures::SamePixels(inverted, b.picture()));
    EXPECT_TRUE(ShowsCountsOf(b.picture()));

    // Another window: its picture.
    frame().mdiArea()->activatePreviousSubWindow();
    COrvexDoc& a = view()->document();
    ASSERT_NE(&a, &b);
    EXPECT_TRUE(ShowsCountsOf(a.picture()));

    // A preview's frames are counted while the dialog is open; Cancel brings the picture back.
    bool blackAndWhite = false;
    WhenModal<CThresholdDlg>([&](CThresholdDlg* d) {
        d->levelSlider()->setValue(90);
        blackAndWhite = WaitFor([&] {
            const orvex_colour::CHistogram& h = shown();
            return h.pixels == 37u * 21u && h.luminance[0] + h.luminance[255] == h.pixels && h.luminance[0] > 0 &&
                   h.luminance[255] > 0;
        });
        d->reject();
    });
    Run(CommandId::Threshold);
    EXPECT_TRUE(blackAndWhite);
    EXPECT_TRUE(ShowsCountsOf(a.picture()));

    // Closing every window empties it.
    a.SetModified(false);
    b.SetModified(false);
    frame().mdiArea()->closeAllSubWindows();
    EXPECT_TRUE(WaitFor([&] { return shown().pixels == 0; }));
    EXPECT_EQ(panel().statistics()->text(), "No picture");
}

TEST_F(HistogramPanelTest, StatisticsOfTheChosenChannel)
{
    // Two columns: blue 10, green 20, red 30 on the left, blue 40, green 60, red 200 on the right.
    CImage picture = test_pictures::Filled(2, 3, 10, 20, 30);
    for (int y = 0; y < 3; ++y) {
        std::uint8_t* p = test_pictures::Pixel(picture, 1, y);
        p[0] = 40, p[1] = 60, p[2] = 200;
    }
    const orvex_colour::CHistogram h = orvex_colour::ComputeHistogram(picture);
    using Channel = CHistogramView::Channel;
    EXPECT_EQ(CHistogramPanel::Statistics(h, Channel::Red), "Pixels: 6  Mean: 115.00  Median: 30");
    EXPECT_EQ(CHistogramPanel::Statistics(h, Channel::Blue), "Pixels: 6  Mean: 25.00  Median: 10");
    const int lumLeft = orvex_colour::Luminance(30, 20, 10);
    const int lumRight = orvex_colour::Luminance(200, 60, 40);
    EXPECT_EQ(CHistogramPanel::Statistics(h, Channel::Luminance), QStringLiteral("Pixels: 6  Mean: %1  Median: %2")
                                                                      .arg((lumLeft + lumRight) / 2.0, 0, 'f', 2)
                                                                      .arg(std::min(lumLeft, lumRight)));
    // Colours pools 18 values: 10 20 30 40 60 200, three of each; the ninth smallest is 30.
    EXPECT_EQ(CHistogramPanel::Statistics(h, Channel::Colours), "Pixels: 6  Mean: 60.00  Median: 30");
    EXPECT_EQ(CHistogramPanel::Statistics({}, Channel::Red), "No picture");

    ASSERT_TRUE(SavePicture(picture, Path("two.png")));
    Start({Path("two.png")});
    Run(CommandId::ViewHistogram);
    EXPECT_TRUE(ShowsCountsOf(picture));
    panel().channelBox()->setCurrentIndex(1);
    EXPECT_EQ(panel().histogramView()->channel(), Channel::Red);
    EXPECT_EQ(panel().statistics()->text(), "Pixels: 6  Mean: 115.00  Median: 30");
}

TEST_F(HistogramPanelTest, VisibilityIsRemembered)
{
    Start();
    Run(CommandId::ViewHistogram);
    EXPECT_TRUE(panel().isVisible());
    m_app.reset();
    Start();
    EXPECT_TRUE(panel().isVisible());
    EXPECT_TRUE(frame().action(CommandId::ViewHistogram)->isChecked());
    Run(CommandId::ViewHistogram);
    EXPECT_FALSE(panel().isVisible());
    m_app.reset();
    Start();
    EXPECT_FALSE(panel().isVisible());
    EXPECT_FALSE(frame().action(CommandId::ViewHistogram)->isChecked());
}
