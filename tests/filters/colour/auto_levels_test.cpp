// Auto Levels and Auto Contrast against stretches worked out from sorted pixel values.
#include "filters/colour/auto_levels.h"
#include "tests/filters/colour/colour_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

using namespace test_pictures;
using colour_test::InPlace;

namespace {

// With the values sorted, clip% of n pixels below low means low is the value at index
// floor(clip * n / 100), and high the one as far from the top.
orvex_colour::CLevelsRange SortedRange(std::vector<int> values, float clip)
{
    std::sort(values.begin(), values.end());
    const auto n = values.size();
    const auto k = static_cast<std::size_t>(std::floor(static_cast<double>(clip) * static_cast<double>(n) / 100.0));
    return {values[k], values[n - 1 - k]};
}

std::vector<int> ChannelValues(const CImage& picture, int channel)
{
    std::vector<int> values;
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x) values.push_back(Pixel(picture, x, y)[channel]);
    return values;
}

std::vector<int> LuminanceValues(const CImage& picture)
{
    std::vector<int> values;
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x) {
            const std::uint8_t* p = Pixel(picture, x, y);
            values.push_back(orvex_colour::Luminance(p[2], p[1], p[0]));
        }
    return values;
}

int Stretched(int v, orvex_colour::CLevelsRange r)
{
    if (r.low >= r.high) return v;
    const double t = 255.0 * (std::clamp(v, r.low, r.high) - r.low) / (r.high - r.low);
    return static_cast<int>(std::floor(t + 0.5));
}

// Noise squeezed into lo..hi, so that there is something to stretch.
CImage Narrow(int width, int height, int lo, int hi, std::uint32_t seed)
{
    CImage picture = Noise(width, height, seed);
    for (int y = 0; y < height; ++y)
        for (int i = 0; i < 3 * width; ++i) {
            std::uint8_t& b = Pixel(picture, 0, y)[i];
            b = static_cast<std::uint8_t>(lo + b * (hi - lo) / 255);
        }
    return picture;
}

} // namespace

TEST(AutoLevels, StretchesEachChannelFromItsClippedRange)
{
    const CImage pictures[] = {Narrow(37, 23, 40, 200, 1), Narrow(1, 100, 3, 90, 2), Narrow(101, 1, 120, 121, 3),
                               Noise(19, 11, 4)};
    for (const CImage& source : pictures)
        for (float clip : {0.0f, 0.1f, 1.0f, 2.5f, 10.0f}) {
            SCOPED_TRACE(testing::Message() << source.width() << " x " << source.height() << " clip " << clip);
            orvex_colour::CLevelsRange ranges[3];
            for (int c = 0; c < 3; ++c) ranges[c] = SortedRange(ChannelValues(source, c), clip);
            const CImage result = InPlace(source, [clip](CImageProcessor& e) { AutoLevels(e, clip); });
            colour_test::ExpectEveryByte(source, result, [&](int v, int c) { return Stretched(v, ranges[c]); });
        }
}

TEST(AutoLevels, RangesAtTheEdges)
{
    // 100 pixels, clip 1 %: exactly one pixel may lie below low, so low is the second value.
    std::array<std::uint64_t, 256> counts{};
    counts[10] = 1;
    counts[20] = 1;
    counts[30] = 96;
    counts[200] = 1;
    counts[250] = 1;
    EXPECT_EQ(orvex_colour::ClipRange(counts, 100, 1.0f).low, 20);
    EXPECT_EQ(orvex_colour::ClipRange(counts, 100, 1.0f).high, 200);
    EXPECT_EQ(orvex_colour::ClipRange(counts, 100, 0.0f).low, 10);
    EXPECT_EQ(orvex_colour::ClipRange(counts, 100, 0.0f).high, 250);
    EXPECT_EQ(orvex_colour::ClipRange(counts, 100, 10.0f).low, 30);
    EXPECT_EQ(orvex_colour::ClipRange(counts, 100, 10.0f).high, 30);
    EXPECT_EQ(orvex_colour::ClipRange({}, 0, 1.0f).low, 0);
    EXPECT_EQ(orvex_colour::ClipRange({}, 0, 1.0f).high, 255);

    std::uint8_t table[256];
    orvex_colour::StretchTable({0, 255}, table);
    for (int v = 0; v < 256; ++v) EXPECT_EQ(table[v], v);
    orvex_colour::StretchTable({100, 101}, table);
    EXPECT_EQ(table[99], 0);
    EXPECT_EQ(table[100], 0);
    EXPECT_EQ(table[101], 255);
    orvex_colour::StretchTable({0, 2}, table);
    EXPECT_EQ(table[1], 128); // 127.5 rounds up

    // One pixel, or a channel of one value, is left as it is while the others stretch.
    const CImage one = Filled(1, 1, 10, 100, 200);
    EXPECT_TRUE(SamePixels(InPlace(one, [](CImageProcessor& e) { AutoLevels(e, 0.1f); }), one));
    CImage mixed = Narrow(9, 7, 50, 150, 9);
    for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 9; ++x) Pixel(mixed, x, y)[1] = 77;
    const CImage result = InPlace(mixed, [](CImageProcessor& e) { AutoLevels(e, 0.0f); });
    for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 9; ++x) EXPECT_EQ(Pixel(result, x, y)[1], 77);
}

TEST(AutoContrast, OneStretchFromTheLuminanceKeepsGreysGrey)
{
    CImage source = Narrow(31, 17, 60, 180, 11);
    // Every third pixel grey.
    for (int y = 0; y < source.height(); ++y)
        for (int x = 0; x < source.width(); x += 3) {
            std::uint8_t* p = Pixel(source, x, y);
            p[0] = p[1] = p[2] = static_cast<std::uint8_t>(60 + (x * 7 + y * 5) % 121);
        }
    for (float clip : {0.0f, 0.1f, 3.0f, 10.0f}) {
        SCOPED_TRACE(clip);
        const orvex_colour::CLevelsRange range = SortedRange(LuminanceValues(source), clip);
        ASSERT_LT(range.low, range.high);
        const CImage result = InPlace(source, [clip](CImageProcessor& e) { AutoContrast(e, clip); });
        colour_test::ExpectEveryByte(source, result, [&](int v, int) { return Stretched(v, range); });
        for (int y = 0; y < source.height(); ++y)
            for (int x = 0; x < source.width(); x += 3) {
                const std::uint8_t* p = Pixel(result, x, y);
                EXPECT_TRUE(p[0] == p[1] && p[1] == p[2]) << x << ", " << y;
            }
    }
    const CImage flat = Filled(5, 3, 10, 20, 30);
    EXPECT_TRUE(SamePixels(InPlace(flat, [](CImageProcessor& e) { AutoContrast(e, 0.0f); }), flat));
}
