// The options of each format reach the file, read back with the formats' own libraries (or, for
// the zlib header, by hand), and the predicted sizes match the files written.
#include "io/picture_codec.h"
#include "io/picture_file.h"
#include "io/picture_save.h"
#include "tests/test_pictures.h"

#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include <tiffio.h>
#include <webp/decode.h>
#include <webp/encode.h>

#include <gtest/gtest.h>

#include <cstring>
#include <random>

using namespace test_pictures;

namespace {

std::vector<std::uint8_t> Encoded(const CImage& picture, const QByteArray& format, const CSaveOptions& options)
{
    std::vector<std::uint8_t> file;
    QString reason;
    EXPECT_TRUE(EncodePictureFile(picture, format, options, nullptr, file, &reason)) << reason.toStdString();
    return file;
}

CImage Decoded(const std::vector<std::uint8_t>& file)
{
    CImage picture;
    QString reason;
    EXPECT_TRUE(LoadPictureFromMemory(file.data(), file.size(), picture, &reason)) << reason.toStdString();
    return picture;
}

// The two header bytes of the zlib stream in the first IDAT chunk.
std::pair<int, int> ZlibHeader(const std::vector<std::uint8_t>& png)
{
    for (std::size_t at = 8; at + 12 <= png.size();) {
        const std::size_t length =
            std::size_t(png[at]) << 24 | std::size_t(png[at + 1]) << 16 | std::size_t(png[at + 2]) << 8 | png[at + 3];
        if (std::memcmp(png.data() + at + 4, "IDAT", 4) == 0 && length >= 2) return {png[at + 8], png[at + 9]};
        at += 12 + length;
    }
    return {-1, -1};
}

// A photograph from the corpus, enlarged and given grain so that it is as busy as a camera's.
CImage GrainyPhoto(int width, int height)
{
    const QImage source(QString::fromStdString(TestDataDir() + "/jpeg/libjpeg-turbo/testorig.jpg"));
    EXPECT_FALSE(source.isNull());
    const QImage large = source.convertToFormat(QImage::Format_RGB888)
                             .scaled(width, height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    CImage picture;
    picture.Create(width, height, 24);
    std::mt19937 random(5);
    std::uniform_int_distribution<int> grain(-6, 6);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const uchar* s = large.constScanLine(y) + 3 * x;
            std::uint8_t* p = Pixel(picture, x, y);
            for (int c = 0; c < 3; ++c) p[c] = std::uint8_t(std::clamp(s[2 - c] + grain(random), 0, 255));
        }
    return picture;
}

} // namespace

TEST(SaveFormats, PngLevelIsTheZlibLevelAndEveryLevelKeepsThePixels)
{
    const CImage picture = Noise(37, 23, 3); // odd sizes; noise with a flat band so levels differ
    CImage striped = Copy(picture);
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 37; ++x) std::memset(Pixel(striped, x, y), 90, 3);
    // The header's FLEVEL names the level class: 0 fastest (0-1), 1 fast (2-5), 2 default (6), 3 best.
    const int flevel[10] = {0, 0, 1, 1, 1, 1, 2, 3, 3, 3};
    std::size_t stored = 0, best = 0;
    for (int level = 0; level <= 9; ++level) {
        CSaveOptions options;
        options.png.level = level;
        const std::vector<std::uint8_t> file = Encoded(striped, "png", options);
        const auto [cmf, flg] = ZlibHeader(file);
        EXPECT_EQ(cmf, 0x78) << level;
        EXPECT_EQ((cmf * 256 + flg) % 31, 0) << level;
        EXPECT_EQ(flg >> 6, flevel[level]) << level;
        EXPECT_TRUE(SamePixels(Decoded(file), striped)) << level;
        if (level == 0) stored = file.size();
        if (level == 9) best = file.size();
    }
    // Stored deflate holds every filtered byte, one per channel plus a filter byte per row.
    EXPECT_GE(stored, std::size_t(23) * (37 * 3 + 1));
    EXPECT_LT(best, stored);
    EXPECT_EQ(CSaveOptions{}.png.level, 6);
}

TEST(SaveFormats, WebpIsLosslessOrLossyAtItsOwnQuality)
{
    const CImage picture = GrainyPhoto(61, 47);
    CSaveOptions options;
    options.jpeg.quality = 10; // JPEG's quality has nothing to say about WebP
    ASSERT_TRUE(options.webp.lossless);
    std::vector<std::uint8_t> file = Encoded(picture, "webp", options);
    WebPBitstreamFeatures features;
    ASSERT_EQ(WebPGetFeatures(file.data(), file.size(), &features), VP8_STATUS_OK);
    EXPECT_EQ(features.format, 2);
    EXPECT_TRUE(SamePixels(Decoded(file), picture));
    EXPECT_TRUE(IsLosslessPictureFile(file.data(), file.size()));

    std::size_t previous = 0;
    for (int quality : {10, 60, 100}) {
        options.webp = {false, quality};
        file = Encoded(picture, "webp", options);
        ASSERT_EQ(WebPGetFeatures(file.data(), file.size(), &features), VP8_STATUS_OK);
        EXPECT_EQ(features.format, 1) << quality;
        EXPECT_GT(file.size(), previous) << quality;
        EXPECT_FALSE(IsLosslessPictureFile(file.data(), file.size()));
        previous = file.size();
        // The same as the library's own lossy encoder gives at that quality.
        std::uint8_t* plain = nullptr;
        const std::size_t plainSize = WebPEncodeBGR(picture.bits(), 61, 47, picture.pitch(), float(quality), &plain);
        EXPECT_EQ(file.size(), plainSize) << quality;
        WebPFree(plain);
    }
}

