#include "core/operation_table.h"
#include "filters/colour/histogram.h"
#include "filters/colour/levels.h"
#include "tests/filters/colour/colour_test_support.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace test_pictures;
using colour_test::ExpectEveryByte;
using colour_test::InPlace;
using orvex_colour::CLevelsSetting;

namespace {

// Every value 0..255 in every channel, each channel in another order, with an odd width.
CImage AllValues()
{
    CImage image;
    image.Create(17, 16, 24);
    for (int i = 0; i < 17 * 16; ++i) {
        std::uint8_t* p = Pixel(image, i % 17, i / 17);
        p[0] = static_cast<std::uint8_t>(i);
        p[1] = static_cast<std::uint8_t>(i * 7 + 3);
        p[2] = static_cast<std::uint8_t>(255 - i);
    }
    return image;
}

// The definition, written out plainly.
int Reference(int v, const CLevelsSetting& s)
{
    const int white = s.black >= s.white ? s.black + 1 : s.white;
    double x = static_cast<double>(v - s.black) / (white - s.black);
    x = x < 0 ? 0 : x > 1 ? 1 : x;
    return static_cast<int>(std::lround(s.outBlack + std::pow(x, 1.0 / s.gamma) * (s.outWhite - s.outBlack)));
}

const CLevelsSetting kSettings[] = {
    {0, 255, 1.0, 0, 255},                           // identity
    {20, 200, 1.0, 0, 255},                          // stretch
    {0, 255, 2.0, 0, 255},                           // lighter mid-tones
    {10, 240, 0.1, 5, 250},                          // the gamma's ends
    {0, 255, 10.0, 0, 255},  {30, 220, 1.7, 255, 0}, // inverted output
    {100, 100, 1.0, 0, 255},                         // black = white: white becomes 101
    {254, 255, 1.0, 40, 41},
};

} // namespace

TEST(Levels, EveryValueOfEveryChannelFollowsTheDefinition)
{
    const CImage source = AllValues();
    for (const CLevelsSetting& s : kSettings) {
        SCOPED_TRACE(testing::Message() << s.black << " " << s.white << " " << s.gamma << " " << s.outBlack << " "
                                        << s.outWhite);
        for (int v = 0; v < 256; ++v) ASSERT_EQ(orvex_colour::LevelsTable(s)[v], Reference(v, s)) << v;
        ExpectEveryByte(source, InPlace(source, [&](CImageProcessor& e) { Levels(e, 'a', s); }),
                        [&](int v, int) { return Reference(v, s); });
        // One channel: the other two stay as they are.
        const char codes[3] = {'b', 'g', 'r'};
        for (int c = 0; c < 3; ++c)
            ExpectEveryByte(source, InPlace(source, [&](CImageProcessor& e) { Levels(e, codes[c], s); }),
                            [&](int v, int channel) { return channel == c ? Reference(v, s) : v; });
    }
    // Hand-worked values: gamma 2 lifts a quarter to its square root, 64 -> 127.75 -> 128.
    EXPECT_EQ(orvex_colour::LevelsTable({0, 255, 2.0, 0, 255})[64], 128);
    EXPECT_EQ(orvex_colour::LevelsTable({30, 220, 1.0, 255, 0})[10], 255);
    // Settings no dialog gives are made sane rather than dividing by zero or wrapping.
    EXPECT_EQ(orvex_colour::LevelsTable({300, -5, NAN, -9, 999}), orvex_colour::LevelsTable({254, 255, 1.0, 0, 255}));
    const CImage tiny = Filled(1, 1, 0, 128, 255);
    EXPECT_TRUE(SamePixels(InPlace(tiny,
                                   [](CImageProcessor& e) {
                                       Levels(e, 'a', {0, 255, 1, 255, 0});
                                   }),
                           Filled(1, 1, 255, 127, 0)));
}

