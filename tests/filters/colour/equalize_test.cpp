// Equalize and AutoColor against a reference built the long way, and the documented examples.
#include "tests/filters/colour/colour_test_support.h"

#include <gtest/gtest.h>

using namespace test_pictures;
using colour_test::InPlace;

namespace {

// Cumulative-fraction table of a histogram, summed in increasing order without renormalising.
std::vector<int> ReferenceTable(const std::vector<long long>& count, long long pixels)
{
    std::vector<int> table(256);
    double cumulative = 0.0;
    for (int k = 0; k < 256; ++k) {
        cumulative += static_cast<double>(count[static_cast<std::size_t>(k)]) / static_cast<double>(pixels);
        table[static_cast<std::size_t>(k)] = static_cast<int>(cumulative * 255.0);
    }
    return table;
}

CImage ReferenceEqualize(const CImage& source)
{
    std::vector<long long> count(256, 0);
    for (int x = 0; x < source.width(); ++x)
        for (int y = 0; y < source.height(); ++y) {
            const std::uint8_t* p = Pixel(source, x, y);
            ++count[static_cast<std::size_t>(static_cast<int>((p[0] + p[1] + p[2]) / 3.0))];
        }
    const auto table = ReferenceTable(count, static_cast<long long>(source.width()) * source.height());
    CImage result = colour_test::Copy(source);
    for (int x = 0; x < source.width(); ++x)
        for (int y = 0; y < source.height(); ++y)
            for (int c = 0; c < 3; ++c) Pixel(result, x, y)[c] = static_cast<std::uint8_t>(table[Pixel(source, x, y)[c]]);
    return result;
}

CImage ReferenceAutoColor(const CImage& source)
{
    CImage result = colour_test::Copy(source);
    for (int c = 0; c < 3; ++c) {
        std::vector<long long> count(256, 0);
        for (int x = 0; x < source.width(); ++x)
            for (int y = 0; y < source.height(); ++y) ++count[Pixel(source, x, y)[c]];
        const auto table = ReferenceTable(count, static_cast<long long>(source.width()) * source.height());
        for (int x = 0; x < source.width(); ++x)
            for (int y = 0; y < source.height(); ++y)
                Pixel(result, x, y)[c] = static_cast<std::uint8_t>(table[Pixel(source, x, y)[c]]);
    }
    return result;
}

} // namespace

TEST(Equalize, MatchesTheHistogramReference)
{
    for (int seed : {1, 2}) {
        // Tall enough that the rows are split over the cores.
        const CImage source = colour_test::Noise(57, 211, static_cast<std::uint32_t>(seed));
        EXPECT_TRUE(SamePixels(InPlace(source, [](CImageProcessor& e) { e.Equalize(); }), ReferenceEqualize(source)));
        EXPECT_TRUE(SamePixels(InPlace(source, [](CImageProcessor& e) { e.AutoColor(); }), ReferenceAutoColor(source)));
    }
}

TEST(Equalize, FlatPictures)
{
    const CImage flat = Filled(7, 5, 30, 90, 180); // intensity 100
    const CImage autoColor = InPlace(flat, [](CImageProcessor& e) { e.AutoColor(); });
    EXPECT_TRUE(SamePixels(autoColor, Filled(7, 5, 255, 255, 255)));
    const CImage equalized = InPlace(flat, [](CImageProcessor& e) { e.Equalize(); });
    EXPECT_TRUE(SamePixels(equalized, Filled(7, 5, 0, 0, 255)));
}

TEST(Equalize, EvenLevelsStayAndGreyAgreesWithAutoColor)
{
    // Every grey level 4 times: v maps to about v (cumulative (v + 1) / 256 of 255).
    CImage even;
    even.Create(256, 4, 24);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 256; ++x)
            for (int c = 0; c < 3; ++c) Pixel(even, x, y)[c] = static_cast<std::uint8_t>(x);
    const CImage equalized = InPlace(even, [](CImageProcessor& e) { e.Equalize(); });
    for (int x = 0; x < 256; ++x) EXPECT_NEAR(Pixel(equalized, x, 3)[1], x, 1);
    EXPECT_TRUE(SamePixels(InPlace(even, [](CImageProcessor& e) { e.AutoColor(); }), equalized));

    CImage grey = colour_test::Noise(33, 21, 9);
    for (int y = 0; y < grey.height(); ++y)
        for (int x = 0; x < grey.width(); ++x) Pixel(grey, x, y)[1] = Pixel(grey, x, y)[2] = Pixel(grey, x, y)[0];
    EXPECT_TRUE(SamePixels(InPlace(grey, [](CImageProcessor& e) { e.AutoColor(); }),
                           InPlace(grey, [](CImageProcessor& e) { e.Equalize(); })));
}
