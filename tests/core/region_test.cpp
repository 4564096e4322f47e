// Operations run on a region: inside, the bytes of a whole-picture run; outside, the original.
#include "core/image_processor.h"
#include "core/operation_table.h"
#include "core/region.h"
#include "tests/test_pictures.h"

#include <gtest/gtest.h>

#include <string>

using namespace test_pictures;

namespace {

// The first pixel that breaks the rule, for a readable failure.
::testing::AssertionResult InsideIsWholeRunOutsideIsOriginal(const CImage& result, const CImage& whole,
                                                             const CImage& original, CRegion r)
{
    if (result.width() != original.width() || result.height() != original.height())
        return ::testing::AssertionFailure() << "size changed";
    for (int y = 0; y < result.height(); ++y)
        for (int x = 0; x < result.width(); ++x) {
            const bool in = x >= r.x && x < r.x + r.width && y >= r.y && y < r.y + r.height;
            const CImage& expected = in ? whole : original;
            for (int c = 0; c < 3; ++c)
                if (Pixel(result, x, y)[c] != Pixel(expected, x, y)[c])
                    return ::testing::AssertionFailure()
                           << (in ? "inside" : "outside") << " pixel (" << x << ", " << y << ") channel " << c << " is "
                           << int(Pixel(result, x, y)[c]) << ", expected " << int(Pixel(expected, x, y)[c]);
        }
    return ::testing::AssertionSuccess();
}

std::string Describe(const COperation& op, const COpArgs& args, CRegion r)
{
    std::string text = op.name;
    for (std::size_t i = 0; i < args.size(); ++i) text += (i ? "," : "=") + std::to_string(args.Double(i));
    return text + " on (" + std::to_string(r.x) + ", " + std::to_string(r.y) + ") " + std::to_string(r.width) + "x" +
           std::to_string(r.height);
}

// Runs `op` on `region` of `picture` and on the whole of it, and compares.
void ExpectRegionRun(const COperation& op, const COpArgs& args, const CImage& picture, CRegion region)
{
    SCOPED_TRACE(Describe(op, args, region));
    CImage whole = Copy(picture);
    CImageProcessor wholeEngine(&whole);
    wholeEngine.SetSeedOverride(11);
    const bool wholeRan = op.call(wholeEngine, args) && !wholeEngine.Failed();

    CImage part = Copy(picture);
    CImageProcessor engine(&part);
    engine.SetSeedOverride(11);
    const bool ran = RunOnRegion(engine, op, args, region);
    EXPECT_EQ(ran, wholeRan);
    EXPECT_FALSE(engine.Failed());
    EXPECT_TRUE(InsideIsWholeRunOutsideIsOriginal(part, wholeRan ? whole : picture, picture, region));
}

// Noise with strongly red patches, some of them cut by the picture's edges, so that red-eye
// reduction has pixels to mark and pixels to leave near every region's edges.
CImage RedPatches(int width, int height)
{
    CImage picture = Noise(width, height, 21);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            if ((x / 6 + y / 5) % 3 == 0) {
                Pixel(picture, x, y)[0] /= 8;
                Pixel(picture, x, y)[1] /= 8;
                Pixel(picture, x, y)[2] = static_cast<std::uint8_t>(160 + Pixel(picture, x, y)[2] % 96);
            }
    return picture;
}

// Minimum, default and maximum of every parameter, and one set between them that keeps the reach
// small enough for the work area to be smaller than the test pictures.
std::vector<COpArgs> ArgumentSets(const COperation& op)
{
    std::vector<COpArgs> sets;
    for (int which = 0; which < 4; ++which) {
        std::vector<double> values;
        for (const CParam& p : op.params) {
            double v = which == 0 ? p.min : which == 1 ? p.defaultValue : which == 2 ? p.max : 3;
            if (p.type == ParamType::Code)
                v = static_cast<unsigned char>(p.codes[static_cast<std::size_t>(which) % p.codes.size()]);
            values.push_back(std::clamp(v, p.min, p.max));
        }
        sets.emplace_back(std::move(values));
    }
    return sets;
}

} // namespace

