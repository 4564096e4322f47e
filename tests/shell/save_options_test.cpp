#include "document/orvex_doc.h"
#include "io/picture_codec.h"
#include "io/picture_file.h"
#include "shell/save_options_dlg.h"
#include "tests/test_pictures.h"

#include <QCheckBox>
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
    EXPECT_TRUE(QTest::qWaitFor([&] { return dialog.predictedBytes() >= 0; }, 60000));
    return dialog.predictedBytes();
}

// Smooth shading with a fine texture and a little seeded grain, as photographs have.
CImage Photo(int width, int height)
{
    CImage picture = Noise(width, height, 11);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            std::uint8_t* p = Pixel(picture, x, y);
            const double u = double(x) / width, v = double(y) / height;
            const double texture = 10 * std::sin(x * 0.21) * std::cos(y * 0.17);
            const int grain = p[0] % 7 - 3;
            p[0] = std::uint8_t(std::clamp(60 + 120 * v + texture + grain, 0.0, 255.0));
            p[1] = std::uint8_t(std::clamp(40 + 150 * u * v + texture + grain, 0.0, 255.0));
            p[2] = std::uint8_t(std::clamp(200 - 140 * u + texture + grain, 0.0, 255.0));
        }
    return picture;
}

} // namespace

TEST(SaveOptionsDlg, PredictedSizeIsTheSizeOfTheFileSaved)
{
    QTemporaryDir dir;
    const CImage picture = Noise(300, 200, 7);
    const CPictureMetadata none;
    CSaveOptionsDlg dialog(picture, none, CSaveOptions{}, "jpeg");
    const qint64 at92 = WaitForEstimate(dialog);
    EXPECT_TRUE(dialog.sizeText().startsWith("about ")) << dialog.sizeText().toStdString();

    dialog.findChild<QSlider*>("quality")->setValue(40);
    // Several quick changes: only the last one counts.
    dialog.findChild<QComboBox*>("subsampling")->setCurrentIndex(3);
    const qint64 at40 = WaitForEstimate(dialog);
    EXPECT_LT(at40, at92);
    EXPECT_TRUE(dialog.predictionExact());

    const CSaveOptions chosen = dialog.options();
    EXPECT_EQ(chosen.jpeg.quality, 40);
    EXPECT_EQ(chosen.jpeg.subsampling, ChromaSubsampling::Quarter420);
    ASSERT_TRUE(SavePictureWith(picture, dir.filePath("x.jpg"), chosen, nullptr));
    EXPECT_EQ(QFile(dir.filePath("x.jpg")).size(), at40);
}

