// Colour balance and black and white: per-channel offsets, weighted grey, the preset list and the
// preserve-luminosity rule the dialog relies on.
#include "filters/colour/black_and_white_presets.h"
#include "tests/filters/colour/colour_test_support.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace test_pictures;
using colour_test::InPlace;
using colour_test::Noise;

namespace {

int Clamp(int v)
{
    return v < 0 ? 0 : v > 255 ? 255 : v;
}

} // namespace

TEST(ColorBalance, ShiftsEachChannelAlone)
{
    const CImage source = Noise(19, 7, 5);
    const int offsets[][3] = {{0, 0, 0}, {100, -100, 37}, {-1, 1, -100}, {100, 100, 100}, {-300, 1000, 0}};
    for (const auto& o : offsets) {
        SCOPED_TRACE(testing::Message() << o[0] << "," << o[1] << "," << o[2]);
        const CImage result = InPlace(source, [&](CImageProcessor& e) { e.ColorBalance(o[0], o[1], o[2]); });
        for (int x = 0; x < source.width(); ++x)
            for (int y = 0; y < source.height(); ++y) {
                const std::uint8_t* s = Pixel(source, x, y);
                const std::uint8_t* r = Pixel(result, x, y);
                ASSERT_EQ(r[2], Clamp(s[2] + o[0]));
                ASSERT_EQ(r[1], Clamp(s[1] + o[1]));
                ASSERT_EQ(r[0], Clamp(s[0] + o[2]));
            }
    }
    EXPECT_TRUE(SamePixels(InPlace(source, [](CImageProcessor& e) { e.ColorBalance(0, 0, 0); }), source));

    const CImage white = InPlace(Filled(2, 2, 255, 255, 255), [](CImageProcessor& e) { e.ColorBalance(50, -100, 0); });
    EXPECT_TRUE(SamePixels(white, Filled(2, 2, 255, 155, 255)));
}

TEST(BlackAndWhite, GreyFromTheWeightedMix)
{
    const CImage source = Noise(21, 9, 6);
    const float weights[][3] = {{0.34f, 0.33f, 0.33f}, {2.0f, -0.5f, -0.5f}, {-0.4f, 1.44f, -0.04f}, {3.0f, 3.0f, 3.0f}, {-2.0f, -2.0f, -2.0f}};
    for (const auto& w : weights) {
        SCOPED_TRACE(testing::Message() << w[0] << "," << w[1] << "," << w[2]);
        const CImage result = InPlace(source, [&](CImageProcessor& e) { e.BlackAndWhite(w[0], w[1], w[2]); });
        for (int x = 0; x < source.width(); ++x)
            for (int y = 0; y < source.height(); ++y) {
                const std::uint8_t* s = Pixel(source, x, y);
                const float sum = s[1] * w[1] + s[0] * w[2] + s[2] * w[0];
                const int grey = Clamp(static_cast<int>(sum));
                const std::uint8_t* r = Pixel(result, x, y);
                ASSERT_EQ(r[0], grey);
                ASSERT_EQ(r[1], grey);
                ASSERT_EQ(r[2], grey);
            }
    }

    const CImage sample = Filled(1, 1, 50, 100, 200); // red 200, green 100, blue 50
    EXPECT_EQ(Pixel(InPlace(sample, [](CImageProcessor& e) { e.BlackAndWhite(1.0f, 0.0f, 0.0f); }), 0, 0)[1], 200);
    EXPECT_EQ(Pixel(InPlace(sample, [](CImageProcessor& e) { e.BlackAndWhite(0.34f, 0.33f, 0.33f); }), 0, 0)[0], 117);
    const auto highContrastRed = [](CImageProcessor& e) { e.BlackAndWhite(2.0f, -0.5f, -0.5f); };
    EXPECT_EQ(Pixel(InPlace(Filled(1, 1, 0, 255, 0), highContrastRed), 0, 0)[2], 0);
    EXPECT_EQ(Pixel(InPlace(Filled(1, 1, 0, 0, 255), highContrastRed), 0, 0)[2], 255);
}

TEST(BlackAndWhite, PresetsMixToOneHundredPercent)
{
    // Every mix preset's weights total 100 % (700 positions), which catches a mistyped position;
    // the separators are 30 hyphens and the list ends with "Custom".
    for (const CBlackAndWhitePreset& preset : kBlackAndWhitePresets) {
        if (preset.kind == CBlackAndWhitePreset::Kind::Mix) {
            EXPECT_EQ(preset.reds + preset.greens + preset.blues, 700) << preset.name;
        }
        if (preset.name[0] == '-') {
            EXPECT_EQ(std::strlen(preset.name), 30u);
        }
    }
    EXPECT_STREQ(kBlackAndWhitePresets[kBlackAndWhiteCustomIndex].name, "Custom");
    EXPECT_EQ(kBlackAndWhitePresets[1].kind, CBlackAndWhitePreset::Kind::ResetToNone);
    EXPECT_FLOAT_EQ(BlackAndWhiteWeight(kBlackAndWhitePresets[8].greens), 1.44f);
    EXPECT_FLOAT_EQ(BlackAndWhiteWeight(kBlackAndWhitePresets[8].blues), -0.04f);
}

TEST(BlackAndWhite, PreserveLuminosityRedistribution)
{
    std::array<int, 3> p = {300, 233, 233}; // reds moved from 234 to 300
    RedistributeLuminosity(0, p);
    EXPECT_EQ(p, (std::array<int, 3>{300, 200, 200}));
    p = {301, 233, 233}; // odd remainder: the total ends 1 % off
    RedistributeLuminosity(0, p);
    EXPECT_EQ(p, (std::array<int, 3>{301, 200, 200}));

    // Greens' partners are reds then blues; blues' are greens then reds.
    p = {234, 133, 233};
    RedistributeLuminosity(1, p);
    EXPECT_EQ(p, (std::array<int, 3>{284, 133, 283}));
    p = {234, 233, 433};
    RedistributeLuminosity(2, p);
    EXPECT_EQ(p, (std::array<int, 3>{134, 133, 433}));

    // Whatever the first partner cannot take is carried to the second; the second's overflow comes
    // back to the first; both end inside the slider range.
    p = {0, 495, 100};
    RedistributeLuminosity(0, p);
    EXPECT_EQ(p, (std::array<int, 3>{0, 500, 199}));
    p = {0, 100, 480};
    RedistributeLuminosity(0, p);
    EXPECT_EQ(p, (std::array<int, 3>{0, 200, 500}));
    p = {500, 300, 10};
    RedistributeLuminosity(0, p);
    EXPECT_EQ(p, (std::array<int, 3>{500, 200, 0}));
    for (int changed = 0; changed < 3; ++changed)
        for (int moved = 0; moved <= 500; moved += 7) {
            p = {234, 233, 233};
            p[static_cast<std::size_t>(changed)] = moved;
            RedistributeLuminosity(changed, p);
            for (int v : p) {
                EXPECT_GE(v, 0);
                EXPECT_LE(v, 500);
            }
            const int total = p[0] + p[1] + p[2];
            EXPECT_NEAR(total, 700, 1) << changed << " " << moved;
        }
}
