// Median, maximum and minimum against a plain reference: every window gathered from the mirrored
// padding and sorted.
#include "core/image_processor.h"
#include "filters/rank_diffusion/rank_diffusion.h"
#include "tests/test_pictures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

using namespace test_pictures;

namespace {

// Mirror about the edge pixel on the low side, about the outer edge of the last pixel on the high
// side, clamped into the picture when the radius reaches past it.
int Padded(int i, int n)
{
    int m = i;
    if (i < 0) m = -i;
    if (i >= n) m = n - (i - (n - 1));
    return std::clamp(m, 0, n - 1);
}

CImage Reference(const CImage& picture, int r, int mode)
{
    CImage out = Copy(picture);
    const int side = 2 * r + 1;
    const std::size_t rank = static_cast<std::size_t>(2 * r * r + 2 * r + 1);
    std::vector<std::uint8_t> samples(static_cast<std::size_t>(side * side));
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            for (int ch = 0; ch < 3; ++ch) {
                std::size_t n = 0;
                for (int dy = -r; dy <= r; ++dy)
                    for (int dx = -r; dx <= r; ++dx)
                        samples[n++] = Pixel(picture, Padded(x + dx, picture.width()), Padded(y + dy, picture.height()))[ch];
                std::sort(samples.begin(), samples.end());
                Pixel(out, x, y)[ch] = mode == 0 ? samples[rank - 1] : mode > 0 ? samples.back() : samples.front();
            }
    return out;
}

// Few levels, so that ties are everywhere.
CImage Levels(int width, int height, std::uint32_t seed)
{
    CImage picture = Noise(width, height, seed);
    for (int y = 0; y < height; ++y)
        for (int i = 0; i < 3 * width; ++i) Pixel(picture, 0, y)[i] &= 0xC0;
    return picture;
}

void ExpectMatchesReference(const CImage& picture, int r)
{
    for (int mode : {0, 1, -1}) {
        const CImage result = Applied(picture, [&](CImageProcessor& e) { e.RankFilter(r, mode); });
        const CImage expected = Reference(picture, r, mode);
        EXPECT_TRUE(SamePixels(result, expected))
            << picture.width() << "x" << picture.height() << " r=" << r << " mode=" << mode;
    }
}

} // namespace

TEST(RankFilter, EveryWindowMatchesASortedReferenceAtManySizesAndRadii)
{
    const int sizes[][2] = {{1, 1}, {3, 2}, {2, 7}, {17, 9}, {40, 23}, {71, 5}, {6, 64}};
    std::uint32_t seed = 1;
    for (const auto& size : sizes)
        for (int r : {1, 2, 5, 10}) {
            ExpectMatchesReference(Noise(size[0], size[1], seed++), r);
            ExpectMatchesReference(Levels(size[0], size[1], seed++), r);
        }
    // Radii past the picture in one or both directions: the mirrored index is clamped.
    ExpectMatchesReference(Noise(5, 4, 99), 100);
    ExpectMatchesReference(Noise(30, 3, 98), 7);
    ExpectMatchesReference(Noise(3, 30, 97), 7);
}

TEST(RankFilter, WideEnoughForSeveralStripesOnEveryCore)
{
    // Stripes of the median and bands of the extremes meet inside this picture.
    ExpectMatchesReference(Noise(1300, 7, 5), 3);
    ExpectMatchesReference(Levels(9, 300, 6), 2);
}

TEST(RankFilter, UniformStaysAndABrightPixelVanishesOrGrows)
{
    const CImage flat = Filled(13, 11, 10, 200, 77);
    for (int mode : {0, 1, -1})
        EXPECT_TRUE(SamePixels(Applied(flat, [&](CImageProcessor& e) { e.RankFilter(4, mode); }), flat)) << mode;

    CImage dot = Filled(15, 15, 0, 0, 0);
    Pixel(dot, 7, 7)[0] = Pixel(dot, 7, 7)[1] = Pixel(dot, 7, 7)[2] = 255;
    for (int r : {1, 3}) {
        EXPECT_TRUE(SamePixels(Applied(dot, [&](CImageProcessor& e) { e.RankFilter(r, 0); }), Filled(15, 15, 0, 0, 0)));
        EXPECT_TRUE(SamePixels(Applied(dot, [&](CImageProcessor& e) { e.RankFilter(r, -1); }), Filled(15, 15, 0, 0, 0)));
        const CImage grown = Applied(dot, [&](CImageProcessor& e) { e.RankFilter(r, 1); });
        for (int y = 0; y < 15; ++y)
            for (int x = 0; x < 15; ++x) {
                const bool inside = std::abs(x - 7) <= r && std::abs(y - 7) <= r;
                EXPECT_EQ(Pixel(grown, x, y)[1], inside ? 255 : 0) << x << "," << y << " r=" << r;
            }
    }
}

