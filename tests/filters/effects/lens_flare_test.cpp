// Lens flare against a plain rendering with full-picture layers, and its drawing routines against
// direct transcriptions of their definitions.
#include "core/image_processor.h"
#include "core/random.h"
#include "tests/test_pictures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>

using namespace test_pictures;
using CColor = CImageProcessor::CFlareColor;

namespace {

void Put(CImage& image, int x, int y, int r, int g, int b)
{
    if (x < 0 || y < 0 || x >= image.width() || y >= image.height()) return;
    std::uint8_t* p = Pixel(image, x, y);
    p[0] = static_cast<std::uint8_t>(b);
    p[1] = static_cast<std::uint8_t>(g);
    p[2] = static_cast<std::uint8_t>(r);
}

void RefLine(CImage& image, int x0, int y0, int x1, int y1, CColor c0, CColor c1)
{
    const bool alongX = std::abs(y1 - y0) < std::abs(x1 - x0);
    const bool fromFirst = alongX ? x0 <= x1 : y0 <= y1;
    const int sx = fromFirst ? x0 : x1, sy = fromFirst ? y0 : y1;
    const int ex = fromFirst ? x1 : x0, ey = fromFirst ? y1 : y0;
    const CColor a = fromFirst ? c0 : c1, b = fromFirst ? c1 : c0;
    const int span = alongX ? ex - sx : ey - sy;
    if (span == 0) return;
    for (int k = 0; k <= span; ++k) {
        const float fk = static_cast<float>(k);
        const float fs = static_cast<float>(span);
        const auto channel = [&](int from, int to) {
            return static_cast<int>(static_cast<float>(from) + static_cast<float>(to - from) / fs * fk);
        };
        const int x = alongX ? sx + k : static_cast<int>(static_cast<float>(sx) + static_cast<float>(ex - sx) / fs * fk);
        const int y = alongX ? static_cast<int>(static_cast<float>(sy) + static_cast<float>(ey - sy) / fs * fk) : sy + k;
        Put(image, x, y, channel(a.red, b.red), channel(a.green, b.green), channel(a.blue, b.blue));
    }
}

void RefCircle(CImage& image, int cx, int cy, int r, CColor c)
{
    int px = cx + r, py = cy;
    for (double a = 0.017453292222222222; a < 6.2831852; a += 0.017453292222222222) {
        const int nx = cx + static_cast<int>(std::cos(a) * r);
        const int ny = cy + static_cast<int>(std::sin(a) * r);
        RefLine(image, px, py, nx, ny, c, c);
        px = nx;
        py = ny;
    }
}

void RefElement(CImage& image, int x, int y, int radius, CColor c, bool ring, double t)
{
    if (radius <= 0) return;
    const int cx = static_cast<int>(t * (image.width() / 2 - x) + x);
    const int cy = static_cast<int>(t * (image.height() / 2 - y) + y);
    for (int i = 0; i < radius; ++i) {
        float l = std::sqrt(1.0f - static_cast<float>(i) * static_cast<float>(i) /
                                       (static_cast<float>(radius) * static_cast<float>(radius)));
        if (ring) l = 1.0f - l;
        RefCircle(image, cx, cy, i,
                  {static_cast<int>(l * static_cast<float>(c.red)), static_cast<int>(l * static_cast<float>(c.green)),
                   static_cast<int>(l * static_cast<float>(c.blue))});
    }
}

void RefAdd(const CImage& source, CImage& target)
{
    for (int y = 0; y < target.height(); ++y)
        for (int i = 0; i < 3 * target.width(); ++i)
            Pixel(target, 0, y)[i] = static_cast<std::uint8_t>(std::min(255, Pixel(target, 0, y)[i] + Pixel(source, 0, y)[i]));
}


// The flare with a fresh full-picture layer for every part, as the effect is defined.
CImage RefFlare(const CImage& picture, int x, int y, float brightness, std::uint32_t seed)
{
    const int w = picture.width(), h = picture.height();
    CImage sum;
    sum.Create(w, h, 24);
    CImage layer;
    layer.Create(w, h, 24);
    orvex_random::CLcg lcg(seed);
    for (int i = 0; i < 150; ++i) {
        const double angle = lcg.Next() * 6.2831852 / 32767;
        const double length = (lcg.Next() * (0.2 * w) / 32767 + 0.1 * w) * brightness;
        RefLine(layer, x, y, static_cast<int>(x + std::cos(angle) * length), static_cast<int>(y + std::sin(angle) * length),
                {128, 120, 40}, {0, 0, 0});
    }
    RefAdd(layer, sum);
    struct Row { double size, t; CColor c; bool ring; };
    const Row rows[15] = {{0.01953125, 0, {255, 240, 82}, false}, {0.3125 * brightness, 0, {51, 46, 18}, false},
                          {0.040625, -0.3, {13, 36, 13}, true},   {0.01875, 0.5, {0, 41, 54}, true},
                          {0.0546875, 0.55, {0, 41, 54}, true},   {0.028125, 0.6, {0, 41, 54}, true},
                          {0.0171875, 0.8, {115, 64, 31}, true},  {0.00234375, 1.0, {143, 255, 247}, false},
                          {0.0078125, 1.27, {168, 255, 255}, false}, {0.0390625, 1.4, {69, 38, 0}, true},
                          {0.015625, 1.47, {69, 38, 0}, true},    {0.059375, 1.47, {69, 38, 0}, true},
                          {0.02734375, 1.65, {18, 61, 71}, true}, {0.0140625, 1.66, {0, 20, 176}, false},
                          {0.0984375, 2.0, {61, 51, 0}, true}};
    for (const Row& r : rows) {
        layer.Destroy();
        layer.Create(w, h, 24);
        RefElement(layer, x, y, static_cast<int>(r.size * w), r.c, r.ring, r.t);
        RefAdd(layer, sum);
    }
    CImageProcessor blur(&sum);
    blur.GaussianBlur(static_cast<float>(std::sqrt(static_cast<double>(std::max(w, h))) * (brightness * 0.07)), 1);
    for (int yy = 0; yy < h; ++yy)
        for (int i = 0; i < 3 * w; ++i) {
            const float v = static_cast<float>(Pixel(sum, 0, yy)[i]) * brightness;
            Pixel(sum, 0, yy)[i] = static_cast<std::uint8_t>(v <= 0.0f ? 0 : v >= 255.0f ? 255 : static_cast<int>(v));
        }
    CImage out = Copy(picture);
    RefAdd(sum, out);
    return out;
}

CImage Flared(const CImage& picture, int x, int y, float brightness, std::uint32_t seed)
{
    return Applied(picture, [&](CImageProcessor& e) {
        e.SetSeedOverride(seed);
        e.LensFlare(x, y, brightness);
    });
}

} // namespace

