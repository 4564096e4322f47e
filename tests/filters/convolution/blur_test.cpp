// Gaussian, lens and motion blur against direct references computed here.
#include "core/parallel.h"
#include "filters/convolution/convolution.h"
#include "filters/convolution/convolution_internal.h"
#include "filters/convolution/fft_convolution.h"
#include "filters/convolution/fft_plans.h"
#include "tests/filters/convolution/convolution_test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <filesystem>
#include <unistd.h>

using namespace convolution_test;
using test_pictures::Filled;
using test_pictures::Pixel;
using test_pictures::SamePixels;

namespace {

// Plans made on the spot only, so that results do not depend on when a background measurement
// lands; one test turns measuring back on.
class BlurTest : public ::testing::Test
{
protected:
    void SetUp() override { orvex_fft::SetPlanningOptions({.measureInBackground = false, .wisdomFile = "-"}); }
};

void GaussianKernel3x3(float radius, bool gaussian, double (&k)[3][3])
{
    double sum = 0;
    for (int a = -1; a <= 1; ++a)
        for (int b = -1; b <= 1; ++b) {
            k[a + 1][b + 1] = gaussian ? std::exp(static_cast<double>(static_cast<float>(-(a * a + b * b)) / (radius * radius))) : 1.0;
            sum += k[a + 1][b + 1];
        }
    for (auto& col : k)
        for (double& v : col) v /= sum;
}

CImage Impulse(int w, int h, int x, int y)
{
    CImage picture = Filled(w, h, 0, 0, 0);
    Pixel(picture, x, y)[0] = Pixel(picture, x, y)[1] = Pixel(picture, x, y)[2] = 255;
    return picture;
}

// The mean over the disc around every pixel, made with a prefix sum per row, in integers: what the
// lens blur gives when the disc lies within the half picture.
CImage DiscMeans(const CImage& in, float radius)
{
    const int w = in.width();
    const int h = in.height();
    const int reach = static_cast<int>(radius);
    std::vector<int> halfWidth;
    long long cells = 0;
    for (int j = -reach; j <= reach; ++j) {
        int hw = -1;
        while (hw < reach && std::sqrt(static_cast<double>((hw + 1) * (hw + 1) + j * j)) <= radius) ++hw;
        halfWidth.push_back(hw);
        cells += 2 * hw + 1;
    }
    // prefix[(y * 3 + c) * (3W + 1) + i]: sum of the first i samples of the row repeated three times.
    std::vector<long long> prefix(static_cast<std::size_t>(h) * 3 * (3 * w + 1), 0);
    const auto at = [&](int y, int c, int i) -> long long& { return prefix[(static_cast<std::size_t>(y) * 3 + c) * (3 * w + 1) + i]; };
    for (int y = 0; y < h; ++y)
        for (int c = 0; c < 3; ++c)
            for (int i = 0; i < 3 * w; ++i) at(y, c, i + 1) = at(y, c, i) + Pixel(in, i % w, y)[c];
    CImage out = Copy(in);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c) {
                long long sum = 0;
                for (int j = -reach; j <= reach; ++j) {
                    const int hw = halfWidth[static_cast<std::size_t>(j + reach)];
                    const int row = ((y + j) % h + h) % h;
                    const int first = x - hw + w; // into the second copy of the row
                    sum += at(row, c, first + 2 * hw + 1) - at(row, c, first);
                }
                Pixel(out, x, y)[c] = static_cast<std::uint8_t>(sum / cells);
            }
    return out;
}

} // namespace

