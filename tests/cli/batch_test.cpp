#include "cli/batch_inputs.h"
#include "cli/cli.h"
#include "io/picture_file.h"
#include "io/picture_save.h"
#include "tests/test_pictures.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sstream>

using namespace test_pictures;

namespace {

struct BatchRun
{
    int code;
    std::string err;
};

BatchRun Batch(std::vector<std::string> args)
{
    std::ostringstream out, err;
    const int code = RunCli(args, out, err, false);
    return {code, err.str()};
}

std::string Expanded(const std::string& pattern, const std::string& input, int index, int count)
{
    std::string out;
    const std::string error = ExpandOutputPattern(pattern, input, index, count, out);
    return error.empty() ? out : "error: " + error;
}

class BatchTest : public ::testing::Test
{
protected:
    std::string Path(const std::string& name) const { return dir.filePath(QString::fromStdString(name)).toStdString(); }
    // A small picture of its own at `name`, folders made as needed.
    std::string Picture(const std::string& name, int seed, int width = 23, int height = 17)
    {
        const QString path = QString::fromStdString(Path(name));
        QDir().mkpath(QFileInfo(path).path());
        EXPECT_TRUE(SavePicture(Noise(width, height, std::uint32_t(seed)), path));
        return path.toStdString();
    }
    std::string Write(const std::string& name, const QByteArray& bytes)
    {
        QDir().mkpath(QFileInfo(QString::fromStdString(Path(name))).path());
        QFile file(QString::fromStdString(Path(name)));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        return Path(name);
    }
    static QByteArray Bytes(const std::string& path)
    {
        QFile file(QString::fromStdString(path));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }
    static bool Exists(const std::string& path) { return QFile::exists(QString::fromStdString(path)); }

    QTemporaryDir dir;
};

} // namespace

TEST(BatchNaming, EachPlaceholderAndTheNumberPadding)
{
    EXPECT_EQ(Expanded("out/{stem}.png", "shoot/IMG_1.JPG", 0, 1), "out/IMG_1.png");
    EXPECT_EQ(Expanded("{dir}/small/{name}", "shoot/day 2/IMG_1.JPG", 0, 1), "shoot/day 2/small/IMG_1.JPG");
    EXPECT_EQ(Expanded("{stem}-{ext}.tif", "a.b.jpeg", 0, 1), "a.b-jpeg.tif");
    // No extension: a bare name and a name whose only dot leads it.
    EXPECT_EQ(Expanded("x/{stem}|{ext}|{name}", "README", 0, 1), "x/README||README");
    EXPECT_EQ(Expanded("x/{stem}|{ext}", "dir.d/.hidden", 0, 1), "x/.hidden|");
    // {dir} of a name without a folder is ".", which drops out of the joined path.
    EXPECT_EQ(Expanded("{dir}/{stem}.png", "a.jpg", 0, 1), "a.png");
    EXPECT_EQ(Expanded("/tmp//o/{dir}/{stem}.png", "/abs/p/a.jpg", 0, 1), "/tmp/o/abs/p/a.png");
    // Padded to the digits of the count.
    EXPECT_EQ(Expanded("{n}.png", "a.jpg", 0, 9), "1.png");
    EXPECT_EQ(Expanded("{n}.png", "a.jpg", 8, 9), "9.png");
    EXPECT_EQ(Expanded("{n}.png", "a.jpg", 0, 10), "01.png");
    EXPECT_EQ(Expanded("{n}.png", "a.jpg", 9, 10), "10.png");
    EXPECT_EQ(Expanded("{n}_{n}.png", "a.jpg", 41, 200), "042_042.png");
    EXPECT_EQ(Expanded("{{{stem}}}.png", "a.jpg", 0, 1), "{a}.png");

    EXPECT_NE(Expanded("{Stem}.png", "a.jpg", 0, 1).find("unknown placeholder {Stem}"), std::string::npos);
    EXPECT_NE(Expanded("{stem.png", "a.jpg", 0, 1).find("unmatched '{'"), std::string::npos);
    EXPECT_NE(Expanded("stem}.png", "a.jpg", 0, 1).find("unmatched '}'"), std::string::npos);
}

