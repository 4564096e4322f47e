// Clouds against a plain per-pixel evaluation of the same definition, against textbook gradient
// noise in double precision, and for its seeding; Difference Clouds against |picture - clouds|.
#include "core/image_processor.h"
#include "core/parallel.h"
#include "core/random.h"
#include "filters/effects/clouds.h"
#include "tests/test_pictures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

using namespace test_pictures;
using orvex_clouds::CCloudTables;

namespace {

struct CGradient
{
    float x;
    float y;
};

CGradient GradientAt(const CCloudTables& t, int i, int j)
{
    const int h = (t.column[i & 255] + j) & 255;
    return {t.gradientX[h], t.gradientY[h]};
}

float Fade(float t)
{
    return t * t * (3.0f - 2.0f * t);
}

int FloorHalf(int v)
{
    return static_cast<int>(std::floor(v / 2.0));
}

// Octave k at sample (i, j) of its level, (i 2^level, j 2^level) in pixels: the vertical blend of
// each lattice column's gradients, then the fade between the two columns, in single precision.
float OctaveAt(const CCloudTables& t, int k, int i, int j)
{
    const double step = std::ldexp(1.0, t.level[k]);
    const double px = (i * step + 0.5) * t.frequency[k] + t.offsetX[k];
    const double py = (j * step + 0.5) * t.frequency[k] + t.offsetY[k];
    const int ci = static_cast<int>(std::floor(px));
    const int cj = static_cast<int>(std::floor(py));
    const float fx = static_cast<float>(px - std::floor(px));
    const float fy = static_cast<float>(py - std::floor(py));
    const float v = Fade(fy);
    float s[2], c[2];
    for (int e = 0; e < 2; ++e) {
        const CGradient g0 = GradientAt(t, ci + e, cj);
        const CGradient g1 = GradientAt(t, ci + e, cj + 1);
        s[e] = g0.x + v * (g1.x - g0.x);
        c[e] = g0.y * fy + v * (g1.y * (fy - 1.0f) - g0.y * fy);
    }
    const float amp = t.amplitude[k];
    const float a = amp * c[0];
    const float b = amp * s[0];
    const float cc = amp * ((c[1] - c[0]) - s[1]);
    const float d = amp * (s[1] - s[0]);
    const float u = Fade(fx);
    return ((a + fx * b) + u * cc) + (u * fx) * d;
}

float Between(float before, float a, float b, float after)
{
    return 0.5625f * (a + b) - 0.0625f * (before + after);
}

// The samples [x0, x1] x [y0, y1] of a level, whole.
struct CGrid
{
    int x0 = 0, y0 = 0, width = 0;
    std::vector<float> v;
    float At(int i, int j) const { return v[static_cast<std::size_t>((j - y0) * width + (i - x0))]; }
};

// A level as defined: the next coarser one doubled (between its rows first, then between its
// columns; the coarser samples kept as they are), plus the level's octaves one by one.
CGrid Level(const CCloudTables& t, int level, int x0, int x1, int y0, int y1)
{
    CGrid grid{x0, y0, x1 - x0 + 1, {}};
    grid.v.assign(static_cast<std::size_t>(grid.width * (y1 - y0 + 1)), 0.0f);
    CGrid coarse;
    const bool top = level + 1 == t.levels;
    if (!top) coarse = Level(t, level + 1, FloorHalf(x0) - 2, FloorHalf(x1) + 3, FloorHalf(y0) - 2, FloorHalf(y1) + 3);
    for (int j = y0; j <= y1; ++j)
        for (int i = x0; i <= x1; ++i) {
            float sum = 0.0f;
            if (!top) {
                const int m = FloorHalf(j), a = FloorHalf(i);
                const auto column = [&](int c) {
                    return j % 2 == 0 ? coarse.At(c, m)
                                      : Between(coarse.At(c, m - 1), coarse.At(c, m), coarse.At(c, m + 1),
                                                coarse.At(c, m + 2));
                };
                sum = i % 2 == 0 ? column(a) : Between(column(a - 1), column(a), column(a + 1), column(a + 2));
            }
            for (int k = 0; k < t.octaves; ++k)
                if (t.level[k] == level) sum += OctaveAt(t, k, i, j);
            grid.v[static_cast<std::size_t>((j - y0) * grid.width + (i - x0))] = sum;
        }
    return grid;
}

int Grey(const CCloudTables& t, float sum)
{
    return static_cast<int>(std::clamp(sum * t.gain + 128.5f, 0.0f, 255.0f));
}

// Textbook gradient noise: dot products at the four corners, faded across x, then y, in double.
double TextbookGrey(const CCloudTables& t, int x, int y)
{
    double sum = 0.0;
    for (int k = 0; k < t.octaves; ++k) {
        const double px = (x + 0.5) * t.frequency[k] + t.offsetX[k];
        const double py = (y + 0.5) * t.frequency[k] + t.offsetY[k];
        const int i = static_cast<int>(std::floor(px));
        const int j = static_cast<int>(std::floor(py));
        const double fx = px - i, fy = py - j;
        const auto dot = [&](int di, int dj) {
            const CGradient g = GradientAt(t, i + di, j + dj);
            return g.x * (fx - di) + g.y * (fy - dj);
        };
        const auto fade = [](double q) { return q * q * (3 - 2 * q); };
        const double u = fade(fx), v = fade(fy);
        const double top = dot(0, 0) + u * (dot(1, 0) - dot(0, 0));
        const double bottom = dot(0, 1) + u * (dot(1, 1) - dot(0, 1));
        sum += t.amplitude[k] * (top + v * (bottom - top));
    }
    return std::clamp(sum * t.gain + 128.5, 0.0, 255.999);
}

CCloudTables TablesFor(std::uint32_t seed, int width, int height, float roughness)
{
    orvex_random::Seed(seed);
    return orvex_clouds::DrawCloudTables(width, height, roughness);
}

CImage Rendered(const CImage& picture, std::uint32_t seed, float roughness, bool difference)
{
    return Applied(picture, [&](CImageProcessor& e) {
        e.SetSeedOverride(seed);
        if (difference) DifferenceClouds(e, roughness);
        else Clouds(e, roughness);
    });
}

struct CSize
{
    int width;
    int height;
};

// 1 x 1 and sizes below one first cell, odd widths and heights off the 16-sample chunks, strips
// one pixel thin, and pictures of four and five levels.
const CSize kSizes[] = {{1, 1}, {3, 2}, {17, 5}, {33, 47}, {531, 7}, {1030, 3}, {1, 700}, {301, 203}};

} // namespace

