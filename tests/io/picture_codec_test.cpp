#include "io/picture_codec.h"
#include "io/picture_file.h"
#include "tests/test_pictures.h"

#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImageWriter>
#include <QTemporaryDir>
#include <QtEndian>

#include <gtest/gtest.h>
#include <zlib.h>

#include <fstream>
#include <sstream>

using namespace test_pictures;

namespace {

struct CorpusFile
{
    std::string path, expected;
    int width = 0, height = 0;
};

std::vector<CorpusFile> ReadManifest()
{
    std::vector<CorpusFile> files;
    std::ifstream in(TestDataDir() + "/MANIFEST.tsv");
    std::string line;
    std::getline(in, line); // header
    while (std::getline(in, line)) {
        std::vector<std::string> cols;
        std::stringstream s(line);
        std::string col;
        while (std::getline(s, col, '\t')) cols.push_back(col);
        if (cols.size() < 6) continue;
        CorpusFile f;
        f.path = cols[0];
        f.expected = cols[3];
        f.width = cols[4].empty() ? 0 : std::stoi(cols[4]);
        f.height = cols[5].empty() ? 0 : std::stoi(cols[5]);
        files.push_back(f);
    }
    return files;
}

QString Corpus(const std::string& relative)
{
    return QString::fromStdString(TestDataDir() + "/" + relative);
}

QByteArray PngChunk(const char* type, const QByteArray& data)
{
    QByteArray chunk;
    char len[4];
    qToBigEndian<quint32>(static_cast<quint32>(data.size()), len);
    chunk.append(len, 4).append(type, 4).append(data);
    const QByteArray crcInput = QByteArray(type, 4) + data;
    char crc[4];
    qToBigEndian<quint32>(static_cast<quint32>(crc32(0, reinterpret_cast<const Bytef*>(crcInput.constData()),
                                                     static_cast<uInt>(crcInput.size()))),
                          crc);
    return chunk.append(crc, 4);
}

QByteArray PngHeader(quint32 w, quint32 h)
{
    QByteArray ihdr(13, '\0');
    qToBigEndian<quint32>(w, ihdr.data());
    qToBigEndian<quint32>(h, ihdr.data() + 4);
    ihdr[8] = 8; // bit depth
    ihdr[9] = 2; // truecolour
    return QByteArray("\x89PNG\r\n\x1a\n", 8) + PngChunk("IHDR", ihdr);
}

void WriteFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

QByteArray ReadFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

TEST(PictureCodec, CorpusDecodesRejectsAndNeverCrashes)
{
    const auto files = ReadManifest();
    ASSERT_GT(files.size(), 400u) << "picture corpus not found under " << TestDataDir();
    int decoded = 0;
    for (const CorpusFile& f : files) {
        SCOPED_TRACE(f.path);
        CImage picture;
        QString reason;
        QElapsedTimer timer;
        timer.start();
        const bool ok = LoadPicture(Corpus(f.path), picture, &reason);
        EXPECT_LT(timer.elapsed(), 5000) << "decoding must not hang";
        if (f.expected == "decode") {
            ASSERT_TRUE(ok) << reason.toStdString();
            EXPECT_EQ(picture.width(), f.width);
            EXPECT_EQ(picture.height(), f.height);
            EXPECT_EQ(picture.bitsPerPixel(), 24);
            ++decoded;
        } else if (f.expected == "reject") {
            EXPECT_FALSE(ok);
            EXPECT_FALSE(reason.isEmpty());
            EXPECT_TRUE(picture.IsNull());
        } else if (ok) {
            EXPECT_EQ(picture.bitsPerPixel(), 24);
        } else {
            EXPECT_FALSE(reason.isEmpty());
        }
    }
    EXPECT_GT(decoded, 300);
}

TEST(PictureCodec, DirectDecodersAgreeWithTheGeneralReader)
{
    // JPEG and opaque PNG files skip Qt's reader; their pixels must be exactly what it gives.
    int compared = 0;
    for (const CorpusFile& f : ReadManifest()) {
        if (f.expected != "decode") continue;
        const QString path = Corpus(f.path);
        QImage reference = QImage(path);
        if (reference.isNull() || reference.hasAlphaChannel()) continue;
        reference = reference.convertToFormat(QImage::Format_RGB32);
        CImage picture;
        ASSERT_TRUE(LoadPicture(path, picture)) << f.path;
        ASSERT_EQ(picture.width(), reference.width()) << f.path;
        ASSERT_EQ(picture.height(), reference.height()) << f.path;
        int differing = 0;
        for (int y = 0; y < picture.height(); ++y)
            for (int x = 0; x < picture.width(); ++x) {
                const QRgb p = reference.pixel(x, y);
                const std::uint8_t* q = Pixel(picture, x, y);
                differing += q[0] != qBlue(p) || q[1] != qGreen(p) || q[2] != qRed(p);
            }
        EXPECT_EQ(differing, 0) << f.path;
        ++compared;
    }
    EXPECT_GT(compared, 150);
}

TEST(PictureCodec, FailedLoadLeavesTheTargetUntouched)
{
    CImage picture = Pattern(5, 5);
    QString reason;
    EXPECT_FALSE(LoadPicture(Corpus("png/go-image/invalid-trunc.png"), picture, &reason));
    EXPECT_TRUE(SamePixels(picture, Pattern(5, 5)));
    EXPECT_FALSE(LoadPicture(QStringLiteral("/no/such/file.png"), picture, &reason));
    EXPECT_FALSE(reason.isEmpty());
    EXPECT_TRUE(SamePixels(picture, Pattern(5, 5)));
}

// The image data's checksums are summed beside the decoder rather than before it: a file whose
// pixels decode perfectly but whose IDAT checksum is wrong must still be refused, as must a damaged
// header checksum, and the target must stay as it was.
TEST(PictureCodec, ImageDataChecksumsAreStillChecked)
{
    const int w = 64, h = 48;
    QByteArray raw;
    for (int y = 0; y < h; ++y) {
        raw.append('\0');
        for (int x = 0; x < w * 3; ++x) raw.append(static_cast<char>((x * 7 + y * 13) & 0xFF));
    }
    uLongf packedSize = compressBound(static_cast<uLong>(raw.size()));
    QByteArray packed(static_cast<qsizetype>(packedSize), '\0');
    ASSERT_EQ(compress(reinterpret_cast<Bytef*>(packed.data()), &packedSize,
                       reinterpret_cast<const Bytef*>(raw.constData()), static_cast<uLong>(raw.size())),
              Z_OK);
    packed.truncate(static_cast<qsizetype>(packedSize));
    const QByteArray good = PngHeader(w, h) + PngChunk("IDAT", packed) + PngChunk("IEND", {});
    const qsizetype idatCrc = 8 + 25 + 8 + packed.size();

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("sums.png"));
    WriteFile(path, good);
    CImage picture;
    QString reason;
    ASSERT_TRUE(LoadPicture(path, picture, &reason)) << reason.toStdString();
    EXPECT_EQ(picture.width(), w);

