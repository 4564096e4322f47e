// Mosaic and red-eye reduction against plain transcriptions of their definitions.
#include "core/image_processor.h"
#include "core/parallel.h"
#include "filters/effects/effects_internal.h"
#include "tests/test_pictures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

using namespace test_pictures;

namespace {

CImage RefMosaic(const CImage& picture, int size)
{
    CImage out = Copy(picture);
    for (int x = 0; x < picture.width(); ++x)
        for (int y = 0; y < picture.height(); ++y)
            for (int c = 0; c < 3; ++c) Pixel(out, x, y)[c] = Pixel(out, x / size * size, y / size * size)[c];
    return out;
}

// Column-major mark table over the unchanged picture, then the correction.
CImage RefRedEye(const CImage& picture)
{
    CImage out = Copy(picture);
    const int w = picture.width(), h = picture.height();
    std::vector<int> marks(static_cast<std::size_t>(w) * static_cast<std::size_t>(h), 0);
    if (w >= 5)
        for (int x = 2; x <= w - 3; ++x)
            for (int y = 2; y <= h - 3; ++y) {
                int sB = 0, sG = 0, sR = 0;
                for (int i = x - 2; i <= x + 2; ++i)
                    for (int j = y - 2; j <= y + 2; ++j) {
                        sB += Pixel(picture, i, j)[0];
                        sG += Pixel(picture, i, j)[1];
                        sR += Pixel(picture, i, j)[2];
                    }
                if (sG * 2.5 < sR && sB * 2.5 < sR && sR > 128) marks[static_cast<std::size_t>(x * h + y)] = 1;
            }
    for (int x = 0; x < w; ++x)
        for (int y = 0; y < h; ++y)
            if (marks[static_cast<std::size_t>(x * h + y)]) {
                std::uint8_t* p = Pixel(out, x, y);
                p[2] = static_cast<std::uint8_t>((p[1] + p[0]) / 2);
            }
    return out;
}

// Reddish blotches on a dull background, so that marks start and stop inside the picture.
CImage Blotches(int width, int height, std::uint32_t seed)
{
    CImage picture = Noise(width, height, seed);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            std::uint8_t* p = Pixel(picture, x, y);
            const bool red = ((x / 7 + y / 5 + static_cast<int>(seed)) % 3) == 0;
            p[0] = static_cast<std::uint8_t>(p[0] / (red ? 8 : 2));
            p[1] = static_cast<std::uint8_t>(p[1] / (red ? 8 : 2));
            if (!red) p[2] = static_cast<std::uint8_t>(p[2] / 3);
        }
    return picture;
}

// Low levels drawn so that many windows land on 5 sG == 2 sR (or 5 sB == 2 sR) and on sR of 128
// and 129; here and there a strongly red spot.
CImage NearThresholds(int width, int height, std::uint32_t seed)
{
    CImage picture;
    picture.Create(width, height, 24);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            seed = seed * 1664525u + 1013904223u;
            std::uint8_t* p = Pixel(picture, x, y);
            p[0] = static_cast<std::uint8_t>(1 + (seed >> 8) % 3);
            p[1] = static_cast<std::uint8_t>(1 + (seed >> 12) % 3);
            p[2] = static_cast<std::uint8_t>(5 + ((seed >> 24) < 64 ? 1 : 0) + ((seed >> 16) % 97 == 0 ? 200 : 0));
        }
    return picture;
}

// Nearly every window marked.
CImage ReddishNoise(int width, int height, std::uint32_t seed)
{
    CImage picture = Noise(width, height, seed);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            std::uint8_t* p = Pixel(picture, x, y);
            p[0] = static_cast<std::uint8_t>(p[0] / 4);
            p[1] = static_cast<std::uint8_t>(p[1] / 4);
            p[2] = static_cast<std::uint8_t>(128 + p[2] / 2);
        }
    return picture;
}

// Windows of `picture` whose sums satisfy `test`.
template <class Test>
int CountWindows(const CImage& picture, Test test)
{
    int count = 0;
    for (int x = 2; x <= picture.width() - 3; ++x)
        for (int y = 2; y <= picture.height() - 3; ++y) {
            int s[3] = {0, 0, 0};
            for (int j = y - 2; j <= y + 2; ++j)
                for (int i = x - 2; i <= x + 2; ++i)
                    for (int c = 0; c < 3; ++c) s[c] += Pixel(picture, i, j)[c];
            count += test(s[0], s[1], s[2]) ? 1 : 0;
        }
    return count;
}

} // namespace