TEST(RunOnRegion, EveryOperationGivesTheWholePictureResultInsideAndNothingOutside)
{
    // Odd sizes; regions on each border, in the corners, 1 x 1, and the whole picture.
    const CImage pictures[] = {Noise(41, 29, 5), RedPatches(41, 29)};
    const CRegion regions[] = {{0, 7, 5, 9},   {13, 0, 9, 4},  {36, 11, 5, 8}, {6, 25, 11, 4}, {0, 0, 1, 1},
                               {40, 28, 1, 1}, {20, 14, 1, 1}, {9, 8, 17, 13}, {0, 0, 41, 29}};
    int bounded = 0;
    for (const COperation& op : OperationTable()) {
        if (op.changesSize) continue;
        for (const COpArgs& args : ArgumentSets(op))
            for (const CRegion& region : regions) {
                for (const CImage& picture : pictures) ExpectRegionRun(op, args, picture, region);
                const CRegion area = RegionWorkArea(Reach(op, args), region, 41, 29);
                if (area.width * area.height < 41 * 29) ++bounded;
            }
    }
    // The bounded path must really have run, not only the whole-picture one.
    EXPECT_GT(bounded, 150);
}

TEST(RunOnRegion, OneOperationOfEachFamilyOnALargerPicture)
{
    // Arguments at which each does its real work: transforms, random draws, histograms and means,
    // moved pixels, and windows whose edges are not the picture's.
    const CImage picture = Noise(97, 61, 8);
    const struct
    {
        const char* name;
        std::vector<double> args;
    } cases[] = {
        {"GaussianBlur", {12, 1}},
        {"GaussianBlur", {1.5, 1}},
        {"MotionBlur", {30, 8}},
        {"UnsharpMask", {5, 2}},
        {"Offset", {7, -3, 'w'}},
        {"FlipHorizontal", {}},
        {"RankFilter", {4, 0}},
        {"BalancedDiffusion", {6}},
        {"Equalize", {}},
        {"AutoColor", {}},
        {"BrightnessContrast", {2, 10}},
        {"AddNoise", {60, 0, 0}},
        {"LensFlare", {30, 20, 1}},
        {"Mosaic", {7}},
        {"RedEyeReduction", {}},
        {"CustomFilter", {1, 2, 3, 2, 1, 0, -1, 4, -1, 0, 2, 0, 9, 0, 2, 0, -1, 4, -1, 0, 1, 2, 3, 2, 1, 5, 7}},
    };
    for (const auto& c : cases) {
        const COperation* op = FindOperation(c.name);
        ASSERT_NE(op, nullptr) << c.name;
        for (const CRegion region : {CRegion{23, 17, 31, 19}, CRegion{60, 0, 37, 12}, CRegion{3, 40, 1, 21}}) {
            ExpectRegionRun(*op, COpArgs(c.args), picture, region);
            ExpectRegionRun(*op, COpArgs(c.args), RedPatches(97, 61), region);
        }
    }
}

TEST(RunOnRegion, RefusedOrFailedRunsLeaveThePictureUntouched)
{
    const CImage picture = Noise(64, 48, 2);
    const CRegion region{10, 10, 20, 12};
    const auto run = [&](const char* name, std::vector<double> args, CRegion r, bool preview = false,
                         int allocations = -1) {
        CImage copy = Copy(picture);
        CImageProcessor engine(&copy);
        engine.preview = preview ? 1 : 0;
        orvex_testing::FailImageAllocationsAfter(allocations);
        const bool ran = RunOnRegion(engine, *FindOperation(name), COpArgs(std::move(args)), r);
        orvex_testing::FailImageAllocationsAfter(-1);
        EXPECT_TRUE(SamePixels(copy, picture)) << name;
        return std::make_pair(ran, engine.Failed());
    };
    // Refused: a size change, a preview, a region off the picture.
    EXPECT_EQ(run("Crop", {1, 1, 5, 5}, region), std::make_pair(false, false));
    EXPECT_EQ(run("Rotate90CW", {}, region), std::make_pair(false, false));
    EXPECT_EQ(run("Invert", {}, region, true), std::make_pair(false, false));
    EXPECT_EQ(run("Invert", {}, {64, 0, 5, 5}), std::make_pair(false, false));
    EXPECT_EQ(run("Invert", {}, {0, 0, 0, 5}), std::make_pair(false, false));

    // No memory for the copy (whole-picture path) or for the work area (bounded path), or for the
    // operation's own result once the copy is had.
    for (int allowed : {0, 1}) {
        SCOPED_TRACE(allowed);
        const auto general = run("RankFilter", {40, 0}, region, false, allowed);
        const auto bounded = run("RankFilter", {2, 0}, region, false, allowed);
        EXPECT_EQ(general, std::make_pair(false, true));
        EXPECT_EQ(bounded, std::make_pair(false, true));
    }
    // A row whose call reports failure (the picture is smaller than the signature).
    EXPECT_EQ(run("Sign", {}, region), std::make_pair(false, false));
}

