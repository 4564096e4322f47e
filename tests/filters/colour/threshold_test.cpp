#include "filters/colour/threshold.h"
#include "tests/filters/colour/colour_test_support.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace test_pictures;

namespace {

// White where the rounded weighted luminance reaches the level, computed the long way.
CImage ReferenceThreshold(const CImage& source, int level)
{
    CImage result = Copy(source);
    for (int y = 0; y < source.height(); ++y)
        for (int x = 0; x < source.width(); ++x) {
            const std::uint8_t* p = Pixel(source, x, y);
            const int luminance =
                static_cast<int>(std::floor((77.0 * p[2] + 150.0 * p[1] + 29.0 * p[0]) / 256.0 + 0.5));
            const std::uint8_t v = luminance >= level ? 255 : 0;
            std::uint8_t* q = Pixel(result, x, y);
            q[0] = q[1] = q[2] = v;
        }
    return result;
}

} // namespace

TEST(Threshold, BlackOrWhiteByLuminance)
{
    const CImage pictures[] = {Noise(1, 1, 3), Noise(37, 23, 4), Noise(1, 50, 5), Noise(301, 2, 6)};
    for (const CImage& source : pictures)
        for (int level : {0, 1, 64, 127, 128, 129, 254, 255}) {
            SCOPED_TRACE(testing::Message() << source.width() << " x " << source.height() << " level " << level);
            const CImage expected = ReferenceThreshold(source, level);
            EXPECT_TRUE(SamePixels(colour_test::InPlace(source, [level](CImageProcessor& e) { Threshold(e, level); }),
                                   expected));
            bool kept = false;
            const CImage preview = colour_test::Preview(
                source, [level](CImageProcessor& e) { Threshold(e, level); }, &kept);
            EXPECT_TRUE(kept);
            EXPECT_TRUE(SamePixels(preview, expected));
        }
    // Exactly at the level is white, one below black; level 0 whitens even black.
    const CImage grey = Filled(3, 2, 128, 128, 128);
    EXPECT_TRUE(SamePixels(colour_test::InPlace(grey, [](CImageProcessor& e) { Threshold(e, 128); }),
                           Filled(3, 2, 255, 255, 255)));
    EXPECT_TRUE(
        SamePixels(colour_test::InPlace(grey, [](CImageProcessor& e) { Threshold(e, 129); }), Filled(3, 2, 0, 0, 0)));
    EXPECT_TRUE(SamePixels(colour_test::InPlace(Filled(2, 2, 0, 0, 0), [](CImageProcessor& e) { Threshold(e, 0); }),
                           Filled(2, 2, 255, 255, 255)));
}