TEST(Clouds, EveryBuildMatchesThePlainPyramidOnEveryPixel)
{
    const long long misplaced = orvex_random::MisplacedDraws();
    for (int level : {0, 1, 2}) {
        if (!orvex_testing::UseCloudKernel(level)) continue;
        for (const CSize size : kSizes)
            for (const float roughness : {0.5f, 0.8f}) {
                SCOPED_TRACE(testing::Message() << "level " << level << " " << size.width << " x " << size.height
                                                << " roughness " << roughness);
                const CImage out = Rendered(Pattern(size.width, size.height), 7, roughness, false);
                const CCloudTables t = TablesFor(7, size.width, size.height, roughness);
                const CGrid plain = Level(t, 0, 0, size.width - 1, 0, size.height - 1);
                int wrong = 0;
                for (int y = 0; y < size.height; ++y)
                    for (int x = 0; x < size.width; ++x) {
                        const std::uint8_t* p = Pixel(out, x, y);
                        const int want = Grey(t, plain.At(x, y));
                        wrong += p[0] != want || p[1] != want || p[2] != want;
                    }
                EXPECT_EQ(wrong, 0);
            }
    }
    orvex_testing::UseCloudKernel(-1);
    EXPECT_EQ(orvex_random::MisplacedDraws(), misplaced) << "every draw on the seeding thread";
}