TEST(LensFlare, MatchesFullPictureLayersForCentresOnAndOffThePicture)
{
    struct Case { int w, h, x, y; float brightness; };
    const Case cases[] = {
        {1, 1, 0, 0, 1.0f},      {3, 2, 1, 1, 3.0f},       {17, 9, 20, -4, 1.0f},   {64, 48, 30, 20, 1.0f},
        {64, 48, -50, -30, 3.0f}, {80, 30, 500, 10, 0.1f}, {300, 200, 250, 40, 1.0f}, {300, 200, -90, 260, 2.2f},
        // Wide enough for row 8 (radius 2) and a blur radius above 2 (the frequency-domain path).
        {900, 40, 100, 20, 1.0f},
    };
    for (const Case& c : cases) {
        const CImage picture = Noise(c.w, c.h, static_cast<std::uint32_t>(c.w + c.h));
        EXPECT_TRUE(SamePixels(Flared(picture, c.x, c.y, c.brightness, 5u), RefFlare(picture, c.x, c.y, c.brightness, 5u)))
            << c.w << "x" << c.h << " at " << c.x << "," << c.y << " brightness " << c.brightness;
    }    // Elements are drawn band by band on the cores; centres a row apart move every outline's top
    // and bottom across the band edges.
    const CImage tall = Noise(90, 160, 7);
    for (int y = 40; y < 48; ++y)
        EXPECT_TRUE(SamePixels(Flared(tall, 45, y, 3.0f, 9u), RefFlare(tall, 45, y, 3.0f, 9u))) << "centre row " << y;
}