TEST_F(BatchTest, FoldersRecursionAndPatternsGiveTheInputsInOrder)
{
    Picture("shoot/b.png", 1);
    Picture("shoot/a.PNG", 2);
    Picture("shoot/.hidden.png", 3);
    Picture("shoot/day2/c.png", 4);
    Picture("shoot/.cache/d.png", 5);
    Write("shoot/notes.txt", "not a picture");
    const std::string shoot = Path("shoot");

    std::vector<std::string> inputs;
    ASSERT_EQ(ExpandInputs({shoot}, false, inputs), "");
    EXPECT_EQ(inputs, (std::vector<std::string>{shoot + "/a.PNG", shoot + "/b.png"}));
    ASSERT_EQ(ExpandInputs({shoot}, true, inputs), "");
    EXPECT_EQ(inputs, (std::vector<std::string>{shoot + "/a.PNG", shoot + "/b.png", shoot + "/day2/c.png"}));
    // A file is taken as named, whatever its extension; a pattern as the shell would expand it,
    // a folder it matches included.
    ASSERT_EQ(ExpandInputs({shoot + "/notes.txt", shoot + "/*.png", shoot + "/d*"}, false, inputs), "");
    EXPECT_EQ(inputs, (std::vector<std::string>{shoot + "/notes.txt", shoot + "/b.png", shoot + "/day2/c.png"}));

    EXPECT_NE(ExpandInputs({shoot + "/*.gif"}, false, inputs).find("nothing matches"), std::string::npos);
    EXPECT_NE(ExpandInputs({shoot + "/zzz.png"}, false, inputs).find("no such file or folder"), std::string::npos);
    EXPECT_EQ(inputs.size(), 3u); // left as it was

    // A batch over the tree mirrors it into a new folder.
    const BatchRun r = Batch({"--recursive", shoot, "-o", Path("out") + "/{n}-{stem}.bmp", "Invert"});
    ASSERT_EQ(r.code, kExitOk) << r.err;
    EXPECT_EQ(r.err, "");
    for (const char* name : {"out/1-a.bmp", "out/2-b.bmp", "out/3-c.bmp"}) EXPECT_TRUE(Exists(Path(name))) << name;
    EXPECT_EQ(QDir(QString::fromStdString(Path("out"))).entryList(QDir::Files | QDir::Hidden).size(), 3);
}

TEST_F(BatchTest, ResultsAreTheSingleFileModesByteForByte)
{
    std::vector<std::string> inputs;
    for (int i = 0; i < 5; ++i) inputs.push_back(Picture("in/p" + std::to_string(i) + ".png", i, 40 + 7 * i, 31 + i));
    const std::vector<std::string> steps = {"GaussianBlur=3", "AddNoise=40,1,0", "Sharpen", "HueSaturation=20,1.3,0",
                                            "ResizeImage=401,250,b"};
    // The results are wide enough for PNG to be deflated in pieces, as many as a run of one would use.
    for (const char* ext : {"png", "jpg"}) {
        std::vector<std::string> args = {
            "--seed", "9", "--jobs", "3", Path("in"), "-o", Path("batch") + "/{stem}." + ext};
        args.insert(args.end(), steps.begin(), steps.end());
        const BatchRun r = Batch(args);
        ASSERT_EQ(r.code, kExitOk) << r.err;
        for (std::size_t i = 0; i < inputs.size(); ++i) {
            const std::string single = Path("single" + std::to_string(i) + "." + ext);
            std::vector<std::string> one = {"--seed", "9", inputs[i], single};
            one.insert(one.end(), steps.begin(), steps.end());
            ASSERT_EQ(Batch(one).code, kExitOk);
            EXPECT_EQ(Bytes(Path("batch/p" + std::to_string(i) + "." + ext)), Bytes(single)) << i << ext;
        }
    }
}

