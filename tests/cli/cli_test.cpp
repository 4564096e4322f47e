#include "cli/cli.h"
#include "core/image_processor.h"
#include "filters/colour/curves.h"
#include "filters/convolution/fft_plans.h"
#include "io/picture_codec.h"
#include "io/picture_file.h"
#include "io/picture_save.h"
#include "tests/test_pictures.h"

#include <QFile>
#include <QTemporaryDir>

#include <tiffio.h>
#include <webp/decode.h>

#include <gtest/gtest.h>

#include <sstream>

using namespace test_pictures;

namespace {

struct CliRun
{
    int code;
    std::string out, err;
};

CliRun Cli(std::vector<std::string> args)
{
    std::ostringstream out, err;
    const int code = RunCli(args, out, err, false);
    return {code, out.str(), err.str()};
}

class CliTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        input = dir.filePath(QStringLiteral("in.png")).toStdString();
        ASSERT_TRUE(SavePicture(Pattern(9, 5), QString::fromStdString(input)));
    }
    std::string Out(const char* name) const { return dir.filePath(QString::fromLatin1(name)).toStdString(); }

    QTemporaryDir dir;
    std::string input;
};

// A 2 x 2 grey TIFF whose directory ends with a private tag libtiff does not know, which it warns
// about while reading the picture normally.
QByteArray TiffWithUnknownTag()
{
    const auto le = [](std::uint32_t v, int bytes) {
        QByteArray b;
        for (int i = 0; i < bytes; ++i) b += char((v >> (8 * i)) & 0xFF);
        return b;
    };
    const std::uint32_t tags[][3] = {{256, 3, 2}, {257, 3, 2}, {258, 3, 8}, {259, 3, 1}, {262, 3, 1},
                                     {273, 4, 8 + 2 + 10 * 12 + 4}, {277, 3, 1}, {278, 3, 2}, {279, 4, 4}, {65000, 3, 7}};
    QByteArray tiff = QByteArray("II*\0", 4) + le(8, 4) + le(10, 2);
    for (const auto& t : tags) tiff += le(t[0], 2) + le(t[1], 2) + le(1, 4) + le(t[2], 4);
    return tiff + le(0, 4) + QByteArray("\x10\x50\x90\xD0", 4);
}

} // namespace

TEST_F(CliTest, LibraryWarningsAreTheToolsOwnAndQuietHidesThem)
{
    const std::string tiff = Out("tagged.tif");
    QFile file(QString::fromStdString(tiff));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(TiffWithUnknownTag());
    file.close();

    CliRun r = Cli({tiff, Out("a.png")});
    ASSERT_EQ(r.code, kExitOk) << r.err;
    EXPECT_EQ(r.err.rfind("orvex-cli: warning: ", 0), 0u) << r.err;
    EXPECT_NE(r.err.find("Unknown field with tag 65000"), std::string::npos) << r.err;
    CImage picture;
    ASSERT_TRUE(LoadPicture(QString::fromStdString(Out("a.png")), picture));
    EXPECT_EQ(Pixel(picture, 1, 1)[0], 0xD0);

    r = Cli({"--quiet", tiff, Out("b.png")});
    ASSERT_EQ(r.code, kExitOk);
    EXPECT_EQ(r.err, "");
    // The run's error stream is gone once it returns: a later warning must not go looking for it.
    qWarning("a warning after the run");
}

