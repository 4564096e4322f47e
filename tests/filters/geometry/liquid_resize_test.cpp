#include "core/image_processor.h"
#include "tests/test_pictures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

using test_pictures::Pixel;

namespace {

// Picture bytes top row first, 3 per pixel, no padding.
struct Packed
{
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> bytes;
};

Packed Pack(const CImage& image)
{
    Packed p{image.width(), image.height(), {}};
    for (int y = 0; y < image.height(); ++y)
        p.bytes.insert(p.bytes.end(), Pixel(image, 0, y), Pixel(image, 0, y) + 3 * image.width());
    return p;
}

// The operation written the plain way: whole cost map per seam, pixels moved one at a time, columns
// walked in place for horizontal seams. It records every seam it takes (vertical seams as the column
// in each row, horizontal ones as the row in each column).
struct Reference
{
    std::vector<std::vector<int>> seams;

    Packed Run(const Packed& in, int newWidth, int newHeight)
    {
        const int w = in.width, h = in.height;
        const int ew = std::max(w, newWidth), eh = std::max(h, newHeight);
        std::vector<std::int16_t> energy(std::size_t(ew) * eh);
        std::vector<std::uint8_t> work = in.bytes; // row stride w
        int cw = w, ch = h;
        auto wp = [&](int x, int y) { return &work[(std::size_t(y) * w + x) * 3]; };
        auto e = [&](int x, int y) -> std::int16_t& { return energy[std::size_t(y) * ew + x]; };
        auto computeEnergy = [&](int x, int y) {
            int total = 0;
            for (int c = 0; c < 3; ++c) {
                int sum = 0, terms = 0;
                if (x < cw - 1) sum += std::abs(wp(x, y)[c] - wp(x + 1, y)[c]), ++terms;
                if (y < ch - 1) sum += std::abs(wp(x, y)[c] - wp(x, y + 1)[c]), ++terms;
                if (terms) total += sum / terms;
            }
            e(x, y) = static_cast<std::int16_t>(total);
        };
        for (int y = 0; y < ch; ++y)
            for (int x = 0; x < cw; ++x) computeEnergy(x, y);

        auto verticalSeam = [&]() {
            std::vector<std::int32_t> m(std::size_t(cw) * ch);
            auto M = [&](int x, int y) -> std::int32_t& { return m[std::size_t(y) * cw + x]; };
            for (int x = 0; x < cw; ++x) M(x, 0) = e(x, 0);
            for (int y = 1; y < ch; ++y)
                for (int x = 0; x < cw; ++x) {
                    std::int32_t v = M(x, y - 1);
                    if (x > 0 && M(x - 1, y - 1) < v) v = M(x - 1, y - 1);
                    if (x < cw - 1 && M(x + 1, y - 1) < v) v = M(x + 1, y - 1);
                    M(x, y) = v + e(x, y);
                }
            std::vector<int> s(static_cast<std::size_t>(ch));
            int c = 0;
            for (int x = 1; x < cw; ++x)
                if (M(x, ch - 1) < M(c, ch - 1)) c = x;
            s[ch - 1] = c;
            for (int y = ch - 2; y >= 0; --y) {
                int t = c;
                if (c > 0 && M(c - 1, y) < M(c, y)) t = c - 1;
                if (c < cw - 1 && M(c + 1, y) < M(t, y)) t = c + 1;
                s[y] = c = t;
            }
            seams.push_back(s);
            return s;
        };
        auto horizontalSeam = [&]() {
            std::vector<std::int32_t> m(std::size_t(cw) * ch);
            auto M = [&](int x, int y) -> std::int32_t& { return m[std::size_t(y) * cw + x]; };
            for (int y = 0; y < ch; ++y) M(0, y) = e(0, y);
            for (int x = 1; x < cw; ++x)
                for (int y = 0; y < ch; ++y) {
                    std::int32_t v = M(x - 1, y);
                    if (y > 0 && M(x - 1, y - 1) < v) v = M(x - 1, y - 1);
                    if (y < ch - 1 && M(x - 1, y + 1) < v) v = M(x - 1, y + 1);
                    M(x, y) = v + e(x, y);
                }
            std::vector<int> s(static_cast<std::size_t>(cw));
            int r = 0;
            for (int y = 1; y < ch; ++y)
                if (M(cw - 1, y) < M(cw - 1, r)) r = y;
            s[cw - 1] = r;
            for (int x = cw - 2; x >= 0; --x) {
                int t = r;
                if (r > 0 && M(x, r - 1) < M(x, r)) t = r - 1;
                if (r < ch - 1 && M(x, r + 1) < M(x, t)) t = r + 1;
                s[x] = r = t;
            }
            seams.push_back(s);
            return s;
        };

        while (cw > newWidth) {
            const std::vector<int> s = verticalSeam();
            for (int y = 0; y < ch; ++y)
                for (int x = s[y]; x < cw - 1; ++x) {
                    std::copy(wp(x + 1, y), wp(x + 1, y) + 3, wp(x, y));
                    e(x, y) = e(x + 1, y);
                }
            --cw;
            for (int y = 0; y < ch; ++y)
                for (int x = std::max(s[y] - 1, 0); x <= s[y]; ++x) computeEnergy(x, y);
        }
        while (ch > newHeight) {
            const std::vector<int> s = horizontalSeam();
            for (int x = 0; x < cw; ++x)
                for (int y = s[x]; y < ch - 1; ++y) {
                    std::copy(wp(x, y + 1), wp(x, y + 1) + 3, wp(x, y));
                    e(x, y) = e(x, y + 1);
                }
            --ch;
            for (int x = 0; x < cw; ++x)
                for (int y = std::max(s[x] - 1, 0); y <= s[x]; ++y) computeEnergy(x, y);
        }

        Packed out{newWidth, newHeight, std::vector<std::uint8_t>(std::size_t(newWidth) * newHeight * 3)};
        auto op = [&](int x, int y) { return &out.bytes[(std::size_t(y) * newWidth + x) * 3]; };
        for (int y = 0; y < std::min(newHeight, ch); ++y)
            for (int x = 0; x < std::min(newWidth, cw); ++x) std::copy(wp(x, y), wp(x, y) + 3, op(x, y));

        while (cw < newWidth) {
            const std::vector<int> s = verticalSeam();
            for (int y = 0; y < ch; ++y) {
                for (int x = cw - 1; x >= s[y]; --x) {
                    std::copy(op(x, y), op(x, y) + 3, op(x + 1, y));
                    e(x + 1, y) = e(x, y);
                }
            }
            ++cw;
            for (int y = 0; y < ch; ++y)
                for (int x = s[y]; x <= std::min(s[y] + 1, newWidth - 1); ++x)
                    e(x, y) = static_cast<std::int16_t>(e(x, y) + 2);
        }
        while (ch < newHeight) {
            const std::vector<int> s = horizontalSeam();
            for (int x = 0; x < cw; ++x) {
                for (int y = ch - 1; y >= s[x]; --y) {
                    std::copy(op(x, y), op(x, y) + 3, op(x, y + 1));
                    e(x, y + 1) = e(x, y);
                }
            }
            ++ch;
            for (int x = 0; x < cw; ++x)
                for (int y = s[x]; y <= std::min(s[x] + 1, newHeight - 1); ++y)
                    e(x, y) = static_cast<std::int16_t>(e(x, y) + 2);
        }
        return out;
    }
};

// Runs the engine's operation on a copy of `picture`.
CImage Liquid(const CImage& picture, int newWidth, int newHeight)
{
    return test_pictures::Applied(picture, [&](CImageProcessor& e) { e.LiquidResize(newWidth, newHeight); });
}

// Pictures on which ties are the rule rather than the exception.
CImage TieProne(int width, int height, int kind, std::uint32_t seed)
{
    CImage image;
    image.Create(width, height, 24);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < 3; ++c) {
                seed = seed * 1664525u + 1013904223u;
                int v = 0;
                switch (kind) {
                case 0: v = 90; break;                                      // flat
                case 1: v = (x / 3 % 2) * 200 + c; break;                   // vertical stripes
                case 2: v = (y / 2 % 2) * 120; break;                       // horizontal stripes
                case 3: v = int(seed >> 30); break;                         // faint noise: 0..3
                case 4: v = int(seed >> 24); break;                         // full noise
                default: v = ((x * x + y * 3) / 7 % 5) * 40 + int(seed >> 31); // blotches
                }
                Pixel(image, x, y)[c] = static_cast<std::uint8_t>(v);
            }
    return image;
}