TEST_F(BlurTest, BlurAndBlurMoreWeights)
{
    // 255 at one pixel spreads 255 * weight, truncated, to its neighbourhood.
    const CImage blur = Apply(Impulse(5, 5, 2, 2), [](CImageProcessor& e) { e.GaussianBlur(0.75f, 1); });
    EXPECT_EQ(Pixel(blur, 2, 2)[0], 142); // 0.55856
    EXPECT_EQ(Pixel(blur, 1, 2)[1], 24);  // 0.09440
    EXPECT_EQ(Pixel(blur, 3, 3)[2], 4);   // 0.01596
    const CImage more = Apply(Impulse(5, 5, 2, 2), [](CImageProcessor& e) { e.GaussianBlur(1.5f, 1); });
    EXPECT_EQ(Pixel(more, 2, 2)[0], 48); // 0.19197
    EXPECT_EQ(Pixel(more, 2, 3)[0], 31); // 0.12309
    EXPECT_EQ(Pixel(more, 1, 1)[0], 20); // 0.07892
}

TEST_F(BlurTest, SmallRadiiMatchTheDirectSumExactly)
{
    // Rows enough for every core to get several runs; the single-precision shortcut must give the
    // very bytes of the extended-precision sum, flat areas (sums landing on integers) included.
    CImage picture = Noise(37, 41, 3);
    for (int y = 10; y < 20; ++y)
        for (int x = 0; x < 37; ++x) Pixel(picture, x, y)[0] = Pixel(picture, x, y)[1] = 255;
    for (float radius : {0.4f, 0.75f, 1.5f, 2.0f}) {
        for (bool gaussian : {true, false}) {
            double k[3][3];
            GaussianKernel3x3(radius, gaussian, k);
            const CImage got = Apply(picture, [&](CImageProcessor& e) { e.GaussianBlur(radius, gaussian ? 1 : 0); });
            EXPECT_TRUE(SamePixels(got, Direct3x3(picture, k))) << radius << " " << gaussian;
        }
    }
}

TEST_F(BlurTest, UniformPicturesNeverBrighten)
{
    const CImage white = Filled(40, 30, 255, 255, 255);
    for (float radius : {0.75f, 1.5f, 3.0f}) {
        const CImage got = Apply(white, [&](CImageProcessor& e) { e.GaussianBlur(radius, 1); });
        for (int y = 0; y < 30; ++y)
            for (int i = 0; i < 120; ++i) EXPECT_GE(Pixel(got, 0, y)[i], 254) << radius;
    }
    // A bell far wider than the half picture loses the weights beyond the cut-off: darker.
    const CImage wide = Apply(white, [](CImageProcessor& e) { e.GaussianBlur(100.0f, 1); });
    EXPECT_LT(Pixel(wide, 20, 15)[0], 10);
}

TEST_F(BlurTest, RadiusTwoIsDirectAboveIsCircular)
{
    const CImage picture = Noise(12, 10, 5);
    const CImage two = Apply(picture, [](CImageProcessor& e) { e.GaussianBlur(2.0f, 1); });
    const CImage above = Apply(picture, [](CImageProcessor& e) { e.GaussianBlur(2.001f, 1); });
    EXPECT_EQ(Pixel(two, 0, 0)[0], Pixel(picture, 0, 0)[0]);
    EXPECT_EQ(Pixel(two, 11, 9)[2], Pixel(picture, 11, 9)[2]);
    EXPECT_FALSE(SamePixels(Apply(picture, [](CImageProcessor&) {}), above));
    // Lens blur up to 2 is the 3 x 3 box.
    double box[3][3];
    GaussianKernel3x3(2.0f, false, box);
    EXPECT_TRUE(SamePixels(Apply(picture, [](CImageProcessor& e) { e.GaussianBlur(2.0f, 0); }), Direct3x3(picture, box)));
    // Out of range: nothing.
    for (float radius : {0.0f, -1.0f, 250.5f, NAN})
        EXPECT_TRUE(SamePixels(Apply(picture, [&](CImageProcessor& e) { e.GaussianBlur(radius, 1); }), picture));
}