TEST_F(CliTest, ConvertsAndAppliesOperationsInOrder)
{
    const std::string bmp = Out("out.bmp");
    CliRun r = Cli({input, bmp});
    ASSERT_EQ(r.code, kExitOk) << r.err;
    CImage picture;
    ASSERT_TRUE(LoadPicture(QString::fromStdString(bmp), picture));
    EXPECT_TRUE(SamePixels(picture, Pattern(9, 5)));

    // Names match ignoring case; Invert twice is the identity, once is not.
    const std::string once = Out("once.png"), twice = Out("twice.png");
    ASSERT_EQ(Cli({"--quiet", input, once, "invert"}).code, kExitOk);
    ASSERT_EQ(Cli({"--seed", "42", input, twice, "Invert", "INVERT"}).code, kExitOk);
    ASSERT_TRUE(LoadPicture(QString::fromStdString(twice), picture));
    EXPECT_TRUE(SamePixels(picture, Pattern(9, 5)));
    ASSERT_TRUE(LoadPicture(QString::fromStdString(once), picture));
    EXPECT_EQ(Pixel(picture, 2, 3)[1], 255 - Pixel(Pattern(9, 5), 2, 3)[1]);

    // Arguments left out at the end take their defaults (gaussian is 1 unless given).
    const std::string shortForm = Out("short.png"), fullForm = Out("full.png");
    ASSERT_EQ(Cli({input, shortForm, "GaussianBlur=2"}).code, kExitOk);
    ASSERT_EQ(Cli({input, fullForm, "GaussianBlur=2,1"}).code, kExitOk);
    CImage full;
    ASSERT_TRUE(LoadPicture(QString::fromStdString(shortForm), picture));
    ASSERT_TRUE(LoadPicture(QString::fromStdString(fullForm), full));
    EXPECT_TRUE(SamePixels(picture, full));
    EXPECT_NE(Cli({input, Out("gap.png"), "GaussianBlur=,1"}).err.find("missing value for radius"), std::string::npos);

    // A curve given as far as its points go; the points left out are unused.
    const std::string curved = Out("curved.png");
    ASSERT_EQ(Cli({input, curved, "Curves=a,0,0,64,40,192,220,255,255"}).code, kExitOk);
    ASSERT_TRUE(LoadPicture(QString::fromStdString(curved), picture));
    CImage expected = Pattern(9, 5);
    CImageProcessor engine(&expected);
    Curves(engine, 'a', {{0, 0}, {64, 40}, {192, 220}, {255, 255}});
    EXPECT_TRUE(SamePixels(picture, expected));
    EXPECT_NE(Cli({input, Out("bad.png"), "Levels=a,0,256"}).err.find("out of range 1..255"), std::string::npos);
}

TEST_F(CliTest, NewStartsFromABlankPictureInsteadOfAnInput)
{
    const std::string grey = Out("grey.png"), inverted = Out("inverted.bmp");
    CliRun r = Cli({"--new", "5,3,grey", grey});
    ASSERT_EQ(r.code, kExitOk) << r.err;
    r = Cli({"--new", "5,3", inverted, "Invert"});
    ASSERT_EQ(r.code, kExitOk) << r.err;
    CImage picture;
    ASSERT_TRUE(LoadPicture(QString::fromStdString(grey), picture));
    ASSERT_EQ(picture.width(), 5);
    ASSERT_EQ(picture.height(), 3);
    EXPECT_EQ(Pixel(picture, 4, 2)[0], 100);
    ASSERT_TRUE(LoadPicture(QString::fromStdString(inverted), picture));
    EXPECT_EQ(Pixel(picture, 0, 0)[2], 0);

    for (const char* bad : {"0,3", "5", "5,3,pink", "5,3,white,1", "32768,32768", "5,x"}) {
        r = Cli({"--new", bad, Out("never.png")});
        EXPECT_EQ(r.code, kExitUsage) << bad;
        EXPECT_NE(r.err.find("invalid new picture"), std::string::npos) << r.err;
    }
    EXPECT_FALSE(QFile::exists(QString::fromStdString(Out("never.png"))));
}

