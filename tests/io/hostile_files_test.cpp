// Files built to hurt the loader: decompression bombs in every header form, truncated files, kinds
// of file we do not offer, and saves that fail underneath the encoder.
#include "core/parallel.h"
#include "io/picture_codec.h"
#include "io/picture_file.h"
#include "tests/test_pictures.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QProcess>
#include <QElapsedTimer>
#include <QFile>
#include <QImageReader>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <webp/encode.h>

#include <sys/resource.h>

#include <fstream>
#include <string>

using namespace test_pictures;

namespace {

QByteArray LE16(int v)
{
    return QByteArray(1, char(v & 0xFF)) + QByteArray(1, char((v >> 8) & 0xFF));
}

QByteArray LE32(std::int64_t v)
{
    return LE16(int(v & 0xFFFF)) + LE16(int((v >> 16) & 0xFFFF));
}

// A Windows BMP: 14-byte file header, 40-byte info header, `palette` colours, then `body`.
QByteArray Bmp(int width, int height, int bits, int palette, const QByteArray& body, int compression = 0)
{
    const int offset = 54 + 4 * palette;
    QByteArray b = "BM" + LE32(offset + body.size()) + LE32(0) + LE32(offset);
    b += LE32(40) + LE32(width) + LE32(height) + LE16(1) + LE16(bits) + LE32(compression) + LE32(body.size()) +
         LE32(2835) + LE32(2835) + LE32(palette) + LE32(0);
    b += QByteArray(4 * palette, '\x40');
    return b + body;
}

QByteArray GifHeader(int width, int height)
{
    return QByteArray("GIF89a") + LE16(width) + LE16(height) + QByteArray("\xF0\x00\x00", 3) +
           QByteArray("\x00\x00\x00\xFF\xFF\xFF", 6); // two-colour global table
}

QByteArray ReadAll(const std::string& relative)
{
    QFile f(QString::fromStdString(TestDataDir() + "/" + relative));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

struct Outcome
{
    bool ok;
    QString reason;
    qint64 ms;
    long peakGrowthKb;
};

long PeakRssKb()
{
    std::ifstream status("/proc/self/status");
    std::string key;
    while (status >> key) {
        long value = 0;
        if (key == "VmHWM:" && status >> value) return value;
    }
    return 0;
}

// Loads the bytes and reports the time taken and how far the peak resident size rose.
Outcome Load(const QByteArray& bytes, CImage& picture)
{
    std::ofstream("/proc/self/clear_refs") << "5"; // restart the peak from the current size
    const long before = PeakRssKb();
    QElapsedTimer timer;
    timer.start();
    QString reason;
    const bool ok = LoadPictureFromMemory(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                                          static_cast<std::size_t>(bytes.size()), picture, &reason);
    return {ok, reason, timer.elapsed(), PeakRssKb() - before};
}

void ExpectQuickRefusal(const QByteArray& bytes, const char* reasonPart)
{
    CImage picture;
    const Outcome out = Load(bytes, picture);
    EXPECT_FALSE(out.ok);
    EXPECT_TRUE(out.reason.contains(QLatin1String(reasonPart))) << out.reason.toStdString();
    EXPECT_LT(out.ms, 100);
    EXPECT_LT(out.peakGrowthKb, 100 * 1024);
    EXPECT_TRUE(picture.IsNull());
}

QByteArray LE24(int v)
{
    return LE16(v & 0xFFFF) + QByteArray(1, char((v >> 16) & 0xFF));
}

QByteArray RiffChunk(const char* type, const QByteArray& payload)
{
    return QByteArray(type, 4) + LE32(payload.size()) + payload + (payload.size() % 2 ? QByteArray(1, '\0') : QByteArray());
}

// An animated WebP whose canvas and single frame claim the given sizes; the frame's picture data is
// one real lossless pixel.
QByteArray AnimatedWebp(int canvasWidth, int canvasHeight, int frameWidth, int frameHeight)
{
    const std::uint8_t pixel[4] = {10, 20, 30, 255};
    std::uint8_t* encoded = nullptr;
    const std::size_t size = WebPEncodeLosslessBGRA(pixel, 1, 1, 4, &encoded);
    const QByteArray still(reinterpret_cast<const char*>(encoded), qsizetype(size));
    WebPFree(encoded);
    const QByteArray vp8x = QByteArray(1, '\x12') + QByteArray(3, '\0') + LE24(canvasWidth - 1) + LE24(canvasHeight - 1);
    const QByteArray anim = LE32(0) + LE16(0);
    const QByteArray anmf = LE24(0) + LE24(0) + LE24(frameWidth - 1) + LE24(frameHeight - 1) + LE24(100) +
                            QByteArray(1, '\0') + still.mid(12);
    const QByteArray body = "WEBP" + RiffChunk("VP8X", vp8x) + RiffChunk("ANIM", anim) + RiffChunk("ANMF", anmf);
    return "RIFF" + LE32(body.size()) + body;
}

// A little-endian TIFF of 8-bit grey whose `pixels` make up its one strip, or its one tile of
// `tileSide` x `tileSide` when that is given.
QByteArray GreyTiff(std::int64_t width, std::int64_t height, const QByteArray& pixels, std::int64_t tileSide = 0)
{
    struct Entry
    {
        int tag, type;
        std::int64_t value;
    };
    std::vector<Entry> entries = {{256, 4, width}, {257, 4, height}, {258, 3, 8}, {259, 3, 1}, {262, 3, 1}};
    const std::int64_t data = 8 + 2 + 12 * (qsizetype(entries.size()) + (tileSide ? 5 : 4)) + 4;
    if (tileSide)
        entries.insert(entries.end(), {{277, 3, 1}, {322, 4, tileSide}, {323, 4, tileSide}, {324, 4, data}, {325, 4, pixels.size()}});
    else
        entries.insert(entries.end(), {{273, 4, data}, {277, 3, 1}, {278, 4, height}, {279, 4, pixels.size()}});
    QByteArray tiff = QByteArray("II*\0", 4) + LE32(8) + LE16(int(entries.size()));
    for (const Entry& e : entries)
        tiff += LE16(e.tag) + LE16(e.type) + LE32(1) + (e.type == 3 ? LE16(int(e.value)) + LE16(0) : LE32(e.value));
    return tiff + LE32(0) + pixels;
}

} // namespace

TEST(HostileFiles, WebpAndTiffBombsAreRefusedBeforeAnyCanvasExists)
{
    // The general reader made (and, with alpha, filled) an animation's canvas before its size could
    // be judged: 4 GB for the 32767 x 32767 one.
    for (const int side : {8192, 16384}) {
        SCOPED_TRACE(side);
        ExpectQuickRefusal(AnimatedWebp(side, side, 1, 1), "the file is too small for the");
    }
    const QByteArray bomb = AnimatedWebp(32767, 32767, 1, 1);
    EXPECT_LE(bomb.size(), 100);
    ExpectQuickRefusal(bomb, "the picture is too large (32767 x 32767 pixels)");
    ExpectQuickRefusal(AnimatedWebp(16, 16, 16384, 16384), "the file is too small for the 16384 x 16384 pixels it claims");
    {
        CImage picture;
        QString reason;
        const QByteArray small = AnimatedWebp(3, 2, 1, 1);
        ASSERT_TRUE(LoadPictureFromMemory(reinterpret_cast<const std::uint8_t*>(small.constData()), std::size_t(small.size()), picture, &reason))
            << reason.toStdString();
        EXPECT_EQ(picture.width(), 3);
        EXPECT_EQ(Pixel(picture, 0, 0)[0], 10);
        EXPECT_EQ(Pixel(picture, 2, 1)[0], 255);
    }
    ExpectQuickRefusal(GreyTiff(16384, 16384, QByteArray(64, '\x40')), "the file is too small for the 16384 x 16384 pixels it claims");
    ExpectQuickRefusal(GreyTiff(100000, 100000, QByteArray(64, '\x40')), "the picture is too large");
    ExpectQuickRefusal(GreyTiff(32, 32, QByteArray(64, '\x40'), 16384), "the file is too small for the 16384 x 16384 pixels it claims");
    ExpectQuickRefusal(GreyTiff(64, 64, QByteArray(64, '\x40')), "truncated");
}

TEST(HostileFiles, BombsInEveryHeaderFormAreRefusedAtOnce)
{
    const char* tooSmall = "the file is too small for the";
    {
        SCOPED_TRACE("top-down 24-bit BMP, 16384 x 16384 in 118 bytes");
        const QByteArray bmp = Bmp(16384, -16384, 24, 0, QByteArray(64, '\x7F'));
        ASSERT_EQ(bmp.size(), 118);
        ExpectQuickRefusal(bmp, "the file is too small for the 16384 x 16384 pixels it claims");
    }
    {
        SCOPED_TRACE("top-down 16-bit BMP");
        ExpectQuickRefusal(Bmp(16384, -16384, 16, 0, QByteArray(76, '\x11')), tooSmall);
    }
    {
        SCOPED_TRACE("top-down 8-bit palette BMP, 95 M pixels");
        ExpectQuickRefusal(Bmp(9747, -9747, 8, 2, QByteArray(64, '\x01')), tooSmall);
    }
    {
        SCOPED_TRACE("8-bit RLE BMP whose runs end at once");
        ExpectQuickRefusal(Bmp(9747, 9747, 8, 2, QByteArray("\x00\x01", 2), 1), tooSmall);
    }
    {
        SCOPED_TRACE("the same BMP bottom-up");
        ExpectQuickRefusal(Bmp(16384, 16384, 24, 0, QByteArray(64, '\x7F')), tooSmall);
    }
    {
        SCOPED_TRACE("GIF whose 16384 x 16384 screen holds no image, 35 bytes");
        QByteArray gif = GifHeader(16384, 16384) + QByteArray("\x21\xFE\x0B", 3) + QByteArray(11, 'x') +
                         QByteArray("\x00\x3B", 2);
        gif.insert(gif.size() - 2, QByteArray());
        ASSERT_EQ(gif.size(), 35);
        ExpectQuickRefusal(gif, "the file is too small for the 16384 x 16384 pixels it claims");
    }
    {
        SCOPED_TRACE("GIF with a small screen and a huge frame");
        const QByteArray gif = GifHeader(10, 10) + "\x2C" + LE16(0) + LE16(0) + LE16(20000) + LE16(20000) +
                               QByteArray("\x00\x02\x02\x44\x01\x00\x3B", 7);
        ExpectQuickRefusal(gif, tooSmall);
    }
    {
        SCOPED_TRACE("progressive JPEG of 37 KB whose frame claims 16384 x 16384");
        QByteArray jpeg = ReadAll("jpeg/jpeg-decoder/crashtest/subtract-with-overflow.jpg");
        const qsizetype frame = jpeg.indexOf("\xFF\xC2");
        ASSERT_GT(frame, 0);
        jpeg.replace(frame + 5, 4, QByteArray("\x40\x00\x40\x00", 4));
        ExpectQuickRefusal(jpeg, "the file is too small for the 16384 x 16384 pixels it claims");
        ExpectQuickRefusal(jpeg.left(27000), "the file is too small for the 16384 x 16384 pixels it claims");
    }
    {
        SCOPED_TRACE("a small screen-only GIF still opens white");
        CImage picture;
        const Outcome out = Load(GifHeader(300, 200) + "\x3B", picture);
        ASSERT_TRUE(out.ok) << out.reason.toStdString();
        EXPECT_EQ(picture.width(), 300);
        EXPECT_EQ(Pixel(picture, 299, 199)[1], 255);
    }
}

TEST(HostileFiles, TruncatedFilesAreRefusedWithAReason)
{
    for (const char* name : {"jpeg/libjpeg-turbo/testorig.jpg", "jpeg/jpeg-decoder/mozilla/jpg-progressive.jpg",
                             "bmp/bmpsuite/g/rgb24.bmp", "bmp/bmpsuite/g/pal8rle.bmp", "bmp/bmpsuite/g/pal4rle.bmp",
                             "bmp/bmpsuite/g/pal8topdown.bmp", "gif/go-image/video-001.gif",
                             "gif/image-gif/samples/interlaced.gif"}) {
        SCOPED_TRACE(name);
        const QByteArray whole = ReadAll(name);
        ASSERT_GT(whole.size(), 100);
        CImage picture;
        ASSERT_TRUE(Load(whole, picture).ok);
        for (const qsizetype cut : {whole.size() / 2, whole.size() - 4}) {
            CImage cutPicture;
            const Outcome out = Load(whole.left(cut), cutPicture);
            EXPECT_FALSE(out.ok) << "cut at " << cut;
            EXPECT_TRUE(out.reason.contains(QLatin1String("truncated"))) << out.reason.toStdString();
            EXPECT_TRUE(cutPicture.IsNull());
        }
    }
    // A baseline JPEG cut short with its end marker put back: the data still ends early.
    const QByteArray jpeg = ReadAll("jpeg/libjpeg-turbo/testorig.jpg");
    CImage picture;
    const Outcome out = Load(jpeg.left(jpeg.size() / 2) + QByteArray("\xFF\xD9", 2), picture);
    EXPECT_FALSE(out.ok);
    EXPECT_TRUE(out.reason.contains(QLatin1String("truncated"))) << out.reason.toStdString();
}

TEST(HostileFiles, OnlyTheOfferedFormatsAreDecodedWhateverTheName)
{
    const QByteArray others[] = {
        QByteArray("P6\n2 2\n255\n") + QByteArray(12, '\x80'),                                   // PPM
        QByteArray("/* XPM */\nstatic char* x[] = {\"1 1 1 1\", \"a c #FF0000\", \"a\"};\n"),    // XPM
        QByteArray("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"4\" height=\"4\"/>"),        // SVG
    };
    QTemporaryDir dir;
    for (const QByteArray& bytes : others) {
        // Under a picture extension too: the content decides, and it is not ours.
        const QString path = dir.filePath(QStringLiteral("disguised.png"));
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        f.close();
        CImage picture;
        QString reason;
        EXPECT_FALSE(LoadPicture(path, picture, &reason)) << bytes.left(10).toStdString();
        EXPECT_TRUE(reason.contains(QLatin1String("not a JPEG, PNG, BMP, GIF, TIFF or WebP"))) << reason.toStdString();
    }
    // TIFF and WebP are offered, so their decoders run, and refuse what holds no picture.
    for (const QByteArray& bytes : {QByteArray("II*\0\x08\0\0\0", 8) + QByteArray(32, '\0'),
                                    QByteArray("RIFF\x20\0\0\0WEBPVP8 ", 16) + QByteArray(20, '\0')}) {
        const QString path = dir.filePath(QStringLiteral("broken.png"));
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        f.close();
        CImage picture;
        EXPECT_FALSE(LoadPicture(path, picture)) << bytes.left(4).toStdString();
    }
    // A PNG under a .jpg name is still a PNG.
    CImage picture;
    EXPECT_TRUE(LoadPicture(QString::fromStdString(TestDataDir() + "/jpeg/jpeg-decoder/mozilla/jpg-size-6x6.jpg"), picture));
}

TEST(HostileFiles, EveryExifOrientationMatchesTheGeneralReader)
{
    // JPEG files are decoded by libjpeg directly and turned here; Qt's reader is the reference.
    QImage source(5, 3, QImage::Format_RGB32);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x) source.setPixel(x, y, qRgb(x * 60, y * 120, (x * y * 40) & 0xFF));
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    ASSERT_TRUE(source.save(&buffer, "JPEG", 100));
    for (int orientation = 1; orientation <= 8; ++orientation) {
        SCOPED_TRACE(orientation);
        QByteArray exif("\xFF\xE1\x00\x22" "Exif\0\0" "MM\x00\x2A\x00\x00\x00\x08" "\x00\x01"
                        "\x01\x12\x00\x03\x00\x00\x00\x01\x00\x00\x00\x00" "\x00\x00\x00\x00", 36);
        exif[29] = char(orientation);
        QByteArray file = jpeg;
        file.insert(2, exif);
        QBuffer in(&file);
        QImageReader reader(&in, "jpeg");
        reader.setAutoTransform(true);
        const QImage reference = reader.read().convertToFormat(QImage::Format_RGB32);
        CImage picture;
        ASSERT_TRUE(Load(file, picture).ok);
        ASSERT_EQ(picture.width(), reference.width());
        ASSERT_EQ(picture.height(), reference.height());
        for (int y = 0; y < picture.height(); ++y)
            for (int x = 0; x < picture.width(); ++x) {
                const QRgb p = reference.pixel(x, y);
                ASSERT_EQ(Pixel(picture, x, y)[0], qBlue(p)) << x << "," << y;
                ASSERT_EQ(Pixel(picture, x, y)[2], qRed(p)) << x << "," << y;
            }
    }
}