    for (const qsizetype at : {idatCrc, qsizetype(8 + 8 + 13)}) {
        SCOPED_TRACE(at);
        QByteArray damaged = good;
        damaged[at] = static_cast<char>(damaged[at] ^ 0x40);
        WriteFile(path, damaged);
        CImage target = Pattern(5, 5);
        EXPECT_FALSE(LoadPicture(path, target, &reason));
        EXPECT_EQ(reason, QStringLiteral("checksum mismatch in a critical chunk"));
        EXPECT_TRUE(SamePixels(target, Pattern(5, 5)));
    }
}

TEST(PictureCodec, PalettesAndGreysBecomeBlueGreenRed)
{
    // A 1-bit palette PNG and a 16-bit grey PNG both come out as 24-bit pictures; their pixels match
    // what Qt decodes, channel by channel.
    for (const char* name : {"png/pngsuite/basn3p01.png", "png/pngsuite/basn0g16.png", "png/pngsuite/basn2c08.png"}) {
        CImage picture;
        ASSERT_TRUE(LoadPicture(Corpus(name), picture)) << name;
        const QImage reference = QImage(Corpus(name)).convertToFormat(QImage::Format_RGB32);
        for (int y = 0; y < picture.height(); y += 5)
            for (int x = 0; x < picture.width(); x += 3) {
                const QRgb p = reference.pixel(x, y);
                ASSERT_EQ(Pixel(picture, x, y)[0], qBlue(p)) << name;
                ASSERT_EQ(Pixel(picture, x, y)[1], qGreen(p)) << name;
                ASSERT_EQ(Pixel(picture, x, y)[2], qRed(p)) << name;
            }
    }
}

TEST(PictureCodec, AlphaIsCompositedOverWhite)
{
    QTemporaryDir dir;
    QImage source(3, 1, QImage::Format_ARGB32);
    source.setPixel(0, 0, qRgba(255, 0, 0, 255));  // opaque red
    source.setPixel(1, 0, qRgba(0, 0, 255, 0));    // fully transparent blue
    source.setPixel(2, 0, qRgba(0, 0, 0, 128));    // half-transparent black
    const QString path = dir.filePath(QStringLiteral("alpha.png"));
    ASSERT_TRUE(source.save(path));
    CImage picture;
    ASSERT_TRUE(LoadPicture(path, picture));
    EXPECT_EQ(Pixel(picture, 0, 0)[0], 0);
    EXPECT_EQ(Pixel(picture, 0, 0)[2], 255);
    for (int c = 0; c < 3; ++c) EXPECT_EQ(Pixel(picture, 1, 0)[c], 255);
    for (int c = 0; c < 3; ++c) EXPECT_EQ(Pixel(picture, 2, 0)[c], 127); // 255 * 127 / 255
}