TEST(SaveFormats, TiffCompressionTagAndPredictorAreWrittenAndPixelsKept)
{
    QTemporaryDir dir;
    const CImage picture = Noise(29, 31, 9);
    const struct
    {
        TiffCompression compression;
        int tag;
        int predictor;
    } cases[] = {{TiffCompression::None, COMPRESSION_NONE, PREDICTOR_NONE},
                 {TiffCompression::Lzw, COMPRESSION_LZW, PREDICTOR_HORIZONTAL},
                 {TiffCompression::Deflate, COMPRESSION_ADOBE_DEFLATE, PREDICTOR_HORIZONTAL}};
    for (const auto& c : cases) {
        CSaveOptions options;
        options.tiff.compression = c.compression;
        const QString path = dir.filePath(QStringLiteral("c%1.tif").arg(c.tag));
        ASSERT_TRUE(SavePictureWith(picture, path, options, nullptr));
        TIFF* tif = TIFFOpen(path.toLocal8Bit().constData(), "r");
        ASSERT_NE(tif, nullptr);
        std::uint16_t compression = 0, predictor = PREDICTOR_NONE;
        TIFFGetField(tif, TIFFTAG_COMPRESSION, &compression);
        if (compression != COMPRESSION_NONE) TIFFGetField(tif, TIFFTAG_PREDICTOR, &predictor);
        TIFFClose(tif);
        EXPECT_EQ(compression, c.tag);
        EXPECT_EQ(predictor, c.predictor) << c.tag;
        CImage back;
        ASSERT_TRUE(LoadPicture(path, back));
        EXPECT_TRUE(SamePixels(back, picture)) << c.tag;
        std::vector<std::uint8_t> memory;
        ASSERT_TRUE(EncodePictureFile(picture, "tiff", options, nullptr, memory));
        EXPECT_EQ(qint64(memory.size()), QFile(path).size()) << c.tag;
    }
    EXPECT_EQ(CSaveOptions{}.tiff.compression, TiffCompression::Deflate);
}

TEST(SaveFormats, SourcesThatLostNothingAreTold)
{
    QTemporaryDir dir;
    const CImage picture = Pattern(8, 8);
    for (const char* name : {"a.png", "a.bmp", "a.gif", "a.tif", "a.jpg"}) {
        ASSERT_TRUE(SavePicture(picture, dir.filePath(name)));
        CPictureFile opened;
        ASSERT_TRUE(OpenPictureFile(dir.filePath(name), opened));
        EXPECT_EQ(opened.lossless, std::strcmp(name, "a.jpg") != 0) << name;
    }
    // A TIFF holding JPEG data (compression 7 in its first directory), big- and little-endian.
    const std::uint8_t little[] = {'I', 'I', 42, 0, 8, 0, 0, 0, 1, 0, 0x03, 0x01, 3,
                                   0,   1,   0,  0, 0, 7, 0, 0, 0, 0, 0,    0,    0};
    const std::uint8_t big[] = {'M', 'M', 0, 42, 0, 0, 0, 8, 0, 1, 0x01, 0x03, 0,
                                3,   0,   0, 0,  1, 0, 7, 0, 0, 0, 0,    0,    0};
    EXPECT_FALSE(IsLosslessPictureFile(little, sizeof little));
    EXPECT_FALSE(IsLosslessPictureFile(big, sizeof big));
    std::uint8_t deflate[sizeof little];
    std::memcpy(deflate, little, sizeof little);
    deflate[18] = 8;
    EXPECT_TRUE(IsLosslessPictureFile(deflate, sizeof deflate));
    // A directory pointing past the end says nothing.
    EXPECT_TRUE(IsLosslessPictureFile(little, 12));
}

TEST(SaveFormats, PredictedSizesAreTheFilesSizeOrWithinFivePercentFromASample)
{
    QTemporaryDir dir;
    const CImage small = GrainyPhoto(300, 200);
    const CImage photo = GrainyPhoto(1200, 1600);
    CSaveOptions level9;
    level9.png.level = 9;
    CSaveOptions lzw;
    lzw.tiff.compression = TiffCompression::Lzw;
    // Lossy WebP's cost follows the content too closely for a sample of a picture this size: it is
    // encoded whole up to 3 MP, and told from a sample only beyond.
    const struct
    {
        const char* name;
        CSaveOptions options;
    } cases[] = {{"a.jpg", {}}, {"a.png", level9}, {"a.webp", {}}, {"a.tif", {}}, {"b.tif", lzw}};
    for (const auto& c : cases) {
        const QByteArray format = EncoderForPath(c.name)->format;
        const QString path = dir.filePath(c.name);
        ASSERT_TRUE(SavePictureWith(small, path, c.options, nullptr));
        const CPredictedSize exact = PredictFileSize(small, format, c.options, nullptr);
        EXPECT_TRUE(exact.exact);
        EXPECT_EQ(exact.bytes, QFile(path).size()) << c.name;

        ASSERT_TRUE(SavePictureWith(photo, path, c.options, nullptr));
        const CPredictedSize sampled = PredictFileSize(photo, format, c.options, nullptr, 0);
        EXPECT_FALSE(sampled.exact);
        const double written = double(QFile(path).size());
        EXPECT_NEAR(double(sampled.bytes) / written, 1.0, 0.05) << c.name << " " << sampled.bytes << " vs " << written;
    }
}