TEST(RankFilter, LeftBorderMirrorsAboutTheEdgePixelAndRightBorderRepeatsIt)
{
    // Left column 0, the rest 255: the samples left of column 0 copy column 1, so the 3 x 3 median at
    // the border is 255 (two bright columns out of three).
    CImage left = Filled(6, 4, 255, 255, 255);
    for (int y = 0; y < 4; ++y) Pixel(left, 0, y)[0] = Pixel(left, 0, y)[1] = Pixel(left, 0, y)[2] = 0;
    const CImage leftMedian = Applied(left, [](CImageProcessor& e) { e.RankFilter(1, 0); });
    EXPECT_EQ(Pixel(leftMedian, 0, 2)[0], 255);

    // Right column 0: the sample right of the last column is the last column itself, so two dark
    // columns out of three.
    CImage right = Filled(6, 4, 255, 255, 255);
    for (int y = 0; y < 4; ++y) Pixel(right, 5, y)[0] = Pixel(right, 5, y)[1] = Pixel(right, 5, y)[2] = 0;
    const CImage rightMedian = Applied(right, [](CImageProcessor& e) { e.RankFilter(1, 0); });
    EXPECT_EQ(Pixel(rightMedian, 5, 2)[0], 0);
    EXPECT_EQ(Pixel(rightMedian, 4, 2)[0], 255);
}

TEST(RankFilter, ChannelsStayApart)
{
    CImage blue = Filled(9, 9, 255, 0, 0);
    for (int mode : {0, 1, -1}) {
        const CImage result = Applied(blue, [&](CImageProcessor& e) { e.RankFilter(2, mode); });
        EXPECT_EQ(Pixel(result, 4, 4)[0], 255);
        EXPECT_EQ(Pixel(result, 4, 4)[2], 0);
    }
}

TEST(RankFilter, StoppedOrOutOfMemoryLeavesThePictureAndCommitsOnlyWhenDone)
{
    const CImage original = Noise(50, 40, 3);
    for (int mode : {0, 1, -1}) {
        CImage picture = Copy(original);
        CImageProcessor engine(&picture);
        CStopAtOnce stop;
        engine.SetProgressSink(&stop);
        engine.RankFilter(3, mode);
        EXPECT_TRUE(SamePixels(picture, original)) << mode;
        EXPECT_EQ(engine.committed.load(), 0);
        EXPECT_FALSE(engine.Failed());

        engine.SetProgressSink(nullptr);
        orvex_testing::FailRankDiffusionAllocationsAfter(0);
        engine.RankFilter(3, mode);
        orvex_testing::FailRankDiffusionAllocationsAfter(-1);
        EXPECT_TRUE(engine.Failed()) << mode;
        EXPECT_TRUE(SamePixels(picture, original));
        EXPECT_EQ(engine.committed.load(), 0);

        engine.ClearFailure();
        orvex_testing::FailImageAllocationsAfter(0);
        engine.RankFilter(3, mode);
        orvex_testing::FailImageAllocationsAfter(-1);
        EXPECT_TRUE(engine.Failed());
        EXPECT_TRUE(SamePixels(picture, original));

        engine.ClearFailure();
        engine.RankFilter(3, mode);
        EXPECT_FALSE(engine.Failed());
        EXPECT_EQ(engine.committed.load(), 1);
        EXPECT_EQ(engine.running.load(), 0);
        EXPECT_TRUE(SamePixels(picture, Reference(original, 3, mode)));
    }
}

TEST(RankFilter, ArgumentsOutsideTheContractChangeNothing)
{
    const CImage original = Noise(8, 8, 4);
    for (const auto& [r, mode] : {std::pair{0, 0}, {-3, 1}, {101, 0}, {2, 2}, {2, -2}}) {
        const CImage result = Applied(original, [&](CImageProcessor& e) { e.RankFilter(r, mode); });
        EXPECT_TRUE(SamePixels(result, original)) << r << "," << mode;
    }
}