TEST(PictureCodec, ExifOrientationIsHonoured)
{
    // A 4 x 2 JPEG whose EXIF says "rotate 90 degrees clockwise to view" opens as 2 x 4.
    QImage source(4, 2, QImage::Format_RGB32);
    source.fill(Qt::white);
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    ASSERT_TRUE(source.save(&buffer, "JPEG"));
    static const unsigned char exif[] = {
        0xFF, 0xE1, 0x00, 0x22, 'E', 'x', 'i', 'f', 0, 0,          // APP1, length 34
        'M', 'M', 0x00, 0x2A, 0x00, 0x00, 0x00, 0x08,              // big-endian TIFF header
        0x00, 0x01,                                                // one entry
        0x01, 0x12, 0x00, 0x03, 0x00, 0x00, 0x00, 0x01, 0x00, 0x06, 0x00, 0x00, // Orientation = 6
        0x00, 0x00, 0x00, 0x00};                                   // no next IFD
    jpeg.insert(2, reinterpret_cast<const char*>(exif), sizeof exif);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("rotated.jpg"));
    WriteFile(path, jpeg);
    CImage picture;
    ASSERT_TRUE(LoadPicture(path, picture));
    EXPECT_EQ(picture.width(), 2);
    EXPECT_EQ(picture.height(), 4);
}

TEST(PictureCodec, FilesThatOnlyClaimHugeSizesAreRefusedQuickly)
{
    QTemporaryDir dir;
    // A text chunk declaring 2 GB in a file of a few dozen bytes.
    QByteArray bomb = PngHeader(16, 16);
    char len[4];
    qToBigEndian<quint32>(0x7FFFFFF0u, len);
    bomb.append(len, 4).append("tEXt", 4).append("Comment\0xxxxxxxx", 16);
    const QString textPath = dir.filePath(QStringLiteral("text-bomb.png"));
    WriteFile(textPath, bomb);

    // A header claiming 100000 x 100000 pixels.
    const QString hugePath = dir.filePath(QStringLiteral("huge.png"));
    WriteFile(hugePath, PngHeader(100000, 100000) + PngChunk("IDAT", QByteArray(20, '\0')) + PngChunk("IEND", {}));

    // A GIF frame of 11390 x 12595 pixels in 26 bytes.
    const QString gifPath = Corpus("gif/image-gif/crashtest/issue-96-small-codesize-2.gif");

    for (const QString& path : {textPath, hugePath, gifPath}) {
        SCOPED_TRACE(path.toStdString());
        CImage picture;
        QString reason;
        QElapsedTimer timer;
        timer.start();
        EXPECT_FALSE(LoadPicture(path, picture, &reason));
        EXPECT_FALSE(reason.isEmpty());
        EXPECT_LT(timer.elapsed(), 2000);
        EXPECT_TRUE(picture.IsNull());
    }
}

TEST(PictureCodec, EncoderChoiceFollowsTheExtensionIgnoringCase)
{
    ASSERT_NE(EncoderForPath(QStringLiteral("a.jpg")), nullptr);
    EXPECT_EQ(EncoderForPath(QStringLiteral("a.jpg")), EncoderForPath(QStringLiteral("A.JPG")));
    EXPECT_EQ(EncoderForPath(QStringLiteral("a.jpg")), EncoderForPath(QStringLiteral("b.Jpeg")));
    EXPECT_EQ(EncoderForPath(QStringLiteral("x.PNG"))->format, "png");
    EXPECT_EQ(EncoderForPath(QStringLiteral("x.Gif"))->format, "gif");
    EXPECT_EQ(EncoderForPath(QStringLiteral("x.bmp"))->format, "bmp");
    EXPECT_EQ(EncoderForPath(QStringLiteral("/some.dir/name")), nullptr);
    EXPECT_EQ(EncoderForPath(QStringLiteral("x.unknown")), nullptr);
    // The four formats every user needs come first, in this order.
    ASSERT_GE(Encoders().size(), 4u);
    EXPECT_EQ(Encoders()[0].format, "jpeg");
    EXPECT_EQ(Encoders()[1].format, "bmp");
    EXPECT_EQ(Encoders()[2].format, "gif");
    EXPECT_EQ(Encoders()[3].format, "png");
}

