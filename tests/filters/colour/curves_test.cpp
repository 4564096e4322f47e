#include "core/operation_table.h"
#include "filters/colour/curves.h"
#include "tests/filters/colour/colour_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>

using namespace test_pictures;
using colour_test::ExpectEveryByte;
using colour_test::InPlace;
using orvex_colour::CCurvePoint;
using Points = std::vector<CCurvePoint>;

namespace {

// Every value 0..255 in every channel, each channel in another order, with an odd width.
CImage AllValues()
{
    CImage image;
    image.Create(17, 16, 24);
    for (int i = 0; i < 17 * 16; ++i) {
        std::uint8_t* p = Pixel(image, i % 17, i / 17);
        p[0] = static_cast<std::uint8_t>(i * 5 + 1);
        p[1] = static_cast<std::uint8_t>(i);
        p[2] = static_cast<std::uint8_t>(200 - i);
    }
    return image;
}

// The curve written out from the textbook: a map keeps the last point of each x in order, the
// tangents follow Fritsch and Carlson, each entry is the cubic Hermite segment at v.
std::vector<int> Reference(const Points& given)
{
    std::map<int, int> byX;
    for (const CCurvePoint& p : given)
        if (p.x >= 0 && p.y >= 0) byX[std::min(p.x, 255)] = std::min(p.y, 255);
    std::vector<double> xs, ys;
    for (const auto& [x, y] : byX) xs.push_back(x), ys.push_back(y);
    std::vector<int> table(256);
    const std::size_t n = xs.size();
    if (n == 0) {
        for (int v = 0; v < 256; ++v) table[v] = v;
        return table;
    }
    std::vector<double> d(n > 1 ? n - 1 : 0), m(n, 0.0);
    for (std::size_t k = 0; k + 1 < n; ++k) d[k] = (ys[k + 1] - ys[k]) / (xs[k + 1] - xs[k]);
    if (n > 1) {
        m[0] = d[0];
        m[n - 1] = d[n - 2];
    }
    for (std::size_t k = 1; k + 1 < n; ++k)
        m[k] = (d[k - 1] > 0 && d[k] > 0) || (d[k - 1] < 0 && d[k] < 0) ? (d[k - 1] + d[k]) / 2 : 0;
    for (std::size_t k = 0; k + 1 < n; ++k) {
        if (d[k] == 0) {
            m[k] = m[k + 1] = 0;
            continue;
        }
        const double a = m[k] / d[k], b = m[k + 1] / d[k];
        if (a * a + b * b > 9) {
            m[k] = 3 * a * d[k] / std::sqrt(a * a + b * b);
            m[k + 1] = 3 * b * d[k] / std::sqrt(a * a + b * b);
        }
    }
    for (int v = 0; v < 256; ++v) {
        double y;
        if (v <= xs[0]) y = ys[0];
        else if (v >= xs[n - 1]) y = ys[n - 1];
        else {
            std::size_t k = 0;
            while (xs[k + 1] <= v) ++k;
            const double h = xs[k + 1] - xs[k], t = (v - xs[k]) / h;
            y = (2 * t * t * t - 3 * t * t + 1) * ys[k] + (t * t * t - 2 * t * t + t) * h * m[k] +
                (-2 * t * t * t + 3 * t * t) * ys[k + 1] + (t * t * t - t * t) * h * m[k + 1];
        }
        table[v] = std::clamp(static_cast<int>(std::lround(y)), 0, 255);
    }
    return table;
}

const Points kCurves[] = {
    {},
    {{0, 0}, {255, 255}},
    {{128, 77}},                                                                    // one point: flat
    {{0, 0}, {64, 40}, {192, 220}, {255, 255}},                                     // an S
    {{30, 10}, {220, 250}},                                                         // flat outside
    {{0, 255}, {255, 0}},                                                           // inverted
    {{0, 0}, {100, 250}, {101, 10}, {255, 255}},                                    // steep zigzag: no overshoot
    {{0, 0}, {10, 200}, {20, 210}, {240, 215}, {255, 255}},                         // steep then flat: slopes scaled
    {{0, 0}, {1, 1}, {2, 0}, {3, 255}, {128, 128}, {129, 0}, {254, 255}, {255, 0}}, // 8 points
};

} // namespace