TEST(LensFlare, WhiteStaysWhiteAndThePointerComesBackEvenOnFailure)
{
    const CImage white = Filled(120, 80, 255, 255, 255);
    EXPECT_TRUE(SamePixels(Flared(white, 60, 40, 3.0f, 1u), white));

    CImage picture = Noise(50, 40, 3);
    const CImage original = Copy(picture);
    CImageProcessor engine(&picture);
    engine.LensFlare(10, 10, 1.0f);
    EXPECT_EQ(engine.image(), &picture);
    EXPECT_FALSE(SamePixels(picture, original));

    CImage untouched = Copy(original);
    CImageProcessor failing(&untouched);
    orvex_testing::FailImageAllocationsAfter(0);
    failing.LensFlare(10, 10, 1.0f);
    orvex_testing::FailImageAllocationsAfter(-1);
    EXPECT_TRUE(failing.Failed());
    EXPECT_EQ(failing.image(), &untouched);
    EXPECT_TRUE(SamePixels(untouched, original));
}

TEST(LensFlare, DrawingRoutinesFollowTheirDefinitions)
{
    // Lines in every direction, steep and flat, clipped at every edge, with gradients both ways.
    const int ends[][4] = {{-5, 2, 10, 2}, {3, -4, 3, 12}, {0, 0, 7, 5}, {7, 5, 0, 0}, {-3, 9, 11, -2},
                           {2, 2, 2, 2},   {6, 1, 1, 6},   {-20, -20, -1, -1}, {1, 0, 6, 5}};
    for (const auto& e : ends) {
        CImage expected;
        expected.Create(8, 6, 24);
        CImage actual;
        actual.Create(8, 6, 24);
        RefLine(expected, e[0], e[1], e[2], e[3], {250, 10, 90}, {3, 200, 40});
        CImageProcessor engine(&actual);
        engine.DrawGradientLine(e[0], e[1], e[2], e[3], {250, 10, 90}, {3, 200, 40});
        EXPECT_TRUE(SamePixels(actual, expected)) << e[0] << "," << e[1] << " to " << e[2] << "," << e[3];
    }
    // The gradient runs from the first end's colour to the second's whichever way the walk goes.
    CImage line;
    line.Create(11, 1, 24);
    CImageProcessor lineEngine(&line);
    lineEngine.DrawGradientLine(10, 0, 0, 0, {200, 0, 0}, {0, 0, 100});
    EXPECT_EQ(Pixel(line, 10, 0)[2], 200);
    EXPECT_EQ(Pixel(line, 0, 0)[0], 100);

    for (int radius : {0, 1, 2, 7, 30}) {
        for (bool ring : {false, true}) {
            CImage expected;
            expected.Create(41, 33, 24);
            CImage actual;
            actual.Create(41, 33, 24);
            RefElement(expected, 5, 30, radius, {255, 128, 7}, ring, 0.6);
            CImageProcessor engine(&actual);
            engine.DrawFlareElement(5, 30, radius, {255, 128, 7}, ring, 0.6);
            EXPECT_TRUE(SamePixels(actual, expected)) << radius << (ring ? " ring" : " disc");
            if (radius <= 1) {
                EXPECT_TRUE(SamePixels(actual, Filled(41, 33, 0, 0, 0))) << "a radius-0 outline is empty";
            }
        }
    }
    // Row 8 of the flare (0.00234375 of the width) has radius 0 below 427 pixels.
    EXPECT_EQ(static_cast<int>(0.00234375 * 426), 0);
    EXPECT_EQ(static_cast<int>(0.00234375 * 427), 1);

    CImage a = Filled(3, 2, 200, 10, 0);
    const CImage b = Filled(3, 2, 100, 10, 255);
    CImageProcessor::AddLayer(b, a);
    EXPECT_TRUE(SamePixels(a, Filled(3, 2, 255, 20, 255)));
    CImageProcessor scaler(&a);
    scaler.ScaleLayer(0.5f);
    EXPECT_TRUE(SamePixels(a, Filled(3, 2, 127, 10, 127)));
    scaler.ScaleLayer(3.0f);
    EXPECT_TRUE(SamePixels(a, Filled(3, 2, 255, 30, 255)));
    scaler.ScaleLayer(-1.0f);
    EXPECT_TRUE(SamePixels(a, Filled(3, 2, 0, 0, 0)));
}
