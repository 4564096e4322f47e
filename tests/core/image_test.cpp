#include "core/image.h"
#include "tests/test_pictures.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>

using namespace test_pictures;

TEST(CImage, NewPictureIsBlackBottomUpWithPaddedRows)
{
    CImage image;
    ASSERT_TRUE(image.Create(5, 3, 24));
    EXPECT_EQ(image.width(), 5);
    EXPECT_EQ(image.height(), 3);
    EXPECT_EQ(image.bitsPerPixel(), 24);
    EXPECT_EQ(image.pitch(), -16); // 15 picture bytes padded to 16
    EXPECT_EQ(image.transparentColor(), -1);
    // The top row is the last one in memory.
    EXPECT_EQ(image.bits(), image.bufferStart() + 2 * 16);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x)
            for (int c = 0; c < 3; ++c) EXPECT_EQ(Pixel(image, x, y)[c], 0);
}

TEST(CImage, GreyPicturesFillEveryChannelAndLeaveThePaddingZero)
{
    for (const std::uint8_t level : {std::uint8_t(0), std::uint8_t(100), std::uint8_t(255)}) {
        CImage image;
        ASSERT_TRUE(image.CreateGrey(5, 3, level));
        ASSERT_EQ(image.pitch(), -16);
        for (int y = 0; y < 3; ++y) {
            const std::uint8_t* row = image.bits() + y * image.pitch();
            for (int i = 0; i < 15; ++i) ASSERT_EQ(row[i], level) << int(level) << " at " << i << ", " << y;
            EXPECT_EQ(row[15], 0);
        }
    }
    CImage tooLarge;
    EXPECT_FALSE(tooLarge.CreateGrey(32768, 16385, 255));
    EXPECT_TRUE(tooLarge.IsNull());
}

TEST(CImage, PitchOfNarrowRows)
{
    CImage one, four;
    ASSERT_TRUE(one.Create(1, 2, 24));
    ASSERT_TRUE(four.Create(4, 2, 24));
    EXPECT_EQ(one.pitch(), -4);
    EXPECT_EQ(four.pitch(), -12);
    CImage alpha;
    ASSERT_TRUE(alpha.Create(3, 1, 32, 1));
    EXPECT_EQ(alpha.pitch(), -12);
    EXPECT_TRUE(alpha.hasAlpha());
}

TEST(CImage, CreateRefusesImpossibleSizesAndStaysEmpty)
{
    const struct { int w, h, bpp; } bad[] = {
        {0, 10, 24}, {10, 0, 24}, {-1, 10, 24}, {10, -5, 24},
        {100000, 100000, 24},      // a corrupt header's claim: 30 GB
        {INT_MAX, 1, 24},          // the row stride alone overflows
        {1 << 20, 1 << 20, 24},
        {10, 10, 7},               // not a depth the program handles
    };
    for (const auto& b : bad) {
        CImage image;
        ASSERT_TRUE(image.Create(2, 2, 24));
        EXPECT_FALSE(image.Create(b.w, b.h, b.bpp)) << b.w << "x" << b.h << "@" << b.bpp;
        EXPECT_TRUE(image.IsNull());
        EXPECT_EQ(image.bits(), nullptr);
        EXPECT_EQ(image.width(), 0);
        EXPECT_EQ(image.height(), 0);
        EXPECT_EQ(image.pitch(), 0);
        EXPECT_EQ(image.bitsPerPixel(), 0);
    }
}

TEST(CImage, CopyIsExactAndIndependent)
{
    CImage source = Pattern(17, 9);
    CImage copy;
    ASSERT_TRUE(copy.CopyFrom(source));
    EXPECT_EQ(copy.width(), 17);
    EXPECT_EQ(copy.height(), 9);
    EXPECT_EQ(copy.bitsPerPixel(), 24);
    EXPECT_EQ(copy.pitch(), source.pitch());
    EXPECT_TRUE(SamePixels(copy, source));
    EXPECT_NE(copy.bits(), source.bits());

    Pixel(copy, 3, 4)[1] ^= 0xFF;
    EXPECT_FALSE(SamePixels(copy, source));
    Pixel(source, 0, 0)[0] ^= 0xFF;
    EXPECT_NE(Pixel(copy, 0, 0)[0], Pixel(source, 0, 0)[0]);
}

TEST(CImage, CopyOverDifferentSizeAndFromEmpty)
{
    CImage target = Pattern(3, 3);
    const CImage source = Pattern(40, 7, 5);
    ASSERT_TRUE(target.CopyFrom(source));
    EXPECT_TRUE(SamePixels(target, source));

    const CImage empty;
    ASSERT_TRUE(target.CopyFrom(empty));
    EXPECT_TRUE(target.IsNull());
}

TEST(CImage, FailedCopyLeavesTargetEmptyNotHalfMade)
{
    CImage target = Pattern(3, 3);
    const CImage source = Pattern(8, 8);
    orvex_testing::FailImageAllocationsAfter(0);
    EXPECT_FALSE(target.CopyFrom(source));
    orvex_testing::FailImageAllocationsAfter(-1);
    EXPECT_TRUE(target.IsNull());

    // Same layout needs no allocation, so it succeeds even when memory is gone.
    CImage same = Pattern(8, 8, 9);
    orvex_testing::FailImageAllocationsAfter(0);
    EXPECT_TRUE(same.CopyFrom(source));
    orvex_testing::FailImageAllocationsAfter(-1);
    EXPECT_TRUE(SamePixels(same, source));
}

TEST(CImage, MoveKeepsPixelsAndEmptiesSource)
{
    CImage a = Pattern(6, 4);
    const std::uint8_t* bits = a.bits();
    CImage b(std::move(a));
    EXPECT_TRUE(a.IsNull()); // NOLINT(bugprone-use-after-move): moved-from state is part of the contract
    EXPECT_EQ(b.bits(), bits);
    CImage c;
    c = std::move(b);
    EXPECT_EQ(c.bits(), bits);
    EXPECT_EQ(c.width(), 6);
}

TEST(CImage, LargeCopySplitAcrossThreadsIsExact)
{
    // Big enough for the parallel path (several 4 MB blocks plus a ragged end).
    CImage source;
    ASSERT_TRUE(source.Create(1531, 2011, 24));
    std::uint8_t* p = const_cast<std::uint8_t*>(source.bufferStart());
    for (std::size_t i = 0; i < source.bufferBytes(); ++i) p[i] = static_cast<std::uint8_t>(i * 2654435761u >> 13);
    CImage copy;
    ASSERT_TRUE(copy.CopyFrom(source));
    EXPECT_EQ(0, std::memcmp(copy.bufferStart(), source.bufferStart(), source.bufferBytes()));
}

TEST(CImage, RecycledPhotoMemoryIsBlackAgainWhenCreated)
{
    // Photo-sized buffers are kept after they are freed and handed out again; a picture created in
    // one must still be black to the last padding byte, whatever the previous owner left there.
    for (int round = 0; round < 4; ++round) {
        CImage dirty;
        ASSERT_TRUE(dirty.Create(1999, 1500 + round, 24));
        std::memset(const_cast<std::uint8_t*>(dirty.bufferStart()), 0xA5, dirty.bufferBytes());
        dirty.Destroy();
        CImage fresh;
        ASSERT_TRUE(fresh.Create(1999, 1500, 24));
        const std::uint8_t* p = fresh.bufferStart();
        std::size_t nonZero = 0;
        for (std::size_t i = 0; i < fresh.bufferBytes(); ++i) nonZero += p[i] != 0;
        EXPECT_EQ(nonZero, 0u) << "round " << round;
    }
}
