// Rotations and flips against references written from their definitions: the exact ones as pixel
// mappings, the arbitrary rotation as the plain column-by-column loop with every sample looked up.
#include "core/image_processor.h"
#include "tests/filters/geometry/geometry_test_support.h"

#include <cmath>
#include <functional>

using namespace geometry_test;
using namespace test_pictures;

namespace {

// new pixel (X, Y) <- old pixel map(X, Y) on a canvas of the given size.
CImage Mapped(const CImage& source, int width, int height, const std::function<std::pair<int, int>(int, int)>& map)
{
    CImage out;
    out.Create(width, height, 24);
    for (int x = 0; x < width; ++x)
        for (int y = 0; y < height; ++y) {
            const auto [sx, sy] = map(x, y);
            for (int c = 0; c < 3; ++c) Pixel(out, x, y)[c] = Pixel(source, sx, sy)[c];
        }
    return out;
}

CImage ReferenceRotation(const CImage& src, float angle)
{
    const int w = src.width(), h = src.height();
    const float theta = static_cast<float>(angle * 3.1415926 / 180);
    const float c = static_cast<float>(std::cos(static_cast<double>(theta)));
    const float s = static_cast<float>(std::sin(static_cast<double>(theta)));
    double minX = 1e300, maxX = -1e300, minY = 1e300, maxY = -1e300;
    for (int x : {-(w / 2), w - 1 - w / 2})
        for (int y : {-(h / 2), h - 1 - h / 2}) {
            const double X = x * static_cast<double>(c) - y * static_cast<double>(s);
            const double Y = x * static_cast<double>(s) + y * static_cast<double>(c);
            minX = std::min(minX, X), maxX = std::max(maxX, X), minY = std::min(minY, Y), maxY = std::max(maxY, Y);
        }
    const int nw = std::max(1, static_cast<int>(std::ceil(maxX - minX)));
    const int nh = std::max(1, static_cast<int>(std::ceil(maxY - minY)));
    CImage out;
    out.Create(nw, nh, 24);
    const float cx = static_cast<float>(w / 2), cy = static_cast<float>(h / 2);
    auto sample = [&](int x, int y, int ch) -> double {
        if (x < 0 || y < 0 || x >= w || y >= h) return 100;
        return Pixel(src, x, y)[ch];
    };
    for (int X = 0; X < nw; ++X)
        for (int Y = 0; Y < nh; ++Y) {
            const int xr = X - nw / 2 + (nw % 2 == 0 ? 1 : 0);
            const int yr = Y - nh / 2 + (nh % 2 == 0 ? 1 : 0);
            const double xs = static_cast<double>(cx) + xr * static_cast<double>(c) + yr * static_cast<double>(s);
            const double ys = static_cast<double>(cy) - xr * static_cast<double>(s) + yr * static_cast<double>(c);
            std::uint8_t* p = Pixel(out, X, Y);
            if (xs <= -1 || ys <= -1 || xs >= w || ys >= h) {
                p[0] = p[1] = p[2] = 100;
                continue;
            }
            const int x0 = static_cast<int>(xs), y0 = static_cast<int>(ys);
            const int x1 = xs >= 0 ? x0 + 1 : x0 - 1, y1 = ys >= 0 ? y0 + 1 : y0 - 1;
            const double fx = std::fabs(xs - x0), fy = std::fabs(ys - y0);
            for (int ch = 0; ch < 3; ++ch) {
                const double v = (sample(x0, y0, ch) * (1 - fx) + sample(x1, y0, ch) * fx) * (1 - fy) +
                                 (sample(x0, y1, ch) * (1 - fx) + sample(x1, y1, ch) * fx) * fy;
                p[ch] = static_cast<std::uint8_t>(static_cast<int>(v));
            }
        }
    return out;
}

} // namespace

TEST(ExactRotations, ThreeByTwoTurnsAsTheMappingSays)
{
    // Top row a b c, bottom row d e f, each pixel a different grey.
    CImage picture;
    picture.Create(3, 2, 24);
    const char* names = "abcdef";
    for (int i = 0; i < 6; ++i) std::fill_n(Pixel(picture, i % 3, i / 3), 3, static_cast<std::uint8_t>(names[i]));
    auto rows = [](const CImage& image) {
        std::string text;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) text += static_cast<char>(Pixel(image, x, y)[0]);
            text += '/';
        }
        return text;
    };
    EXPECT_EQ(rows(Applied(picture, [](CImageProcessor& e) { e.Rotate90CW(); })), "da/eb/fc/");
    EXPECT_EQ(rows(Applied(picture, [](CImageProcessor& e) { e.Rotate90CCW(); })), "cf/be/ad/");
    EXPECT_EQ(rows(Applied(picture, [](CImageProcessor& e) { e.Rotate180(); })), "fed/cba/");
    EXPECT_EQ(rows(Applied(picture, [](CImageProcessor& e) { e.FlipHorizontal(); })), "cba/fed/");
    EXPECT_EQ(rows(Applied(picture, [](CImageProcessor& e) { e.FlipVertical(); })), "def/abc/");
}

