// Canvas size and offset against plain per-pixel references of their definitions.
#include "core/image_processor.h"
#include "tests/filters/geometry/geometry_test_support.h"

#include <cstring>

using namespace geometry_test;
using namespace test_pictures;

namespace {

CImage ReferenceCanvas(const CImage& src, int nw, int nh, char anchor)
{
    const int w = src.width(), h = src.height(), dx = nw - w, dy = nh - h;
    CImage out;
    out.Create(nw, nh, 24);
    if (nw > w || nh > h)
        for (int y = 0; y < nh; ++y)
            for (int x = 0; x < nw; ++x) std::fill_n(Pixel(out, x, y), 3, std::uint8_t{100});
    int ox = 0, oy = 0;
    switch (anchor) {
    case 'w': break;
    case 'N': ox = dx / 2; break;
    case 'n': ox = dx; break;
    case 'W': oy = dy / 2; break;
    case 'C': ox = dx / 2; oy = dy / 2; break;
    case 'E': ox = dx; oy = dy / 2; break;
    case 's': oy = dy; break;
    case 'S': ox = dx / 2; oy = dy; break;
    case 'e': ox = dx; oy = dy; break;
    default: return out;
    }
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            if (x + ox >= 0 && x + ox < nw && y + oy >= 0 && y + oy < nh) std::copy_n(Pixel(src, x, y), 3, Pixel(out, x + ox, y + oy));
    return out;
}

CImage ReferenceOffset(const CImage& src, int horizontal, int vertical, char mode)
{
    const int w = src.width(), h = src.height();
    CImage out;
    out.Create(w, h, 24);
    for (int x = 0; x < w; ++x)
        for (int y = 0; y < h; ++y) {
            int sx = x - horizontal, sy = y - vertical;
            if (mode == 'r') {
                sx = std::clamp(sx, 0, w - 1);
                sy = std::clamp(sy, 0, h - 1);
            } else if (mode == 'w') {
                while (sx < 0) sx += w;
                while (sx >= w) sx -= w;
                while (sy < 0) sy += h;
                while (sy >= h) sy -= h;
            } else if (sx < 0 || sy < 0 || sx >= w || sy >= h) {
                std::fill_n(Pixel(out, x, y), 3, std::uint8_t{100});
                continue;
            }
            std::copy_n(Pixel(src, sx, sy), 3, Pixel(out, x, y));
        }
    return out;
}

} // namespace

TEST(CanvasSize, GrowingByOnePixelPutsTheGreyWhereTheAnchorSays)
{
    const CImage picture = Noise(100, 100, 4);
    const CImage centre = Applied(picture, [](CImageProcessor& e) { e.CanvasSize(101, 101, 'C'); });
    ASSERT_EQ(centre.width(), 101);
    EXPECT_EQ(At(centre, 0, 0), At(picture, 0, 0)) << "dx / 2 = 0";
    EXPECT_EQ(At(centre, 99, 99), At(picture, 99, 99));
    for (int i = 0; i < 101; ++i) {
        EXPECT_EQ(At(centre, 100, i), kGrey);
        EXPECT_EQ(At(centre, i, 100), kGrey);
    }
    const CImage corner = Applied(picture, [](CImageProcessor& e) { e.CanvasSize(101, 101, 'e'); });
    EXPECT_EQ(At(corner, 1, 1), At(picture, 0, 0));
    for (int i = 0; i < 101; ++i) {
        EXPECT_EQ(At(corner, 0, i), kGrey);
        EXPECT_EQ(At(corner, i, 0), kGrey);
    }
}

TEST(CanvasSize, CropsAndMixedChangesMatchThePlainCopyForEveryAnchor)
{
    const CImage picture = Noise(100, 100, 8);
    const CImage crop = Applied(picture, [](CImageProcessor& e) { e.CanvasSize(50, 50, 'C'); });
    EXPECT_EQ(At(crop, 0, 0), At(picture, 25, 25));
    EXPECT_EQ(At(crop, 49, 49), At(picture, 74, 74));
    EXPECT_EQ(At(Applied(picture, [](CImageProcessor& e) { e.CanvasSize(50, 50, 'w'); }), 49, 49), At(picture, 49, 49));
    const CImage mixed = Applied(picture, [](CImageProcessor& e) { e.CanvasSize(120, 80, 'C'); });
    EXPECT_EQ(At(mixed, 10, 0), At(picture, 0, 10));
    EXPECT_EQ(At(mixed, 109, 79), At(picture, 99, 89));
    EXPECT_EQ(At(mixed, 9, 40), kGrey);
    EXPECT_EQ(At(mixed, 110, 40), kGrey);

    const CImage odd = Noise(7, 5, 3);
    for (char anchor : std::string("wNnWCEsSe?")) {
        for (const auto& [nw, nh] : {std::pair{7, 5}, {10, 8}, {3, 2}, {12, 2}, {1, 1}, {2, 9}}) {
            SCOPED_TRACE(std::string(1, anchor) + " to " + std::to_string(nw) + "x" + std::to_string(nh));
            EXPECT_TRUE(SamePicture(Applied(odd, [=](CImageProcessor& e) { e.CanvasSize(nw, nh, anchor); }),
                                    ReferenceCanvas(odd, nw, nh, anchor)));
        }
    }
}

