// Add noise against a plain single pass in the prescribed order (x outer, y inner, red, green, blue),
// and the generator's jump-ahead against drawing one number at a time.
#include "core/image_processor.h"
#include "core/parallel.h"
#include "core/random.h"
#include "filters/effects/effects_internal.h"
#include "tests/test_pictures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

using namespace test_pictures;
using orvex_testing::NoiseKernel;

namespace {

const NoiseKernel kKernels[] = {NoiseKernel::kScalar, NoiseKernel::kAvx2, NoiseKernel::kAvx512Lookup,
                                NoiseKernel::kAvx512};

struct ReferenceLcg
{
    std::uint32_t state;
    int Next()
    {
        state = state * 214013u + 2531011u;
        return static_cast<int>((state >> 16) & 0x7FFF);
    }
};

// The operation as written: one generator, one pass, one formula per channel.
CImage ReferenceNoise(const CImage& picture, std::uint32_t seed, float amount, bool uniform, bool mono,
                      std::uint32_t* finalState = nullptr)
{
    CImage out = Copy(picture);
    ReferenceLcg lcg{seed};
    const float s = static_cast<float>(amount * 1.28);
    const auto draw = [&]() -> double {
        if (uniform) return (lcg.Next() % 2000) / 1000.0 - 1.0;
        const double u1 = (lcg.Next() % 1000) / 1000.0 + 0.0001;
        const double u2 = (lcg.Next() % 1000) / 1000.0;
        return std::sqrt(-2.0 * std::log(u1)) * std::cos(6.2831852 * u2);
    };
    for (int x = 0; x < picture.width(); ++x)
        for (int y = 0; y < picture.height(); ++y) {
            std::uint8_t* p = Pixel(out, x, y);
            double n = 0.0;
            for (int c = 2; c >= 0; --c) { // red, green, blue
                if (c == 2 || !mono) n = draw();
                const int v = p[c] + static_cast<int>(s * n);
                p[c] = static_cast<std::uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
            }
        }
    if (finalState) *finalState = lcg.state;
    return out;
}

CImage Noised(const CImage& picture, std::uint32_t seed, float amount, bool uniform, bool mono)
{
    return Applied(picture, [&](CImageProcessor& e) {
        e.SetSeedOverride(seed);
        e.AddNoise(amount, uniform, mono);
    });
}

bool IsGrey(const CImage& picture)
{
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x) {
            const std::uint8_t* p = Pixel(picture, x, y);
            if (p[0] != p[1] || p[1] != p[2]) return false;
        }
    return true;
}

} // namespace

TEST(Random, DrawsAndJumpsFollowTheSingleSequence)
{
    // The generator's well-known opening from seed 1.
    orvex_random::Seed(1);
    const int expected[] = {41, 18467, 6334, 26500, 19169, 15724, 11478, 29358, 26962, 24464};
    for (int v : expected) EXPECT_EQ(orvex_random::Next(), v);

    for (std::uint64_t n : {0ull, 1ull, 2ull, 3ull, 17ull, 1000ull, 65537ull, 3000001ull}) {
        ReferenceLcg one{0xDEADBEEFu};
        for (std::uint64_t i = 0; i < n; ++i) one.Next();
        orvex_random::CLcg jumped(0xDEADBEEFu);
        jumped.JumpAhead(n);
        EXPECT_EQ(jumped.state(), one.state) << n;
        EXPECT_EQ(jumped.Next(), one.Next()) << n;
    }
    // A jump of 2^32 draws is the whole period: back where it started.
    orvex_random::CLcg full(12345u);
    full.JumpAhead(std::uint64_t(1) << 32);
    EXPECT_EQ(full.state(), 12345u);
}