TEST(PictureCodec, RoundTripsKeepPixels)
{
    QTemporaryDir dir;
    // JPEG -> BMP: the BMP holds exactly what the JPEG decoded to.
    CImage fromJpeg;
    ASSERT_TRUE(LoadPicture(Corpus("jpeg/libjpeg-turbo/testorig.jpg"), fromJpeg));
    const QString bmp = dir.filePath(QStringLiteral("out.BMP"));
    ASSERT_TRUE(SavePicture(fromJpeg, bmp));
    EXPECT_TRUE(ReadFile(bmp).startsWith("BM"));
    CImage back;
    ASSERT_TRUE(LoadPicture(bmp, back));
    EXPECT_TRUE(SamePixels(back, fromJpeg));

    // PNG -> PNG is lossless.
    const CImage pattern = Pattern(37, 11);
    const QString png = dir.filePath(QStringLiteral("out.png"));
    ASSERT_TRUE(SavePicture(pattern, png));
    ASSERT_TRUE(LoadPicture(png, back));
    EXPECT_TRUE(SamePixels(back, pattern));

    // GIF: a picture of at most 256 colours comes back exactly.
    CImage few = Pattern(16, 16);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) {
            std::uint8_t* p = Pixel(few, x, y);
            p[0] = static_cast<std::uint8_t>(x * 16);
            p[1] = static_cast<std::uint8_t>(y * 16);
            p[2] = static_cast<std::uint8_t>((x ^ y) * 3);
        }
    const QString gif = dir.filePath(QStringLiteral("out.gif"));
    ASSERT_TRUE(SavePicture(few, gif));
    ASSERT_TRUE(LoadPicture(gif, back));
    EXPECT_TRUE(SamePixels(back, few));

    // A richer picture still saves as a readable GIF of the same size.
    const CImage rich = Pattern(300, 200);
    ASSERT_TRUE(SavePicture(rich, gif));
    ASSERT_TRUE(LoadPicture(gif, back));
    EXPECT_EQ(back.width(), 300);
    EXPECT_EQ(back.height(), 200);

    // JPEG writes something that decodes to the same size.
    const QString jpg = dir.filePath(QStringLiteral("out.jpeg"));
    ASSERT_TRUE(SavePicture(rich, jpg));
    ASSERT_TRUE(LoadPicture(jpg, back));
    EXPECT_EQ(back.width(), 300);
}

TEST(PictureCodec, FailedSaveNeverDamagesTheExistingFile)
{
    QTemporaryDir dir;
    const CImage picture = Pattern(8, 8);
    const QByteArray original("precious bytes");

    // No encoder for the extension.
    const QString unknown = dir.filePath(QStringLiteral("keep.xyz"));
    WriteFile(unknown, original);
    QString reason;
    EXPECT_FALSE(SavePicture(picture, unknown, &reason));
    EXPECT_FALSE(reason.isEmpty());
    EXPECT_EQ(ReadFile(unknown), original);

    // The encoder refuses the picture (GIF cannot hold more than 65535 pixels a side).
    CImage wide;
    ASSERT_TRUE(wide.Create(70000, 1, 24));
    const QString gif = dir.filePath(QStringLiteral("keep.gif"));
    WriteFile(gif, original);
    EXPECT_FALSE(SavePicture(wide, gif, &reason));
    EXPECT_EQ(ReadFile(gif), original);

    // Nothing to save.
    EXPECT_FALSE(SavePicture(CImage(), gif, &reason));
    EXPECT_EQ(ReadFile(gif), original);

    // A successful save replaces the file whole and leaves no temporary files behind.
    const QString png = dir.filePath(QStringLiteral("keep.png"));
    WriteFile(png, original);
    ASSERT_TRUE(SavePicture(picture, png));
    CImage back;
    ASSERT_TRUE(LoadPicture(png, back));
    EXPECT_TRUE(SamePixels(back, picture));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), 3);
}

TEST(PictureCodec, BufferViewSharesThePixels)
{
    CImage picture = Pattern(5, 3);
    const QImage view = BufferAsQImage(picture);
    ASSERT_FALSE(view.isNull());
    EXPECT_EQ(view.constBits(), picture.bufferStart());
    // Memory order is bottom-up: the view's first row is the picture's last.
    const QRgb p = view.pixel(1, 0);
    EXPECT_EQ(qBlue(p), Pixel(picture, 1, 2)[0]);
    EXPECT_EQ(qRed(p), Pixel(picture, 1, 2)[2]);
    const QImage upright = PictureToQImage(picture);
    EXPECT_EQ(qGreen(upright.pixel(4, 0)), Pixel(picture, 4, 0)[1]);
}
