// Crop against a per-pixel reference, its clamping, and what it leaves when it cannot crop.
#include "core/image_processor.h"
#include "core/operation_table.h"
#include "filters/geometry/crop.h"
#include "tests/filters/geometry/geometry_test_support.h"

using namespace geometry_test;
using namespace test_pictures;

namespace {

CImage ReferenceCrop(const CImage& src, int x0, int y0, int w, int h)
{
    CImage out;
    out.Create(w, h, 24);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) std::copy_n(Pixel(src, x0 + x, y0 + y), 3, Pixel(out, x, y));
    return out;
}

} // namespace

TEST(Crop, KeepsTheRectangleClampedToThePicture)
{
    const CImage picture = Noise(37, 23, 9);
    struct Case
    {
        long long x, y, w, h;
        int ex, ey, ew, eh;
    } cases[] = {
        {5, 3, 10, 7, 5, 3, 10, 7},       // inside
        {-4, -2, 10, 7, 0, 0, 6, 5},      // over the top-left corner
        {30, 20, 100, 100, 30, 20, 7, 3}, // over the bottom-right corner
        {36, 22, 1, 1, 36, 22, 1, 1},     // the last pixel
        {-1000, 4, 5000, 1, 0, 4, 37, 1}, // one whole row
        {0, 0, 37, 22, 0, 0, 37, 22},     // all but the bottom row
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.x) + "," + std::to_string(c.y) + "," + std::to_string(c.w) + "," +
                     std::to_string(c.h));
        CImage copy = Copy(picture);
        CImageProcessor engine(&copy);
        EXPECT_TRUE(Crop(engine, c.x, c.y, c.w, c.h));
        EXPECT_FALSE(engine.Failed());
        EXPECT_TRUE(SamePicture(copy, ReferenceCrop(picture, c.ex, c.ey, c.ew, c.eh)));
        // The padding of the new rows is written too (the sanitizers would see it read otherwise).
        for (int y = 0; y < copy.height(); ++y)
            for (std::size_t i = 3 * static_cast<std::size_t>(copy.width()); i < copy.rowBytes(); ++i)
                EXPECT_EQ(Pixel(copy, 0, y)[i], 0);
        const COperation* row = FindOperation("Crop");
        ASSERT_NE(row, nullptr);
        const COpArgs args({double(c.x), double(c.y), double(c.w), double(c.h)});
        EXPECT_EQ(ResultSize(*row, {37, 23}, args), (CPictureSize{c.ew, c.eh}));
    }
}

TEST(Crop, NothingToKeepOrNoMemoryLeavesThePictureAsItWas)
{
    const CImage picture = Noise(20, 10, 3);
    // No overlap: refused without touching anything, and not for want of memory. The sides are far
    // beyond int so that a sum that wrapped around would land inside the picture.
    const long long outside[][4] = {{20, 0, 5, 5},
                                    {0, 10, 5, 5},
                                    {-5, 0, 5, 5},
                                    {3, 3, 0, 4},
                                    {3, 3, 4, -1},
                                    {-(1LL << 33), 0, (1LL << 33) + 0, 5},
                                    {(1LL << 32) + 2, 2, 3, 3}};
    for (const auto& r : outside) {
        CImage copy = Copy(picture);
        CImageProcessor engine(&copy);
        EXPECT_FALSE(Crop(engine, r[0], r[1], r[2], r[3])) << r[0] << "," << r[1];
        EXPECT_FALSE(engine.Failed());
        EXPECT_TRUE(SamePicture(copy, picture));
    }
    const COperation* row = FindOperation("Crop");
    ASSERT_NE(row, nullptr);
    EXPECT_NE(row->failureMessage.find("does not overlap the picture"), std::string::npos);

    // The whole picture is kept as it is, without a new buffer.
    CImage whole = Copy(picture);
    const std::uint8_t* const bits = whole.bits();
    CImageProcessor wholeEngine(&whole);
    EXPECT_TRUE(Crop(wholeEngine, -3, -3, 100, 100));
    EXPECT_EQ(whole.bits(), bits);

    CImage copy = Copy(picture);
    CImageProcessor engine(&copy);
    orvex_testing::FailImageAllocationsAfter(0);
    const bool cropped = Crop(engine, 2, 2, 5, 5);
    orvex_testing::FailImageAllocationsAfter(-1);
    EXPECT_FALSE(cropped);
    EXPECT_TRUE(engine.Failed());
    EXPECT_TRUE(SamePicture(copy, picture));
}
