// The command side of a preview dialog, with a real view: what is on screen while the dialog is
// open, and what Cancel and OK leave behind.
#include "dialogs/param_dialog.h"
#include "shell/command_sequences.h"
#include "tests/dialogs/slow_operation.h"
#include "tests/shell/shell_test_support.h"

#include <QSlider>

using namespace shell_test;
using test_pictures::Pixel;

namespace {

class PreviewSequenceTest : public ShellTest
{
protected:
    // The colour the view shows at the middle of the picture.
    QColor Shown()
    {
        QCoreApplication::processEvents();
        const QImage shot = view()->viewport()->grab().toImage();
        return QColor(shot.pixel(shot.width() / 2, shot.height() / 2));
    }

    static std::unique_ptr<CParamDialog> MakeDialog()
    {
        auto dialog = std::make_unique<CParamDialog>(QStringLiteral("Lighten"), nullptr, CStartValues{{"iterations", 0}});
        dialog->BindOperation("TotalVariationDiffusion");
        dialog->AddSlider("iterations", QStringLiteral("Amount:"), CValueFormat::Plain());
        dialog->AddPreviewBox();
        dialog->SetIdentityValues({0});
        return dialog;
    }
};

TEST_F(PreviewSequenceTest, CancelLeavesPictureMarkAndHistoryAndShowsThePictureAgain)
{
    const CImage grey = test_pictures::Filled(30, 20, 50, 50, 50);
    ASSERT_TRUE(SavePicture(grey, Path("grey.png")));
    Start({Path("grey.png")});
    COrvexDoc& doc = view()->document();

    auto dialog = MakeDialog();
    QColor whileOpen;
    bool flagWhileOpen = false;
    WhenModal<CParamDialog>([&](CParamDialog* d) {
        flagWhileOpen = doc.engine().preview.load() == 1;
        // Before any rendering the view shows the picture, not a black work image.
        EXPECT_EQ(Shown(), QColor(50, 50, 50));
        d->slider("iterations")->setValue(40);
        EXPECT_TRUE(WaitFor([&] { return d->renderer()->Idle() && Shown() == QColor(90, 90, 90); }));
        whileOpen = Shown();
        d->reject();
    });
    sequence::Preview(*view(), *dialog, SlowAdd{});

    EXPECT_TRUE(flagWhileOpen);
    EXPECT_EQ(whileOpen, QColor(90, 90, 90));
    EXPECT_EQ(doc.engine().preview.load(), 0);
    EXPECT_TRUE(test_pictures::SamePixels(doc.picture(), grey));
    EXPECT_EQ(doc.history().count(), 1);
    EXPECT_FALSE(doc.modified());
    EXPECT_EQ(Shown(), QColor(50, 50, 50));
}

TEST_F(PreviewSequenceTest, OkAppliesTheLatestValuesOnceToThePicture)
{
    ASSERT_TRUE(SavePicture(test_pictures::Filled(30, 20, 50, 50, 50), Path("grey.png")));
    Start({Path("grey.png")});
    COrvexDoc& doc = view()->document();

    auto dialog = MakeDialog();
    WhenModal<CParamDialog>([&](CParamDialog* d) {
        for (int v = 1; v <= 30; ++v) d->slider("iterations")->setValue(v);
        d->accept();
    });
    sequence::Preview(*view(), *dialog, SlowAdd{});

    EXPECT_EQ(Pixel(doc.picture(), 3, 3)[1], 80);
    EXPECT_EQ(doc.history().count(), 2);
    EXPECT_EQ(caption(), "grey.png* @ 100%");
    EXPECT_EQ(Shown(), QColor(80, 80, 80));
}

} // namespace