TEST(Clouds, IsGradientNoiseSummedOverOctavesFromAQuarterOfTheLongerSideToSinglePixels)
{
    const CCloudTables t = TablesFor(3, 600, 200, 0.5f);
    // 600 / 4 = 150 pixels, halved down to 150 / 128 = 1.17 pixels.
    ASSERT_EQ(t.octaves, 8);
    EXPECT_DOUBLE_EQ(1.0 / t.frequency[0], 150.0);
    EXPECT_DOUBLE_EQ(1.0 / t.frequency[7], 150.0 / 128);
    EXPECT_FLOAT_EQ(t.amplitude[3], 0.125f);
    EXPECT_EQ(TablesFor(3, 6000, 4000, 0.5f).octaves, 11);
    EXPECT_EQ(TablesFor(3, 1, 1, 0.5f).octaves, 1);
    EXPECT_EQ(TablesFor(3, 1, 1, 0.5f).frequency[0], 1.0) << "never a cell below a pixel";
    for (int i = 0; i < 256; ++i)
        EXPECT_NEAR(std::hypot(t.gradientX[i], t.gradientY[i]), 1.0, 1e-6) << "unit gradients";

    // Cells of 150 px get 9.4 samples on level 4, those of 2.3 and 1.2 px are worked out per pixel.
    const int levels[] = {4, 3, 2, 2, 1, 1, 0, 0};
    for (int k = 0; k < 8; ++k) EXPECT_EQ(t.level[k], levels[k]) << "octave " << k;
    EXPECT_EQ(t.levels, 5);

    // The doubling follows the noise closely: textbook gradient noise summed at every pixel in
    // double precision is never more than a grey away.
    const CImage out = Rendered(Pattern(600, 200), 3, 0.5f, false);
    int largest = 0, spread = 0;
    int lowest = 255, highest = 0;
    for (int y = 0; y < 200; ++y)
        for (int x = 0; x < 600; ++x) {
            const int got = Pixel(out, x, y)[0];
            const int want = static_cast<int>(TextbookGrey(t, x, y));
            largest = std::max(largest, std::abs(got - want));
            spread += got != want;
            lowest = std::min(lowest, got);
            highest = std::max(highest, got);
        }
    EXPECT_LE(largest, 1);
    EXPECT_LT(spread, 600 * 200 / 5) << "and mostly the same grey";
    EXPECT_LT(lowest, 70) << "dark clouds";
    EXPECT_GT(highest, 185) << "and light ones";
}

TEST(Clouds, TheSeedDecidesTheCloudWhateverTheThreadCount)
{
    const CImage picture = Pattern(301, 97);
    const CImage first = Rendered(picture, 11, 0.5f, false);
    EXPECT_TRUE(SamePixels(first, Rendered(picture, 11, 0.5f, false)));
    EXPECT_FALSE(SamePixels(first, Rendered(picture, 12, 0.5f, false)));
    EXPECT_FALSE(SamePixels(first, Rendered(picture, 11, 0.7f, false)));
    EXPECT_TRUE(SamePixels(first, Rendered(Noise(301, 97, 5), 11, 0.5f, false))) << "the picture plays no part";
    orvex_testing::LimitParallelThreads(1);
    const CImage single = Rendered(picture, 11, 0.5f, false);
    const CImage singleDifference = Rendered(Noise(301, 97, 5), 11, 0.5f, true);
    orvex_testing::LimitParallelThreads(2);
    EXPECT_TRUE(SamePixels(first, single));
    EXPECT_TRUE(SamePixels(singleDifference, Rendered(Noise(301, 97, 5), 11, 0.5f, true)));
    orvex_testing::LimitParallelThreads(0);

    // Writes the work image in a preview, the same bytes.
    CImage still = Copy(picture);
    CImageProcessor engine(&still);
    engine.workImage().CopyFrom(still);
    engine.preview.store(1);
    engine.SetSeedOverride(11);
    Clouds(engine, 0.5f);
    EXPECT_TRUE(SamePixels(still, picture));
    EXPECT_TRUE(SamePixels(engine.workImage(), first));
}

TEST(DifferenceClouds, IsTheDistanceOfEveryChannelFromTheSameCloud)
{
    for (const CSize size : kSizes) {
        SCOPED_TRACE(testing::Message() << size.width << " x " << size.height);
        const CImage picture = Noise(size.width, size.height, 9);
        const CImage cloud = Rendered(picture, 21, 0.5f, false);
        const CImage out = Rendered(picture, 21, 0.5f, true);
        int wrong = 0;
        for (int y = 0; y < size.height; ++y)
            for (int x = 0; x < size.width; ++x)
                for (int c = 0; c < 3; ++c)
                    wrong += Pixel(out, x, y)[c] != std::abs(Pixel(picture, x, y)[c] - Pixel(cloud, x, y)[c]);
        EXPECT_EQ(wrong, 0);
    }
}