TEST(AddNoise, KnownDrawsGiveKnownPixels)
{
    const CImage grey = Filled(1, 1, 128, 128, 128);
    // Seed 1 draws 41, 18467, 6334: uniform noise -0.959, -0.533, -0.666 times 128, truncated.
    const CImage uniform = Noised(grey, 1, 100.0f, true, false);
    EXPECT_EQ(Pixel(uniform, 0, 0)[2], 128 - 122);
    EXPECT_EQ(Pixel(uniform, 0, 0)[1], 128 - 68);
    EXPECT_EQ(Pixel(uniform, 0, 0)[0], 128 - 85);
    // Gaussian from the pairs (41, 18467), (6334, 26500), (19169, 15724):
    // sqrt(-2 ln 0.0411) cos(6.2831852 * 0.467) = -2.4724..., then -1.4807..., -0.3066...; s = 12.8.
    const CImage gaussian = Noised(grey, 1, 10.0f, false, false);
    EXPECT_EQ(Pixel(gaussian, 0, 0)[2], 128 - 31);
    EXPECT_EQ(Pixel(gaussian, 0, 0)[1], 128 - 18);
    EXPECT_EQ(Pixel(gaussian, 0, 0)[0], 128 - 3);
}

TEST(AddNoise, MatchesTheSinglePassOnEverySizeModeAndKernel)
{
    // Widths on both sides of the 8- and 64-pixel blocks; 1e5 and -20 leave the uniform formula for
    // the lookup.
    const int sizes[][2] = {{1, 1}, {3, 2}, {2, 3}, {7, 5}, {8, 3}, {9, 4}, {17, 9}, {23, 4}, {33, 3},
                            {63, 3}, {64, 41}, {65, 2}, {127, 2}, {129, 3}, {5, 130}};
    const float amounts[] = {0.0f, 0.37f, 1.0f, 3.7f, 50.0f, 100.0f, 400.0f, 1e5f, -20.0f};
    for (NoiseKernel kernel : kKernels) {
        if (!orvex_testing::UseNoiseKernel(kernel)) continue;
        for (const auto& size : sizes)
            for (int mode = 0; mode < 4; ++mode)
                for (float amount : amounts) {
                    const bool uniform = mode & 1;
                    const bool mono = mode & 2;
                    const CImage picture = Noise(size[0], size[1], 99);
                    std::uint32_t finalState = 0;
                    const CImage expected = ReferenceNoise(picture, 777u, amount, uniform, mono, &finalState);
                    const CImage actual = Noised(picture, 777u, amount, uniform, mono);
                    EXPECT_TRUE(SamePixels(actual, expected)) << size[0] << "x" << size[1] << " mode " << mode
                                                              << " amount " << amount << " kernel "
                                                              << static_cast<int>(kernel);
                    // The thread's generator is left where the single pass leaves it.
                    EXPECT_EQ(orvex_random::State(), finalState);
                }
    }
    orvex_testing::UseNoiseKernel(NoiseKernel::kBest);
}

TEST(AddNoise, NoiseWithoutLookupsMatchesAtManyAmounts)
{
    // Monochromatic noise on mid grey: one draw (or pair) per pixel. 40000 uniform draws reach every
    // one of the 2000 values, and Gaussian values close enough to an integer boundary for single
    // precision to be unsure of them turn up a few times per run; no value below 128 in magnitude
    // is hidden by the clamp.
    const CImage grey = Filled(200, 200, 128, 128, 128);
    // 54.48... and 1104.26... need the uniform formula's two-part constant (the second saturates).
    // 0 and 1e-40 (whose scale squared is 0 in single precision) test the Gaussian radius, which
    // is computed already multiplied by the scale.
    std::vector<float> amounts = {0.0f, 1e-40f, 0.01f, 0.37f, 1.0f, 12.5f, 54.486541748046875f,
                                  99.0f, 400.0f, 1104.265625f, 3000.0f, 1e5f};
    for (int position = 37; position <= 40000; position += 2011)
        amounts.push_back(static_cast<float>((position / 100.0) * (position / 100.0) / 400.0));
    std::uint32_t seed = 5;
    for (NoiseKernel kernel : {NoiseKernel::kAvx2, NoiseKernel::kAvx512}) {
        if (!orvex_testing::UseNoiseKernel(kernel)) continue;
        for (float amount : amounts)
            for (bool uniform : {true, false}) {
                seed = seed * 69069u + 1u;
                const CImage expected = ReferenceNoise(grey, seed, amount, uniform, true);
                EXPECT_TRUE(SamePixels(Noised(grey, seed, amount, uniform, true), expected))
                    << amount << (uniform ? " uniform" : " Gaussian") << " kernel " << static_cast<int>(kernel);
            }
    }
    orvex_testing::UseNoiseKernel(NoiseKernel::kBest);
}

