// Despeckle and Bilateral against plain transcriptions of their definitions.
#include "core/image_processor.h"
#include "filters/rank_diffusion/bilateral.h"
#include "filters/rank_diffusion/despeckle.h"
#include "tests/test_pictures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

using namespace test_pictures;

namespace {

const std::uint8_t* At(const CImage& p, int x, int y)
{
    return Pixel(p, std::clamp(x, 0, p.width() - 1), std::clamp(y, 0, p.height() - 1));
}

CImage RefDespeckle(const CImage& picture, int r, int threshold)
{
    CImage out = Copy(picture);
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            for (int c = 0; c < 3; ++c) {
                std::vector<int> v;
                for (int dy = -r; dy <= r; ++dy)
                    for (int dx = -r; dx <= r; ++dx) v.push_back(At(picture, x + dx, y + dy)[c]);
                std::sort(v.begin(), v.end());
                const int median = v[v.size() / 2];
                const int own = Pixel(picture, x, y)[c];
                if (std::abs(own - median) > threshold) Pixel(out, x, y)[c] = static_cast<std::uint8_t>(median);
            }
    return out;
}

CImage RefBilateral(const CImage& picture, int r, double sigma)
{
    CImage out = Copy(picture);
    const double s = r / 2.0;
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x) {
            const std::uint8_t* centre = Pixel(picture, x, y);
            double sum[3] = {}, weights = 0;
            for (int dy = -r; dy <= r; ++dy)
                for (int dx = -r; dx <= r; ++dx) {
                    if (dx * dx + dy * dy > r * r) continue;
                    const std::uint8_t* p = At(picture, x + dx, y + dy);
                    const double d =
                        std::abs(p[0] - centre[0]) + std::abs(p[1] - centre[1]) + std::abs(p[2] - centre[2]);
                    const double w =
                        std::exp(-(dx * dx + dy * dy) / (2 * s * s)) * std::exp(-d * d / (2 * sigma * sigma));
                    for (int c = 0; c < 3; ++c) sum[c] += w * p[c];
                    weights += w;
                }
            for (int c = 0; c < 3; ++c)
                Pixel(out, x, y)[c] = static_cast<std::uint8_t>(std::floor(sum[c] / weights + 0.5));
        }
    return out;
}

int MaxDifference(const CImage& a, const CImage& b)
{
    int worst = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            for (int c = 0; c < 3; ++c) worst = std::max(worst, std::abs(Pixel(a, x, y)[c] - Pixel(b, x, y)[c]));
    return worst;
}

// Odd and tiny sizes (narrower than one vector, than the window), a row a few vectors long.
const std::vector<std::pair<int, int>> kSizes = {{1, 1}, {2, 3}, {5, 1}, {1, 7}, {11, 9}, {37, 13}, {64, 5}};

} // namespace

TEST(Despeckle, MatchesTheMedianDefinitionAtBordersOddSizesAndThresholds)
{
    for (const auto& [w, h] : kSizes)
        for (int r = 1; r <= 2; ++r)
            for (const int threshold : {0, 20, 255}) {
                const CImage picture = Noise(w, h, static_cast<std::uint32_t>(w * 31 + h));
                const CImage got = Applied(picture, [&](CImageProcessor& e) { Despeckle(e, r, threshold); });
                EXPECT_TRUE(SamePixels(got, RefDespeckle(picture, r, threshold)))
                    << w << " x " << h << " radius " << r << " threshold " << threshold;
            }
}

TEST(Despeckle, RemovesASpeckKeepsAnEdgeAndPreviewsIntoTheWorkImage)
{
    CImage picture = Filled(9, 9, 100, 100, 100);
    for (int y = 0; y < 9; ++y)
        for (int x = 5; x < 9; ++x) Pixel(picture, x, y)[1] = 200;
    Pixel(picture, 2, 4)[0] = 255;
    const CImage got = Applied(picture, [](CImageProcessor& e) { Despeckle(e, 2, 20); });
    EXPECT_EQ(Pixel(got, 2, 4)[0], 100);
    EXPECT_TRUE(SamePixels(got, RefDespeckle(picture, 2, 20)));
    EXPECT_EQ(Pixel(got, 5, 4)[1], 200) << "the edge stays";

    CImage original = Copy(picture);
    CImageProcessor engine(&original);
    engine.workImage().CopyFrom(original);
    engine.preview.store(1);
    Despeckle(engine, 2, 20);
    EXPECT_TRUE(SamePixels(engine.workImage(), got));
    EXPECT_TRUE(SamePixels(original, picture)) << "the preview leaves the picture alone";
}

TEST(Bilateral, WithinOneLevelOfAPlainDoubleImplementation)
{
    for (const auto& [w, h] : kSizes)
        for (const int r : {1, 2, 5})
            for (const double sigma : {1.0, 30.0, 150.0}) {
                const CImage picture = Noise(w, h, static_cast<std::uint32_t>(w * 7 + h * 3));
                const CImage got =
                    Applied(picture, [&](CImageProcessor& e) { Bilateral(e, r, static_cast<float>(sigma)); });
                EXPECT_LE(MaxDifference(got, RefBilateral(picture, r, sigma)), 1)
                    << w << " x " << h << " radius " << r << " sigma " << sigma;
            }
    const CImage pattern = Pattern(45, 23);
    const CImage got = Applied(pattern, [](CImageProcessor& e) { Bilateral(e, 20, 60.0f); });
    EXPECT_LE(MaxDifference(got, RefBilateral(pattern, 20, 60.0)), 1);
    // Radius 0 is the picture itself, in place and as a preview.
    EXPECT_TRUE(SamePixels(Applied(pattern, [](CImageProcessor& e) { Bilateral(e, 0, 30.0f); }), pattern));
    CImage original = Copy(pattern);
    CImageProcessor engine(&original);
    engine.workImage().Create(45, 23, 24);
    engine.preview.store(1);
    Bilateral(engine, 0, 30.0f);
    EXPECT_TRUE(SamePixels(engine.workImage(), pattern));
}

TEST(Bilateral, FlatPictureStaysFlat)
{
    const CImage picture = Filled(19, 4, 7, 128, 250);
    EXPECT_TRUE(SamePixels(Applied(picture, [](CImageProcessor& e) { Bilateral(e, 5, 30.0f); }), picture));
}
