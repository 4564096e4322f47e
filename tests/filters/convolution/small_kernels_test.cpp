// Average, Sharpen, Find Edges, Unsharp Mask and High Pass.
#include "filters/convolution/fft_plans.h"
#include "tests/filters/convolution/convolution_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

using namespace convolution_test;
using test_pictures::Filled;
using test_pictures::Pixel;
using test_pictures::SamePixels;

namespace {

void SetAll(CImage& picture, int x, int y, std::uint8_t v)
{
    Pixel(picture, x, y)[0] = Pixel(picture, x, y)[1] = Pixel(picture, x, y)[2] = v;
}

// Find Edges as defined, before the command's inversion: in place, x outer and y inner.
CImage DirectFindEdges(const CImage& in)
{
    CImage out = Copy(in);
    const int w = in.width();
    const int h = in.height();
    float maxima[3] = {0, 0, 0};
    for (int x = 0; x < w - 1; ++x)
        for (int y = 0; y < h - 1; ++y)
            for (int c = 0; c < 3; ++c) {
                const int dx = Pixel(out, x + 1, y)[c] - Pixel(out, x, y)[c];
                const int dy = Pixel(out, x, y + 1)[c] - Pixel(out, x, y)[c];
                const float fx = static_cast<float>(dx);
                const float fy = static_cast<float>(dy);
                const int v = std::min(static_cast<int>(std::sqrt(fx * fx + fy * fy)), 255);
                Pixel(out, x, y)[c] = static_cast<std::uint8_t>(v);
                maxima[c] = std::max(maxima[c], static_cast<float>(v));
            }
    for (int x = 0; x < w; ++x) SetAll(out, x, h - 1, 0);
    for (int y = 0; y < h - 1; ++y) SetAll(out, w - 1, y, 0);
    for (int c = 0; c < 3; ++c) {
        if (maxima[c] == 0) continue;
        const float f = 255.0f / maxima[c];
        for (int x = 0; x < w - 1; ++x)
            for (int y = 0; y < h - 1; ++y)
                Pixel(out, x, y)[c] = static_cast<std::uint8_t>(static_cast<int>(Pixel(out, x, y)[c] * f));
    }
    return out;
}

CImage DirectSharpen(const CImage& in)
{
    CImage out = Copy(in);
    for (int x = 1; x < in.width() - 1; ++x)
        for (int y = 1; y < in.height() - 1; ++y)
            for (int c = 0; c < 3; ++c) {
                const int v = 5 * Pixel(in, x, y)[c] - Pixel(in, x - 1, y)[c] - Pixel(in, x + 1, y)[c] -
                              Pixel(in, x, y - 1)[c] - Pixel(in, x, y + 1)[c];
                Pixel(out, x, y)[c] = static_cast<std::uint8_t>(std::clamp(v, 0, 255));
            }
    return out;
}

class SmallKernelTest : public ::testing::Test
{
protected:
    void SetUp() override { orvex_fft::SetPlanningOptions({.measureInBackground = false, .wisdomFile = "-"}); }
};

} // namespace

TEST_F(SmallKernelTest, AverageIsTheTruncatedMean)
{
    CImage two = Filled(2, 1, 0, 0, 0);
    Pixel(two, 1, 0)[0] = 1;
    Pixel(two, 1, 0)[1] = 3;
    Pixel(two, 1, 0)[2] = 255;
    const CImage got = Apply(two, [](CImageProcessor& e) { e.Average(); });
    for (int x = 0; x < 2; ++x) {
        EXPECT_EQ(Pixel(got, x, 0)[0], 0);
        EXPECT_EQ(Pixel(got, x, 0)[1], 1);
        EXPECT_EQ(Pixel(got, x, 0)[2], 127);
    }
    const CImage white = Filled(301, 203, 255, 255, 255);
    EXPECT_TRUE(SamePixels(Apply(white, [](CImageProcessor& e) { e.Average(); }), white));

    const CImage noise = Noise(33, 47, 2);
    long long sums[3] = {0, 0, 0};
    for (int y = 0; y < 47; ++y)
        for (int x = 0; x < 33; ++x)
            for (int c = 0; c < 3; ++c) sums[c] += Pixel(noise, x, y)[c];
    const CImage mean = Apply(noise, [](CImageProcessor& e) { e.Average(); });
    for (int c = 0; c < 3; ++c) EXPECT_EQ(Pixel(mean, 32, 46)[c], sums[c] / (33 * 47));
}

