// Variations' tables and the reduced copy its dialog shows, against plain references.
#include "core/image_processor.h"
#include "filters/colour/variations.h"
#include "tests/test_pictures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

using namespace test_pictures;

TEST(Variations, AddsTheChannelsOffsetAndTheLightnessThenHoldsTo0To255)
{
    struct CCase
    {
        int red, green, blue, lightness;
    };
    // Zero, each alone, mixed signs, the ends of the range and beyond (held to -255..255).
    const CCase cases[] = {{0, 0, 0, 0},        {16, 0, 0, 0},        {0, -32, 0, 0},
                           {0, 0, 64, 0},       {0, 0, 0, -8},        {40, -40, 7, 20},
                           {255, -255, 0, 255}, {-255, 255, 0, -255}, {1000, -1000, 0, 0}};
    const CImage picture = Noise(37, 11, 4);
    for (const CCase& k : cases) {
        SCOPED_TRACE(testing::Message() << k.red << " " << k.green << " " << k.blue << " " << k.lightness);
        const CImage out =
            Applied(picture, [&](CImageProcessor& e) { Variations(e, k.red, k.green, k.blue, k.lightness); });
        const auto held = [](int v) { return std::min(255, std::max(-255, v)); };
        const int offset[3] = {held(k.blue) + held(k.lightness), held(k.green) + held(k.lightness),
                               held(k.red) + held(k.lightness)};
        int wrong = 0;
        for (int y = 0; y < 11; ++y)
            for (int x = 0; x < 37; ++x)
                for (int c = 0; c < 3; ++c) {
                    int want = Pixel(picture, x, y)[c] + offset[c];
                    want = want < 0 ? 0 : want > 255 ? 255 : want;
                    wrong += Pixel(out, x, y)[c] != want;
                }
        EXPECT_EQ(wrong, 0);
    }
}

TEST(Variations, ReducedCopyIsTheRoundedMeanOfTheBlockEachPixelCovers)
{
    struct CCase
    {
        int width, height, side, wantWidth, wantHeight;
    };
    const CCase cases[] = {{400, 300, 160, 160, 120}, {301, 1000, 160, 48, 160}, {1, 1, 160, 1, 1},
                           {160, 7, 160, 160, 7},     {999, 2, 160, 160, 1},     {7, 5, 3, 3, 2}};
    for (const CCase& k : cases) {
        SCOPED_TRACE(testing::Message() << k.width << " x " << k.height);
        const CImage picture = Noise(k.width, k.height, 17);
        CImage out;
        ASSERT_TRUE(orvex_colour::ReducePicture(picture, k.side, out));
        ASSERT_EQ(out.width(), k.wantWidth);
        ASSERT_EQ(out.height(), k.wantHeight);
        // Every source pixel added to the target pixel x * w' / w, y * h' / h.
        std::vector<long long> sum(static_cast<std::size_t>(out.width() * out.height() * 3));
        std::vector<long long> count(static_cast<std::size_t>(out.width() * out.height()));
        for (int y = 0; y < k.height; ++y)
            for (int x = 0; x < k.width; ++x) {
                const int at = (y * out.height() / k.height) * out.width() + x * out.width() / k.width;
                ++count[static_cast<std::size_t>(at)];
                for (int c = 0; c < 3; ++c) sum[static_cast<std::size_t>(3 * at + c)] += Pixel(picture, x, y)[c];
            }
        int wrong = 0;
        for (int dy = 0; dy < out.height(); ++dy)
            for (int dx = 0; dx < out.width(); ++dx)
                for (int c = 0; c < 3; ++c) {
                    const std::size_t at = static_cast<std::size_t>(dy * out.width() + dx);
                    const long long n = count[at];
                    wrong += n == 0 || Pixel(out, dx, dy)[c] != (sum[3 * at + static_cast<std::size_t>(c)] + n / 2) / n;
                }
        EXPECT_EQ(wrong, 0);
    }
    CImage out;
    EXPECT_FALSE(orvex_colour::ReducePicture(CImage(), 160, out));
}
