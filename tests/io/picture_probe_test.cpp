// The header-only look at picture files and the reduced decoding behind the Open dialog's preview,
// held against what opening the same files gives.
#include "io/picture_file.h"
#include "io/picture_probe.h"
#include "tests/test_pictures.h"

#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace test_pictures;

namespace {

QByteArray Bytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

const std::uint8_t* Data(const QByteArray& bytes)
{
    return reinterpret_cast<const std::uint8_t*>(bytes.constData());
}

} // namespace

// Every corpus file opening accepts is probed with the size it opens at; a file the probe refuses
// is one opening refuses too, and a decode for a preview fails exactly when opening fails.
TEST(PictureProbe, AgreesWithOpeningOnTheWholeCorpus)
{
    const QString root = QString::fromStdString(TestDataDir());
    if (root.isEmpty()) GTEST_SKIP() << "ORVEX_TESTDATA_DIR is not set";
    int opened = 0;
    QDirIterator files(root, {"*.jpg", "*.jpeg", "*.png", "*.bmp", "*.gif", "*.tif", "*.tiff", "*.webp"}, QDir::Files,
                       QDirIterator::Subdirectories);
    while (files.hasNext()) {
        const QString path = files.next();
        SCOPED_TRACE(path.toStdString());
        const QByteArray bytes = Bytes(path);
        CImage picture;
        QString loadReason, probeReason, previewReason;
        const bool loads = LoadPictureFromMemory(Data(bytes), std::size_t(bytes.size()), picture, &loadReason);
        CPictureProbe probe;
        const bool probed = ProbePicture(Data(bytes), std::size_t(bytes.size()), probe, &probeReason);
        CImage preview;
        const bool previewed = DecodePreviewPicture(Data(bytes), std::size_t(bytes.size()), 1 << 20,
                                                    std::int64_t(1) << 40, preview, &previewReason);
        if (loads) {
            ++opened;
            ASSERT_TRUE(probed) << probeReason.toStdString();
            if (probe.width != 0) {
                EXPECT_EQ(probe.width, picture.width());
                EXPECT_EQ(probe.height, picture.height());
            }
            ASSERT_TRUE(previewed) << previewReason.toStdString();
            // Asked for more than the picture has, even a JPEG comes whole.
            EXPECT_TRUE(SamePixels(preview, picture));
        } else {
            EXPECT_FALSE(previewed);
            if (!probed) EXPECT_EQ(probeReason, loadReason);
            else EXPECT_EQ(previewReason, loadReason);
        }
    }
    EXPECT_GT(opened, 100);
}

// A JPEG comes at the smallest reduction whose longer side keeps the size asked for, upright.
TEST(PictureProbe, JpegPreviewIsReducedAndUpright)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("wide.jpg");
    ASSERT_TRUE(SavePicture(Pattern(1000, 300), path));
    const QByteArray bytes = Bytes(path);
    const auto size = std::size_t(bytes.size());

    CPictureProbe probe;
    ASSERT_TRUE(ProbePicture(Data(bytes), size, probe));
    EXPECT_EQ(probe.format, "JPEG");
    EXPECT_EQ(probe.width, 1000);
    EXPECT_EQ(probe.height, 300);

    const struct
    {
        int minSide, width, height;
    } cases[] = {{200, 250, 75}, {125, 125, 38}, {126, 250, 75}, {400, 500, 150}, {600, 1000, 300}, {1, 125, 38}};
    for (const auto& c : cases) {
        CImage preview;
        ASSERT_TRUE(DecodePreviewPicture(Data(bytes), size, c.minSide, 1'000'000, preview)) << c.minSide;
        EXPECT_EQ(preview.width(), c.width) << c.minSide;
        EXPECT_EQ(preview.height(), c.height) << c.minSide;
    }
}

TEST(PictureProbe, RefusesBeyondThePixelCapAndNonPictures)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("p.png");
    ASSERT_TRUE(SavePicture(Pattern(20, 10), path));
    const QByteArray bytes = Bytes(path);
    CImage preview;
    QString reason;
    EXPECT_TRUE(DecodePreviewPicture(Data(bytes), std::size_t(bytes.size()), 200, 200, preview, &reason));
    EXPECT_FALSE(DecodePreviewPicture(Data(bytes), std::size_t(bytes.size()), 200, 199, preview, &reason));
    EXPECT_EQ(reason, "too large to preview");

    const QByteArray text("just some text, not a picture at all");
    CPictureProbe probe;
    EXPECT_FALSE(ProbePicture(Data(text), std::size_t(text.size()), probe, &reason));
    EXPECT_EQ(reason, "the file is not a JPEG, PNG, BMP, GIF, TIFF or WebP picture");
    EXPECT_FALSE(ProbePicture(Data(text), 0, probe, &reason));
    EXPECT_EQ(reason, "the file is empty");
    // A header cut short is refused, whatever it is cut to.
    for (int keep = 1; keep < 24; ++keep) EXPECT_FALSE(ProbePicture(Data(bytes), std::size_t(keep), probe)) << keep;
}