TEST(Curves, EveryValueOfEveryChannelFollowsTheMonotoneCubic)
{
    const CImage source = AllValues();
    for (const Points& points : kCurves) {
        SCOPED_TRACE(testing::Message() << points.size() << " points");
        const std::vector<int> expected = Reference(points);
        const orvex_colour::CByteTable table = orvex_colour::CMonotoneCurve(points).Table();
        for (int v = 0; v < 256; ++v) ASSERT_EQ(table[v], expected[v]) << v;
        ExpectEveryByte(source, InPlace(source, [&](CImageProcessor& e) { Curves(e, 'a', points); }),
                        [&](int v, int) { return expected[v]; });
        const char codes[3] = {'b', 'g', 'r'};
        for (int c = 0; c < 3; ++c)
            ExpectEveryByte(source, InPlace(source, [&](CImageProcessor& e) { Curves(e, codes[c], points); }),
                            [&](int v, int channel) { return channel == c ? expected[v] : v; });

        // Through every point, never outside the range of the two points around a value.
        const orvex_colour::CMonotoneCurve curve(points);
        const Points& used = curve.points();
        for (const CCurvePoint& p : used) EXPECT_EQ(curve(p.x), p.y);
        for (std::size_t k = 0; k + 1 < used.size(); ++k) {
            const int low = std::min(used[k].y, used[k + 1].y), high = std::max(used[k].y, used[k + 1].y);
            double previous = curve(used[k].x);
            for (double x = used[k].x; x <= used[k + 1].x; x += 0.25) {
                EXPECT_GE(curve(x), low - 1e-9) << x;
                EXPECT_LE(curve(x), high + 1e-9) << x;
                // Monotone within the segment, the way its two points go.
                if (used[k + 1].y >= used[k].y) EXPECT_GE(curve(x), previous - 1e-9) << x;
                else EXPECT_LE(curve(x), previous + 1e-9) << x;
                previous = curve(x);
            }
        }
    }
    EXPECT_EQ(orvex_colour::CMonotoneCurve({}).Table()[200], 200) << "no points: the identity";
    EXPECT_EQ(orvex_colour::CMonotoneCurve({{0, 0}, {255, 255}}).Table()[77], 77);
}

TEST(Curves, PointsAreSortedARepeatedXKeepsTheLastAndUnusedOnesDrop)
{
    const Points sorted{{0, 10}, {90, 60}, {180, 200}, {255, 230}};
    const Points shuffled{{180, 200}, {-1, 5}, {255, 230}, {0, 10}, {90, 99}, {40, -1}, {90, 60}};
    EXPECT_EQ(orvex_colour::CMonotoneCurve(shuffled).points(), sorted);
    EXPECT_EQ(orvex_colour::CMonotoneCurve(shuffled).Table(), orvex_colour::CMonotoneCurve(sorted).Table());
    EXPECT_EQ(orvex_colour::CurvePointsFromPairs({0, 10, -1, -1, 255, 230, 7}), (Points{{0, 10}, {255, 230}}));
}

TEST(Curves, FourCurvesComposeInOnePassAndPreviewAsApplied)
{
    const CImage source = AllValues();
    orvex_colour::CCurvesSettings four;
    four.all = {{0, 0}, {64, 40}, {192, 220}, {255, 255}};
    four.red = {{0, 30}, {255, 255}};
    four.green = {{0, 0}, {128, 160}, {255, 255}};
    four.blue = {{0, 255}, {255, 0}};
    const std::vector<int> all = Reference(four.all);
    const std::vector<int> own[3] = {Reference(four.blue), Reference(four.green), Reference(four.red)};
    const CImage result = InPlace(source, [&](CImageProcessor& e) { Curves(e, four); });
    ExpectEveryByte(source, result, [&](int v, int c) { return all[own[c][v]]; });

    bool kept = false;
    const CImage preview = colour_test::Preview(
        source, [&](CImageProcessor& e) { Curves(e, four); }, &kept);
    EXPECT_TRUE(kept);
    EXPECT_TRUE(SamePixels(preview, result));
    EXPECT_TRUE(SamePixels(InPlace(Filled(1, 1, 1, 2, 3),
                                   [](CImageProcessor& e) {
                                       Curves(e, 'a', {{0, 9}});
                                   }),
                           Filled(1, 1, 9, 9, 9)));
}

TEST(Curves, TableRowReadsPairsAndTrailingPointsTakeTheirUnusedDefault)
{
    const COperation* op = FindOperation("Curves");
    ASSERT_NE(op, nullptr);
    ASSERT_EQ(op->params.size(), 17u);
    const CImage source = Noise(19, 11, 8);
    EXPECT_TRUE(SamePixels(InPlace(source, [&](CImageProcessor& e) { op->call(e, DefaultArgs(*op)); }), source));
    // Curves=r,0,0,64,40,192,220,255,255 as the command line gives it, the rest at their defaults.
    std::vector<double> args = DefaultArgs(*op).Values();
    const double given[] = {'r', 0, 0, 64, 40, 192, 220, 255, 255};
    std::copy(std::begin(given), std::end(given), args.begin());
    const std::vector<int> expected = Reference({{0, 0}, {64, 40}, {192, 220}, {255, 255}});
    ExpectEveryByte(source, InPlace(source, [&](CImageProcessor& e) { op->call(e, COpArgs(args)); }),
                    [&](int v, int c) { return c == 2 ? expected[v] : v; });
}
