// The custom 5 x 5 filter and its ".ocf" files.
#include "filters/convolution/convolution.h"
#include "filters/convolution/fft_plans.h"
#include "tests/filters/convolution/convolution_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <climits>
#include <filesystem>
#include <fstream>
#include <unistd.h>

using namespace convolution_test;
using orvex_convolution::CCustomFilterSettings;
using test_pictures::Filled;
using test_pictures::Pixel;
using test_pictures::SamePixels;

namespace {

using Kernel = std::array<int, 25>;

Kernel Identity()
{
    Kernel k{};
    k[12] = 1;
    return k;
}

Kernel Default()
{
    const CCustomFilterSettings settings;
    Kernel k{};
    std::copy(settings.kernel.begin(), settings.kernel.end(), k.begin());
    return k;
}

// Border coordinates as defined: left/top mirror about the edge pixel, right/bottom about the edge
// line; pictures under 3 pixels hold the index within the picture.
int Reflect(int v, int n)
{
    int m = v;
    if (v < 0) m = -v;
    if (v >= n) m = 2 * n - 1 - v;
    if (m < 0) m = 0;
    if (m > n - 1) m = n - 1;
    return m;
}

CImage DirectCustom(const CImage& in, const Kernel& k, long long scale, long long offset)
{
    CImage out = Copy(in);
    for (int x = 0; x < in.width(); ++x)
        for (int y = 0; y < in.height(); ++y)
            for (int c = 0; c < 3; ++c) {
                long long s = 0;
                for (int dy = -2; dy <= 2; ++dy)
                    for (int dx = -2; dx <= 2; ++dx)
                        s += static_cast<long long>(k[static_cast<std::size_t>(5 * (dy + 2) + dx + 2)]) *
                             Pixel(in, Reflect(x + dx, in.width()), Reflect(y + dy, in.height()))[c];
                const long long v = s / scale + offset;
                Pixel(out, x, y)[c] = static_cast<std::uint8_t>(std::clamp(v, 0LL, 255LL));
            }
    return out;
}

CImage Custom(const CImage& in, const Kernel& k, int scale, int offset)
{
    return Apply(in, [&](CImageProcessor& e) { e.CustomFilter(k.data(), scale, offset); });
}

} // namespace

TEST(CustomFilter, IdentityDefaultAndReference)
{
    const CImage noise = Noise(19, 13, 5);
    EXPECT_TRUE(SamePixels(Custom(noise, Identity(), 1, 0), noise));

    // The default kernel sharpens the interior exactly as Sharpen does.
    const CImage custom = Custom(noise, Default(), 1, 0);
    const CImage sharpened = Apply(noise, [](CImageProcessor& e) { e.Sharpen(); });
    for (int y = 1; y < 12; ++y)
        for (int x = 1; x < 18; ++x)
            for (int c = 0; c < 3; ++c) EXPECT_EQ(Pixel(custom, x, y)[c], Pixel(sharpened, x, y)[c]);

    // An asymmetric kernel shows which border is mirrored about what.
    Kernel skew{};
    for (int i = 0; i < 25; ++i) skew[static_cast<std::size_t>(i)] = (i * 7) % 11 - 4;
    for (const auto& size : {std::pair{19, 13}, std::pair{4, 9}, std::pair{2, 3}, std::pair{1, 1}, std::pair{1, 6}, std::pair{5, 2}}) {
        const CImage picture = Noise(size.first, size.second, 9);
        for (int scale : {1, 3, -2}) {
            for (int offset : {0, 100}) {
                EXPECT_TRUE(SamePixels(Custom(picture, skew, scale, offset), DirectCustom(picture, skew, scale, offset)))
                    << size.first << "x" << size.second << " scale " << scale << " offset " << offset;
            }
        }
    }
    // Narrow pictures: every read stays inside, the identity still reproduces.
    const CImage one = Noise(1, 1, 3);
    EXPECT_TRUE(SamePixels(Custom(one, Identity(), 1, 0), one));
}

