// Image size: nearest neighbour against its formula, the resampler of the bilinear method against
// a double-precision reference of the same weights, and sizes that cannot be had.
#include "core/image_processor.h"
#include "tests/filters/geometry/geometry_test_support.h"

#include <cmath>
#include <vector>

using namespace geometry_test;
using namespace test_pictures;

namespace {

CImage Resized(const CImage& picture, int w, int h, char method)
{
    return Applied(picture, [=](CImageProcessor& e) { e.ResizeImage(w, h, method); });
}

// Weights of one axis in double precision, written independently of the engine: the overlap of
// each source pixel with the output pixel's interval when reducing, the two pixels around the
// output pixel's centre when enlarging.
std::vector<std::vector<double>> AxisWeights(int n, int m)
{
    std::vector<std::vector<double>> weights(static_cast<std::size_t>(m), std::vector<double>(static_cast<std::size_t>(n), 0.0));
    const double scale = static_cast<double>(n) / m;
    for (int i = 0; i < m; ++i) {
        auto& w = weights[static_cast<std::size_t>(i)];
        if (scale > 1) {
            for (int j = 0; j < n; ++j) {
                const double overlap = std::min((i + 1) * scale, j + 1.0) - std::max(i * scale, static_cast<double>(j));
                if (overlap > 0) w[static_cast<std::size_t>(j)] = overlap / scale;
            }
        } else {
            const double centre = (i + 0.5) * scale - 0.5;
            const int j = static_cast<int>(std::floor(centre));
            const double f = centre - j;
            w[static_cast<std::size_t>(std::clamp(j, 0, n - 1))] += 1 - f;
            w[static_cast<std::size_t>(std::clamp(j + 1, 0, n - 1))] += f;
        }
    }
    return weights;
}

double ReferenceValue(const CImage& src, const std::vector<std::vector<double>>& wx,
                      const std::vector<std::vector<double>>& wy, int x, int y, int c)
{
    double sum = 0;
    for (int sy = 0; sy < src.height(); ++sy)
        for (int sx = 0; sx < src.width(); ++sx)
            sum += wy[static_cast<std::size_t>(y)][static_cast<std::size_t>(sy)] *
                   wx[static_cast<std::size_t>(x)][static_cast<std::size_t>(sx)] * Pixel(src, sx, sy)[c];
    return sum;
}

} // namespace

TEST(NearestNeighbour, RepeatsOrSkipsColumnsAsTheRatioSays)
{
    CImage strip;
    strip.Create(8, 1, 24);
    for (int x = 0; x < 8; ++x) std::fill_n(Pixel(strip, x, 0), 3, static_cast<std::uint8_t>(x));
    CImage four = Resized(strip, 4, 1, 'n');
    ASSERT_EQ(four.width(), 4);
    for (int x = 0; x < 4; ++x) EXPECT_EQ(Pixel(four, x, 0)[0], 2 * x);
    CImage eight = Resized(four, 8, 1, 'n');
    for (int x = 0; x < 8; ++x) EXPECT_EQ(Pixel(eight, x, 0)[0], 2 * (x / 2));

    // Whole pictures against the formula: single-precision ratio, double product, truncation.
    for (const auto& [w, h, nw, nh] : {std::array{17, 9, 5, 23}, {6000 / 100, 4000 / 100, 16, 11}, {3, 7, 1, 1}, {1, 1, 9, 4}}) {
        const CImage picture = Noise(w, h, 3);
        const float rx = static_cast<float>(static_cast<double>(w) / nw);
        const float ry = static_cast<float>(static_cast<double>(h) / nh);
        CImage expected;
        expected.Create(nw, nh, 24);
        for (int x = 0; x < nw; ++x)
            for (int y = 0; y < nh; ++y)
                std::copy_n(Pixel(picture, static_cast<int>(static_cast<double>(rx) * x), static_cast<int>(static_cast<double>(ry) * y)), 3,
                            Pixel(expected, x, y));
        EXPECT_TRUE(SamePicture(Resized(picture, nw, nh, 'n'), expected)) << w << "x" << h << " to " << nw << "x" << nh;
    }
}

