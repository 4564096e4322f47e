// Facet and Fragment against plain transcriptions of their definitions.
#include "core/image_processor.h"
#include "filters/effects/effects_internal.h"
#include "filters/effects/facet.h"
#include "filters/effects/fragment.h"
#include "tests/test_pictures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

using namespace test_pictures;

namespace {

const std::uint8_t* At(const CImage& p, int x, int y)
{
    return Pixel(p, std::clamp(x, 0, p.width() - 1), std::clamp(y, 0, p.height() - 1));
}

int ClassOf(const std::uint8_t* p)
{
    return ((77 * p[2] + 150 * p[1] + 29 * p[0] + 128) >> 8) / 32;
}

CImage RefFacet(const CImage& picture, int r)
{
    CImage out = Copy(picture);
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x) {
            int counts[8] = {};
            for (int dy = -r; dy <= r; ++dy)
                for (int dx = -r; dx <= r; ++dx) ++counts[ClassOf(At(picture, x + dx, y + dy))];
            const int own = ClassOf(Pixel(picture, x, y));
            int best = -1;
            for (int k = 0; k < 8; ++k) {
                if (counts[k] == 0) continue;
                if (best < 0 || counts[k] > counts[best]) best = k;
                else if (counts[k] == counts[best] && std::abs(k - own) < std::abs(best - own)) best = k;
            }
            int sum[3] = {};
            for (int dy = -r; dy <= r; ++dy)
                for (int dx = -r; dx <= r; ++dx) {
                    const std::uint8_t* p = At(picture, x + dx, y + dy);
                    if (ClassOf(p) != best) continue;
                    for (int c = 0; c < 3; ++c) sum[c] += p[c];
                }
            for (int c = 0; c < 3; ++c)
                Pixel(out, x, y)[c] = static_cast<std::uint8_t>((sum[c] + counts[best] / 2) / counts[best]);
        }
    return out;
}

CImage RefFragment(const CImage& picture, int o)
{
    CImage out = Copy(picture);
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            for (int c = 0; c < 3; ++c)
                Pixel(out, x, y)[c] =
                    static_cast<std::uint8_t>((At(picture, x, y - o)[c] + At(picture, x, y + o)[c] +
                                               At(picture, x - o, y)[c] + At(picture, x + o, y)[c] + 2) /
                                              4);
    return out;
}

const std::vector<std::pair<int, int>> kSizes = {{1, 1}, {2, 3}, {5, 1}, {1, 7}, {11, 9}, {37, 13}, {70, 6}};

} // namespace

TEST(Facet, MatchesTheDominantClassDefinition)
{
    for (const auto& [w, h] : kSizes)
        for (int r = 1; r <= 3; ++r) {
            const CImage noise = Noise(w, h, static_cast<std::uint32_t>(w + 100 * h));
            EXPECT_TRUE(SamePixels(Applied(noise, [&](CImageProcessor& e) { Facet(e, r); }), RefFacet(noise, r)))
                << w << " x " << h << " radius " << r;
            const CImage pattern = Pattern(w, h, r);
            EXPECT_TRUE(SamePixels(Applied(pattern, [&](CImageProcessor& e) { Facet(e, r); }), RefFacet(pattern, r)));
        }
}

TEST(Facet, MatchesTheDefinitionOnTiesFullWindowsAndPreviews)
{
    for (int r = 1; r <= 3; ++r) {
        // Levels from a few neighbouring classes in a scatter: equal counts are common.
        CImage few = Noise(53, 11, static_cast<std::uint32_t>(7 * r));
        for (int y = 0; y < few.height(); ++y)
            for (int x = 0; x < few.width(); ++x) {
                std::uint8_t* p = Pixel(few, x, y);
                const int level = 32 * (2 + p[0] % 3) + p[1] % 32;
                p[0] = p[1] = p[2] = static_cast<std::uint8_t>(level);
            }
        EXPECT_TRUE(SamePixels(Applied(few, [&](CImageProcessor& e) { Facet(e, r); }), RefFacet(few, r))) << r;

        // Every window full of one class at the top of the range: largest counts and sums.
        const CImage white = Filled(9, 8, 255, 254, 253);
        EXPECT_TRUE(SamePixels(Applied(white, [&](CImageProcessor& e) { Facet(e, r); }), white)) << r;

        // A preview rendering writes the work image and leaves the picture alone.
        CImage picture = Noise(131, 5, static_cast<std::uint32_t>(r));
        const CImage before = Copy(picture);
        CImageProcessor engine(&picture);
        engine.workImage().Create(picture.width(), picture.height(), 24);
        engine.preview = 1;
        Facet(engine, r);
        EXPECT_TRUE(SamePixels(picture, before));
        EXPECT_TRUE(SamePixels(engine.workImage(), RefFacet(before, r))) << r;
    }
}

TEST(Facet, TieGoesToTheClassNearestTheCentreThenTheDarker)
{
    // A 3 x 1 picture: classes 0, 2, 4 each counted three times around the middle pixel (class 2).
    CImage picture = Filled(3, 1, 0, 0, 0);
    for (int c = 0; c < 3; ++c) {
        Pixel(picture, 0, 0)[c] = 10;
        Pixel(picture, 1, 0)[c] = 80;
        Pixel(picture, 2, 0)[c] = 140;
    }
    const CImage got = Applied(picture, [](CImageProcessor& e) { Facet(e, 1); });
    EXPECT_EQ(Pixel(got, 1, 0)[0], 80);
    EXPECT_TRUE(SamePixels(got, RefFacet(picture, 1)));
}

TEST(Fragment, MatchesFourShiftedCopiesAtEveryOffsetWithEveryKernel)
{
    using orvex_testing::FragmentKernel;
    // Wide enough rows for several whole vectors of each width and ragged ends behind them.
    std::vector<std::pair<int, int>> sizes = kSizes;
    sizes.insert(sizes.end(), {{131, 5}, {203, 4}});
    for (const FragmentKernel kernel : {FragmentKernel::kSse2, FragmentKernel::kAvx2, FragmentKernel::kAvx512}) {
        if (!orvex_testing::UseFragmentKernel(kernel)) continue;
        for (const auto& [w, h] : sizes)
            for (const int o : {1, 2, 4, 7, 50}) {
                const CImage picture = Noise(w, h, static_cast<std::uint32_t>(3 * w + h));
                EXPECT_TRUE(
                    SamePixels(Applied(picture, [&](CImageProcessor& e) { Fragment(e, o); }), RefFragment(picture, o)))
                    << w << " x " << h << " offset " << o << " kernel " << static_cast<int>(kernel);
            }
    }
    orvex_testing::UseFragmentKernel(FragmentKernel::kBest);
}
