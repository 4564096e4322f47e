// The effects dialogs on their own (texts, value mapping, previews, the flare centre picker) and
// the effects commands driven from the editor's menus.
#include "dialogs/add_noise_dlg.h"
#include "dialogs/lense_flare_dlg.h"
#include "shell/command_table.h"
#include "tests/dialogs/dialog_test_support.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QMenu>
#include <QRadioButton>
#include <QSlider>

#include <array>

using namespace shell_test;
using test_pictures::Pixel;

namespace {

struct PreviewBench : dialog_test::PreviewEngine
{
    PreviewBench() { engine.SetSeedOverride(3); }
    std::vector<double> ShownValues(const CPreviewRenderer& renderer) const
    {
        EXPECT_TRUE(WaitFor([&] { return renderer.Idle() && renderer.shownValues().has_value(); }));
        return renderer.shownValues().value_or(std::vector<double>{});
    }
};

bool Differs(const CImage& a, const CImage& b)
{
    return !test_pictures::SamePixels(a, b);
}

} // namespace

TEST(AddNoiseDialog, AmountMappingChoicesAndPreviews)
{
    PreviewBench bench;
    CAddNoiseDlg dialog;
    dialog.AttachPreview(bench.engine, &CAddNoiseDlg::Render);
    dialog.show();
    EXPECT_EQ(dialog.windowTitle(), "Add Noise");
    EXPECT_EQ(dialog.amountBox()->text(), "0.00");
    EXPECT_TRUE(dialog.uniformButton()->isChecked());
    EXPECT_FALSE(dialog.monochromaticBox()->isChecked());
    EXPECT_TRUE(dialog.previewBox()->isChecked());
    QTest::qWait(150);
    EXPECT_EQ(dialog.renderer()->renderingsStarted(), 0) << "opening at amount 0 is no change";

    dialog.amountSlider()->setValue(20000);
    EXPECT_EQ(dialog.amountBox()->text(), "100.00");
    EXPECT_EQ(bench.ShownValues(*dialog.renderer()), (std::vector<double>{100, 1, 0}));
    dialog.gaussianButton()->click();
    EXPECT_EQ(bench.ShownValues(*dialog.renderer()), (std::vector<double>{100, 0, 0}));
    dialog.monochromaticBox()->click();
    EXPECT_EQ(bench.ShownValues(*dialog.renderer()), (std::vector<double>{100, 0, 1}));
    bool changed = false;
    dialog.renderer()->ReadFrame([&](const CImage& frame) { changed = Differs(frame, bench.picture); });
    EXPECT_TRUE(changed);
    // Unchecked: amount 0 with the current choices, which reproduces the picture.
    dialog.previewBox()->click();
    EXPECT_EQ(bench.ShownValues(*dialog.renderer())[0], 0.0);

    dialog.amountSlider()->setValue(40000);
    EXPECT_EQ(dialog.amountBox()->text(), "400.00");
    dialog.amountSlider()->setValue(1000);
    EXPECT_EQ(dialog.amountBox()->text(), "0.25");
    EXPECT_FLOAT_EQ(dialog.amount(), 0.25f);
    EXPECT_TRUE(CAddNoiseDlg::Applies(QDialog::Accepted, dialog));
    EXPECT_FALSE(CAddNoiseDlg::Applies(QDialog::Rejected, dialog));
    dialog.amountSlider()->setValue(0);
    EXPECT_FALSE(CAddNoiseDlg::Applies(QDialog::Accepted, dialog)) << "OK at 0 applies nothing";
}

TEST(MosaicDialog, RendersOnEveryNotification)
{
    PreviewBench bench;
    const std::unique_ptr<CParamDialog> mosaic = dialog_test::RowDialog(CommandId::Mosaic);
    CParamDialog& dialog = *mosaic;
    dialog.AttachPreview(bench.engine, [](CImageProcessor& e, const std::vector<double>& values) {
        CParamDialog::RenderByTable("Mosaic", e, values);
    });
    dialog.show();
    EXPECT_EQ(dialog.windowTitle(), "Mosaic");
    EXPECT_EQ(dialog.valueBox("size")->text(), "1");
    EXPECT_EQ(bench.ShownValues(*dialog.renderer()), (std::vector<double>{1}));
    dialog.slider("size")->setValue(37);
    EXPECT_EQ(dialog.valueBox("size")->text(), "37");
    EXPECT_EQ(dialog.value("size"), 37);
    EXPECT_TRUE(WaitFor([&] { return dialog.renderer()->renderingsStarted() == 2; }));
    emit dialog.slider("size")->valueChanged(37);
    EXPECT_TRUE(WaitFor([&] { return dialog.renderer()->renderingsStarted() == 3; }));
    dialog.previewBox()->click();
    EXPECT_EQ(bench.ShownValues(*dialog.renderer()), (std::vector<double>{1}));
}