void ExpectSameAsReference(const CImage& picture, int newWidth, int newHeight, const std::string& what)
{
    Reference reference;
    const Packed expected = reference.Run(Pack(picture), newWidth, newHeight);
    const CImage result = Liquid(picture, newWidth, newHeight);
    ASSERT_EQ(result.width(), newWidth) << what;
    ASSERT_EQ(result.height(), newHeight) << what;
    const Packed got = Pack(result);
    if (got.bytes != expected.bytes) {
        std::size_t i = 0;
        while (got.bytes[i] == expected.bytes[i]) ++i;
        const int pixel = int(i / 3);
        FAIL() << what << ": first difference at (" << pixel % newWidth << ", " << pixel / newWidth << ")";
    }
}

class RecordingProgress : public IProgress
{
public:
    void Begin(std::string_view text, int steps) override
    {
        label = std::string(text);
        range = steps;
    }
    void SetPosition(int position) override
    {
        last = position;
        ++calls;
    }
    void End() override { ended = true; }
    bool StopRequested() override { return stopAfter >= 0 && calls >= stopAfter; }

    std::string label;
    int range = -1;
    int last = 0;
    int calls = 0;
    int stopAfter = -1;
    bool ended = false;
};

} // namespace

TEST(LiquidResize, MatchesReferenceOnSmallPicturesWithTies)
{
    std::uint32_t seed = 7;
    auto next = [&seed](int n) {
        seed = seed * 1103515245u + 12345u;
        return int((seed >> 8) % std::uint32_t(n));
    };
    for (int kind = 0; kind < 6; ++kind)
        for (int trial = 0; trial < 14; ++trial) {
            const int w = trial == 0 ? 1 : 1 + next(64);
            const int h = trial == 0 ? 1 : 1 + next(48);
            // Shrink to 1 x 1, shrink, grow, and mixed, in turns.
            int nw = 1, nh = 1;
            switch (trial % 4) {
            case 1: nw = 1 + next(w); nh = 1 + next(h); break;
            case 2: nw = w + 1 + next(w + 1); nh = h + next(h + 1); break;
            case 3: nw = 1 + next(w); nh = h + 1 + next(h); break;
            default: if (trial > 0) { nw = w + next(w + 1); nh = 1 + next(h); } break;
            }
            const CImage picture = TieProne(w, h, kind, seed);
            ExpectSameAsReference(picture, nw, nh,
                "kind " + std::to_string(kind) + " " + std::to_string(w) + "x" + std::to_string(h) + " -> " +
                    std::to_string(nw) + "x" + std::to_string(nh));
        }
}