TEST_F(CliTest, UsageErrorsNameTheProblemAndWriteNothing)
{
    const std::string out = Out("never.png");
    const struct
    {
        std::vector<std::string> args;
        const char* says;
    } cases[] = {
        {{}, "missing INPUT"},
        {{input}, "missing OUTPUT"},
        {{input, out, "Blurr"}, "unknown operation 'Blurr'"},
        {{input, out, "Invert=3"}, "Invert takes 0 argument(s), 1 given"},
        {{"--seed", input, out}, "invalid seed"},
        {{"--seed"}, "--seed needs a number"},
        {{"--frobnicate", input, out}, "unknown option"},
        {{"--quality", "0", input, out}, "invalid quality '0'"},
        {{"--quality", "101", input, out}, "invalid quality '101'"},
        {{"--quality", "9x", input, out}, "invalid quality '9x'"},
        {{"--quality"}, "--quality needs a number"},
        {{"--png-level", "10", input, out}, "invalid PNG level '10'"},
        {{"--png-level", "-1", input, out}, "invalid PNG level '-1'"},
        {{"--png-level", "six", input, out}, "invalid PNG level 'six'"},
        {{"--png-level"}, "--png-level needs a number"},
        {{"--webp-quality", "0", input, out}, "invalid WebP quality '0'"},
        {{"--webp-quality", "101", input, out}, "invalid WebP quality '101'"},
        {{"--webp-quality"}, "--webp-quality needs a number"},
        {{"--webp-lossless", "--webp-quality", "50", input, out},
         "--webp-lossless and --webp-quality exclude each other"},
        {{"--webp-quality", "50", "--webp-lossless", input, out},
         "--webp-lossless and --webp-quality exclude each other"},
        {{"--tiff-compression", "zip", input, out}, "invalid TIFF compression 'zip': expected none, lzw or deflate"},
        {{"--tiff-compression", "LZW", input, out}, "invalid TIFF compression 'LZW'"},
        {{"--tiff-compression"}, "--tiff-compression needs none, lzw or deflate"},
        {{"--chroma", "411", input, out}, "invalid chroma subsampling '411'"},
        {{"--chroma"}, "--chroma needs 444, 422 or 420"},
        {{"--crop"}, "--crop needs X,Y,W,H"},
        {{"--crop", "1,2,3", input, out}, "invalid crop '1,2,3'"},
        {{"--crop", "1,2,3,4,5", input, out}, "invalid crop '1,2,3,4,5'"},
        {{"--crop", "1,2,3,4,", input, out}, "invalid crop '1,2,3,4,'"},
        {{"--crop", "1,2,0,4", input, out}, "invalid crop '1,2,0,4'"},
        {{"--crop", "1,,3,4", input, out}, "invalid crop '1,,3,4'"},
        {{"--crop", "1,2,3x,4", input, out}, "invalid crop '1,2,3x,4'"},
        {{"--crop", "1,2,3,99999999999", input, out}, "invalid crop '1,2,3,99999999999'"},
    };
    for (const auto& c : cases) {
        const CliRun r = Cli(c.args);
        EXPECT_EQ(r.code, kExitUsage) << c.says;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    }
    EXPECT_FALSE(QFile::exists(QString::fromStdString(out)));
}

TEST_F(CliTest, LoadAndSaveFailuresHaveTheirOwnCodes)
{
    CliRun r = Cli({"/no/such/picture.jpg", Out("x.png")});
    EXPECT_EQ(r.code, kExitLoad);
    EXPECT_NE(r.err.find("Load failed: /no/such/picture.jpg: "), std::string::npos) << r.err;

    const std::string corrupt = TestDataDir() + "/png/go-image/invalid-crc32.png";
    r = Cli({corrupt, Out("y.png")});
    EXPECT_EQ(r.code, kExitLoad);
    EXPECT_FALSE(QFile::exists(QString::fromStdString(Out("y.png"))));

    const std::string unknown = Out("out.unknownext");
    r = Cli({input, unknown, "Invert"});
    EXPECT_EQ(r.code, kExitSave);
    // "Can not save" (two words) is the program's own message, which scripts match: keep it.
    EXPECT_NE(r.err.find("Can not save " + unknown), std::string::npos) << r.err;
    EXPECT_FALSE(QFile::exists(QString::fromStdString(unknown)));
}

TEST_F(CliTest, OperationThatCannotCompleteFailsWithoutWriting)
{
    const std::string out = Out("blurred.png");
    orvex_testing::FailFftPlanning(true);
    const CliRun r = Cli({input, out, "GaussianBlur=10,1"});
    orvex_testing::FailFftPlanning(false);
    EXPECT_EQ(r.code, kExitOperation);
    EXPECT_NE(r.err.find("GaussianBlur: "), std::string::npos) << r.err;
    EXPECT_FALSE(QFile::exists(QString::fromStdString(out)));
    EXPECT_EQ(Cli({input, out, "GaussianBlur=10,1"}).code, kExitOk);
}