TEST(LensFlareDialog, ThumbnailLetterboxAndClickMapping)
{
    const CImage picture = test_pictures::Pattern(400, 100);
    CLenseFlareDlg dialog(picture, nullptr, 1.0);
    dialog.show();
    EXPECT_EQ(dialog.windowTitle(), "Lens Flare");
    EXPECT_EQ(dialog.brightnessBox()->text(), "100");
    EXPECT_EQ(dialog.brightnessSlider()->minimum(), 10);
    EXPECT_EQ(dialog.brightnessSlider()->maximum(), 300);
    EXPECT_TRUE(dialog.lensType(0)->isChecked());
    for (int i = 1; i < 4; ++i) EXPECT_FALSE(dialog.lensType(i)->isEnabled());
    EXPECT_EQ(dialog.thumbnail().width(), 200);
    EXPECT_EQ(dialog.thumbnail().height(), 50);
    EXPECT_EQ(dialog.thumbnailOffset(), QPoint(0, 75));
    // Area averaging: each thumbnail pixel is the mean of a 2 x 2 block.
    const int mean = (Pixel(picture, 6, 4)[1] + Pixel(picture, 7, 4)[1] + Pixel(picture, 6, 5)[1] + Pixel(picture, 7, 5)[1] + 2) / 4;
    EXPECT_EQ(Pixel(dialog.thumbnail(), 3, 2)[1], mean);

    // The brightness alone renders nothing while no centre is chosen.
    dialog.brightnessSlider()->setValue(150);
    EXPECT_EQ(dialog.renderings(), 0);
    EXPECT_FALSE(dialog.pictureCentre());

    // Above the thumbnail (y - 75 < 0): ignored. Inside: the flare is drawn there.
    QTest::mouseClick(dialog.picker(), Qt::LeftButton, {}, QPoint(50, 30));
    EXPECT_FALSE(dialog.centreChosen());
    const CImage clean = test_pictures::Copy(dialog.thumbnail());
    QTest::mouseClick(dialog.picker(), Qt::LeftButton, {}, QPoint(50, 85));
    ASSERT_TRUE(dialog.pictureCentre());
    EXPECT_EQ(*dialog.thumbnailCentre(), QPoint(50, 10));
    EXPECT_EQ(*dialog.pictureCentre(), QPoint(100, 20));
    EXPECT_EQ(dialog.renderings(), 1);
    EXPECT_TRUE(Differs(dialog.thumbnail(), clean));

    // Below the thumbnail but inside 0..199: a centre off the picture.
    QTest::mouseClick(dialog.picker(), Qt::LeftButton, {}, QPoint(199, 199));
    EXPECT_EQ(*dialog.pictureCentre(), QPoint(398, 248));
    // Moving the slider re-renders from the clean copy; the same position does not.
    dialog.brightnessSlider()->setValue(300);
    EXPECT_EQ(dialog.renderings(), 3);
    EXPECT_EQ(dialog.brightnessBox()->text(), "300");
    emit dialog.brightnessSlider()->valueChanged(300);
    EXPECT_EQ(dialog.renderings(), 3);
    EXPECT_FLOAT_EQ(dialog.brightness(), 3.0f);
}

TEST(LensFlareDialog, HighDensityScreensGetASharperThumbnailWithTheSameMapping)
{
    const CImage picture = test_pictures::Pattern(400, 100);
    CLenseFlareDlg dialog(picture, nullptr, 2.0);
    dialog.show();
    EXPECT_EQ(dialog.thumbnail().width(), 400);
    EXPECT_EQ(dialog.thumbnail().height(), 100);
    EXPECT_EQ(dialog.picker()->width(), 200) << "the control keeps its logical size";
    QTest::mouseClick(dialog.picker(), Qt::LeftButton, {}, QPoint(50, 85));
    ASSERT_TRUE(dialog.pictureCentre());
    EXPECT_EQ(*dialog.pictureCentre(), QPoint(100, 20));

    // A very long picture still gets a thumbnail one pixel high.
    const CImage strip = test_pictures::Pattern(3000, 2);
    CLenseFlareDlg thin(strip, nullptr, 1.0);
    EXPECT_EQ(thin.thumbnail().height(), 1);
}

// ---- from the editor's menus ------------------------------------------------------------------

class EffectsCommandsTest : public ShellTest
{
protected:
    COrvexDoc& Open(int width, int height)
    {
        Start({WritePicture("photo.png", width, height, 3)});
        return view()->document();
    }
};