TEST_F(BlurTest, FrequencyDomainGaussianIsTheCircularConvolution)
{
    // Odd and even sizes in both directions, bells inside and beyond the half picture.
    const int sizes[][2] = {{17, 9}, {16, 12}, {12, 31}, {2, 2}, {3, 5}};
    for (const auto& size : sizes) {
        const CImage picture = Noise(size[0], size[1], static_cast<std::uint32_t>(size[0] * 100 + size[1]));
        for (float radius : {2.5f, 4.0f, 30.0f}) {
            const CImage got = Apply(picture, [&](CImageProcessor& e) { e.GaussianBlur(radius, 1); });
            const auto exact = CircularConvolution(picture, GaussianCells(size[0], size[1], radius));
            EXPECT_EQ(Mismatches(got, exact), 0) << size[0] << "x" << size[1] << " radius " << radius;
        }
    }
    // Wide enough for the bell to pass no high frequencies at all: those columns are not transformed.
    const CImage wide = Noise(120, 16, 17);
    for (float radius : {4.0f, 6.0f}) {
        const CImage got = Apply(wide, [&](CImageProcessor& e) { e.GaussianBlur(radius, 1); });
        EXPECT_EQ(Mismatches(got, CircularConvolution(wide, GaussianCells(120, 16, radius))), 0) << radius;
    }
}

TEST_F(BlurTest, ManyPictureSizesInOneSession)
{
    // More sizes than the plan cache keeps: older sizes are planned again when they come back.
    for (int round = 0; round < 2; ++round)
        for (int w = 4; w < 26; ++w) {
            const CImage picture = Noise(w, 5, static_cast<std::uint32_t>(w));
            const CImage got = Apply(picture, [](CImageProcessor& e) { e.GaussianBlur(2.5f, 1); });
            ASSERT_EQ(Mismatches(got, CircularConvolution(picture, GaussianCells(w, 5, 2.5f))), 0) << w;
        }
}

TEST_F(BlurTest, AwkwardSizesGoThroughLongerTransformsWithTheSameResult)
{
    // Prime sizes: the transforms are made longer (a periodic margin as wide as the kernel reaches)
    // and must still give the circular convolution over the picture itself.
    const auto geometry = orvex_fft::ChooseGeometry(67, 41, 32, 32);
    EXPECT_GT(geometry.lengthX, 67);
    EXPECT_GT(geometry.lengthY, 41);
    EXPECT_EQ(orvex_fft::ChooseGeometry(60, 40, 32, 32).lengthX, 60);
    const CImage picture = Noise(67, 41, 21);
    const CImage bell = Apply(picture, [](CImageProcessor& e) { e.GaussianBlur(2.5f, 1); });
    EXPECT_EQ(Mismatches(bell, CircularConvolution(picture, GaussianCells(67, 41, 2.5f))), 0);
    const CImage disc = Apply(picture, [](CImageProcessor& e) { e.GaussianBlur(25.0f, 0); });
    EXPECT_EQ(Mismatches(disc, CircularConvolution(picture, LensCells(67, 41, 25.0f))), 0);
    const CImage streak = Apply(picture, [](CImageProcessor& e) { e.MotionBlur(60, 2.5); });
    EXPECT_EQ(Mismatches(streak, CircularConvolution(picture, MotionCells(67, 41, 60, 2.5)), true), 0);
}

TEST_F(BlurTest, LensIsTheNormalisedDisc)
{
    // Small discs are summed directly, larger ones (or ones the cut-off trims) go through the
    // transforms: both must be the same convolution.
    const int sizes[][2] = {{17, 9}, {16, 16}, {9, 23}, {60, 56}};
    for (const auto& size : sizes) {
        const CImage picture = Noise(size[0], size[1], 11);
        for (float radius : {2.5f, 5.0f, 12.9f, 13.0f, 25.0f}) {
            const CImage got = Apply(picture, [&](CImageProcessor& e) { e.GaussianBlur(radius, 0); });
            const auto exact = CircularConvolution(picture, LensCells(size[0], size[1], radius));
            EXPECT_EQ(Mismatches(got, exact), 0) << size[0] << "x" << size[1] << " radius " << radius;
        }
    }
    // Radius 5: the displacement (3, 4) lies on the rim and counts, (4, 4) does not. 81 cells.
    const CImage disc = Apply(Impulse(32, 32, 10, 10), [](CImageProcessor& e) { e.GaussianBlur(5.0f, 0); });
    EXPECT_EQ(Pixel(disc, 13, 14)[0], 3); // 255 / 81
    EXPECT_EQ(Pixel(disc, 14, 14)[0], 0);
    EXPECT_EQ(Pixel(disc, 10, 10)[1], 3);
}