TEST(AddNoise, VectorUniformNoiseOfEveryDrawAtTheSlidersAmounts)
{
    std::vector<std::int16_t> noise(32768);
    if (!orvex_testing::UseNoiseKernel(NoiseKernel::kAvx512)) GTEST_SKIP() << "no AVX-512";
    orvex_testing::UseNoiseKernel(NoiseKernel::kBest);
    int computed = 0;
    int positions = 0;
    for (int position = 0; position <= 40000; position += 97, ++positions) {
        const float amount = static_cast<float>((position / 100.0) * (position / 100.0) / 400.0);
        const float s = static_cast<float>(amount * 1.28);
        if (!orvex_testing::WideUniformNoise(s, noise.data())) continue; // looked up instead
        ++computed;
        int wrong = -1;
        for (int d = 0; d < 32768 && wrong < 0; ++d)
            if (noise[d] != std::clamp(static_cast<int>(s * ((d % 2000) / 1000.0 - 1.0)), -255, 255)) wrong = d;
        EXPECT_EQ(wrong, -1) << "amount " << amount;
    }
    // The lookup is for the odd amount out, not the rule.
    EXPECT_GT(computed, positions * 9 / 10);
}

TEST(AddNoise, VectorGaussianNoiseOfEveryDrawPairAtSeveralAmounts)
{
    if (!orvex_testing::UseNoiseKernel(NoiseKernel::kAvx512)) GTEST_SKIP() << "no AVX-512";
    orvex_testing::UseNoiseKernel(NoiseKernel::kBest);
    std::vector<std::uint16_t> first(1000000);
    std::vector<std::uint16_t> second(1000000);
    for (int k = 0; k < 1000000; ++k) {
        first[k] = static_cast<std::uint16_t>(k / 1000);
        second[k] = static_cast<std::uint16_t>(k % 1000);
    }
    std::vector<double> radius(1000);
    std::vector<double> angle(1000);
    for (int k = 0; k < 1000; ++k) {
        radius[k] = std::sqrt(-2.0 * std::log(k / 1000.0 + 0.0001));
        angle[k] = std::cos(6.2831852 * (k / 1000.0));
    }
    std::vector<std::int16_t> noise(1000000);
    for (float amount : {0.37f, 3.7f, 50.0f, 99.99f, 400.0f, 1104.265625f, 20000.0f}) {
        const float s = static_cast<float>(amount * 1.28);
        ASSERT_TRUE(orvex_testing::WideGaussianNoise(s, first.data(), second.data(), 1000000, noise.data())) << amount;
        int wrong = -1;
        for (int k = 0; k < 1000000 && wrong < 0; ++k)
            if (noise[k] != std::clamp(static_cast<int>(s * (radius[first[k]] * angle[second[k]])), -255, 255))
                wrong = k;
        EXPECT_EQ(wrong, -1) << "amount " << amount;
    }
    // Far beyond the dialog's range single precision is of no use and the noise is looked up.
    EXPECT_FALSE(orvex_testing::WideGaussianNoise(1e5f * 1.28f, first.data(), second.data(), 32, noise.data()));
}