TEST_F(EffectsCommandsTest, LensFlarePickedWithTheMouseAppliesOnlyAfterOkWithACentre)
{
    COrvexDoc& doc = Open(120, 90);
    const CImage original = test_pictures::Copy(doc.picture());

    // Cancel after a click, and OK without a click: nothing.
    WhenModal<CLenseFlareDlg>([](CLenseFlareDlg* d) {
        QTest::mouseClick(d->picker(), Qt::LeftButton, {}, QPoint(60, 60));
        d->reject();
    });
    Run(CommandId::LensFlare);
    WhenModal<CLenseFlareDlg>([](CLenseFlareDlg* d) { d->accept(); });
    Run(CommandId::LensFlare);
    EXPECT_TRUE(test_pictures::SamePixels(doc.picture(), original));
    EXPECT_EQ(doc.history().count(), 1);
    EXPECT_FALSE(doc.modified());

    QPoint centre;
    float brightness = 0.0f;
    WhenModal<CLenseFlareDlg>([&](CLenseFlareDlg* d) {
        QTest::mouseClick(d->picker(), Qt::LeftButton, {}, QPoint(60, 60));
        d->brightnessSlider()->setValue(150);
        centre = d->pictureCentre().value_or(QPoint());
        brightness = d->brightness();
        d->accept();
    });
    Run(CommandId::LensFlare);
    EXPECT_TRUE(Differs(doc.picture(), original));
    EXPECT_EQ(doc.history().count(), 2);
    EXPECT_TRUE(doc.modified());
    // The flare sits where the click put it, at the brightness shown.
    EXPECT_NE(centre, QPoint());
    EXPECT_FLOAT_EQ(brightness, 1.5f);
    CImage expected = test_pictures::Copy(original);
    CImageProcessor engine(&expected);
    engine.LensFlare(centre.x(), centre.y(), brightness);
    EXPECT_TRUE(test_pictures::SamePixels(doc.picture(), expected));
}

TEST_F(EffectsCommandsTest, NoiseAndMosaicApplyOnlyWhatTheirDialogsSay)
{
    COrvexDoc& doc = Open(40, 30);
    const CImage original = test_pictures::Copy(doc.picture());
    WhenModal<CAddNoiseDlg>([](CAddNoiseDlg* d) { d->accept(); });
    Run(CommandId::AddNoise);
    EXPECT_EQ(doc.history().count(), 1) << "OK with amount 0 records nothing";
    WhenModal<CAddNoiseDlg>([](CAddNoiseDlg* d) {
        d->amountSlider()->setValue(30000);
        d->reject();
    });
    Run(CommandId::AddNoise);
    EXPECT_EQ(doc.history().count(), 1);
    EXPECT_TRUE(test_pictures::SamePixels(doc.picture(), original));
    WhenModal<CAddNoiseDlg>([](CAddNoiseDlg* d) {
        d->amountSlider()->setValue(30000);
        d->accept();
    });
    Run(CommandId::AddNoise);
    EXPECT_EQ(doc.history().count(), 2);
    EXPECT_TRUE(Differs(doc.picture(), original));

    WhenModal<CParamDialog>([](CParamDialog* d) {
        d->slider("size")->setValue(40);
        d->accept();
    });
    Run(CommandId::Mosaic);
    EXPECT_EQ(doc.history().count(), 3);
    for (int x = 0; x < 40; ++x) EXPECT_EQ(Pixel(doc.picture(), x, 29)[0], Pixel(doc.picture(), 0, 0)[0]);
}

TEST_F(EffectsCommandsTest, SignFailsOnSmallPicturesAndGridAndRedEyeAreDirect)
{
    COrvexDoc& doc = Open(79, 40);
    const CImage original = test_pictures::Copy(doc.picture());
    QString message;
    AnswerMessage(QMessageBox::Ok, &message);
    Run(CommandId::Sign);
    EXPECT_EQ(message, "Signature failed");
    EXPECT_TRUE(test_pictures::SamePixels(doc.picture(), original));
    EXPECT_EQ(doc.history().count(), 1);

    Run(CommandId::ObtainGrid);
    EXPECT_EQ(doc.history().count(), 2);
    EXPECT_EQ(Pixel(doc.picture(), 5, 0)[1], 0);
    Run(CommandId::RedEyeReduction);
    EXPECT_EQ(doc.history().count(), 3);
    EXPECT_TRUE(caption().contains('*'));
}

TEST_F(EffectsCommandsTest, SignStampsAPictureLargeEnough)
{
    COrvexDoc& doc = Open(80, 27);
    const CImage original = test_pictures::Copy(doc.picture());
    Run(CommandId::Sign);
    EXPECT_EQ(doc.history().count(), 2);
    EXPECT_TRUE(Differs(doc.picture(), original));
}