TEST(BilinearMethod, AgreesWithADoublePrecisionReferenceWithinOneLevelEverywhere)
{
    const std::array<int, 4> cases[] = {{16, 12, 5, 4},  {7, 5, 19, 11}, {30, 20, 8, 41}, {9, 9, 9, 9},  {1, 1, 3, 2},
                                        {5, 3, 1, 1},    {13, 1, 4, 6},  {24, 16, 12, 8}, {10, 10, 20, 5}};
    for (const auto& [w, h, nw, nh] : cases) {
        SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h) + " to " + std::to_string(nw) + "x" + std::to_string(nh));
        const CImage picture = Noise(w, h, static_cast<std::uint32_t>(w + 7 * h));
        const CImage out = Resized(picture, nw, nh, 'b');
        ASSERT_EQ(out.width(), nw);
        ASSERT_EQ(out.height(), nh);
        const auto wx = AxisWeights(w, nw), wy = AxisWeights(h, nh);
        int worst = 0;
        for (int y = 0; y < nh; ++y)
            for (int x = 0; x < nw; ++x)
                for (int c = 0; c < 3; ++c) {
                    const int expected = static_cast<int>(std::lround(ReferenceValue(picture, wx, wy, x, y, c)));
                    worst = std::max(worst, std::abs(Pixel(out, x, y)[c] - expected));
                }
        EXPECT_LE(worst, 1);
    }
}

TEST(BilinearMethod, KeepsFlatPicturesFlatTheSameSizeExactAndHalvesByBlockAverages)
{
    const CImage flat = Filled(37, 23, 10, 128, 255);
    for (const auto& [nw, nh] : {std::pair{5, 3}, {100, 71}, {37, 50}, {12, 23}})
        EXPECT_TRUE(SamePicture(Resized(flat, nw, nh, 'b'), Filled(nw, nh, 10, 128, 255)));
    const CImage picture = Noise(31, 17, 9);
    EXPECT_TRUE(SamePicture(Resized(picture, 31, 17, 'b'), picture));
    const CImage even = Noise(8, 6, 2);
    const CImage half = Resized(even, 4, 3, 'b');
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x)
            for (int c = 0; c < 3; ++c) {
                const int sum = Pixel(even, 2 * x, 2 * y)[c] + Pixel(even, 2 * x + 1, 2 * y)[c] + Pixel(even, 2 * x, 2 * y + 1)[c] +
                                Pixel(even, 2 * x + 1, 2 * y + 1)[c];
                EXPECT_NEAR(Pixel(half, x, y)[c], sum / 4.0, 0.5 + 1e-3);
            }
}

TEST(ImageSize, SizesThatCannotBeHadLeaveThePictureAndReportFailure)
{
    const CImage picture = Noise(6, 4, 1);
    CImage copy = Copy(picture);
    CImageProcessor engine(&copy);
    engine.ResizeImage(0, 5, 'b');
    engine.ResizeImage(5, -1, 'n');
    engine.ResizeImage(5, 5, 'x');
    EXPECT_FALSE(engine.Failed());
    engine.ResizeImage(32768, 32768, 'b');
    EXPECT_TRUE(engine.Failed());
    EXPECT_TRUE(SamePicture(copy, picture));

    // Out of memory for the new picture: every size-changing operation leaves the old one.
    const std::function<void(CImageProcessor&)> ops[] = {
        [](CImageProcessor& e) { e.ResizeImage(9, 9, 'b'); },  [](CImageProcessor& e) { e.ResizeImage(9, 9, 'n'); },
        [](CImageProcessor& e) { e.Rotate90CW(); },            [](CImageProcessor& e) { e.Rotate90CCW(); },
        [](CImageProcessor& e) { e.RotateArbitrary(10.0f); }, [](CImageProcessor& e) { e.CanvasSize(9, 2, 'C'); },
    };
    for (const auto& op : ops) {
        engine.ClearFailure();
        orvex_testing::FailImageAllocationsAfter(0);
        op(engine);
        orvex_testing::FailImageAllocationsAfter(-1);
        EXPECT_TRUE(engine.Failed());
        EXPECT_TRUE(SamePicture(copy, picture));
    }
}