TEST(RunOnRegion, WorkAreaIsWidenedByTheMarginAndToWholeCells)
{
    EXPECT_EQ(RegionWorkArea(COpReach::Within(2), {10, 10, 1, 1}, 50, 40), (CRegion{8, 8, 5, 5}));
    EXPECT_EQ(RegionWorkArea(COpReach::Within(3), {1, 38, 4, 2}, 50, 40), (CRegion{0, 35, 8, 5}));
    EXPECT_EQ(RegionWorkArea(COpReach::Within(0, 7), {10, 3, 5, 12}, 50, 40), (CRegion{7, 0, 14, 21}));
    EXPECT_EQ(RegionWorkArea(COpReach::Within(0, 7), {45, 36, 5, 4}, 50, 40), (CRegion{42, 35, 8, 5}));
    EXPECT_EQ(RegionWorkArea(COpReach::Unbounded(), {10, 10, 1, 1}, 50, 40), (CRegion{0, 0, 50, 40}));
}

// Calls that are not one table row: several operations in a row, with a reach or without one.
TEST(RunOnRegion, AnyCallKeepsTheSameGuarantees)
{
    const CImage picture = Noise(53, 37, 4);
    const CImage whole = Applied(picture, [](CImageProcessor& e) {
        e.FindEdges();
        e.Invert();
    });
    const CPictureCall edges = [](CImageProcessor& e) {
        e.FindEdges();
        if (!e.Failed()) e.Invert();
        return true;
    };
    for (const COpReach reach : {COpReach::Unbounded(), COpReach::Within(1)})
        for (const CRegion region : {CRegion{11, 6, 20, 13}, CRegion{0, 30, 53, 7}, CRegion{0, 0, 53, 37}}) {
            CImage part = Copy(picture);
            CImageProcessor engine(&part);
            EXPECT_TRUE(RunOnRegion(engine, edges, region, reach));
            EXPECT_TRUE(InsideIsWholeRunOutsideIsOriginal(part, whole, picture, region));
        }

    // A call that turns out to change the size is undone, also on the whole picture.
    for (const CRegion region : {CRegion{4, 4, 9, 9}, CRegion{0, 0, 53, 37}}) {
        CImage part = Copy(picture);
        CImageProcessor engine(&part);
        EXPECT_FALSE(RunOnRegion(
            engine,
            [](CImageProcessor& e) {
                e.Rotate90CW();
                return true;
            },
            region));
        EXPECT_TRUE(SamePixels(part, picture));
    }
    CImage previewed = Copy(picture);
    CImageProcessor previewing(&previewed);
    previewing.preview = 1;
    EXPECT_FALSE(RunOnRegion(previewing, edges, {1, 1, 4, 4}));

    // A preview made on the whole picture shows, once the outside is put back, the region run.
    CImage shown = Copy(whole);
    EXPECT_TRUE(KeepOutsideRegion(shown, picture, {50, 2, 9, 40}));
    EXPECT_TRUE(InsideIsWholeRunOutsideIsOriginal(shown, whole, picture, {50, 2, 3, 35}));
    CImage other = Noise(52, 37, 1);
    EXPECT_FALSE(KeepOutsideRegion(other, picture, {1, 1, 2, 2}));
}
