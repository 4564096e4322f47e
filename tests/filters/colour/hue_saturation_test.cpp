// Hue/saturation/lightness: the conversions' blue-first hue scale, the documented examples, and the
// vector kernels (baseline and whatever the processor runs) against the scalar conversions.
#include "filters/colour/hue_saturation_kernel.h"
#include "tests/filters/colour/colour_test_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

using namespace test_pictures;
using colour_test::InPlace;

namespace {

// The scalar definition: convert, adjust, convert back.
void ReferencePixel(const std::uint8_t* in, std::uint8_t* out, float hue, float saturation, float lightness)
{
    float h, s, l;
    CImageProcessor::RgbToHsl(in, h, s, l);
    h = h + hue;
    s = s * saturation;
    if (s > 1.0f) s = 1.0f;
    if (lightness >= 0.0f)
        l = lightness + l * (1.0f - lightness);
    else
        l = (lightness + 1.0f) * l;
    CImageProcessor::HslToRgb(h, s, l, out);
}

// One row holding a dense sample of the colour cube (components in steps of 5, plus 254 and 1
// so that near-equal maxima occur), with a width that leaves a partial vector at the end.
CImage ColourSample()
{
    std::vector<int> levels;
    for (int v = 0; v <= 255; v += 5) levels.push_back(v);
    levels.push_back(1);
    levels.push_back(254);
    const int count = static_cast<int>(levels.size() * levels.size() * levels.size());
    CImage image;
    image.Create(count / 7 + 1, 7, 24);
    int i = 0;
    for (int b : levels)
        for (int g : levels)
            for (int r : levels) {
                std::uint8_t* p = Pixel(image, i % image.width(), i / image.width());
                p[0] = static_cast<std::uint8_t>(b);
                p[1] = static_cast<std::uint8_t>(g);
                p[2] = static_cast<std::uint8_t>(r);
                ++i;
            }
    return image;
}

struct CAdjust
{
    float hue, saturation, lightness;
};

const CAdjust kAdjustments[] = {
    {0, 1, 0}, {0, 0, 0}, {120, 1, 0}, {-180, 11, 1}, {37.5f, 3.5f, -0.42f}, {179, 0.3f, 0.77f},
    {-90, 1.001f, -1}, {-133, 1.7f, 0.25f}, {180, 0.5f, -0.05f},
};

std::uint8_t* Px(CImage& image, int x) { return Pixel(image, x, 0); }

} // namespace

TEST(HueSaturation, ConversionsUseTheBlueFirstHueScale)
{
    const std::uint8_t blue[3] = {255, 0, 0}, green[3] = {0, 255, 0}, red[3] = {0, 0, 255}, grey[3] = {77, 77, 77};
    float h, s, l;
    CImageProcessor::RgbToHsl(blue, h, s, l);
    EXPECT_TRUE(h == 0.0f && s == 1.0f && l == 0.5f);
    CImageProcessor::RgbToHsl(green, h, s, l);
    EXPECT_EQ(h, 120.0f);
    CImageProcessor::RgbToHsl(red, h, s, l);
    EXPECT_EQ(h, 240.0f);
    CImageProcessor::RgbToHsl(grey, h, s, l);
    EXPECT_TRUE(h == 0.0f && s == 0.0f);

    // A round trip keeps every colour in place, up to one level of truncation.
    const CImage sample = ColourSample();
    for (int y = 0; y < sample.height(); ++y)
        for (int x = 0; x < sample.width(); ++x) {
            const std::uint8_t* p = Pixel(sample, x, y);
            std::uint8_t back[3];
            CImageProcessor::RgbToHsl(p, h, s, l);
            ASSERT_GE(h, 0.0f);
            ASSERT_LT(h, 360.0f);
            CImageProcessor::HslToRgb(h, s, l, back);
            for (int c = 0; c < 3; ++c) ASSERT_LE(std::abs(back[c] - p[c]), 1) << x << "," << y << " channel " << c;
        }
}