TEST_F(BatchTest, ABrokenPictureFailsAloneAndStopsTheHandingOutUnlessKeepGoing)
{
    Picture("in/1.png", 1);
    Write("in/2.png", "\x89PNG\r\n\x1a\n but broken");
    Picture("in/3.png", 3);
    Picture("in/4.png", 4);

    BatchRun r = Batch({"--jobs", "1", Path("in"), "-o", Path("stop") + "/{stem}.png", "Invert"});
    EXPECT_EQ(r.code, kExitSomeFailed);
    EXPECT_NE(r.err.find(Path("in/2.png") + ": Load failed: "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("1 of 4 pictures done, 1 failed, 2 not started"), std::string::npos) << r.err;
    EXPECT_TRUE(Exists(Path("stop/1.png")));
    EXPECT_FALSE(Exists(Path("stop/2.png")));
    EXPECT_FALSE(Exists(Path("stop/3.png")));

    for (const char* jobs : {"1", "3"}) {
        const std::string out = Path(std::string("keep") + jobs);
        r = Batch({"--keep-going", "--jobs", jobs, Path("in"), "-o", out + "/{stem}.png", "Invert"});
        EXPECT_EQ(r.code, kExitSomeFailed);
        EXPECT_NE(r.err.find("3 of 4 pictures done, 1 failed\n"), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find("not started"), std::string::npos) << r.err;
        for (const char* name : {"/1.png", "/3.png", "/4.png"}) EXPECT_TRUE(Exists(out + name)) << name;
        EXPECT_FALSE(Exists(out + "/2.png"));
    }
    // An operation failing is said with its name.
    r = Batch({"--keep-going", Path("in/1.png"), "-o", Path("crop") + "/{stem}.png", "Crop=500,500,2,2"});
    EXPECT_EQ(r.code, kExitSomeFailed);
}

TEST_F(BatchTest, AnExistingOutputIsNeverReplacedWithoutOverwrite)
{
    Picture("in/a.png", 1);
    Picture("in/b.png", 2);
    const std::string kept = Write("out/a.png", "precious");
    BatchRun r = Batch({"--keep-going", Path("in"), "-o", Path("out") + "/{name}", "Invert"});
    EXPECT_EQ(r.code, kExitSomeFailed);
    EXPECT_NE(r.err.find(Path("in/a.png") + ": Can not save " + kept + ": exists"), std::string::npos) << r.err;
    EXPECT_EQ(Bytes(kept), "precious");
    EXPECT_TRUE(Exists(Path("out/b.png")));

    r = Batch({"--overwrite", Path("in"), "-o", Path("out") + "/{name}", "Invert"});
    ASSERT_EQ(r.code, kExitOk) << r.err;
    CImage picture;
    ASSERT_TRUE(LoadPicture(QString::fromStdString(kept), picture));
    EXPECT_EQ(Pixel(picture, 0, 0)[0], 255 - Pixel(Noise(23, 17, 1), 0, 0)[0]);
    // In place over its own input is allowed with --overwrite.
    r = Batch({"--overwrite", Path("out/b.png"), "-o", "{dir}/{name}", "Invert"});
    ASSERT_EQ(r.code, kExitOk) << r.err;
    ASSERT_TRUE(LoadPicture(QString::fromStdString(Path("out/b.png")), picture));
    EXPECT_TRUE(SamePixels(picture, Noise(23, 17, 2)));
    // No temporary file is left behind.
    EXPECT_EQ(QDir(QString::fromStdString(Path("out"))).entryList(QDir::Files | QDir::Hidden).size(), 2);
}

TEST_F(BatchTest, SavingWithoutReplacingKeepsWhatIsThereAndLeavesNothingBehind)
{
    const std::string path = Write("x.png", "precious");
    CSaveOptions options;
    options.replace = false;
    QString reason;
    EXPECT_FALSE(SavePictureWith(Pattern(3, 2), QString::fromStdString(path), options, nullptr, &reason));
    EXPECT_EQ(reason, "exists");
    EXPECT_EQ(Bytes(path), "precious");
    EXPECT_TRUE(SavePictureWith(Pattern(3, 2), QString::fromStdString(Path("y.png")), options, nullptr, &reason));
    CImage picture;
    ASSERT_TRUE(LoadPicture(QString::fromStdString(Path("y.png")), picture));
    EXPECT_TRUE(SamePixels(picture, Pattern(3, 2)));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 2);
}