TEST_F(BlurTest, DirectLensSumsAreExactWithEveryInstructionSet)
{
    // Wide enough for several stretches of running sums, an odd height for a last lone row, and
    // radii past 63, where the 16-bit sums are handed on to 32 bits part way down the disc.
    const CImage noise = Noise(600, 141, 5);
    const CImage white = Filled(600, 141, 255, 255, 255);
    const float radii[] = {3.0f, 4.5f, 12.9f, 64.5f, 69.0f};
    std::vector<CImage> expected;
    for (float radius : radii) expected.push_back(DiscMeans(noise, radius));
    int levels = 0;
    for (int level = 0; level <= 2; ++level) {
        if (!orvex_testing::UseLensKernel(level)) continue;
        ++levels;
        for (std::size_t r = 0; r < std::size(radii); ++r) {
            const auto blur = [&](CImageProcessor& e) { e.GaussianBlur(radii[r], 0); };
            EXPECT_TRUE(SamePixels(Apply(noise, blur), expected[r])) << "level " << level << " radius " << radii[r];
            EXPECT_TRUE(SamePixels(Apply(white, blur), white)) << "level " << level << " radius " << radii[r];
        }
    }
    orvex_testing::UseLensKernel(-1);
    EXPECT_GE(levels, 1);
}

TEST_F(BlurTest, BlurWrapsAroundTheEdges)
{
    CImage picture = Filled(40, 20, 0, 0, 0);
    for (int y = 0; y < 20; ++y) Pixel(picture, 0, y)[0] = Pixel(picture, 1, y)[0] = 255;
    for (std::uint8_t gaussian : {1, 0}) {
        const CImage got = Apply(picture, [&](CImageProcessor& e) { e.GaussianBlur(4.0f, gaussian); });
        EXPECT_GT(Pixel(got, 39, 10)[0], 20);
        EXPECT_EQ(Pixel(got, 20, 10)[0], 0);
    }
}

TEST_F(BlurTest, PicturesUnderTwoPixelsAcrossAreLeftAlone)
{
    for (const auto& size : {std::pair{1, 7}, std::pair{7, 1}, std::pair{1, 1}}) {
        const CImage picture = Noise(size.first, size.second, 2);
        EXPECT_TRUE(SamePixels(Apply(picture, [](CImageProcessor& e) { e.GaussianBlur(10.0f, 1); }), picture));
        EXPECT_TRUE(SamePixels(Apply(picture, [](CImageProcessor& e) { e.GaussianBlur(10.0f, 0); }), picture));
        EXPECT_TRUE(SamePixels(Apply(picture, [](CImageProcessor& e) { e.MotionBlur(30, 10.0); }), picture));
    }
    const CImage narrow = Noise(2, 9, 4);
    EXPECT_TRUE(SamePixels(Apply(narrow, [](CImageProcessor& e) { e.GaussianBlur(1.5f, 1); }), narrow));
}

TEST_F(BlurTest, MotionBlurSmallRadiusWeights)
{
    // Angle 0, radius 2: left and right neighbours only, 0.18214 / 0.63572 / 0.18214.
    const CImage flat = Apply(Impulse(5, 5, 2, 2), [](CImageProcessor& e) { e.MotionBlur(0, 2.0); });
    EXPECT_EQ(Pixel(flat, 2, 2)[0], 162);
    EXPECT_EQ(Pixel(flat, 1, 2)[0], 46);
    EXPECT_EQ(Pixel(flat, 3, 2)[0], 46);
    EXPECT_EQ(Pixel(flat, 2, 1)[0], 0);
    // Angle 45: k[1][-1] = k[-1][1] = 0.07051, centre 0.85898. out(x, y) reads (x + a, y + b), so the
    // impulse reaches (x - a, y - b): lower left and upper right of it.
    const CImage diagonal = Apply(Impulse(5, 5, 2, 2), [](CImageProcessor& e) { e.MotionBlur(45, 2.0); });
    EXPECT_EQ(Pixel(diagonal, 2, 2)[0], 219);
    EXPECT_EQ(Pixel(diagonal, 1, 3)[0], 17);
    EXPECT_EQ(Pixel(diagonal, 3, 1)[0], 17);
    EXPECT_EQ(Pixel(diagonal, 1, 1)[0], 0);
}

