// "Variations...": the thumbnails and their clicks on their own, and the command from the editor.
#include "dialogs/variations_dlg.h"
#include "filters/colour/variations.h"
#include "shell/command_table.h"
#include "tests/dialogs/dialog_test_support.h"

#include <QLabel>
#include <QSlider>
#include <QToolButton>

#include <array>

using namespace shell_test;
using test_pictures::Pixel;

namespace {

using Dlg = CVariationsDlg;

// The reduced copy through the offsets (red, green, blue, lightness), pixel by pixel.
bool Shows(const CImage& thumbnail, const CImage& reduced, std::array<int, 4> v)
{
    if (thumbnail.width() != reduced.width() || thumbnail.height() != reduced.height()) return false;
    const int offset[3] = {v[2] + v[3], v[1] + v[3], v[0] + v[3]};
    for (int y = 0; y < reduced.height(); ++y)
        for (int x = 0; x < reduced.width(); ++x)
            for (int c = 0; c < 3; ++c) {
                const int want = std::clamp(Pixel(reduced, x, y)[c] + offset[c], 0, 255);
                if (Pixel(thumbnail, x, y)[c] != want) return false;
            }
    return true;
}

void Click(Dlg& d, Dlg::Choice choice)
{
    QTest::mouseClick(d.choiceButton(choice), Qt::LeftButton);
}

} // namespace

TEST(VariationsDialog, CaptionsThumbnailsAndTheFinenessSlider)
{
    const auto dialog = dialog_test::RowDialog<Dlg>(CommandId::Variations, test_pictures::Noise(640, 400, 3));
    ASSERT_NE(dialog, nullptr);
    Dlg& d = *dialog;
    d.show();
    EXPECT_EQ(d.windowTitle(), "Variations");
    QStringList captions;
    for (int i = 0; i < Dlg::kChoices; ++i) captions << d.choiceButton(static_cast<Dlg::Choice>(i))->text();
    EXPECT_EQ(captions, (QStringList{"More Red", "More Green", "More Blue", "Lighter", "Current Pick", "Darker",
                                     "More Cyan", "More Magenta", "More Yellow"}));
    EXPECT_EQ(d.originalButton()->text(), "Original");
    QStringList labels;
    for (const QLabel* label : d.findChildren<QLabel*>()) labels << label->text();
    EXPECT_TRUE(labels.contains("Fine") && labels.contains("Coarse"));
    EXPECT_EQ(d.reduced().width(), 160);
    EXPECT_EQ(d.reduced().height(), 100);
    EXPECT_EQ(d.values(), (std::vector<double>{0, 0, 0, 0}));

    // Each thumbnail is the pick plus its own step; the fineness doubles the step.
    EXPECT_EQ(d.step(), 16);
    const std::array<std::array<int, 4>, Dlg::kChoices> steps = {{{1, 0, 0, 0},
                                                                  {0, 1, 0, 0},
                                                                  {0, 0, 1, 0},
                                                                  {0, 0, 0, 1},
                                                                  {0, 0, 0, 0},
                                                                  {0, 0, 0, -1},
                                                                  {-1, 0, 0, 0},
                                                                  {0, -1, 0, 0},
                                                                  {0, 0, -1, 0}}};
    for (int fineness : {2, 0, 4}) {
        d.finenessSlider()->setValue(fineness);
        const int s = 4 << fineness;
        EXPECT_EQ(d.step(), s);
        for (int i = 0; i < Dlg::kChoices; ++i) {
            std::array<int, 4> v = steps[static_cast<std::size_t>(i)];
            for (int& x : v) x *= s;
            EXPECT_TRUE(Shows(d.thumbnail(static_cast<Dlg::Choice>(i)), d.reduced(), v)) << i << " at " << fineness;
        }
    }
}

TEST(VariationsDialog, ClicksAccumulateOriginalResetsAndThePickStaysInRange)
{
    Dlg d(test_pictures::Noise(90, 150, 8));
    d.show();
    EXPECT_EQ(d.reduced().width(), 90) << "a small picture is shown as it is";
    Click(d, Dlg::kMoreRed);
    Click(d, Dlg::kMoreRed);
    Click(d, Dlg::kMoreCyan);
    Click(d, Dlg::kLighter);
    Click(d, Dlg::kCurrentPick);
    d.finenessSlider()->setValue(4);
    Click(d, Dlg::kDarker);
    Click(d, Dlg::kMoreMagenta);
    d.finenessSlider()->setValue(0);
    Click(d, Dlg::kMoreYellow);
    EXPECT_EQ(d.values(), (std::vector<double>{16, -64, -4, -48}));
    EXPECT_TRUE(Shows(d.thumbnail(Dlg::kCurrentPick), d.reduced(), {16, -64, -4, -48}));
    EXPECT_TRUE(Shows(d.thumbnail(Dlg::kMoreGreen), d.reduced(), {16, -60, -4, -48}));

    d.finenessSlider()->setValue(4);
    for (int i = 0; i < 6; ++i) Click(d, Dlg::kMoreBlue);
    EXPECT_EQ(d.value("blue"), 255) << "held at the row's end";
    EXPECT_TRUE(Shows(d.thumbnail(Dlg::kMoreBlue), d.reduced(), {16, -64, 255, -48}));

    QTest::mouseClick(d.originalButton(), Qt::LeftButton);
    EXPECT_EQ(d.values(), (std::vector<double>{0, 0, 0, 0}));
    EXPECT_TRUE(Shows(d.thumbnail(Dlg::kCurrentPick), d.reduced(), {0, 0, 0, 0}));
    EXPECT_TRUE(Shows(d.thumbnail(Dlg::kDarker), d.reduced(), {0, 0, 0, -64}));
}

class VariationsCommandTest : public dialog_test::EditorCommandTest
{
};

TEST_F(VariationsCommandTest, OkAppliesThePickInOneStepAndNothingOnTheOriginal)
{
    COrvexDoc& doc = Open(33, 21);
    // Cancel after clicks, OK after going back to the original: nothing.
    WhenModal<Dlg>([](Dlg* d) {
        Click(*d, Dlg::kMoreRed);
        d->reject();
    });
    Run(CommandId::Variations);
    WhenModal<Dlg>([](Dlg* d) {
        Click(*d, Dlg::kDarker);
        QTest::mouseClick(d->originalButton(), Qt::LeftButton);
        d->accept();
    });
    Run(CommandId::Variations);
    EXPECT_TRUE(Unchanged());

    WhenModal<Dlg>([](Dlg* d) {
        Click(*d, Dlg::kMoreRed);
        Click(*d, Dlg::kMoreYellow);
        Click(*d, Dlg::kLighter);
        Click(*d, Dlg::kLighter);
        d->accept();
    });
    Run(CommandId::Variations);
    ExpectAsCallOnCopy([](CImageProcessor& e) { Variations(e, 16, 0, -16, 32); });
    EXPECT_TRUE(doc.modified());
}
