// Invert, Solarize and Brightness/Contrast against per-pixel references, plus the
// preview contract shared by every operation of the area.
#include "core/operation_table.h"
#include "filters/colour/colour_tables.h"
#include "filters/colour/posterize.h"
#include "tests/filters/colour/colour_test_support.h"

#include <gtest/gtest.h>

#include <cstring>

#include <sys/mman.h>
#include <unistd.h>

using namespace test_pictures;
using colour_test::ExpectEveryByte;
using colour_test::InPlace;
using colour_test::Noise;

TEST(PointOperations, InvertAndSolarizeMapEveryByte)
{
    const CImage source = Noise(37, 11, 1);
    const CImage inverted = InPlace(source, [](CImageProcessor& e) { e.Invert(); });
    ExpectEveryByte(source, inverted, [](int v, int) { return 255 - v; });
    EXPECT_TRUE(SamePixels(InPlace(inverted, [](CImageProcessor& e) { e.Invert(); }), source));

    const CImage solarized = InPlace(source, [](CImageProcessor& e) { e.Solarize(); });
    ExpectEveryByte(source, solarized, [](int v, int) { return v >= 128 ? 255 - v : v; });
    EXPECT_TRUE(SamePixels(InPlace(solarized, [](CImageProcessor& e) { e.Solarize(); }), solarized));

}

TEST(PointOperations, BrightnessContrastAboutTheChannelMeans)
{
    const CImage source = Noise(31, 17, 3);
    // Means taken the long way: column by column, 64-bit sums, integer division.
    long long sums[3] = {0, 0, 0};
    for (int x = 0; x < source.width(); ++x)
        for (int y = 0; y < source.height(); ++y)
            for (int c = 0; c < 3; ++c) sums[c] += Pixel(source, x, y)[c];
    int means[3];
    for (int c = 0; c < 3; ++c) means[c] = static_cast<int>(sums[c] / (source.width() * source.height()));

    const float contrasts[] = {0.0f, 0.37f, 1.0f, 1.0201f, 2.5f, 4.0f};
    const float brightnesses[] = {-100.0f, -7.9f, 0.0f, 42.6f, 100.0f};
    for (float c : contrasts)
        for (float b : brightnesses) {
            SCOPED_TRACE(testing::Message() << "contrast " << c << " brightness " << b);
            const CImage result = InPlace(source, [&](CImageProcessor& e) { e.BrightnessContrast(c, b); });
            ExpectEveryByte(source, result, [&](int v, int channel) {
                const int m = means[channel];
                const int r = m + static_cast<int>(b) + static_cast<int>(static_cast<float>(v - m) * c);
                return r < 0 ? 0 : r > 255 ? 255 : r;
            });
        }

    EXPECT_TRUE(SamePixels(InPlace(source, [](CImageProcessor& e) { e.BrightnessContrast(1.0f, 0.0f); }), source));
    const CImage flat = Filled(5, 4, 10, 200, 90);
    EXPECT_TRUE(SamePixels(InPlace(flat, [](CImageProcessor& e) { e.BrightnessContrast(3.3f, 0.0f); }), flat));
    const CImage brighter = InPlace(flat, [](CImageProcessor& e) { e.BrightnessContrast(1.0f, 100.0f); });
    EXPECT_EQ(Pixel(brighter, 2, 2)[1], 255);
    EXPECT_EQ(Pixel(brighter, 2, 2)[0], 110);
    // Arguments far outside the dialog's ranges saturate instead of overflowing a conversion.
    const CImage extreme = InPlace(source, [](CImageProcessor& e) { e.BrightnessContrast(1e30f, -1e30f); });
    EXPECT_EQ(extreme.width(), source.width());
}