TEST(SaveOptionsDlg, EachFormatHasItsControlsAndTheirChoicesReachTheFile)
{
    QTemporaryDir dir;
    const CImage picture = Photo(160, 120);
    const CPictureMetadata none;

    CSaveOptionsDlg png(picture, none, CSaveOptions{}, "png");
    EXPECT_EQ(png.windowTitle(), "PNG Options");
    auto* level = png.findChild<QSlider*>("level");
    ASSERT_NE(level, nullptr);
    EXPECT_EQ(level->minimum(), 0);
    EXPECT_EQ(level->maximum(), 9);
    EXPECT_EQ(level->value(), 6);
    level->setValue(0);
    const qint64 stored = WaitForEstimate(png);
    EXPECT_EQ(png.options().png.level, 0);
    ASSERT_TRUE(SavePictureWith(picture, dir.filePath("p.png"), png.options(), nullptr));
    EXPECT_EQ(QFile(dir.filePath("p.png")).size(), stored);
    EXPECT_GT(stored, 160 * 120 * 3);

    CSaveOptions fromJpeg;
    fromJpeg.webp.lossless = false;
    CSaveOptionsDlg webp(picture, none, fromJpeg, "webp");
    auto* lossless = webp.findChild<QCheckBox*>("lossless");
    auto* quality = webp.findChild<QSlider*>("quality");
    ASSERT_NE(lossless, nullptr);
    ASSERT_NE(quality, nullptr);
    EXPECT_FALSE(lossless->isChecked());
    EXPECT_EQ(quality->value(), 92);
    EXPECT_TRUE(quality->isEnabled());
    const qint64 lossy = WaitForEstimate(webp);
    lossless->setChecked(true);
    EXPECT_FALSE(quality->isEnabled());
    const qint64 exact = WaitForEstimate(webp);
    EXPECT_GT(exact, lossy);
    EXPECT_TRUE(webp.options().webp.lossless);
    ASSERT_TRUE(SavePictureWith(picture, dir.filePath("p.webp"), webp.options(), nullptr));
    EXPECT_EQ(QFile(dir.filePath("p.webp")).size(), exact);

    CSaveOptionsDlg tiff(picture, none, CSaveOptions{}, "tiff");
    auto* compression = tiff.findChild<QComboBox*>("compression");
    ASSERT_NE(compression, nullptr);
    EXPECT_EQ(compression->count(), 3);
    EXPECT_EQ(compression->currentData().toInt(), int(TiffCompression::Deflate));
    compression->setCurrentIndex(compression->findData(int(TiffCompression::Lzw)));
    const qint64 lzw = WaitForEstimate(tiff);
    EXPECT_EQ(tiff.options().tiff.compression, TiffCompression::Lzw);
    ASSERT_TRUE(SavePictureWith(picture, dir.filePath("p.tif"), tiff.options(), nullptr));
    EXPECT_EQ(QFile(dir.filePath("p.tif")).size(), lzw);

    // BMP has nothing to choose and no size to tell.
    CSaveOptionsDlg bmp(picture, none, CSaveOptions{}, "bmp");
    EXPECT_EQ(bmp.findChild<QSlider*>(), nullptr);
    EXPECT_TRUE(bmp.sizeText().isEmpty());
}

TEST(SaveOptionsDlg, ALargePictureIsToldFromASampleWithinFivePercent)
{
    QTemporaryDir dir;
    const CImage picture = Photo(1000, 1100);
    const CPictureMetadata none;
    const CSaveOptions options;
    for (const char* name : {"big.webp"}) { // lossless: the slowest encoder, sampled from 0.4 MP up
        const QByteArray format = EncoderForPath(name)->format;
        CSaveOptionsDlg dialog(picture, none, options, format);
        const qint64 predicted = WaitForEstimate(dialog);
        EXPECT_FALSE(dialog.predictionExact());
        ASSERT_TRUE(SavePictureWith(picture, dir.filePath(name), dialog.options(), nullptr));
        const double written = double(QFile(dir.filePath(name)).size());
        EXPECT_NEAR(double(predicted) / written, 1.0, 0.05) << name << ": " << predicted << " vs " << written;
    }
}

TEST(SaveOptionsDlg, WebpStartsLosslessOnlyForPicturesThatLostNothing)
{
    QTemporaryDir dir;
    ASSERT_TRUE(SavePicture(Pattern(10, 10), dir.filePath("a.png")));
    ASSERT_TRUE(SavePicture(Pattern(10, 10), dir.filePath("a.jpg")));
    COrvexDoc fromPng, fromJpeg, untitled;
    ASSERT_TRUE(fromPng.Open(dir.filePath("a.png")));
    ASSERT_TRUE(fromJpeg.Open(dir.filePath("a.jpg")));
    ASSERT_TRUE(untitled.OpenUntitled(Pattern(4, 4), "Untitled-1"));
    EXPECT_TRUE(fromPng.saveOptions().webp.lossless);
    EXPECT_FALSE(fromJpeg.saveOptions().webp.lossless);
    EXPECT_EQ(fromJpeg.saveOptions().webp.quality, 92);
    EXPECT_TRUE(untitled.saveOptions().webp.lossless);

    // Until a WebP choice is remembered the default follows the source; then the choice wins.
    QSettings settings(dir.filePath("settings.ini"), QSettings::IniFormat);
    CSaveOptions jpegChoice;
    jpegChoice.jpeg.quality = 50;
    CSaveOptionsDlg::Remember(settings, jpegChoice, "jpeg");
    EXPECT_TRUE(CSaveOptionsDlg::Remembered(settings, fromPng.saveOptions(), "webp").webp.lossless);
    EXPECT_FALSE(CSaveOptionsDlg::Remembered(settings, fromJpeg.saveOptions(), "webp").webp.lossless);
    CSaveOptions lossy;
    lossy.webp = {false, 70};
    CSaveOptionsDlg::Remember(settings, lossy, "webp");
    const CSaveOptions back = CSaveOptionsDlg::Remembered(settings, fromPng.saveOptions(), "webp");
    EXPECT_FALSE(back.webp.lossless);
    EXPECT_EQ(back.webp.quality, 70);
}