TEST_F(BlurTest, MotionBlurMatchesItsReferences)
{
    const CImage picture = Noise(19, 14, 8);
    // Direct path, exactly.
    for (int angle : {0, 30, 90, 135}) {
        const double r = 1.3;
        const double t = (angle + 90) * 3.1415926 / 180;
        const double a2 = (std::cos(t) / 0.1) * (std::cos(t) / 0.1) + (std::sin(t) / r) * (std::sin(t) / r);
        const double b2 = std::sin(2 * t) / (r * r) - std::sin(2 * t) / (0.1 * 0.1);
        const double c2 = (std::sin(t) / 0.1) * (std::sin(t) / 0.1) + (std::cos(t) / r) * (std::cos(t) / r);
        double k[3][3];
        double sum = 0;
        for (int a = -1; a <= 1; ++a)
            for (int b = -1; b <= 1; ++b) sum += k[a + 1][b + 1] = std::exp(-(a2 * a * a + b2 * a * b + c2 * b * b) / (0.1 * r));
        for (auto& col : k)
            for (double& v : col) v /= sum;
        EXPECT_TRUE(SamePixels(Apply(picture, [&](CImageProcessor& e) { e.MotionBlur(angle, r); }), Direct3x3(picture, k))) << angle;
    }
    // Frequency domain, with the clamp at 255.
    for (int angle : {0, 45, 90, 170}) {
        for (double r : {2.5, 8.0}) {
            const CImage got = Apply(picture, [&](CImageProcessor& e) { e.MotionBlur(angle, r); });
            EXPECT_EQ(Mismatches(got, CircularConvolution(picture, MotionCells(19, 14, angle, r)), true), 0)
                << angle << " " << r;
        }
    }
}

TEST_F(BlurTest, MotionBlurDirectionAndClamp)
{
    CImage dot = Impulse(31, 31, 15, 15);
    const CImage horizontal = Apply(dot, [](CImageProcessor& e) { e.MotionBlur(0, 6.0); });
    const CImage vertical = Apply(dot, [](CImageProcessor& e) { e.MotionBlur(90, 6.0); });
    const CImage half = Apply(dot, [](CImageProcessor& e) { e.MotionBlur(180, 6.0); });
    EXPECT_GT(Pixel(horizontal, 19, 15)[0], 0);
    EXPECT_EQ(Pixel(horizontal, 15, 19)[0], 0);
    EXPECT_GT(Pixel(vertical, 15, 19)[0], 0);
    EXPECT_EQ(Pixel(vertical, 19, 15)[0], 0);
    for (int y = 0; y < 31; ++y)
        for (int i = 0; i < 93; ++i) EXPECT_LE(std::abs(Pixel(half, 0, y)[i] - Pixel(horizontal, 0, y)[i]), 1);
    // A white picture: the streak's weights sum to a little over 1, and the clamp keeps 255 from
    // wrapping round to black.
    const CImage white = Apply(Filled(24, 24, 255, 255, 255), [](CImageProcessor& e) { e.MotionBlur(30, 3.0); });
    for (int y = 0; y < 24; ++y)
        for (int i = 0; i < 72; ++i) EXPECT_GE(Pixel(white, 0, y)[i], 250);
    // No radius, no streak (the shape would divide by it).
    const CImage picture = Noise(9, 9, 1);
    EXPECT_TRUE(SamePixels(Apply(picture, [](CImageProcessor& e) { e.MotionBlur(10, 0.0); }), picture));
    EXPECT_TRUE(SamePixels(Apply(picture, [](CImageProcessor& e) { e.MotionBlur(10, -3.0); }), picture));
}