// Every preview-capable operation writes the work image and leaves the picture as it was; the
// in-place ones ignore the flag; with no usable work image nothing at all is written.
TEST(ColourOperations, PreviewWritesOnlyTheWorkImage)
{
    const CImage source = Noise(23, 9, 4);
    const std::function<void(CImageProcessor&)> previewable[] = {
        [](CImageProcessor& e) { Posterize(e, 4); },
        [](CImageProcessor& e) { e.BrightnessContrast(1.7f, -12.0f); },
        [](CImageProcessor& e) { e.ColorBalance(40, -60, 100); },
        [](CImageProcessor& e) { e.HueSaturation(75.0f, 2.5f, -0.3f); },
        [](CImageProcessor& e) { e.BlackAndWhite(0.4f, 0.9f, -0.5f); },
    };
    for (std::size_t i = 0; i < std::size(previewable); ++i) {
        SCOPED_TRACE(i);
        bool kept = false;
        const CImage shown = colour_test::Preview(source, previewable[i], &kept);
        EXPECT_TRUE(kept);
        EXPECT_TRUE(SamePixels(shown, InPlace(source, previewable[i])));

        CImage picture = colour_test::Copy(source);
        CImageProcessor engine(&picture);
        engine.preview = 1; // no work image
        previewable[i](engine);
        EXPECT_TRUE(SamePixels(picture, source));
        EXPECT_TRUE(engine.workImage().IsNull());
    }

    bool kept = false;
    const CImage original = colour_test::Preview(source, [](CImageProcessor& e) { e.ShowOriginal(); }, &kept);
    EXPECT_TRUE(kept);
    EXPECT_TRUE(SamePixels(original, source));
    EXPECT_TRUE(SamePixels(InPlace(source, [](CImageProcessor& e) { e.ShowOriginal(); }), source));

    const std::function<void(CImageProcessor&)> inPlace[] = {
        [](CImageProcessor& e) { e.Invert(); },
        [](CImageProcessor& e) { e.Solarize(); },
        [](CImageProcessor& e) { e.Equalize(); },
        [](CImageProcessor& e) { e.AutoColor(); },
    };
    for (std::size_t i = 0; i < std::size(inPlace); ++i) {
        SCOPED_TRACE(i);
        CImage picture = colour_test::Copy(source);
        CImageProcessor engine(&picture);
        engine.workImage().Create(source.width(), source.height(), 24);
        engine.preview = 1;
        inPlace[i](engine);
        EXPECT_TRUE(SamePixels(picture, InPlace(source, inPlace[i])));
        EXPECT_TRUE(SamePixels(engine.workImage(), Filled(source.width(), source.height(), 0, 0, 0)));
    }
}

TEST(ColourOperations, PictureWithoutPixelsIsLeftAlone)
{
    for (const char* name : {"Invert", "Solarize", "Posterize", "BrightnessContrast", "ColorBalance",
                             "HueSaturation", "BlackAndWhite", "ShowOriginal", "Equalize", "AutoColor"}) {
        SCOPED_TRACE(name);
        const COperation* op = FindOperation(name);
        ASSERT_NE(op, nullptr);
        CImage empty;
        CImageProcessor engine(&empty);
        EXPECT_TRUE(op->call(engine, DefaultArgs(*op)));
        engine.preview = 1;
        EXPECT_TRUE(op->call(engine, DefaultArgs(*op)));
        EXPECT_TRUE(empty.IsNull());
    }
}

// A row of 285 million pixels whose bytes are all 255: the
// same few megabytes mapped again and again, so the test needs no gigabyte of memory.
TEST(BrightnessContrastMeans, VeryLongRowsSumExactly)
{
    constexpr std::size_t kPiece = std::size_t(3) << 20; // a whole number of pixels and of pages
    constexpr std::size_t kPieces = 272; // 856 MB: past what 32-bit columns hold
    const int fd = memfd_create("orvex-long-row", 0);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, static_cast<off_t>(kPiece)), 0);
    void* area = mmap(nullptr, kPiece * kPieces, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    ASSERT_NE(area, MAP_FAILED);
    auto* row = static_cast<std::uint8_t*>(area);
    for (std::size_t i = 0; i < kPieces; ++i)
        ASSERT_NE(mmap(row + i * kPiece, kPiece, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_FIXED, fd, 0), MAP_FAILED);
    std::memset(row, 255, kPiece);
    row[kPiece - 1] = 0; // each piece: one red byte of 0

    const std::int64_t width = static_cast<std::int64_t>(kPiece * kPieces / 3);
    long long sums[3] = {1, 2, 3};
    orvex_colour::AddRowChannelSums(row, width, sums);
    EXPECT_EQ(sums[0], 1 + 255LL * width);
    EXPECT_EQ(sums[1], 2 + 255LL * width);
    EXPECT_EQ(sums[2], 3 + 255LL * width - 255LL * static_cast<long long>(kPieces));

    // Short rows and tails shorter than a stretch of columns.
    for (int w : {1, 15, 16, 17, 33}) {
        long long small[3] = {0, 0, 0};
        orvex_colour::AddRowChannelSums(row, w, small);
        EXPECT_EQ(small[0], 255LL * w);
        EXPECT_EQ(small[2], 255LL * w);
    }
    munmap(area, kPiece * kPieces);
    close(fd);
}