TEST(Mosaic, MatchesTheCellRuleInPlaceAndInPreview)
{
    const int sizes[][2] = {{1, 1}, {3, 2}, {25, 7}, {17, 9}, {64, 65}};
    for (const auto& s : sizes)
        for (int cell : {1, 2, 3, 10, 64, 100}) {
            const CImage picture = Noise(s[0], s[1], 4);
            const CImage expected = RefMosaic(picture, cell);
            EXPECT_TRUE(SamePixels(Applied(picture, [&](CImageProcessor& e) { e.Mosaic(cell); }), expected))
                << s[0] << "x" << s[1] << " cell " << cell;

            CImage original = Copy(picture);
            CImageProcessor engine(&original);
            engine.workImage().Create(s[0], s[1], 24);
            engine.preview = 1;
            engine.Mosaic(cell);
            EXPECT_TRUE(SamePixels(engine.workImage(), expected)) << "preview, cell " << cell;
            EXPECT_TRUE(SamePixels(original, picture));
        }

    // 25 wide with size 10: cells 10, 10 and 5 wide, the last one the colour of column 20.
    const CImage picture = Pattern(25, 4);
    const CImage cells = Applied(picture, [](CImageProcessor& e) { e.Mosaic(10); });
    for (int x = 20; x < 25; ++x)
        for (int c = 0; c < 3; ++c) EXPECT_EQ(Pixel(cells, x, 3)[c], Pixel(picture, 20, 0)[c]);
    // A cell at least as large as both sides: one colour.
    const CImage one = Applied(picture, [](CImageProcessor& e) { e.Mosaic(25); });
    EXPECT_TRUE(SamePixels(one, Filled(25, 4, Pixel(picture, 0, 0)[0], Pixel(picture, 0, 0)[1], Pixel(picture, 0, 0)[2])));
}

TEST(RedEyeReduction, MatchesTheMarkTableOnBandedAndTinyPictures)
{
    // Heights that give one band per core, several runs of bands, and bands of two or three rows.
    const int sizes[][2] = {{1, 1}, {4, 9}, {9, 4}, {5, 5}, {6, 7}, {31, 17}, {40, 300}, {23, 1100}, {7, 9}};
    for (const auto& s : sizes)
        for (std::uint32_t seed : {1u, 2u}) {
            const CImage picture = Blotches(s[0], s[1], seed);
            EXPECT_TRUE(SamePixels(Applied(picture, [](CImageProcessor& e) { e.RedEyeReduction(); }), RefRedEye(picture)))
                << s[0] << "x" << s[1] << " seed " << seed;
        }
}

TEST(RedEyeReduction, RedDarkRedOrangeAndSmallPictures)
{
    // Pure red 5 x 5: only the centre has its whole window inside; its red goes.
    const CImage red = Applied(Filled(5, 5, 0, 0, 255), [](CImageProcessor& e) { e.RedEyeReduction(); });
    EXPECT_EQ(Pixel(red, 2, 2)[2], 0);
    EXPECT_EQ(Pixel(red, 1, 2)[2], 255);
    // Red 5 everywhere sums to 125: not marked. Orange (red 200, green 100): green too strong.
    for (const CImage& unmarked : {Filled(9, 9, 0, 0, 5), Filled(9, 9, 0, 100, 200)})
        EXPECT_TRUE(SamePixels(Applied(unmarked, [](CImageProcessor& e) { e.RedEyeReduction(); }), unmarked));
    for (const CImage& small : {Filled(4, 9, 0, 0, 255), Filled(9, 4, 0, 0, 255)})
        EXPECT_TRUE(SamePixels(Applied(small, [](CImageProcessor& e) { e.RedEyeReduction(); }), small));
}