// Rows long enough for the split over cores and pictures tall enough for several checkpoint blocks.
TEST(LiquidResize, MatchesReferenceOnWideAndTallPictures)
{
    ExpectSameAsReference(TieProne(300, 150, 5, 11), 291, 150, "wide, narrower");
    ExpectSameAsReference(TieProne(300, 150, 3, 12), 306, 150, "wide, wider");
    ExpectSameAsReference(TieProne(40, 290, 4, 13), 40, 283, "tall, lower");
    ExpectSameAsReference(TieProne(270, 270, 1, 14), 265, 275, "narrower and taller");
    ExpectSameAsReference(test_pictures::Noise(263, 70, 15), 268, 66, "wider and lower");
}

TEST(LiquidResize, ReferenceTakesTheSeamsTheRulesGive)
{
    // Uniform colour: every energy is 0, so each removed seam is the leftmost column.
    Reference shrink;
    shrink.Run(Pack(test_pictures::Filled(6, 4, 10, 20, 30)), 3, 4);
    ASSERT_EQ(shrink.seams.size(), 3u);
    for (const auto& seam : shrink.seams) EXPECT_EQ(seam, std::vector<int>(4, 0));

    // The first inserted seam duplicates column 0; its +2 penalty sends the second through column 2.
    Reference grow;
    grow.Run(Pack(test_pictures::Filled(5, 3, 10, 20, 30)), 7, 3);
    ASSERT_EQ(grow.seams.size(), 2u);
    EXPECT_EQ(grow.seams[0], std::vector<int>(3, 0));
    EXPECT_EQ(grow.seams[1], std::vector<int>(3, 2));

    // The same across: the topmost row goes first, and growing repeats row 0, then row 2.
    Reference lower;
    lower.Run(Pack(test_pictures::Filled(4, 6, 10, 20, 30)), 4, 4);
    ASSERT_EQ(lower.seams.size(), 2u);
    for (const auto& seam : lower.seams) EXPECT_EQ(seam, std::vector<int>(4, 0));
    Reference taller;
    taller.Run(Pack(test_pictures::Filled(3, 5, 10, 20, 30)), 3, 7);
    ASSERT_EQ(taller.seams.size(), 2u);
    EXPECT_EQ(taller.seams[0], std::vector<int>(3, 0));
    EXPECT_EQ(taller.seams[1], std::vector<int>(3, 2));
}

TEST(LiquidResize, UniformPictureStaysUniformAtTheNewSize)
{
    const CImage picture = test_pictures::Filled(9, 7, 1, 2, 3);
    for (auto [w, h] : {std::pair{4, 7}, std::pair{18, 7}, std::pair{9, 2}, std::pair{5, 13}}) {
        const CImage result = Liquid(picture, w, h);
        EXPECT_TRUE(test_pictures::SamePixels(result, test_pictures::Filled(w, h, 1, 2, 3))) << w << "x" << h;
    }
}

