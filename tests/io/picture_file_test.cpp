#include "io/picture_file.h"
#include "io/picture_save.h"
#include "tests/test_pictures.h"

#include <QFile>
#include <QTemporaryDir>

#include <exiv2/exiv2.hpp>
#include <gtest/gtest.h>

#include <cstring>

#include <sys/inotify.h>
#include <unistd.h>

using namespace test_pictures;

namespace {

// Counts the times a file is opened, as the kernel sees it: whatever reads the bytes (Qt, the
// metadata library, a decoder's own stdio) has to open the file first. Closes are watched too:
// the kernel merges identical events in a row, so two opens would otherwise read as one.
class COpenCounter
{
public:
    explicit COpenCounter(const QString& path)
        : m_fd(inotify_init1(IN_NONBLOCK)),
          m_watch(m_fd >= 0 ? inotify_add_watch(m_fd, QFile::encodeName(path).constData(), IN_OPEN | IN_CLOSE) : -1)
    {
    }
    ~COpenCounter()
    {
        if (m_fd >= 0) close(m_fd);
    }
    COpenCounter(const COpenCounter&) = delete;
    COpenCounter& operator=(const COpenCounter&) = delete;

    bool watching() const { return m_watch >= 0; }

    int opens() const
    {
        int count = 0;
        alignas(inotify_event) char buffer[4096];
        for (ssize_t got; (got = read(m_fd, buffer, sizeof buffer)) > 0;) {
            for (ssize_t at = 0; at < got;) {
                inotify_event event;
                std::memcpy(&event, buffer + at, sizeof event);
                if (event.mask & IN_OPEN) ++count;
                at += ssize_t(sizeof event + event.len);
            }
        }
        return count;
    }

private:
    int m_fd;
    int m_watch;
};

// A 4:2:0 JPEG stored on its side (orientation 6) with a few camera tags.
QString WriteSidewaysPhoto(const QTemporaryDir& dir, const CImage& stored)
{
    const QString path = dir.filePath(QStringLiteral("sideways.jpg"));
    CSaveOptions options;
    options.jpeg.quality = 80;
    options.jpeg.subsampling = ChromaSubsampling::Quarter420;
    if (!SavePictureWith(stored, path, options, nullptr)) return {};
    auto image = Exiv2::ImageFactory::open(QFile::encodeName(path).toStdString());
    image->readMetadata();
    image->exifData()["Exif.Image.Orientation"] = std::uint16_t(6);
    image->exifData()["Exif.Image.Make"] = "Orvex Test Camera";
    image->writeMetadata();
    return path;
}

} // namespace

TEST(PictureFile, OpeningReadsTheFileOnceForPixelsTagsOrientationAndSampling)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    CImage stored = Filled(24, 16, 10, 20, 200);
    Pixel(stored, 0, 0)[1] = 250; // marks the stored top-left corner
    const QString path = WriteSidewaysPhoto(dir, stored);
    ASSERT_FALSE(path.isEmpty());

    COpenCounter counter(path);
    ASSERT_TRUE(counter.watching());
    CPictureFile opened;
    QString reason;
    ASSERT_TRUE(OpenPictureFile(path, opened, &reason)) << reason.toStdString();
    EXPECT_EQ(counter.opens(), 1);

    // Orientation 6: the stored 24 x 16 picture is shown 16 x 24, turned a quarter clockwise.
    EXPECT_EQ(opened.picture.width(), 16);
    EXPECT_EQ(opened.picture.height(), 24);
    EXPECT_EQ(opened.metadata.orientation(), 6);
    EXPECT_FALSE(opened.metadata.HasNoTags());
    EXPECT_EQ(opened.subsampling, ChromaSubsampling::Quarter420);
    EXPECT_EQ(opened.subsampling, JpegFileSubsampling(path));

    // The same bytes from memory give the same picture, tags and sampling.
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    CPictureFile fromMemory;
    ASSERT_TRUE(OpenPictureFromMemory(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                                      std::size_t(bytes.size()), fromMemory));
    EXPECT_TRUE(SamePixels(fromMemory.picture, opened.picture));
    EXPECT_EQ(fromMemory.metadata.orientation(), 6);
    EXPECT_EQ(fromMemory.subsampling, ChromaSubsampling::Quarter420);

    // A file that is not a JPEG carries no sampling, and a failed open leaves the result alone.
    const QString png = dir.filePath(QStringLiteral("plain.png"));
    ASSERT_TRUE(SavePicture(stored, png));
    CPictureFile plain;
    ASSERT_TRUE(OpenPictureFile(png, plain));
    EXPECT_EQ(plain.subsampling, ChromaSubsampling::Automatic);
    EXPECT_TRUE(SamePixels(plain.picture, stored));
    EXPECT_FALSE(OpenPictureFile(dir.filePath(QStringLiteral("missing.jpg")), plain, &reason));
    EXPECT_FALSE(reason.isEmpty());
    EXPECT_TRUE(SamePixels(plain.picture, stored));
}

TEST(PictureFile, BmpBodyIsBottomRowFirstWithOrWithoutPadding)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    // 8 pixels make 24-byte rows (the whole body goes out at once); 7 make 21 bytes padded to 24.
    for (const int width : {8, 7}) {
        SCOPED_TRACE(width);
        const CImage picture = Pattern(width, 5, 3);
        const QString path = dir.filePath(QStringLiteral("p%1.bmp").arg(width));
        ASSERT_TRUE(SavePicture(picture, path));
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        ASSERT_EQ(bytes.size(), 54 + 24 * 5);
        for (int row = 0; row < 5; ++row) {
            const char* stored = bytes.constData() + 54 + 24 * row;
            // File rows run from the bottom of the picture up.
            EXPECT_EQ(std::memcmp(stored, Pixel(picture, 0, 4 - row), std::size_t(width) * 3), 0) << "row " << row;
            for (int pad = width * 3; pad < 24; ++pad) EXPECT_EQ(stored[pad], 0) << "row " << row;
        }
        CImage back;
        ASSERT_TRUE(LoadPicture(path, back));
        EXPECT_TRUE(SamePixels(back, picture));
    }
}