TEST_F(CliTest, ResultTheOutputFormatCannotHoldIsRefusedBeforeAnyWork)
{
    // Long thin inputs, cheap to write and read, that only some formats can hold. The blur is made
    // to fail: a refusal that comes after the operations would report the blur instead.
    CImage tall, wide;
    ASSERT_TRUE(tall.Create(1, 1000001, 24));
    ASSERT_TRUE(wide.Create(70000, 1, 24));
    const std::string tallBmp = Out("tall.bmp"), wideBmp = Out("wide.bmp");
    ASSERT_TRUE(SavePicture(tall, QString::fromStdString(tallBmp)));
    ASSERT_TRUE(SavePicture(wide, QString::fromStdString(wideBmp)));
    tall.Destroy();
    wide.Destroy();

    const struct
    {
        std::string input;
        const char* output;
        std::vector<std::string> plan;
        const char* says;
    } cases[] = {
        {tallBmp, "tall.png", {"GaussianBlur=10,1"}, "PNG files are limited to 1000000 pixels a side (this picture is 1 x 1000001)"},
        {tallBmp, "turned.png", {"Rotate90CW", "GaussianBlur=10,1"}, "PNG files are limited to 1000000 pixels a side (this picture is 1000001 x 1)"},
        {wideBmp, "wide.jpg", {"GaussianBlur=10,1", "Rotate90CCW"}, "JPEG files are limited to 65500 pixels a side (this picture is 1 x 70000)"},
        {wideBmp, "wide.gif", {"GaussianBlur=10,1"}, "GIF files are limited to 65535 pixels a side (this picture is 70000 x 1)"},
        {input, "small.unknownext", {"GaussianBlur=10,1"}, "no picture format is known for this file name's extension"},
    };
    orvex_testing::FailFftPlanning(true);
    for (const auto& c : cases) {
        std::vector<std::string> args = {"--quiet", c.input, Out(c.output)};
        args.insert(args.end(), c.plan.begin(), c.plan.end());
        const CliRun r = Cli(args);
        EXPECT_EQ(r.code, kExitSave) << c.output << ": " << r.err;
        EXPECT_NE(r.err.find("Can not save " + Out(c.output) + ": " + c.says), std::string::npos) << r.err;
        EXPECT_FALSE(QFile::exists(QString::fromStdString(Out(c.output))));
    }
    orvex_testing::FailFftPlanning(false);

    // The operations' result, not the input, is what must fit.
    const std::string small = Out("small.jpg");
    ASSERT_EQ(Cli({"--quiet", wideBmp, small, "CanvasSize=30000,2,w", "Rotate90CW"}).code, kExitOk);
    CImage back;
    ASSERT_TRUE(LoadPicture(QString::fromStdString(small), back));
    EXPECT_EQ(back.width(), 2);
    EXPECT_EQ(back.height(), 30000);
}

TEST_F(CliTest, CropComesBeforeTheOperationsAndMustMeetThePicture)
{
    const CImage pattern = Pattern(9, 5);
    const std::string out = Out("cropped.png");
    CliRun r = Cli({"--crop", "2,1,4,3", input, out, "Invert"});
    ASSERT_EQ(r.code, kExitOk) << r.err;
    CImage picture;
    ASSERT_TRUE(LoadPicture(QString::fromStdString(out), picture));
    ASSERT_EQ(picture.width(), 4);
    ASSERT_EQ(picture.height(), 3);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x)
            for (int c = 0; c < 3; ++c) EXPECT_EQ(Pixel(picture, x, y)[c], 255 - Pixel(pattern, x + 2, y + 1)[c]);

    // Clamped to the picture, as the operation is.
    ASSERT_EQ(Cli({"--crop", "-3,3,100,100", input, out}).code, kExitOk);
    ASSERT_TRUE(LoadPicture(QString::fromStdString(out), picture));
    EXPECT_EQ(picture.width(), 9);
    EXPECT_EQ(picture.height(), 2);
    EXPECT_EQ(Pixel(picture, 0, 0)[0], Pixel(pattern, 0, 3)[0]);

    const std::string never = Out("never.png");
    r = Cli({"--crop", "9,0,4,4", input, never, "Invert"});
    EXPECT_EQ(r.code, kExitOperation);
    EXPECT_NE(r.err.find("--crop 9,0,4,4 lies outside " + input + " (9 x 5 pixels)"), std::string::npos) << r.err;
    EXPECT_FALSE(QFile::exists(QString::fromStdString(never)));
}

TEST_F(CliTest, InformationalCommands)
{
    CliRun r = Cli({"--list"});
    EXPECT_EQ(r.code, kExitOk);
    EXPECT_NE(r.out.find("Invert"), std::string::npos);
    // Each parameter with its range and the default a left-out argument takes.
    EXPECT_NE(r.out.find("GaussianBlur radius:float[0..250]=10 gaussian:flag=1"), std::string::npos) << r.out;
    r = Cli({"--help"});
    EXPECT_EQ(r.code, kExitOk);
    EXPECT_NE(r.out.find(
                  "orvex-cli [--crop X,Y,W,H] [--seed N] [--quality N] [--chroma S] [--png-level N] [--webp-lossless]\n"
                  "                 [--webp-quality N] [--tiff-compression C] [--strip] [--quiet] INPUT OUTPUT "
                  "[OPERATION ...]"),
              std::string::npos);
    for (const char* option : {"  --png-level N", "  --webp-lossless", "  --webp-quality N", "  --tiff-compression C"})
        EXPECT_NE(r.out.find(option), std::string::npos) << option;
    EXPECT_NE(r.out.find("  --crop X,Y,W,H  keep only the rectangle"), std::string::npos);
    r = Cli({"--version"});
    EXPECT_EQ(r.code, kExitOk);
    EXPECT_EQ(r.out.rfind("orvex-cli ", 0), 0u);
}

