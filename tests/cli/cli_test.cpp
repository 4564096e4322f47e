#include "cli/cli.h"
#include "core/picture_codec.h"
#include "filters/convolution/fft_plans.h"
#include "tests/test_pictures.h"

#include <QFile>
#include <QTemporaryDir>

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

} // namespace

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
}

TEST_F(CliTest, UsageErrorsNameTheProblemAndWriteNothing)
{
    const std::string out = Out("never.png");
    const struct { std::vector<std::string> args; const char* says; } cases[] = {
        {{}, "missing INPUT"},
        {{input}, "missing OUTPUT"},
        {{input, out, "Blurr"}, "unknown operation 'Blurr'"},
        {{input, out, "Invert=3"}, "Invert takes 0 argument(s), 1 given"},
        {{"--seed", input, out}, "invalid seed"},
        {{"--seed"}, "--seed needs a number"},
        {{"--frobnicate", input, out}, "unknown option"},
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

TEST_F(CliTest, InformationalCommands)
{
    CliRun r = Cli({"--list"});
    EXPECT_EQ(r.code, kExitOk);
    EXPECT_NE(r.out.find("Invert"), std::string::npos);
    r = Cli({"--help"});
    EXPECT_EQ(r.code, kExitOk);
    EXPECT_NE(r.out.find("orvex-cli [--seed N] [--quality N] [--strip] [--quiet] INPUT OUTPUT [OPERATION ...]"), std::string::npos);
    r = Cli({"--version"});
    EXPECT_EQ(r.code, kExitOk);
    EXPECT_EQ(r.out.rfind("orvex-cli ", 0), 0u);
}