TEST_F(BatchTest, UsageErrorsComeBeforeAnyWork)
{
    Picture("a/x.png", 1);
    Picture("b/x.png", 2);
    Picture("b/y.png", 3);
    Picture("c/1.png", 4);
    Picture("c/2.png", 5);
    const std::string out = Path("out") + "/{stem}.png";
    const struct
    {
        std::vector<std::string> args;
        std::string says;
    } cases[] = {
        {{Path("a"), Path("b"), "-o", out},
         "'" + Path("a/x.png") + "' and '" + Path("b/x.png") + "' would both be written to '" + Path("out/x.png") +
             "'"},
        {{Path("a/x.png"), Path("a/x.png"), "-o", out}, "would both be written"},
        {{"--overwrite", Path("c/2.png"), Path("c/1.png"), "-o", Path("c") + "/{n}.png"},
         "'" + Path("c/1.png") + "', the output of '" + Path("c/2.png") + "', is also an input"},
        {{Path("a"), "-o", Path("out") + "/{stem}.xyz"}, "no picture format is known"},
        {{Path("a"), "-o", Path("out") + "/{base}.png"}, "unknown placeholder {base}"},
        {{Path("a"), "-o", out, "Blurr"}, "no such file or folder: 'Blurr'"},
        {{Path("a"), "-o", out, "Invert", "Blurr"}, "unknown operation 'Blurr'"},
        {{Path("nothing") + "/*.png", "-o", out}, "nothing matches"},
        {{"-o", out, "Invert"}, "missing INPUT"},
        {{Path("a"), "-o", out, "-o", out}, "-o is given twice"},
        {{"--jobs", "0", Path("a"), "-o", out}, "invalid jobs '0'"},
        {{"--jobs", "2", Path("a/x.png"), Path("x.png")}, "--jobs works only with -o"},
        {{"--recursive", Path("a/x.png"), Path("x.png")}, "--recursive works only with -o"},
        {{"--new", "3,3", "-o", out}, "--new makes one picture"},
    };
    for (const auto& c : cases) {
        const BatchRun r = Batch(c.args);
        EXPECT_EQ(r.code, kExitUsage) << c.says;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    }
    EXPECT_FALSE(Exists(Path("out")));
    EXPECT_FALSE(Exists(Path("x.png")));
    // Options after -o apply too.
    const BatchRun r = Batch({Path("b"), "-o", out, "--jobs", "1", "--quiet", "Invert"});
    EXPECT_EQ(r.code, kExitOk) << r.err;
}

TEST_F(BatchTest, RecipesRunFirstSkipCommentsAndNameTheBadLine)
{
    const std::string input = Picture("in.png", 7);
    const std::string recipe =
        Write("steps.txt", "# brighten, then flip\n\n  Levels=a,0,200   # stretch\nFlipHorizontal\n");
    // The recipe's steps come before the command line's: Levels then Invert, not the other way.
    BatchRun r = Batch({"--recipe", recipe, input, Path("single.png"), "Invert"});
    ASSERT_EQ(r.code, kExitOk) << r.err;
    ASSERT_EQ(Batch({input, Path("spelled.png"), "Levels=a,0,200", "FlipHorizontal", "Invert"}).code, kExitOk);
    EXPECT_EQ(Bytes(Path("single.png")), Bytes(Path("spelled.png")));
    ASSERT_EQ(Batch({input, Path("reversed.png"), "Invert", "Levels=a,0,200", "FlipHorizontal"}).code, kExitOk);
    EXPECT_NE(Bytes(Path("single.png")), Bytes(Path("reversed.png")));
    r = Batch({input, "-o", Path("batch") + "/{name}", "--recipe", recipe, "Invert"});
    ASSERT_EQ(r.code, kExitOk) << r.err;
    EXPECT_EQ(Bytes(Path("batch/in.png")), Bytes(Path("single.png")));

    const std::string bad = Write("bad.txt", "Invert\n# fine\nLevels=a,0,300\n");
    r = Batch({"--recipe", bad, input, Path("never.png")});
    EXPECT_EQ(r.code, kExitUsage);
    EXPECT_NE(r.err.find("recipe " + bad + ", line 3: "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("out of range"), std::string::npos) << r.err;
    r = Batch({"--recipe", Path("missing.txt"), input, Path("never.png")});
    EXPECT_EQ(r.code, kExitUsage);
    EXPECT_NE(r.err.find("can not read the recipe"), std::string::npos) << r.err;
    EXPECT_FALSE(Exists(Path("never.png")));
}