TEST(CustomFilter, ScalesOffsetsAndClamps)
{
    Kernel ones;
    ones.fill(1);
    const CImage noise = Noise(12, 12, 1);
    EXPECT_TRUE(SamePixels(Custom(noise, ones, 25, 0), DirectCustom(noise, ones, 25, 0)));
    const CImage bright = Custom(Filled(6, 6, 11, 10, 9), ones, 1, 0);
    EXPECT_EQ(Pixel(bright, 3, 3)[0], 255); // 25 * 11
    EXPECT_EQ(Pixel(bright, 3, 3)[1], 250); // 25 * 10
    EXPECT_EQ(Pixel(bright, 0, 0)[2], 225);

    // Weights summing to 0 map flat areas to the offset.
    const CImage mid = Custom(Filled(8, 8, 90, 30, 200), Default() /*sums to 1*/, 1, 0);
    EXPECT_EQ(Pixel(mid, 4, 4)[0], 90);
    Kernel zeroSum{};
    zeroSum[12] = 4;
    zeroSum[7] = zeroSum[11] = zeroSum[13] = zeroSum[17] = -1;
    EXPECT_TRUE(SamePixels(Custom(Filled(8, 8, 90, 30, 200), zeroSum, 1, 128), Filled(8, 8, 128, 128, 128)));

    // -7 / 2 truncates to -3 (not -4): with offset 10 the byte is 7.
    Kernel minusSeven{};
    minusSeven[12] = -7;
    EXPECT_EQ(Pixel(Custom(Filled(5, 5, 1, 1, 1), minusSeven, 2, 10), 2, 2)[0], 7);
    // Negative results clamp to 0.
    EXPECT_EQ(Pixel(Custom(Filled(5, 5, 1, 1, 1), minusSeven, 1, 0), 2, 2)[0], 0);
    // A scale of 0 counts as 1 (the dialog stores 1 for it) instead of dividing by zero.
    EXPECT_TRUE(SamePixels(Custom(noise, Default(), 0, 0), Custom(noise, Default(), 1, 0)));
}

TEST(CustomFilter, HugeWeightsDoNotOverflow)
{
    const CImage white = Filled(6, 5, 255, 255, 255);
    Kernel big{};
    big[12] = INT_MAX;
    EXPECT_TRUE(SamePixels(Custom(white, big, INT_MAX, 0), white)); // 255 * INT_MAX / INT_MAX
    Kernel all;
    all.fill(INT_MAX);
    EXPECT_TRUE(SamePixels(Custom(white, all, 1, 0), white));
    all.fill(INT_MIN);
    EXPECT_TRUE(SamePixels(Custom(white, all, 1, INT_MAX), Filled(6, 5, 0, 0, 0)));
    EXPECT_TRUE(SamePixels(Custom(white, all, -1, INT_MIN), white));
}

TEST(CustomFilter, PreviewWritesOnlyTheWorkImage)
{
    const CImage noise = Noise(10, 7, 4);
    CImage picture = Copy(noise);
    CImageProcessor engine(&picture);
    const Kernel k = Default();
    // No work image of the picture's layout: nothing happens.
    engine.preview = 1;
    engine.CustomFilter(k.data(), 1, 0);
    EXPECT_TRUE(SamePixels(picture, noise));
    ASSERT_TRUE(engine.workImage().Create(10, 7, 24));
    engine.CustomFilter(k.data(), 1, 0);
    EXPECT_TRUE(SamePixels(picture, noise));
    EXPECT_TRUE(SamePixels(engine.workImage(), Custom(noise, k, 1, 0)));

    // A stale rendering gives up at once.
    CRecorder stale;
    stale.stop = true;
    ASSERT_TRUE(engine.workImage().Create(10, 7, 24));
    {
        CImageProcessor::ThreadProgressOverride override(&stale);
        engine.CustomFilter(k.data(), 1, 0);
    }
    EXPECT_TRUE(SamePixels(engine.workImage(), Filled(10, 7, 0, 0, 0)));
    EXPECT_EQ(stale.ends, 1);
    engine.preview = 0;
}

TEST(CustomFilter, AllocationFailureLeavesThePicture)
{
    const CImage noise = Noise(10, 7, 4);
    CImage picture = Copy(noise);
    CImageProcessor engine(&picture);
    const Kernel k = Default();
    for (int allowed : {0, 1, 2}) {
        orvex_testing::FailFftBuffersAfter(allowed);
        engine.CustomFilter(k.data(), 1, 0);
        orvex_testing::FailFftBuffersAfter(-1);
        EXPECT_TRUE(engine.Failed());
        EXPECT_TRUE(SamePixels(picture, noise));
        engine.ClearFailure();
    }
}