TEST(SaveOptionsDlg, AsksForEveryFormatWithOptionsAndRemembersEachFormatsChoice)
{
    QTemporaryDir dir;
    const CPictureMetadata none;
    for (const char* path : {"a.JPG", "a.png", "a.webp", "a.tif", "a.tiff"})
        EXPECT_TRUE(CSaveOptionsDlg::HasQuestions(path, none)) << path;
    EXPECT_FALSE(CSaveOptionsDlg::HasQuestions("a.bmp", none));
    EXPECT_FALSE(CSaveOptionsDlg::HasQuestions("a.gif", none));
    EXPECT_FALSE(CSaveOptionsDlg::HasQuestions("a.unknown", none));

    QSettings settings(dir.filePath("settings.ini"), QSettings::IniFormat);
    EXPECT_EQ(CSaveOptionsDlg::Remembered(settings, CSaveOptions{}).jpeg.quality, 92);
    CSaveOptions options;
    options.jpeg.quality = 77;
    options.jpeg.subsampling = ChromaSubsampling::Half422;
    options.jpeg.progressive = true;
    options.png.level = 9;
    options.webp = {false, 55};
    options.tiff.compression = TiffCompression::None;
    options.removeMetadata = true;
    // Each format keeps only its own choice.
    CSaveOptionsDlg::Remember(settings, options, "png");
    CSaveOptions back = CSaveOptionsDlg::Remembered(settings, CSaveOptions{});
    EXPECT_EQ(back.png.level, 9);
    EXPECT_EQ(back.jpeg.quality, 92);
    EXPECT_TRUE(back.webp.lossless);
    EXPECT_EQ(back.tiff.compression, TiffCompression::Deflate);

    CSaveOptionsDlg::Remember(settings, options);
    back = CSaveOptionsDlg::Remembered(settings, CSaveOptions{});
    EXPECT_EQ(back.jpeg.quality, 77);
    EXPECT_EQ(back.jpeg.subsampling, ChromaSubsampling::Half422);
    EXPECT_TRUE(back.jpeg.progressive);
    EXPECT_EQ(back.png.level, 9);
    EXPECT_FALSE(back.webp.lossless);
    EXPECT_EQ(back.webp.quality, 55);
    EXPECT_EQ(back.tiff.compression, TiffCompression::None);
    EXPECT_FALSE(back.removeMetadata); // privacy is chosen per save, never by default
    // Asking for one format reads only that format's choice.
    EXPECT_EQ(CSaveOptionsDlg::Remembered(settings, CSaveOptions{}, "tiff").png.level, 6);

    settings.setValue("SaveAs/Quality", 1000);
    settings.setValue("SaveAs/Subsampling", 99);
    settings.setValue("SaveAs/PngLevel", 12);
    settings.setValue("SaveAs/WebpQuality", -4);
    settings.setValue("SaveAs/TiffCompression", "zip");
    back = CSaveOptionsDlg::Remembered(settings, CSaveOptions{});
    EXPECT_EQ(back.jpeg.quality, 100);
    EXPECT_EQ(back.jpeg.subsampling, ChromaSubsampling::Automatic);
    EXPECT_EQ(back.png.level, 9);
    EXPECT_EQ(back.webp.quality, 1);
    EXPECT_EQ(back.tiff.compression, TiffCompression::Deflate);
}