TEST(LiquidResize, SharpVerticalEdgeSurvivesNarrowing)
{
    CImage picture = test_pictures::Filled(24, 10, 0, 0, 0);
    for (int y = 0; y < 10; ++y)
        for (int x = 12; x < 24; ++x) std::fill(Pixel(picture, x, y), Pixel(picture, x, y) + 3, std::uint8_t(255));
    const CImage result = Liquid(picture, 16, 10);
    ASSERT_EQ(result.width(), 16);
    for (int y = 0; y < 10; ++y) {
        int changes = 0;
        for (int x = 1; x < 16; ++x) changes += Pixel(result, x, y)[0] != Pixel(result, x - 1, y)[0];
        EXPECT_EQ(changes, 1) << "row " << y;
        EXPECT_EQ(Pixel(result, 0, y)[0], 0);
        EXPECT_EQ(Pixel(result, 15, y)[0], 255);
    }
}

TEST(LiquidResize, DoublingAndSinglePixels)
{
    ExpectSameAsReference(test_pictures::Noise(17, 9, 3), 34, 9, "double width");
    ExpectSameAsReference(test_pictures::Noise(9, 6, 4), 9, 12, "double height");
    ExpectSameAsReference(test_pictures::Noise(1, 1, 5), 3, 2, "1x1 grows");
    ExpectSameAsReference(test_pictures::Noise(5, 1, 6), 2, 1, "one row");
    ExpectSameAsReference(test_pictures::Noise(1, 5, 7), 1, 9, "one column");
    ExpectSameAsReference(test_pictures::Noise(1, 300, 8), 3, 290, "long column");
    ExpectSameAsReference(test_pictures::Noise(300, 2, 9), 280, 3, "long row");
    const CImage one = Liquid(test_pictures::Noise(1, 1, 8), 2, 1);
    EXPECT_TRUE(test_pictures::SamePixels(one, [] {
        CImage source = test_pictures::Noise(1, 1, 8);
        CImage twice;
        twice.Create(2, 1, 24);
        std::copy(Pixel(source, 0, 0), Pixel(source, 0, 0) + 3, Pixel(twice, 0, 0));
        std::copy(Pixel(source, 0, 0), Pixel(source, 0, 0) + 3, Pixel(twice, 1, 0));
        return twice;
    }()));
}

TEST(LiquidResize, StepsOncePerSeamAndCommits)
{
    CImage picture = test_pictures::Noise(20, 12, 9);
    CImageProcessor engine(&picture);
    RecordingProgress progress;
    engine.SetProgressSink(&progress);
    engine.LiquidResize(15, 16); // 5 columns out, 4 rows in
    EXPECT_EQ(progress.label, " Liquid resizing:");
    EXPECT_EQ(progress.range, 9);
    EXPECT_EQ(progress.last, 9);
    EXPECT_TRUE(progress.ended);
    EXPECT_EQ(engine.committed.load(), 1);
    EXPECT_FALSE(engine.Failed());
    EXPECT_EQ(picture.width(), 15);
    EXPECT_EQ(picture.height(), 16);
}

TEST(LiquidResize, StopOrMemoryFailureLeavesThePicture)
{
    const CImage original = test_pictures::Noise(30, 20, 10);
    for (int stopAfter : {0, 1, 5}) {
        CImage picture = test_pictures::Copy(original);
        CImageProcessor engine(&picture);
        RecordingProgress progress;
        progress.stopAfter = stopAfter;
        engine.SetProgressSink(&progress);
        engine.LiquidResize(22, 26);
        EXPECT_TRUE(test_pictures::SamePixels(picture, original)) << "stop after " << stopAfter;
        EXPECT_EQ(engine.committed.load(), 0);
        EXPECT_FALSE(engine.Failed());
    }

    CImage picture = test_pictures::Copy(original);
    CImageProcessor engine(&picture);
    orvex_testing::FailImageAllocationsAfter(0);
    engine.LiquidResize(25, 24);
    orvex_testing::FailImageAllocationsAfter(-1);
    EXPECT_TRUE(engine.Failed());
    EXPECT_EQ(engine.committed.load(), 0);
    EXPECT_TRUE(test_pictures::SamePixels(picture, original));

    // Sizes the operation cannot take are refused without touching anything.
    CImageProcessor again(&picture);
    again.LiquidResize(0, 5);
    again.LiquidResize(40000, 40000);
    EXPECT_TRUE(test_pictures::SamePixels(picture, original));
}