TEST_F(BlurTest, ProgressLabelsAndRanges)
{
    const CImage picture = Noise(20, 8, 1);
    const auto record = [&](const std::function<void(CImageProcessor&)>& op) {
        CRecorder recorder;
        CImage copy = Copy(picture);
        CImageProcessor engine(&copy);
        engine.SetProgressSink(&recorder);
        op(engine);
        EXPECT_EQ(recorder.ends, static_cast<int>(recorder.labels.size()));
        EXPECT_LE(recorder.maxPosition, recorder.ranges.empty() ? 0 : recorder.ranges.back());
        return recorder;
    };
    // The leading space and trailing colon are part of the program's own labels, as the bar shows them: keep them.
    EXPECT_EQ(record([](CImageProcessor& e) { e.GaussianBlur(1.0f, 0); }).labels, std::vector<std::string>{" Gaussian blur:"});
    EXPECT_EQ(record([](CImageProcessor& e) { e.GaussianBlur(1.0f, 0); }).ranges, std::vector<int>{18});
    EXPECT_EQ(record([](CImageProcessor& e) { e.GaussianBlur(5.0f, 1); }).labels, std::vector<std::string>{" Gaussian blur:"});
    EXPECT_EQ(record([](CImageProcessor& e) { e.GaussianBlur(5.0f, 1); }).ranges, std::vector<int>{116}); // 5.83 * 20
    EXPECT_EQ(record([](CImageProcessor& e) { e.GaussianBlur(5.0f, 0); }).labels, std::vector<std::string>{" Lens blur:"});
    EXPECT_EQ(record([](CImageProcessor& e) { e.MotionBlur(5, 5.0); }).labels, std::vector<std::string>{" Motion blur:"});
    EXPECT_EQ(record([](CImageProcessor& e) { e.MotionBlur(5, 1.0); }).labels, std::vector<std::string>{" Gaussian blur:"});
    EXPECT_TRUE(record([](CImageProcessor& e) { e.GaussianBlur(0.0f, 1); }).labels.empty());
}

TEST_F(BlurTest, FailuresLeaveThePictureAndAreReported)
{
    const CImage picture = Noise(21, 13, 6);
    const auto attempt = [&](const std::function<void(CImageProcessor&)>& op) {
        CImage copy = Copy(picture);
        CImageProcessor engine(&copy);
        op(engine);
        EXPECT_TRUE(SamePixels(copy, picture));
        return engine.Failed();
    };
    // Every buffer in turn fails: each time the picture stays as it was and the failure is
    // reported, until enough buffers are allowed and the operation does its work.
    const std::function<void(CImageProcessor&)> ops[] = {
        [](CImageProcessor& e) { e.GaussianBlur(6.0f, 1); }, [](CImageProcessor& e) { e.GaussianBlur(6.0f, 0); },
        [](CImageProcessor& e) { e.MotionBlur(20, 6.0); }, [](CImageProcessor& e) { e.HighPass(6.0f); },
        [](CImageProcessor& e) { e.GaussianBlur(3.0f, 0); }, // a disc summed directly
        // The 3 x 3 paths and the small kernels keep per-thread rows and sums aside.
        [](CImageProcessor& e) { e.GaussianBlur(1.5f, 1); }, [](CImageProcessor& e) { e.GaussianBlur(2.0f, 0); },
        [](CImageProcessor& e) { e.MotionBlur(30, 1.5); }, [](CImageProcessor& e) { e.UnsharpMask(1.0f, 2.0f); },
        [](CImageProcessor& e) { e.Sharpen(); }, [](CImageProcessor& e) { e.FindEdges(); }};
    for (const auto& op : ops) {
        const CImage expected = Apply(picture, op);
        int allowed = 0;
        for (;; ++allowed) {
            orvex_fft::DropCachedPlans(); // no plane buffer kept from the run before
            orvex_testing::FailFftBuffersAfter(allowed);
            CImage copy = Copy(picture);
            CImageProcessor engine(&copy);
            op(engine);
            orvex_testing::FailFftBuffersAfter(-1);
            if (!engine.Failed()) {
                EXPECT_TRUE(SamePixels(copy, expected));
                break;
            }
            EXPECT_TRUE(SamePixels(copy, picture)) << allowed;
            ASSERT_LT(allowed, 20);
        }
        EXPECT_GE(allowed, 1);
    }

    orvex_fft::DropCachedPlans();
    orvex_testing::FailFftPlanning(true);
    EXPECT_TRUE(attempt([](CImageProcessor& e) { e.GaussianBlur(6.0f, 1); }));
    EXPECT_TRUE(attempt([](CImageProcessor& e) { e.MotionBlur(0, 6.0); }));
    orvex_testing::FailFftPlanning(false);

    // Unsharp Mask and High Pass blur a copy of the picture: no copy, no change.
    const auto withoutCopies = [&](const std::function<void(CImageProcessor&)>& op) {
        CImage copy = Copy(picture);
        CImageProcessor engine(&copy);
        orvex_testing::FailImageAllocationsAfter(0);
        op(engine);
        orvex_testing::FailImageAllocationsAfter(-1);
        EXPECT_TRUE(SamePixels(copy, picture));
        return engine.Failed();
    };
    EXPECT_TRUE(withoutCopies([](CImageProcessor& e) { e.UnsharpMask(6.0f, 1.0f); }));
    EXPECT_TRUE(withoutCopies([](CImageProcessor& e) { e.HighPass(1.0f); }));

}