TEST(HueSaturation, KnownColoursGreysAndLimits)
{
    const CImage red = Filled(3, 2, 0, 0, 255);
    const auto at = [](const CImage& image) { return Pixel(image, 2, 1); };
    EXPECT_TRUE(SamePixels(InPlace(red, [](CImageProcessor& e) { e.HueSaturation(120, 1, 0); }), Filled(3, 2, 255, 0, 0)));
    EXPECT_TRUE(SamePixels(InPlace(red, [](CImageProcessor& e) { e.HueSaturation(-120, 1, 0); }), Filled(3, 2, 0, 255, 0)));
    for (float hue : {180.0f, -180.0f}) {
        const CImage cyan = InPlace(red, [&](CImageProcessor& e) { e.HueSaturation(hue, 1, 0); });
        EXPECT_GE(at(cyan)[0], 254);
        EXPECT_GE(at(cyan)[1], 254);
        EXPECT_EQ(at(cyan)[2], 0);
    }
    // Desaturate: the grey of (max + min) / 2.
    EXPECT_EQ(at(InPlace(red, [](CImageProcessor& e) { e.HueSaturation(0, 0, 0); }))[1], 127);

    // Greys: every level survives the identity exactly, and no hue or saturation moves it.
    CImage greys;
    greys.Create(256, 1, 24);
    for (int v = 0; v < 256; ++v) Px(greys, v)[0] = Px(greys, v)[1] = Px(greys, v)[2] = static_cast<std::uint8_t>(v);
    EXPECT_TRUE(SamePixels(InPlace(greys, [](CImageProcessor& e) { e.HueSaturation(0, 1, 0); }), greys));
    EXPECT_TRUE(SamePixels(InPlace(greys, [](CImageProcessor& e) { e.HueSaturation(-77, 9, 0); }), greys));

    const CImage sample = ColourSample();
    const CImage white = InPlace(sample, [](CImageProcessor& e) { e.HueSaturation(33, 2, 1); });
    EXPECT_TRUE(SamePixels(white, Filled(sample.width(), sample.height(), 255, 255, 255)));
    const CImage black = InPlace(sample, [](CImageProcessor& e) { e.HueSaturation(-33, 0.5f, -1); });
    EXPECT_TRUE(SamePixels(black, Filled(sample.width(), sample.height(), 0, 0, 0)));

    // Saturation is capped at 1: beyond the cap a larger factor changes nothing.
    const CImage muted = Filled(1, 1, 100, 100, 200);
    const CImage full = InPlace(muted, [](CImageProcessor& e) { e.HueSaturation(0, 11, 0); });
    EXPECT_EQ(Pixel(full, 0, 0)[2], 255);
    EXPECT_EQ(Pixel(full, 0, 0)[0], Pixel(full, 0, 0)[1]);
    EXPECT_TRUE(SamePixels(full, InPlace(muted, [](CImageProcessor& e) { e.HueSaturation(0, 1e6f, 0); })));
}

// The kernels evaluate both sides of every test and select; this proves they still agree byte for
// byte with the scalar conversions, for the baseline width and for the one this processor uses.
TEST(HueSaturation, VectorKernelsMatchTheScalarConversions)
{
    const CImage sample = ColourSample();
    for (const CAdjust& a : kAdjustments) {
        SCOPED_TRACE(testing::Message() << a.hue << "," << a.saturation << "," << a.lightness);
        CImage expected = colour_test::Copy(sample);
        for (int y = 0; y < sample.height(); ++y)
            for (int x = 0; x < sample.width(); ++x)
                ReferencePixel(Pixel(sample, x, y), Pixel(expected, x, y), a.hue, a.saturation, a.lightness);

        const CImage engine = InPlace(sample, [&](CImageProcessor& e) { e.HueSaturation(a.hue, a.saturation, a.lightness); });
        EXPECT_TRUE(SamePixels(engine, expected));

        CImage baseline = colour_test::Copy(sample);
        for (int y = 0; y < sample.height(); ++y)
            CHslKernel<CFloat4, CInt4>::Row(Pixel(sample, 0, y), Pixel(baseline, 0, y), sample.width(),
                                            CHslAdjust{a.hue, a.saturation, a.lightness});
        EXPECT_TRUE(SamePixels(baseline, expected));
    }
}

TEST(HueSaturation, ShortRowsMatchTheScalarConversions)
{
    // Widths around the vector sizes exercise the partial blocks at the end of each row.
    for (int width = 1; width <= 21; ++width) {
        SCOPED_TRACE(width);
        const CImage source = colour_test::Noise(width, 3, static_cast<std::uint32_t>(width));
        CImage expected = colour_test::Copy(source);
        for (int y = 0; y < source.height(); ++y)
            for (int x = 0; x < width; ++x) ReferencePixel(Pixel(source, x, y), Pixel(expected, x, y), 61, 1.3f, 0.2f);
        EXPECT_TRUE(SamePixels(InPlace(source, [](CImageProcessor& e) { e.HueSaturation(61, 1.3f, 0.2f); }), expected));
    }
}

TEST(HueSaturation, PreviewRenderingCanBeAbandoned)
{
    // A watcher that asks to stop at once: the rendering gives up before writing anything.
    test_pictures::CStopAtOnce stop;
    const CImage source = colour_test::Noise(40, 300, 8);
    CImage picture = colour_test::Copy(source);
    CImageProcessor engine(&picture);
    engine.workImage().Create(source.width(), source.height(), 24);
    engine.preview = 1;
    {
        CImageProcessor::ThreadProgressOverride watch(&stop);
        engine.HueSaturation(90, 2, 0);
    }
    EXPECT_TRUE(SamePixels(engine.workImage(), Filled(source.width(), source.height(), 0, 0, 0)));
    EXPECT_TRUE(SamePixels(picture, source));
}
