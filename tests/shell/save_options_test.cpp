#include "document/orvex_doc.h"
#include "io/picture_codec.h"
#include "shell/save_options_dlg.h"
#include "tests/test_pictures.h"

#include <QComboBox>
#include <QFile>
#include <QSettings>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

using namespace test_pictures;

namespace {

qint64 WaitForEstimate(const CSaveOptionsDlg& dialog)
{
    EXPECT_TRUE(QTest::qWaitFor([&] { return dialog.predictedBytes() >= 0; }, 20000));
    return dialog.predictedBytes();
}

} // namespace

TEST(SaveOptionsDlg, PredictedSizeIsTheSizeOfTheFileSaved)
{
    QTemporaryDir dir;
    const CImage picture = Noise(300, 200, 7);
    const CPictureMetadata none;
    CSaveOptionsDlg dialog(picture, none, CSaveOptions{}, true);
    const qint64 at92 = WaitForEstimate(dialog);
    EXPECT_TRUE(dialog.sizeText().startsWith("about ")) << dialog.sizeText().toStdString();

    dialog.findChild<QSlider*>("quality")->setValue(40);
    // Several quick changes: only the last one counts.
    dialog.findChild<QComboBox*>()->setCurrentIndex(3);
    const qint64 at40 = WaitForEstimate(dialog);
    EXPECT_LT(at40, at92);

    const CSaveOptions chosen = dialog.options();
    EXPECT_EQ(chosen.jpeg.quality, 40);
    EXPECT_EQ(chosen.jpeg.subsampling, ChromaSubsampling::Quarter420);
    ASSERT_TRUE(SavePictureWith(picture, dir.filePath("x.jpg"), chosen, nullptr));
    EXPECT_EQ(QFile(dir.filePath("x.jpg")).size(), at40);
}

TEST(SaveOptionsDlg, AsksOnlyWhenThereIsAChoiceAndRemembersTheJpegChoice)
{
    QTemporaryDir dir;
    const CPictureMetadata none;
    EXPECT_TRUE(CSaveOptionsDlg::HasQuestions("a.JPG", none));
    EXPECT_FALSE(CSaveOptionsDlg::HasQuestions("a.png", none)); // nothing to remove
    EXPECT_FALSE(CSaveOptionsDlg::HasQuestions("a.bmp", none));
    EXPECT_FALSE(CSaveOptionsDlg::HasQuestions("a.unknown", none));

    QSettings settings(dir.filePath("settings.ini"), QSettings::IniFormat);
    EXPECT_EQ(CSaveOptionsDlg::Remembered(settings, CSaveOptions{}).jpeg.quality, 92);
    CSaveOptions options;
    options.jpeg.quality = 77;
    options.jpeg.subsampling = ChromaSubsampling::Half422;
    options.jpeg.progressive = true;
    options.removeMetadata = true;
    CSaveOptionsDlg::Remember(settings, options);
    const CSaveOptions back = CSaveOptionsDlg::Remembered(settings, CSaveOptions{});
    EXPECT_EQ(back.jpeg.quality, 77);
    EXPECT_EQ(back.jpeg.subsampling, ChromaSubsampling::Half422);
    EXPECT_TRUE(back.jpeg.progressive);
    EXPECT_FALSE(back.removeMetadata); // privacy is chosen per save, never by default
    settings.setValue("SaveAs/Quality", 1000);
    settings.setValue("SaveAs/Subsampling", 99);
    EXPECT_EQ(CSaveOptionsDlg::Remembered(settings, CSaveOptions{}).jpeg.quality, 100);
    EXPECT_EQ(CSaveOptionsDlg::Remembered(settings, CSaveOptions{}).jpeg.subsampling, ChromaSubsampling::Automatic);
}