TEST_F(BlurTest, MeasuredPlansGiveTheSameResultsAndWisdomIsKept)
{
    const auto wisdom = std::filesystem::temp_directory_path() /
                        ("orvex-wisdom-test-" + std::to_string(static_cast<long>(getpid()))) / "fftw-wisdom";
    orvex_fft::DropCachedPlans();
    orvex_fft::SetPlanningOptions({.measureInBackground = true, .wisdomFile = wisdom.string()});
    const CImage picture = Noise(24, 18, 9);
    const auto exact = CircularConvolution(picture, GaussianCells(24, 18, 3.0f));
    EXPECT_EQ(Mismatches(Apply(picture, [](CImageProcessor& e) { e.GaussianBlur(3.0f, 1); }), exact), 0);
    orvex_fft::WaitForBackgroundPlanning();
    const auto plans = orvex_fft::PlansFor(24, 18);
    ASSERT_TRUE(plans);
    EXPECT_TRUE(plans->measured);
    EXPECT_TRUE(std::filesystem::exists(wisdom));
    EXPECT_EQ(Mismatches(Apply(picture, [](CImageProcessor& e) { e.GaussianBlur(3.0f, 1); }), exact), 0);
    std::filesystem::remove_all(wisdom.parent_path());
}

TEST(BlurRadiusSlider, QuadraticMapping)
{
    using orvex_convolution::BlurRadiusFromSlider;
    EXPECT_EQ(BlurRadiusFromSlider(0), 0.0f);
    EXPECT_FLOAT_EQ(BlurRadiusFromSlider(100), 0.4f);
    EXPECT_EQ(BlurRadiusFromSlider(500), 10.0f);
    EXPECT_EQ(BlurRadiusFromSlider(1000), 40.0f);
    EXPECT_EQ(BlurRadiusFromSlider(2500), 250.0f);
}

namespace {

// Noise on the left, a flat colour on the right: the flat part's lens blur is a whole number that
// the transforms reach only up to their rounding.
CImage HalfFlat(int w, int h)
{
    CImage picture = test_pictures::Noise(w, h, 5);
    for (int y = 0; y < h; ++y)
        for (int x = w / 3; x < w; ++x) {
            std::uint8_t* p = Pixel(picture, x, y);
            p[0] = 200;
            p[1] = 17;
            p[2] = 255;
        }
    return picture;
}

int DifferentBytes(const CImage& a, const CImage& b)
{
    int n = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            for (int c = 0; c < 3; ++c) n += Pixel(a, x, y)[c] != Pixel(b, x, y)[c];
    return n;
}

} // namespace