// The border is made band by band: no second picture is needed (a picture near the size cap
// could not have one), and bands meet without a seam, in place and into the work image.
TEST(CustomFilter, NeedsNoSecondPictureAndBandsMeetExactly)
{
    Kernel skew{};
    for (int i = 0; i < 25; ++i) skew[static_cast<std::size_t>(i)] = (i * 5) % 9 - 3;
    for (const auto& size : {std::pair{7, 64}, std::pair{5, 65}, std::pair{3, 129}, std::pair{11, 200}, std::pair{2, 66}}) {
        const CImage noise = Noise(size.first, size.second, 11);
        const CImage expected = DirectCustom(noise, skew, 2, 10);
        CImage picture = Copy(noise);
        CImageProcessor engine(&picture);
        orvex_testing::FailImageAllocationsAfter(0);
        engine.CustomFilter(skew.data(), 2, 10);
        orvex_testing::FailImageAllocationsAfter(-1);
        EXPECT_FALSE(engine.Failed());
        EXPECT_TRUE(SamePixels(picture, expected)) << size.first << "x" << size.second;

        CImage source = Copy(noise);
        CImageProcessor previewing(&source);
        ASSERT_TRUE(previewing.workImage().Create(size.first, size.second, 24));
        previewing.preview = 1;
        previewing.CustomFilter(skew.data(), 2, 10);
        previewing.preview = 0;
        EXPECT_TRUE(SamePixels(source, noise));
        EXPECT_TRUE(SamePixels(previewing.workImage(), expected)) << size.first << "x" << size.second;
    }
}

TEST(FilterFiles, RecordLayoutAndRoundTrip)
{
    using namespace orvex_convolution;
    const CCustomFilterSettings defaults;
    const auto record = EncodeFilterFile(defaults);
    ASSERT_EQ(record.size(), 108u);
    const auto field = [&](int index) {
        const std::size_t at = 4 * static_cast<std::size_t>(index);
        return static_cast<std::int32_t>(record[at] | record[at + 1] << 8 | record[at + 2] << 16 |
                                         static_cast<std::uint32_t>(record[at + 3]) << 24);
    };
    EXPECT_EQ(field(0), 0); // offset
    EXPECT_EQ(field(1), 1); // scale
    for (int i = 0; i < 25; ++i) {
        const int expected = i == 12 ? 5 : (i == 7 || i == 11 || i == 13 || i == 17) ? -1 : 0;
        EXPECT_EQ(field(2 + i), expected) << i;
    }

    const auto dir = std::filesystem::temp_directory_path() / ("orvex-ocf-test-" + std::to_string(static_cast<long>(getpid())));
    std::filesystem::create_directories(dir);
    CCustomFilterSettings custom;
    custom.offset = -300;
    custom.scale = 0; // kept as stored; the dialog shows it as 1
    for (int i = 0; i < 25; ++i) custom.kernel[static_cast<std::size_t>(i)] = i * 1000003 - 7;
    std::string error;
    ASSERT_TRUE(WriteFilterFile(dir / "a.ocf", custom, error)) << error;
    EXPECT_EQ(std::filesystem::file_size(dir / "a.ocf"), 108u);
    CCustomFilterSettings read;
    ASSERT_TRUE(ReadFilterFile(dir / "a.ocf", read, error)) << error;
    EXPECT_EQ(read, custom);

    // Longer files: the first 108 bytes count.
    {
        std::ofstream longer(dir / "long.ocf", std::ios::binary);
        const auto bytes = EncodeFilterFile(custom);
        longer.write(reinterpret_cast<const char*>(bytes.data()), 108);
        longer.write("extra", 5);
    }
    CCustomFilterSettings fromLonger;
    ASSERT_TRUE(ReadFilterFile(dir / "long.ocf", fromLonger, error));
    EXPECT_EQ(fromLonger, custom);

    // A short file is refused whole; the values in hand stay.
    std::filesystem::resize_file(dir / "a.ocf", 107);
    CCustomFilterSettings kept;
    error.clear();
    EXPECT_FALSE(ReadFilterFile(dir / "a.ocf", kept, error));
    EXPECT_EQ(kept, CCustomFilterSettings());
    EXPECT_NE(error.find("107"), std::string::npos) << error;
    EXPECT_FALSE(DecodeFilterFile({}, kept, error));
    EXPECT_EQ(kept, CCustomFilterSettings());

    EXPECT_FALSE(ReadFilterFile(dir / "missing.ocf", kept, error));
    EXPECT_FALSE(WriteFilterFile(dir / "no-such-folder" / "b.ocf", custom, error));
    std::filesystem::remove_all(dir);
}