TEST(Levels, FourSettingsComposeInOnePassAndPreviewAsApplied)
{
    const CImage source = AllValues();
    orvex_colour::CLevelsSettings four;
    four.all = {10, 230, 1.3, 0, 255};
    four.red = {0, 200, 1.0, 20, 255};
    four.green = {40, 255, 0.6, 0, 255};
    four.blue = {0, 255, 1.0, 255, 0};
    const CLevelsSetting own[3] = {four.blue, four.green, four.red};
    const CImage result = InPlace(source, [&](CImageProcessor& e) { Levels(e, four); });
    ExpectEveryByte(source, result, [&](int v, int c) { return Reference(Reference(v, own[c]), four.all); });

    bool kept = false;
    const CImage preview = colour_test::Preview(
        source, [&](CImageProcessor& e) { Levels(e, four); }, &kept);
    EXPECT_TRUE(kept);
    EXPECT_TRUE(SamePixels(preview, result));
}

TEST(Levels, TableRowTakesItsArgumentsInOrderAndDefaultsToTheIdentity)
{
    const COperation* op = FindOperation("Levels");
    ASSERT_NE(op, nullptr);
    ASSERT_EQ(op->params.size(), 6u);
    const CImage source = Noise(23, 9, 4);
    EXPECT_TRUE(SamePixels(InPlace(source, [&](CImageProcessor& e) { op->call(e, DefaultArgs(*op)); }), source));
    // Levels=g,20,200,1.5 with the output range left out.
    std::vector<double> args = DefaultArgs(*op).Values();
    args[0] = 'g', args[1] = 20, args[2] = 200, args[3] = 1.5;
    const CLevelsSetting s{20, 200, 1.5, 0, 255};
    ExpectEveryByte(source, InPlace(source, [&](CImageProcessor& e) { op->call(e, COpArgs(args)); }),
                    [&](int v, int c) { return c == 1 ? Reference(v, s) : v; });
}

TEST(Levels, AutoRangeClipsATenthOfAPercentAtEachEnd)
{
    // The plain rule: the first value whose running count from either end exceeds 0.1 %.
    const auto reference = [](const std::array<std::uint64_t, 256>& counts) {
        double total = 0;
        for (auto c : counts) total += static_cast<double>(c);
        int black = 0, white = 255;
        double sum = 0;
        for (black = 0; black < 255; ++black)
            if ((sum += static_cast<double>(counts[black])) > total / 1000) break;
        sum = 0;
        for (white = 255; white > 0; --white)
            if ((sum += static_cast<double>(counts[white])) > total / 1000) break;
        return black < white ? std::pair{black, white} : std::pair{0, 255};
    };
    const CImage noise = Noise(101, 37, 9);
    const orvex_colour::CHistogram h = orvex_colour::ComputeHistogram(noise);
    for (const auto* counts : {&h.red, &h.green, &h.blue}) {
        const orvex_colour::CLevelsPoints range = orvex_colour::AutoLevelsRange(*counts);
        EXPECT_EQ(std::pair(range.black, range.white), reference(*counts));
    }
    // 2000 pixels: two at the darkest value are 0.1 % exactly and are clipped, a third is not.
    std::array<std::uint64_t, 256> counts{};
    counts[3] = 2, counts[7] = 1, counts[100] = 1994, counts[250] = 1, counts[252] = 2;
    EXPECT_EQ(orvex_colour::AutoLevelsRange(counts).black, 7);
    EXPECT_EQ(orvex_colour::AutoLevelsRange(counts).white, 250);
    // One value, or no pixels: no range to stretch.
    std::array<std::uint64_t, 256> flat{};
    EXPECT_EQ(orvex_colour::AutoLevelsRange(flat).white, 255);
    flat[90] = 50;
    EXPECT_EQ(orvex_colour::AutoLevelsRange(flat).black, 0);
    EXPECT_EQ(orvex_colour::AutoLevelsRange(flat).white, 255);
}
