// The shared histogram against a plain count of every pixel.
#include "filters/colour/histogram.h"
#include "tests/filters/colour/colour_test_support.h"

#include <gtest/gtest.h>

using namespace test_pictures;

namespace {

orvex_colour::CHistogram PlainCount(const CImage& picture)
{
    orvex_colour::CHistogram h;
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x) {
            const std::uint8_t* p = Pixel(picture, x, y);
            ++h.blue[p[0]];
            ++h.green[p[1]];
            ++h.red[p[2]];
            ++h.luminance[(77 * p[2] + 150 * p[1] + 29 * p[0] + 128) / 256];
            ++h.pixels;
        }
    return h;
}

void ExpectSame(const orvex_colour::CHistogram& a, const orvex_colour::CHistogram& b)
{
    EXPECT_EQ(a.pixels, b.pixels);
    EXPECT_EQ(a.blue, b.blue);
    EXPECT_EQ(a.green, b.green);
    EXPECT_EQ(a.red, b.red);
    EXPECT_EQ(a.luminance, b.luminance);
}

} // namespace

TEST(Histogram, CountsEveryPixelExactly)
{
    // Odd sizes, a single pixel, a single row longer than the counting runs, runs of one value.
    const std::pair<int, int> sizes[] = {{1, 1}, {1, 9}, {7, 1}, {37, 23}, {513, 3}, {1025, 2}, {64, 64}};
    for (auto [w, h] : sizes) {
        SCOPED_TRACE(testing::Message() << w << " x " << h);
        const CImage noise = Noise(w, h, static_cast<std::uint32_t>(w * 31 + h));
        ExpectSame(orvex_colour::ComputeHistogram(noise), PlainCount(noise));
        const CImage flat = Filled(w, h, 255, 0, 128);
        const orvex_colour::CHistogram counted = orvex_colour::ComputeHistogram(flat);
        ExpectSame(counted, PlainCount(flat));
        EXPECT_EQ(counted.luminance[orvex_colour::Luminance(128, 0, 255)], std::uint64_t(w) * h);
    }
    // Greys keep their value as luminance, white stays 255.
    for (int v : {0, 1, 127, 128, 254, 255}) EXPECT_EQ(orvex_colour::Luminance(v, v, v), v);
}

TEST(Histogram, EmptyForNoPictureOrWhenStopped)
{
    const CImage none;
    EXPECT_EQ(orvex_colour::ComputeHistogram(none).pixels, 0u);
    const CImage noise = Noise(40, 300, 5);
    std::atomic<bool> stop{true};
    const orvex_colour::CHistogram stopped = orvex_colour::ComputeHistogram(noise, &stop);
    EXPECT_EQ(stopped.pixels, 0u);
    EXPECT_EQ(stopped.red, orvex_colour::CHistogram().red);
    stop = false;
    ExpectSame(orvex_colour::ComputeHistogram(noise, &stop), PlainCount(noise));
}