TEST(RedEyeReduction, EveryKernelMatchesTheMarkTableAtTiesEdgesAndBandSplits)
{
    // Widths around the 64-pixel steps, heights that split into bands of two rows and more.
    std::vector<std::pair<int, int>> sizes;
    for (int w : {5, 6, 7, 31, 32, 33, 63, 64, 65, 66, 67, 127, 129, 130, 194})
        for (int h : {5, 6, 7, 9, 12}) sizes.emplace_back(w, h);
    for (int h : {127, 128, 129, 260, 521}) sizes.emplace_back(70, h);
    sizes.emplace_back(1, 1);

    const CImage ties = NearThresholds(200, 60, 7);
    ASSERT_GT(CountWindows(ties, [](int, int g, int r) { return 5 * g == 2 * r && r > 128; }), 0);
    ASSERT_GT(CountWindows(ties, [](int b, int, int r) { return 5 * b == 2 * r && r > 128; }), 0);
    ASSERT_GT(CountWindows(ties, [](int b, int g, int r) { return r == 129 && 5 * g < 2 * r && 5 * b < 2 * r; }), 0);
    ASSERT_GT(CountWindows(ties, [](int b, int g, int r) { return r == 128 && 5 * g < 2 * r && 5 * b < 2 * r; }), 0);

    // Dull, with pure red column pairs just before and just after multiples of 64: next to each pair
    // one pixel is marked by a window whose redder columns all lie on the pair's side.
    CImage stripes = Filled(330, 9, 40, 60, 60);
    for (int x : {62, 63, 256, 257})
        for (int y = 0; y < 9; ++y) {
            std::uint8_t* p = Pixel(stripes, x, y);
            p[0] = p[1] = 0;
            p[2] = 255;
        }
    const CImage stripesDone = RefRedEye(stripes);
    EXPECT_EQ(Pixel(stripesDone, 64, 4)[2], 50);
    EXPECT_EQ(Pixel(stripesDone, 65, 4)[2], 60);
    EXPECT_EQ(Pixel(stripesDone, 255, 4)[2], 50);

    for (int level = 0; level <= 2; ++level) {
        if (!orvex_testing::UseRedEyeKernel(level)) continue;
        for (int threads : {0, 1}) {
            orvex_testing::LimitParallelThreads(threads);
            EXPECT_TRUE(SamePixels(Applied(ties, [](CImageProcessor& e) { e.RedEyeReduction(); }), RefRedEye(ties)))
                << "kernel " << level;
            EXPECT_TRUE(SamePixels(Applied(stripes, [](CImageProcessor& e) { e.RedEyeReduction(); }), RefRedEye(stripes)))
                << "kernel " << level;
            for (const auto& [w, h] : sizes)
                for (std::uint32_t seed : {1u, 2u, 3u}) {
                    const CImage picture = seed == 1   ? Blotches(w, h, 3)
                                           : seed == 2 ? NearThresholds(w, h, 5)
                                                       : ReddishNoise(w, h, 9);
                    EXPECT_TRUE(SamePixels(Applied(picture, [](CImageProcessor& e) { e.RedEyeReduction(); }),
                                           RefRedEye(picture)))
                        << "kernel " << level << ", " << threads << " threads, " << w << "x" << h << " picture " << seed;
                }
        }
    }
    orvex_testing::LimitParallelThreads(0);
    orvex_testing::UseRedEyeKernel(-1);
}

namespace {

class CRecordedBar : public IProgress
{
public:
    void Begin(std::string_view text, int length) override
    {
        label = text;
        range = length;
        ++begun;
    }
    void SetPosition(int position) override { positions.push_back(position); }
    void End() override { ++ended; }

    std::string label;
    int range = -1;
    int begun = 0;
    int ended = 0;
    std::vector<int> positions;
};

} // namespace

TEST(RedEyeReduction, BarRunsFromStartToWidthLessFour)
{
    for (const auto& [w, h] : {std::pair{300, 2100}, std::pair{300, 100}, std::pair{4, 300}}) {
        CImage picture = Blotches(w, h, 1);
        CRecordedBar bar;
        CImageProcessor engine(&picture);
        engine.SetProgressSink(&bar);
        engine.RedEyeReduction();
        EXPECT_EQ(bar.label, " Red eye reduction:");
        EXPECT_EQ(bar.range, std::max(w - 4, 1)); // the bar never has an empty range
        EXPECT_EQ(bar.begun, 1);
        EXPECT_EQ(bar.ended, 1);
        EXPECT_TRUE(std::is_sorted(bar.positions.begin(), bar.positions.end()));
        if (w >= 5) {
            ASSERT_FALSE(bar.positions.empty());
            EXPECT_EQ(bar.positions.back(), w - 4) << w << "x" << h;
        }
    }
}