TEST(HostileFiles, SavesSayWhyTheyFail)
{
    const CImage picture = Pattern(64, 48);
    // A full disk: every encoder reports the device's reason, not "Unknown error".
    for (const char* format : {"jpeg", "png", "bmp", "gif"}) {
        SCOPED_TRACE(format);
        QFile full(QStringLiteral("/dev/full"));
        ASSERT_TRUE(full.open(QIODevice::WriteOnly));
        QString reason;
        EXPECT_FALSE(EncodePicture(Pattern(600, 400), format, full, &reason));
        EXPECT_EQ(reason, QStringLiteral("No space left on device"));
    }
    // libpng's row limit is named.
    CImage tall;
    ASSERT_TRUE(tall.Create(1, 1000001, 24));
    QBuffer sink;
    sink.open(QIODevice::WriteOnly);
    QString reason;
    EXPECT_FALSE(EncodePicture(tall, "png", sink, &reason));
    EXPECT_TRUE(reason.contains(QLatin1String("1000000"))) << reason.toStdString();

    // The BMP written straight from the picture is one the general reader reads the same.
    QBuffer bmp;
    bmp.open(QIODevice::WriteOnly);
    const CImage odd = Pattern(37, 5);
    ASSERT_TRUE(EncodePicture(odd, "bmp", bmp, &reason));
    const QImage back = QImage::fromData(bmp.data(), "BMP").convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(back.width(), 37);
    ASSERT_EQ(back.height(), 5);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 37; ++x) {
            ASSERT_EQ(qBlue(back.pixel(x, y)), Pixel(odd, x, y)[0]);
            ASSERT_EQ(qRed(back.pixel(x, y)), Pixel(odd, x, y)[2]);
        }
    EXPECT_EQ(bmp.data().size(), 54 + 112 * 5);
}