TEST_F(CliTest, QualityAndStripReachTheSavedFile)
{
    // A photo-sized smooth picture with a tag, through PNG so that it carries EXIF.
    const std::string tagged = Out("tagged.jpg");
    ASSERT_EQ(Cli({input, tagged}).code, kExitOk);
    QFile file(QString::fromStdString(tagged));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    QByteArray bytes = file.readAll();
    file.close();
    // An APP1 EXIF segment naming a camera, spliced in after SOI.
    const QByteArray tiff = QByteArray("II*\0\x08\0\0\0\x01\0\x0f\x01\x02\0\x05\0\0\0\x1a\0\0\0\0\0\0\0Cam1\0", 31);
    QByteArray app1 = QByteArray("\xff\xe1", 2);
    const int length = 2 + 6 + int(tiff.size());
    app1.append(char(length >> 8)).append(char(length & 0xff)).append(QByteArray("Exif\0\0", 6)).append(tiff);
    bytes.insert(2, app1);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
    file.close();

    const std::string kept = Out("kept.jpg"), stripped = Out("stripped.jpg"), low = Out("low.jpg");
    ASSERT_EQ(Cli({tagged, kept}).code, kExitOk);
    ASSERT_EQ(Cli({"--strip", tagged, stripped}).code, kExitOk);
    ASSERT_EQ(Cli({"--quality", "10", tagged, low}).code, kExitOk);
    const auto read = [](const std::string& path) {
        QFile f(QString::fromStdString(path));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    };
    EXPECT_TRUE(read(kept).contains("Cam1"));
    EXPECT_FALSE(read(stripped).contains("Cam1"));
    EXPECT_FALSE(read(stripped).contains("Exif"));
    EXPECT_LT(read(low).size(), read(kept).size());

    // The input's 4:4:4 is kept at the default quality unless another sampling is asked for.
    const std::string quarter = Out("quarter.jpg");
    ASSERT_EQ(Cli({"--chroma", "420", tagged, quarter}).code, kExitOk);
    EXPECT_EQ(JpegFileSubsampling(QString::fromStdString(kept)), JpegFileSubsampling(QString::fromStdString(tagged)));
    EXPECT_EQ(JpegFileSubsampling(QString::fromStdString(quarter)), ChromaSubsampling::Quarter420);
}

TEST_F(CliTest, MetadataLeftOutIsAWarningAndTheRestIsKept)
{
    // A JPEG with a camera's EXIF and a colour profile whose size field claims more than it holds.
    const std::string damaged = Out("damaged.jpg");
    ASSERT_EQ(Cli({input, damaged}).code, kExitOk);
    QFile file(QString::fromStdString(damaged));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    QByteArray bytes = file.readAll();
    file.close();
    const QByteArray tiff = QByteArray("II*\0\x08\0\0\0\x01\0\x0f\x01\x02\0\x05\0\0\0\x1a\0\0\0\0\0\0\0Cam1\0", 31);
    QByteArray profile(200, '\0');
    profile[2] = 1; // 256 bytes claimed
    profile.replace(36, 4, "acsp");
    QByteArray segments;
    for (const auto& [marker, payload] : {std::pair{'\xe1', QByteArray("Exif\0\0", 6) + tiff},
                                          std::pair{'\xe2', QByteArray("ICC_PROFILE\0\x01\x01", 14) + profile}}) {
        const int length = 2 + int(payload.size());
        segments.append('\xff').append(marker).append(char(length >> 8)).append(char(length & 0xff)).append(payload);
    }
    bytes.insert(2, segments);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
    file.close();

    const std::string saved = Out("saved.jpg");
    const CliRun r = Cli({"--quiet", damaged, saved});
    ASSERT_EQ(r.code, kExitOk) << r.err;
    EXPECT_EQ(r.err, "orvex-cli: warning: " + saved + ": not kept: colour profile (damaged)\n");
    QFile out(QString::fromStdString(saved));
    ASSERT_TRUE(out.open(QIODevice::ReadOnly));
    const QByteArray written = out.readAll();
    EXPECT_TRUE(written.contains("Cam1"));
    EXPECT_FALSE(written.contains("ICC_PROFILE"));

    // Nothing left out, nothing said.
    const CliRun clean = Cli({saved, Out("clean.jpg")});
    ASSERT_EQ(clean.code, kExitOk);
    EXPECT_EQ(clean.err, "");
}