TEST_F(SmallKernelTest, SharpenSinglePixelAndReference)
{
    CImage dot = Filled(7, 7, 50, 50, 50);
    SetAll(dot, 3, 3, 100);
    const CImage got = Apply(dot, [](CImageProcessor& e) { e.Sharpen(); });
    EXPECT_EQ(Pixel(got, 3, 3)[0], 255);
    EXPECT_EQ(Pixel(got, 2, 3)[1], 0);
    EXPECT_EQ(Pixel(got, 3, 4)[2], 0);
    EXPECT_EQ(Pixel(got, 2, 2)[0], 50);
    EXPECT_EQ(Pixel(got, 4, 4)[0], 50);
    const CImage flat = Filled(9, 6, 10, 20, 30);
    EXPECT_TRUE(SamePixels(Apply(flat, [](CImageProcessor& e) { e.Sharpen(); }), flat));
    for (const auto& size : {std::pair{41, 67}, std::pair{3, 3}, std::pair{5, 2}, std::pair{2, 5}}) {
        const CImage noise = Noise(size.first, size.second, 4);
        EXPECT_TRUE(SamePixels(Apply(noise, [](CImageProcessor& e) { e.Sharpen(); }), DirectSharpen(noise)));
    }
}

TEST_F(SmallKernelTest, FindEdgesOfStepsFlatsAndNoise)
{
    const CImage flat = Filled(8, 5, 77, 77, 77);
    EXPECT_TRUE(SamePixels(Apply(flat, [](CImageProcessor& e) { e.FindEdges(); }), Filled(8, 5, 0, 0, 0)));

    // Vertical step from 0 to 255 between columns 3 and 4.
    CImage step = Filled(8, 5, 0, 0, 0);
    for (int y = 0; y < 5; ++y)
        for (int x = 4; x < 8; ++x) SetAll(step, x, y, 255);
    const CImage edges = Apply(step, [](CImageProcessor& e) { e.FindEdges(); });
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 8; ++x) EXPECT_EQ(Pixel(edges, x, y)[0], (x == 3 && y < 4) ? 255 : 0) << x << "," << y;

    // A corner where both differences are 255: magnitude 360.6, stored 255.
    CImage corner = Filled(3, 3, 0, 0, 0);
    SetAll(corner, 1, 0, 255);
    SetAll(corner, 0, 1, 255);
    EXPECT_EQ(Pixel(Apply(corner, [](CImageProcessor& e) { e.FindEdges(); }), 0, 0)[0], 255);

    for (const auto& size : {std::pair{29, 53}, std::pair{1, 6}, std::pair{6, 1}, std::pair{2, 2}}) {
        const CImage noise = Noise(size.first, size.second, 7);
        EXPECT_TRUE(SamePixels(Apply(noise, [](CImageProcessor& e) { e.FindEdges(); }), DirectFindEdges(noise)))
            << size.first << "x" << size.second;
    }
}

TEST_F(SmallKernelTest, UnsharpMaskAndHighPass)
{
    const CImage noise = Noise(23, 19, 12);
    // Radius 0: no blur, so the difference is 0 everywhere.
    EXPECT_TRUE(SamePixels(Apply(noise, [](CImageProcessor& e) { e.UnsharpMask(0.0f, 1.0f); }), noise));
    for (float radius : {1.5f, 4.0f}) {
        const CImage blurred = Apply(noise, [&](CImageProcessor& e) { e.GaussianBlur(radius, 1); });
        for (float amount : {1.0f, 2.37f, 0.0f}) {
            const CImage got = Apply(noise, [&](CImageProcessor& e) { e.UnsharpMask(radius, amount); });
            for (int y = 0; y < 19; ++y)
                for (int i = 0; i < 69; ++i) {
                    const int o = Pixel(noise, 0, y)[i];
                    const int d = o - Pixel(blurred, 0, y)[i];
                    const int v = std::clamp(o + static_cast<int>(static_cast<long double>(amount) * d), 0, 255);
                    ASSERT_EQ(Pixel(got, 0, y)[i], v) << radius << " " << amount;
                }
        }
        const CImage high = Apply(noise, [&](CImageProcessor& e) { e.HighPass(radius); });
        for (int y = 0; y < 19; ++y)
            for (int i = 0; i < 69; ++i)
                ASSERT_EQ(Pixel(high, 0, y)[i], std::clamp(Pixel(noise, 0, y)[i] - Pixel(blurred, 0, y)[i] + 128, 0, 255));
    }
    // A uniform picture: 128, or 129 where the blur came back a level low.
    const CImage grey = Filled(30, 20, 200, 255, 0);
    for (float radius : {1.5f, 3.0f}) {
        const CImage high = Apply(grey, [&](CImageProcessor& e) { e.HighPass(radius); });
        for (int y = 0; y < 20; ++y)
            for (int i = 0; i < 90; ++i) {
                EXPECT_GE(Pixel(high, 0, y)[i], 128);
                EXPECT_LE(Pixel(high, 0, y)[i], 129);
            }
    }
    EXPECT_TRUE(SamePixels(Apply(noise, [](CImageProcessor& e) { e.HighPass(0.0f); }), Filled(23, 19, 128, 128, 128)));
}