TEST(AddNoise, SameResultOnOneOrAllThreadsInPlaceOrPreview)
{
    // The rows are shared between the cores in bands, each band starting where the single
    // sequence would be.
    const CImage picture = Noise(150, 37, 3);
    for (NoiseKernel kernel : kKernels) {
        if (!orvex_testing::UseNoiseKernel(kernel)) continue;
        for (int mode = 0; mode < 4; ++mode) {
            const bool uniform = mode & 1;
            const bool mono = mode & 2;
            const CImage expected = ReferenceNoise(picture, 99, 33.3f, uniform, mono);
            for (int threads : {1, 0}) {
                orvex_testing::LimitParallelThreads(threads);
                EXPECT_TRUE(SamePixels(Noised(picture, 99, 33.3f, uniform, mono), expected))
                    << static_cast<int>(kernel) << " mode " << mode << " threads " << threads;
                CImage original = Copy(picture);
                CImageProcessor engine(&original);
                engine.SetSeedOverride(99);
                ASSERT_TRUE(engine.workImage().Create(150, 37, 24));
                engine.preview = 1;
                engine.AddNoise(33.3f, uniform, mono);
                EXPECT_TRUE(SamePixels(engine.workImage(), expected))
                    << static_cast<int>(kernel) << " mode " << mode << " threads " << threads << " preview";
            }
        }
    }
    orvex_testing::LimitParallelThreads(0);
    orvex_testing::UseNoiseKernel(NoiseKernel::kBest);
}

TEST(AddNoise, SixteenBitQuotientsOfEveryDrawAreExact)
{
    // The vector paths divide 15-bit draws by 1000 and 2000 as a multiply-high and a shift.
    for (int d = 0; d < 32768; ++d) {
        ASSERT_EQ((d * 33555) >> 25, d / 1000) << d;
        ASSERT_EQ((d * 33555) >> 26, d / 2000) << d;
    }
}

TEST(AddNoise, InvariantsOfAmountSaturationGreyAndSeed)
{
    const CImage picture = Noise(31, 23, 5);
    EXPECT_TRUE(SamePixels(Noised(picture, 3, 0.0f, true, false), picture));
    EXPECT_TRUE(SamePixels(Noised(picture, 3, 0.0f, false, true), picture));

    // A white picture can only lose brightness.
    const CImage white = Filled(40, 30, 255, 255, 255);
    const CImage noisedWhite = Noised(white, 11, 100.0f, true, false);
    bool anyDarker = false;
    for (int y = 0; y < 30; ++y)
        for (int i = 0; i < 120; ++i) anyDarker |= Pixel(noisedWhite, 0, y)[i] < 255;
    EXPECT_TRUE(anyDarker);

    const CImage grey = Filled(40, 30, 90, 90, 90);
    EXPECT_TRUE(IsGrey(Noised(grey, 4, 50.0f, true, true)));
    EXPECT_TRUE(IsGrey(Noised(grey, 4, 50.0f, false, true)));
    EXPECT_FALSE(IsGrey(Noised(grey, 4, 50.0f, true, false)));
    EXPECT_FALSE(IsGrey(Noised(grey, 4, 50.0f, false, false)));

    EXPECT_TRUE(SamePixels(Noised(picture, 42, 60.0f, false, false), Noised(picture, 42, 60.0f, false, false)));
    EXPECT_FALSE(SamePixels(Noised(picture, 42, 60.0f, false, false), Noised(picture, 43, 60.0f, false, false)));
}

TEST(AddNoise, PreviewWritesTheWorkImageOnly)
{
    for (NoiseKernel kernel : kKernels) {
        if (!orvex_testing::UseNoiseKernel(kernel)) continue;
        for (int mode = 0; mode < 4; ++mode) {
            CImage picture = Noise(70, 7, 8);
            const CImage original = Copy(picture);
            CImageProcessor engine(&picture);
            engine.SetSeedOverride(21);
            ASSERT_TRUE(engine.workImage().Create(70, 7, 24));
            engine.preview = 1;
            engine.AddNoise(80.0f, mode & 1, mode & 2);
            EXPECT_TRUE(SamePixels(picture, original));
            EXPECT_TRUE(SamePixels(engine.workImage(), ReferenceNoise(original, 21, 80.0f, mode & 1, mode & 2)))
                << static_cast<int>(kernel) << " mode " << mode;
        }
    }
    orvex_testing::UseNoiseKernel(NoiseKernel::kBest);
}
