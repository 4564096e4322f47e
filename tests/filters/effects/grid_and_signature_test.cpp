// Obtain Grid and the signature stamp.
#include "core/image_processor.h"
#include "filters/effects/signature_resource.h"
#include "tests/test_pictures.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

using namespace test_pictures;
using orvex_effects::kSignatureHeight;
using orvex_effects::kSignatureWidth;

namespace {

CImage Stamp()
{
    CImage stamp;
    EXPECT_TRUE(orvex_effects::DecodeBmp24(orvex_resources::kSignatureBmp, orvex_resources::kSignatureBmpSize, stamp));
    return stamp;
}

} // namespace

TEST(ObtainGrid, BlackensEvenRowsOnceAndForAll)
{
    for (const auto& size : {std::pair{1, 1}, std::pair{5, 1}, std::pair{3, 2}, std::pair{17, 9}, std::pair{8, 64}}) {
        const CImage picture = Noise(size.first, size.second, 6);
        const CImage once = Applied(picture, [](CImageProcessor& e) { e.ObtainGrid(); });
        for (int y = 0; y < size.second; ++y)
            for (int i = 0; i < 3 * size.first; ++i)
                ASSERT_EQ(Pixel(once, 0, y)[i], y % 2 == 0 ? 0 : Pixel(picture, 0, y)[i]) << y;
        EXPECT_TRUE(SamePixels(Applied(once, [](CImageProcessor& e) { e.ObtainGrid(); }), once));
    }
}

TEST(Sign, StampsTheCornerDarkOnLightAndLightOnDark)
{
    const CImage stamp = Stamp();
    ASSERT_EQ(stamp.width(), kSignatureWidth);
    ASSERT_EQ(stamp.height(), kSignatureHeight);
    bool marked = false;
    for (int y = 0; y < kSignatureHeight; ++y)
        for (int i = 0; i < 3 * kSignatureWidth; ++i) marked |= Pixel(stamp, 0, y)[i] >= 128;
    ASSERT_TRUE(marked) << "the stamp must leave a visible mark";

    // The whole corner is judged once by its mean: 127 and above counts as light.
    struct Case { int w, h; std::uint8_t level; bool light; };
    for (const Case& c : {Case{100, 40, 255, true}, Case{100, 40, 0, false}, Case{80, 27, 127, true},
                          Case{80, 27, 126, false}, Case{81, 30, 200, true}}) {
        CImage picture = Filled(c.w, c.h, c.level, c.level, c.level);
        CImageProcessor engine(&picture);
        ASSERT_EQ(engine.Sign(), 0);
        for (int y = 0; y < c.h; ++y)
            for (int x = 0; x < c.w; ++x)
                for (int ch = 0; ch < 3; ++ch) {
                    const int sx = x - (c.w - kSignatureWidth), sy = y - (c.h - kSignatureHeight);
                    const int half = sx >= 0 && sy >= 0 ? Pixel(stamp, sx, sy)[ch] / 2 : 0;
                    const int expected = c.light ? std::max(c.level - half, 0) : std::min(c.level + half, 255);
                    ASSERT_EQ(Pixel(picture, x, y)[ch], expected) << c.w << "x" << c.h << " at " << x << "," << y;
                }
    }
}

TEST(Sign, FailsWithoutChangeOnPicturesSmallerThanTheStamp)
{
    for (const auto& size : {std::pair{79, 27}, std::pair{80, 26}, std::pair{1, 1}, std::pair{500, 3}}) {
        CImage picture = Noise(size.first, size.second, 2);
        const CImage original = Copy(picture);
        CImageProcessor engine(&picture);
        EXPECT_NE(engine.Sign(), 0);
        EXPECT_TRUE(SamePixels(picture, original));
    }
}

TEST(Sign, BitmapReaderRefusesDamagedFiles)
{
    const std::vector<unsigned char> good(orvex_resources::kSignatureBmp,
                                          orvex_resources::kSignatureBmp + orvex_resources::kSignatureBmpSize);
    CImage out;
    for (std::size_t cut : {std::size_t{0}, std::size_t{13}, std::size_t{53}, good.size() - 1}) {
        EXPECT_FALSE(orvex_effects::DecodeBmp24(good.data(), cut, out)) << cut;
        EXPECT_TRUE(out.IsNull());
    }
    std::vector<unsigned char> bad = good;
    bad[28] = 32; // bits per pixel
    EXPECT_FALSE(orvex_effects::DecodeBmp24(bad.data(), bad.size(), out));
    bad = good;
    bad[22] = bad[23] = bad[24] = bad[25] = 0xFF; // height -1 with 27 rows of data: top-down, 1 row
    EXPECT_TRUE(orvex_effects::DecodeBmp24(bad.data(), bad.size(), out));
    EXPECT_EQ(out.height(), 1);
    bad[25] = 0x80; // a height of -2^31 + 255 cannot be negated safely
    EXPECT_FALSE(orvex_effects::DecodeBmp24(bad.data(), bad.size(), out));
}