TEST(CanvasSize, WritesEveryByteOfARecycledBuffer)
{
    // The canvas does not ask for black memory; a freed photo's bytes must not show through in the
    // cut-off area of an unknown anchor or in the row padding.
    const CImage picture = Noise(1999, 1600, 5);
    for (char anchor : std::string("C?")) {
        for (const auto& [nw, nh] : {std::pair{1999, 1500}, {2001, 1500}}) {
            CImage dirty;
            ASSERT_TRUE(dirty.Create(nw, nh, 24));
            std::memset(const_cast<std::uint8_t*>(dirty.bufferStart()), 0x5A, dirty.bufferBytes());
            dirty.Destroy();
            const CImage canvas = Applied(picture, [=](CImageProcessor& e) { e.CanvasSize(nw, nh, anchor); });
            const CImage expected = ReferenceCanvas(picture, nw, nh, anchor);
            ASSERT_EQ(canvas.bufferBytes(), expected.bufferBytes());
            EXPECT_EQ(0, std::memcmp(canvas.bufferStart(), expected.bufferStart(), expected.bufferBytes()))
                << anchor << " " << nw << "x" << nh;
        }
    }
}

TEST(Offset, EveryModeMatchesThePerPixelDefinition)
{
    const CImage picture = Noise(23, 17, 6);
    const int w = 23, h = 17;
    const std::pair<int, int> shifts[] = {{0, 0}, {10, 0}, {-10, 0}, {0, 1}, {0, -5}, {7, -3}, {w, 0}, {-w, 0},
                                          {0, h}, {w, -h}, {3 * w + 2, -2 * h - 1}, {-40000, 40000}};
    for (char mode : std::string("srwx")) {
        for (const auto& [dx, dy] : shifts) {
            SCOPED_TRACE(std::string(1, mode) + " " + std::to_string(dx) + "," + std::to_string(dy));
            EXPECT_TRUE(SamePicture(Applied(picture, [=](CImageProcessor& e) { e.Offset(dx, dy, mode); }),
                                    ReferenceOffset(picture, dx, dy, mode == 'x' ? 's' : mode)));
        }
    }
    // The cases users see: +10 right in the three modes, a full-width wrap, a row down.
    const CImage grey = Applied(picture, [](CImageProcessor& e) { e.Offset(10, 0, 's'); });
    const CImage repeat = Applied(picture, [](CImageProcessor& e) { e.Offset(10, 0, 'r'); });
    const CImage wrap = Applied(picture, [](CImageProcessor& e) { e.Offset(10, 0, 'w'); });
    for (int x = 0; x < 10; ++x) {
        EXPECT_EQ(At(grey, x, 4), kGrey);
        EXPECT_EQ(At(repeat, x, 4), At(picture, 0, 4));
        EXPECT_EQ(At(wrap, x, 4), At(picture, w - 10 + x, 4));
    }
    EXPECT_TRUE(SamePicture(Applied(picture, [](CImageProcessor& e) { e.Offset(23, 0, 'w'); }), picture));
    EXPECT_EQ(At(Applied(picture, [](CImageProcessor& e) { e.Offset(0, 1, 's'); }), 5, 1), At(picture, 5, 0));
}

TEST(Offset, InPlaceShiftsReadEveryRowBeforeItIsOverwritten)
{
    // Rows are shifted in place, block by block; every vertical shift across a tall picture in
    // each mode checks the rows read across blocks and around the wrap.
    const CImage picture = Noise(4, 61, 12);
    for (char mode : std::string("srw"))
        for (int dy = -65; dy <= 65; dy += (dy > -5 && dy < 5) ? 1 : 6) {
            SCOPED_TRACE(std::string(1, mode) + " 1," + std::to_string(dy));
            EXPECT_TRUE(SamePicture(Applied(picture, [=](CImageProcessor& e) { e.Offset(1, dy, mode); }),
                                    ReferenceOffset(picture, 1, dy, mode)));
        }
}

TEST(Offset, APreviewWritesOnlyTheWorkImage)
{
    const CImage picture = Noise(9, 6, 2);
    CImage copy = Copy(picture);
    CImageProcessor engine(&copy);
    ASSERT_TRUE(engine.workImage().Create(9, 6, 24));
    engine.preview = 1;
    engine.Offset(-2, 3, 'w');
    EXPECT_TRUE(SamePicture(copy, picture));
    EXPECT_TRUE(SamePicture(engine.workImage(), ReferenceOffset(picture, -2, 3, 'w')));
}