TEST_F(BlurTest, SameBytesWhateverThePlansTheWisdomAndTheThreads)
{
    // The test run plans with a wisdom file of its own, never the user's.
    const char* own = std::getenv("ORVEX_FFT_WISDOM");
    ASSERT_NE(own, nullptr);
    EXPECT_EQ(orvex_fft::DefaultWisdomFile(), std::string(own));

    const CImage picture = HalfFlat(560, 300);
    const auto blurs = [&] {
        std::vector<CImage> results;
        results.push_back(Apply(picture, [](CImageProcessor& e) { e.GaussianBlur(120.0f, 0); }));
        results.push_back(Apply(picture, [](CImageProcessor& e) { e.GaussianBlur(9.0f, 1); }));
        return results;
    };

    // Estimated plans, no wisdom.
    orvex_fft::DropCachedPlans();
    const std::vector<CImage> estimated = blurs();
    // Far from the noise the lens disc sees only the flat colour: exactly that colour.
    for (int y = 0; y < picture.height(); ++y) {
        const std::uint8_t* p = Pixel(estimated[0], 355, y);
        ASSERT_EQ(p[0], 200) << y;
        ASSERT_EQ(p[1], 17) << y;
        ASSERT_EQ(p[2], 255) << y;
    }

    // One thread.
    orvex_testing::LimitParallelThreads(1);
    orvex_fft::DropCachedPlans();
    const std::vector<CImage> single = blurs();
    orvex_testing::LimitParallelThreads(0);

    // Measured plans, kept as wisdom in an empty file of this test's own.
    const auto wisdom = std::filesystem::temp_directory_path() /
                        ("orvex-wisdom-plans-" + std::to_string(static_cast<long>(getpid())));
    std::filesystem::remove(wisdom);
    orvex_fft::DropCachedPlans();
    orvex_fft::SetPlanningOptions({.measureInBackground = true, .wisdomFile = wisdom.string()});
    blurs();
    orvex_fft::WaitForBackgroundPlanning();
    const std::vector<CImage> measured = blurs();
    EXPECT_TRUE(std::filesystem::exists(wisdom)); // something was measured
    std::filesystem::remove(wisdom);

    for (std::size_t i = 0; i < estimated.size(); ++i) {
        EXPECT_EQ(DifferentBytes(estimated[i], single[i]), 0) << "blur " << i;
        EXPECT_EQ(DifferentBytes(estimated[i], measured[i]), 0) << "blur " << i;
    }
}

// A worker run that is cancelled must not keep going to the end: the blurs look at the stop request
// between runs of rows and columns (direct lens sums between tiles), and a stop asked before the
// first run leaves the picture alone.
TEST_F(BlurTest, BlursStopWhenAskedBeforeTouchingThePicture)
{
    test_pictures::CStopAtOnce stop;
    CImageProcessor::ThreadProgressOverride progressOverride(&stop);
    const CImage picture = Noise(90, 70, 8);
    const auto unchanged = [&](const std::function<void(CImageProcessor&)>& blur) {
        CImage copy;
        EXPECT_TRUE(copy.CopyFrom(picture));
        CImageProcessor engine(&copy);
        blur(engine);
        EXPECT_FALSE(engine.Failed());
        return SamePixels(copy, picture);
    };
    EXPECT_TRUE(unchanged([](CImageProcessor& e) { e.GaussianBlur(12.0f, 1); }));
    EXPECT_TRUE(unchanged([](CImageProcessor& e) { e.GaussianBlur(6.0f, 0); }));
    EXPECT_TRUE(unchanged([](CImageProcessor& e) { e.GaussianBlur(30.0f, 0); }));
    EXPECT_TRUE(unchanged([](CImageProcessor& e) { e.MotionBlur(30, 12.0); }));
}