// Saving under a memory cap runs in a fresh process (this test program again, with one child test
// selected): a forked copy of a process that already has helper threads would wait forever for
// threads it does not have.
bool RunCappedChild(const QString& scenario)
{
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("ORVEX_CAPPED_SAVE"), scenario);
    env.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("allocator_may_return_null=1:detect_leaks=0"));
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--gtest_filter=CappedSave.Child")});
    if (!child.waitForFinished(120000)) {
        child.kill();
        child.waitForFinished();
        return false;
    }
    return child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0;
}

TEST(HostileFiles, SavesUnderMemoryPressure)
{
    QTemporaryDir dir;
    // Room for the picture but not for the GIF writer's tables: the save fails with a reason
    // instead of ending the process.
    EXPECT_TRUE(RunCappedChild(QStringLiteral("gif")));
    // A BMP needs no copy of the picture: it is written whole, never as an empty file reported as
    // a success.
    const QString path = dir.filePath(QStringLiteral("pressed.bmp"));
    EXPECT_TRUE(RunCappedChild(path));
    EXPECT_EQ(QFile(path).size(), 54 + 6000 * 1500);
}

// The child's half: only does something when started by RunCappedChild.
TEST(CappedSave, Child)
{
    const QByteArray scenario = qgetenv("ORVEX_CAPPED_SAVE");
    if (scenario.isEmpty()) GTEST_SKIP() << "runs only as the child of SavesUnderMemoryPressure";
    ParallelFor(0, 2, [](int, int) {}); // helper threads exist before the cap
    const CImage picture = Noise(2000, 1500, 7);
    std::ifstream status("/proc/self/status");
    std::string key;
    long vmKb = 0;
    while (status >> key)
        if (key == "VmSize:" && status >> vmKb) break;
    const rlim_t limit = rlim_t(vmKb) * 1024 + 4 * 1024 * 1024;
    const rlimit cap{limit, limit};
    ASSERT_EQ(setrlimit(RLIMIT_AS, &cap), 0);
    QString reason;
    if (scenario == "gif") {
        QBuffer sink;
        sink.open(QIODevice::WriteOnly);
        EXPECT_FALSE(EncodePicture(picture, "gif", sink, &reason));
        EXPECT_EQ(reason, QStringLiteral("not enough memory"));
    } else {
        EXPECT_TRUE(SavePicture(picture, QString::fromLocal8Bit(scenario), &reason)) << reason.toStdString();
    }
}