namespace {

std::vector<std::uint8_t> FileBytes(const std::string& path)
{
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly)) return {};
    const QByteArray bytes = file.readAll();
    return {bytes.begin(), bytes.end()};
}

// 1 lossy, 2 lossless, -1 not a WebP file.
int WebpFormat(const std::string& path)
{
    const std::vector<std::uint8_t> file = FileBytes(path);
    WebPBitstreamFeatures features;
    return WebPGetFeatures(file.data(), file.size(), &features) == VP8_STATUS_OK ? features.format : -1;
}

} // namespace

TEST_F(CliTest, FormatOptionsReachTheSavedFile)
{
    // PNG: the level's class in the zlib header of the first IDAT (right after IHDR here).
    for (const auto& [level, flevel] : {std::pair{"0", 0}, std::pair{"9", 3}}) {
        const std::string png = Out("level.png");
        ASSERT_EQ(Cli({"--png-level", level, input, png}).code, kExitOk);
        const std::vector<std::uint8_t> file = FileBytes(png);
        ASSERT_GT(file.size(), 43u);
        ASSERT_EQ(std::string(file.begin() + 37, file.begin() + 41), "IDAT");
        EXPECT_EQ(file[41], 0x78);
        EXPECT_EQ(file[42] >> 6, flevel) << level;
    }

    // WebP without options follows the input: lossless from a PNG, quality 92 from a JPEG.
    const std::string jpeg = Out("in.jpg");
    ASSERT_EQ(Cli({input, jpeg}).code, kExitOk);
    const struct
    {
        std::vector<std::string> options;
        const std::string* from;
        int format;
    } cases[] = {{{}, &input, 2},
                 {{}, &jpeg, 1},
                 {{"--webp-lossless"}, &jpeg, 2},
                 {{"--webp-quality", "50"}, &input, 1},
                 {{"--quality", "70"}, &input, 1},
                 {{"--quality", "100"}, &jpeg, 2},
                 {{"--quality", "100", "--webp-quality", "100"}, &jpeg, 1}};
    for (const auto& c : cases) {
        std::vector<std::string> args = c.options;
        const std::string webp = Out("out.webp");
        args.push_back(*c.from);
        args.push_back(webp);
        ASSERT_EQ(Cli(args).code, kExitOk);
        EXPECT_EQ(WebpFormat(webp), c.format) << (args.size() > 2 ? args[0] + " " + args[1] : *c.from);
    }
    // Lossy from a JPEG at the default quality: the file of quality 92.
    ASSERT_EQ(Cli({jpeg, Out("a.webp")}).code, kExitOk);
    ASSERT_EQ(Cli({"--webp-quality", "92", jpeg, Out("b.webp")}).code, kExitOk);
    EXPECT_EQ(FileBytes(Out("a.webp")), FileBytes(Out("b.webp")));
    // A new picture has lost nothing yet.
    ASSERT_EQ(Cli({"--new", "8,8", Out("new.webp")}).code, kExitOk);
    EXPECT_EQ(WebpFormat(Out("new.webp")), 2);

    for (const auto& [name, tag] : {std::pair{"none", COMPRESSION_NONE}, std::pair{"lzw", COMPRESSION_LZW},
                                    std::pair{"deflate", COMPRESSION_ADOBE_DEFLATE}}) {
        const std::string tiff = Out("out.tif");
        ASSERT_EQ(Cli({"--tiff-compression", name, input, tiff}).code, kExitOk);
        TIFF* tif = TIFFOpen(tiff.c_str(), "r");
        ASSERT_NE(tif, nullptr);
        std::uint16_t compression = 0;
        TIFFGetField(tif, TIFFTAG_COMPRESSION, &compression);
        TIFFClose(tif);
        EXPECT_EQ(compression, tag) << name;
        CImage back;
        ASSERT_TRUE(LoadPicture(QString::fromStdString(tiff), back));
        EXPECT_TRUE(SamePixels(back, Pattern(9, 5))) << name;
    }
}
