#include "filters/colour/posterize.h"
#include "tests/filters/colour/colour_test_support.h"

#include <gtest/gtest.h>

using namespace test_pictures;
using colour_test::ExpectEveryByte;
using colour_test::InPlace;

TEST(Posterize, PosterizeQuantisesToEvenLevels)
{
    const CImage source = Noise(29, 13, 2);
    for (int levels : {2, 3, 5, 10, 100, 255, 256}) {
        SCOPED_TRACE(levels);
        const CImage result = InPlace(source, [&](CImageProcessor& e) { Posterize(e, levels); });
        const double step = 255.0 / (levels - 1);
        ExpectEveryByte(source, result, [&](int v, int) {
            const int q = static_cast<int>(v * (levels - 1) / 255.0 + 0.5) & 0xFF;
            return static_cast<int>(q * step);
        });
    }
    const CImage edges = Filled(1, 1, 127, 128, 64);
    const CImage two = InPlace(edges, [](CImageProcessor& e) { Posterize(e, 2); });
    EXPECT_TRUE(SamePixels(two, Filled(1, 1, 0, 255, 0)));
    EXPECT_TRUE(SamePixels(InPlace(source, [](CImageProcessor& e) { Posterize(e, 256); }), source));
    // Level counts the dialog cannot produce are held to 2..256 instead of dividing by zero or
    // wrapping the level index.
    EXPECT_TRUE(SamePixels(InPlace(source, [](CImageProcessor& e) { Posterize(e, 1); }),
                           InPlace(source, [](CImageProcessor& e) { Posterize(e, 2); })));
    EXPECT_TRUE(SamePixels(InPlace(source, [](CImageProcessor& e) { Posterize(e, 100000); }), source));
}