TEST(ExactRotations, MatchTheirMappingsOnOddSizesAcrossTilesAndUndoThemselves)
{
    for (const auto& [w, h] : {std::pair{1, 1}, {1, 7}, {9, 1}, {2, 2}, {67, 45}, {130, 129}}) {
        SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
        const CImage picture = Noise(w, h, static_cast<std::uint32_t>(w * 1000 + h));
        EXPECT_TRUE(SamePicture(Applied(picture, [](CImageProcessor& e) { e.Rotate90CW(); }),
                                Mapped(picture, h, w, [&](int X, int Y) { return std::pair{Y, h - 1 - X}; })));
        EXPECT_TRUE(SamePicture(Applied(picture, [](CImageProcessor& e) { e.Rotate90CCW(); }),
                                Mapped(picture, h, w, [&](int X, int Y) { return std::pair{w - 1 - Y, X}; })));
        // An odd number of rows reverses the middle row too.
        EXPECT_TRUE(SamePicture(Applied(picture, [](CImageProcessor& e) { e.Rotate180(); }),
                                Mapped(picture, w, h, [&](int x, int y) { return std::pair{w - 1 - x, h - 1 - y}; })));
        EXPECT_TRUE(SamePicture(Applied(picture, [](CImageProcessor& e) { e.FlipHorizontal(); }),
                                Mapped(picture, w, h, [&](int x, int y) { return std::pair{w - 1 - x, y}; })));
        EXPECT_TRUE(SamePicture(Applied(picture, [](CImageProcessor& e) { e.FlipVertical(); }),
                                Mapped(picture, w, h, [&](int x, int y) { return std::pair{x, h - 1 - y}; })));
        const std::function<void(CImageProcessor&)> twice[] = {
            [](CImageProcessor& e) { e.Rotate180(); e.Rotate180(); },
            [](CImageProcessor& e) { e.FlipHorizontal(); e.FlipHorizontal(); },
            [](CImageProcessor& e) { e.FlipVertical(); e.FlipVertical(); },
            [](CImageProcessor& e) { e.Rotate90CW(); e.Rotate90CCW(); },
        };
        for (const auto& op : twice) EXPECT_TRUE(SamePicture(Applied(picture, op), picture));
    }
}

TEST(ArbitraryRotation, MatchesThePlainLoopOnEvenOddAndDegenerateSizes)
{
    for (const auto& [w, h] : {std::pair{1, 1}, {1, 5}, {6, 1}, {2, 3}, {17, 9}, {40, 31}, {64, 64}, {121, 60}}) {
        const CImage picture = Noise(w, h, static_cast<std::uint32_t>(w * 31 + h));
        for (float angle : {12.5f, -12.5f, 45.0f, 90.0f, -135.7f, 180.0f, 0.001f, 359.0f, 1000.0f}) {
            SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h) + " by " + std::to_string(angle));
            EXPECT_TRUE(SamePicture(Applied(picture, [angle](CImageProcessor& e) { e.RotateArbitrary(angle); }),
                                    ReferenceRotation(picture, angle)));
        }
    }
    // A single pixel keeps itself (the extent between corner centres is 0).
    const CImage one = Filled(1, 1, 1, 2, 3);
    const CImage turned = Applied(one, [](CImageProcessor& e) { e.RotateArbitrary(30.0f); });
    EXPECT_TRUE(SamePicture(turned, one));
}

TEST(ArbitraryRotation, ATinyAngleShiftsTheEvenGridByOnePixelAndFortyFiveDegreesLeavesGreyCorners)
{
    const CImage picture = Noise(100, 100, 5);
    const CImage shifted = Applied(picture, [](CImageProcessor& e) { e.RotateArbitrary(0.001f); });
    ASSERT_EQ(shifted.width(), 100);
    ASSERT_EQ(shifted.height(), 100);
    for (int y = 0; y < 99; y += 7)
        for (int x = 0; x < 99; x += 3)
            for (int c = 0; c < 3; ++c)
                EXPECT_NEAR(Pixel(shifted, x, y)[c], Pixel(picture, x + 1, y + 1)[c], 1) << x << "," << y;
    for (int i = 0; i < 99; i += 5) {
        for (int c = 0; c < 3; ++c) {
            EXPECT_NEAR(Pixel(shifted, 99, i)[c], 100, 1) << "last column, row " << i;
            EXPECT_NEAR(Pixel(shifted, i, 99)[c], 100, 1) << "last row, column " << i;
        }
    }

    const CImage white = Filled(50, 50, 255, 255, 255);
    const CImage diamond = Applied(white, [](CImageProcessor& e) { e.RotateArbitrary(45.0f); });
    const int w = diamond.width(), h = diamond.height();
    EXPECT_EQ(w, 70);
    for (const auto& [x, y] : {std::pair{0, 0}, {w - 1, 0}, {0, h - 1}, {w - 1, h - 1}}) EXPECT_EQ(At(diamond, x, y), kGrey);
    EXPECT_EQ(At(diamond, w / 2, h / 2), (Bgr{255, 255, 255}));
    // Along the middle row the picture's edge blends from grey to white.
    bool blended = false;
    for (int x = 0; x < w / 2; ++x) {
        const int v = Pixel(diamond, x, h / 2)[1];
        blended |= v > 100 && v < 255;
    }
    EXPECT_TRUE(blended);
}

TEST(ArbitraryRotation, ZeroAndNonFiniteAnglesLeaveThePicture)
{
    const CImage picture = Noise(9, 7, 1);
    for (float angle : {0.0f, -0.0f, std::numeric_limits<float>::infinity(), std::nanf("")})
        EXPECT_TRUE(SamePicture(Applied(picture, [angle](CImageProcessor& e) { e.RotateArbitrary(angle); }), picture));
}
