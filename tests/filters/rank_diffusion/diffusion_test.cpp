// Total-variation and balanced forward-backward diffusion against a per-pixel reference that
// evaluates the four blocks of every pixel on its own, pass by pass as the filter is defined.
#include "core/image_processor.h"
#include "filters/rank_diffusion/rank_diffusion.h"
#include "tests/test_pictures.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

using namespace test_pictures;
using orvex_rank_diffusion::CDiffusionKernel;
using orvex_rank_diffusion::CShrink;

namespace {

struct CBuffer
{
    int width = 0;
    int height = 0;
    std::vector<double> cells;

    CBuffer(int w, int h) : width(w), height(h), cells(3 * static_cast<std::size_t>(w + 2) * (h + 2), 0.0) {}
    double& at(int x, int y, int ch) { return cells[3 * (static_cast<std::size_t>(x) * (height + 2) + y) + ch]; }
    double at(int x, int y, int ch) const { return cells[3 * (static_cast<std::size_t>(x) * (height + 2) + y) + ch]; }

    // Every frame cell a copy of the nearest interior cell.
    void FillFrame()
    {
        for (int x = 0; x <= width + 1; ++x)
            for (int y = 0; y <= height + 1; ++y)
                if (x == 0 || y == 0 || x == width + 1 || y == height + 1)
                    for (int ch = 0; ch < 3; ++ch) at(x, y, ch) = at(std::clamp(x, 1, width), std::clamp(y, 1, height), ch);
    }
};

double Shrink(double g, CShrink rule)
{
    if (rule == CShrink::TotalVariation) return g * 0.25 <= 1 ? 0.0 : 1 - 4 / g;
    if (0.125 * g * g <= 10) return 0.0;
    const double g2 = g * g;
    return std::sqrt(1 - 80 / g2);
}

double Estimate(double p0, double p1, double p2, double p3, double e, CShrink rule)
{
    const double m = (p0 + p1 + p2 + p3) * 0.25;
    const double s = (p0 - p1) * (p0 - p1) + (p0 - p2) * (p0 - p2) + (p0 - p3) * (p0 - p3) + (p1 - p2) * (p1 - p2) +
                     (p1 - p3) * (p1 - p3) + (p2 - p3) * (p2 - p3);
    const double g = 0.5 * std::sqrt(s);
    return m + Shrink(g, rule) * (e - m);
}

void ReferencePass(const CBuffer& src, CBuffer& dst, CShrink rule)
{
    for (int x = 1; x <= src.width; ++x)
        for (int y = 1; y <= src.height; ++y)
            for (int ch = 0; ch < 3; ++ch) {
                auto v = [&](int dx, int dy) { return src.at(x + dx, y + dy, ch); };
                const double a = v(-1, -1), b = v(0, -1), c = v(1, -1), d = v(-1, 0), e = v(0, 0), f = v(1, 0);
                const double g = v(-1, 1), h = v(0, 1), l = v(1, 1);
                const double q1 = Estimate(a, b, d, e, e, rule);
                const double q2 = Estimate(b, c, e, f, e, rule);
                const double q3 = Estimate(d, e, g, h, e, rule);
                const double q4 = Estimate(e, f, h, l, e, rule);
                dst.at(x, y, ch) = (q1 + q2 + q3 + q4) * 0.25;
            }
}

CBuffer FromPicture(const CImage& picture)
{
    CBuffer buffer(picture.width(), picture.height());
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            for (int ch = 0; ch < 3; ++ch) buffer.at(x + 1, y + 1, ch) = Pixel(picture, x, y)[ch];
    return buffer;
}

// N passes in pairs A -> B -> A, an odd one A -> B followed by copying B into A; the result is A.
CBuffer ReferenceRun(const CImage& picture, int iterations, CShrink rule)
{
    CBuffer a = FromPicture(picture);
    CBuffer b(picture.width(), picture.height());
    for (int pair = 0; pair < iterations / 2; ++pair) {
        a.FillFrame();
        ReferencePass(a, b, rule);
        b.FillFrame();
        ReferencePass(b, a, rule);
    }
    if (iterations % 2 == 1) {
        a.FillFrame();
        ReferencePass(a, b, rule);
        a = b;
    }
    return a;
}

CImage WrittenBack(const CBuffer& buffer)
{
    CImage picture;
    picture.Create(buffer.width, buffer.height, 24);
    for (int y = 0; y < buffer.height; ++y)
        for (int x = 0; x < buffer.width; ++x)
            for (int ch = 0; ch < 3; ++ch)
                Pixel(picture, x, y)[ch] = static_cast<std::uint8_t>(static_cast<int>(buffer.at(x + 1, y + 1, ch)) & 0xFF);
    return picture;
}

void Diffuse(CImageProcessor& engine, CShrink rule, int iterations)
{
    if (rule == CShrink::TotalVariation) engine.TotalVariationDiffusion(iterations);
    else engine.BalancedDiffusion(iterations);
}

// One pass through the engine's column code (all columns in one call, or split as threads do).
CBuffer EnginePass(const CBuffer& src, CShrink rule, CDiffusionKernel kernel, int split = 0)
{
    CBuffer dst(src.width, src.height);
    std::vector<double> scratch(orvex_rank_diffusion::DiffusionScratch(src.height));
    const int cut = split > 0 ? std::min(split, src.width) + 1 : src.width + 1;
    const auto always = [] { return true; };
    EXPECT_TRUE(orvex_rank_diffusion::DiffusionColumns(src.cells.data(), dst.cells.data(), src.width, src.height, 1, cut,
                                                       rule, scratch.data(), always, kernel));
    if (cut < src.width + 1) {
        EXPECT_TRUE(orvex_rank_diffusion::DiffusionColumns(src.cells.data(), dst.cells.data(), src.width, src.height, cut,
                                                           src.width + 1, rule, scratch.data(), always, kernel));
    }
    return dst;
}

// Fractional values, flat patches, blocks whose contrast sits exactly on a threshold (a 0/4
// checkerboard has S = 64, G = 4), and a smooth left half where whole vectors of blocks are flat.
CBuffer Testbed(int width, int height, std::uint32_t seed)
{
    CBuffer buffer(width, height);
    for (int x = 1; x <= width; ++x)
        for (int y = 1; y <= height; ++y)
            for (int ch = 0; ch < 3; ++ch) {
                seed = seed * 1664525u + 1013904223u;
                const int kind = static_cast<int>(seed >> 29);
                const double value = (seed >> 8) % 25600 / 100.0;
                buffer.at(x, y, ch) = 2 * x <= width ? 50.0 + 0.7 * x + 1.3 * y + ch
                                      : kind == 0 ? 100.0 : kind == 1 ? (x + y) % 2 * 4.0 : value;
            }
    buffer.FillFrame();
    return buffer;
}

class CStopAtPosition : public IProgress
{
public:
    CStopAtPosition(CImageProcessor& engine, int position) : m_engine(engine), m_position(position) {}
    void Begin(std::string_view, int range) override { range_ = range; }
    void SetPosition(int position) override
    {
        last = position;
        if (position >= m_position) m_engine.cancel.store(1);
    }
    void End() override {}
    int range_ = 0;
    int last = 0;

private:
    CImageProcessor& m_engine;
    int m_position;
};

} // namespace

TEST(Diffusion, SharedBlocksGiveTheSameBitsAsFourBlocksPerPixelAtEveryVectorWidth)
{
    const int sizes[][2] = {{1, 1}, {2, 5}, {5, 2}, {13, 11}, {31, 7}, {8, 40}, {3, 90}};
    std::uint32_t seed = 11;
    for (CShrink rule : {CShrink::TotalVariation, CShrink::Balanced})
        for (const auto& size : sizes) {
            const CBuffer src = Testbed(size[0], size[1], seed++);
            CBuffer expected(size[0], size[1]);
            ReferencePass(src, expected, rule);
            expected.FillFrame();
            for (CDiffusionKernel kernel : {CDiffusionKernel::Scalar, CDiffusionKernel::Avx2, CDiffusionKernel::Avx512}) {
                if (!orvex_rank_diffusion::DiffusionKernelAvailable(kernel)) continue;
                for (int split : {0, 1, size[0] / 2}) {
                    CBuffer got = EnginePass(src, rule, kernel, split);
                    orvex_rank_diffusion::FillSideFrame(got.cells.data(), got.width, got.height);
                    EXPECT_EQ(std::memcmp(got.cells.data(), expected.cells.data(), got.cells.size() * sizeof(double)), 0)
                        << size[0] << "x" << size[1] << " kernel " << static_cast<int>(kernel) << " split " << split;
                }
            }
        }
}

TEST(Diffusion, PicturesMatchTheReferenceForOddAndEvenPassCounts)
{
    const int sizes[][2] = {{1, 1}, {3, 2}, {17, 9}, {40, 33}};
    std::uint32_t seed = 21;
    for (CShrink rule : {CShrink::TotalVariation, CShrink::Balanced})
        for (const auto& size : sizes)
            for (int n : {1, 2, 3, 6}) {
                const CImage original = Noise(size[0], size[1], seed++);
                const CImage result = Applied(original, [&](CImageProcessor& e) { Diffuse(e, rule, n); });
                EXPECT_TRUE(SamePixels(result, WrittenBack(ReferenceRun(original, n, rule))))
                    << size[0] << "x" << size[1] << " N=" << n << " rule " << static_cast<int>(rule);
            }
}

TEST(Diffusion, StepAndSpotExamples)
{
    // A vertical step 0 | 100: the pixel beside it on the dark side moves by about 1 under total
    // variation and by about 0.1 under balanced diffusion.
    CBuffer step(6, 4);
    for (int x = 4; x <= 6; ++x)
        for (int y = 1; y <= 4; ++y)
            for (int ch = 0; ch < 3; ++ch) step.at(x, y, ch) = 100.0;
    step.FillFrame();
    const CBuffer tv = EnginePass(step, CShrink::TotalVariation, CDiffusionKernel::Best);
    const CBuffer bfb = EnginePass(step, CShrink::Balanced, CDiffusionKernel::Best);
    EXPECT_NEAR(tv.at(3, 2, 0), 1.0, 1e-9);
    EXPECT_NEAR(tv.at(4, 2, 0), 99.0, 1e-9);
    EXPECT_NEAR(bfb.at(3, 2, 1), 25.0 * (1.0 - std::sqrt(0.992)), 1e-12);
    EXPECT_NEAR(bfb.at(3, 2, 1), 0.1, 0.001);
    EXPECT_EQ(tv.at(1, 2, 2), 0.0) << "a flat region stays flat";

    // A single 3 on 0 becomes 0.75 under both rules (every block's contrast is low).
    CBuffer spot(5, 5);
    spot.at(3, 3, 0) = 3.0;
    spot.FillFrame();
    for (CShrink rule : {CShrink::TotalVariation, CShrink::Balanced})
        EXPECT_DOUBLE_EQ(EnginePass(spot, rule, CDiffusionKernel::Best).at(3, 3, 0), 0.75);

    // Balanced: a step of 12 keeps k = sqrt(1 - 80/144) across it, a step of 8 is flattened.
    for (const auto& [height, expected] : {std::pair{12.0, 1.0}, {8.0, 2.0}}) {
        CBuffer small(4, 3);
        for (int x = 3; x <= 4; ++x)
            for (int y = 1; y <= 3; ++y) small.at(x, y, 0) = height;
        small.FillFrame();
        const double k = height > 9 ? std::sqrt(1 - 80 / (height * height)) : 0.0;
        const double q = height / 2 - k * height / 2;
        EXPECT_NEAR(EnginePass(small, CShrink::Balanced, CDiffusionKernel::Best).at(2, 2, 0), q / 2, 1e-12);
        EXPECT_NEAR(q / 2, expected, 1e-9);
    }

    // Written back by truncation: the dark side of a 0 | 100 step reads 1 after one total-variation
    // pass if the value reached 1, else 0; the spot goes to 0.
    CImage picture = Filled(6, 4, 0, 0, 0);
    for (int y = 0; y < 4; ++y)
        for (int x = 3; x < 6; ++x) Pixel(picture, x, y)[0] = 100;
    const CImage once = Applied(picture, [](CImageProcessor& e) { e.TotalVariationDiffusion(1); });
    EXPECT_EQ(Pixel(once, 2, 1)[0], static_cast<int>(tv.at(3, 2, 0)));
}

TEST(Diffusion, ValuesNeverLeaveTheirNeighbourhoodsRange)
{
    for (CShrink rule : {CShrink::TotalVariation, CShrink::Balanced}) {
        const CBuffer src = Testbed(23, 19, 5);
        const CBuffer dst = EnginePass(src, rule, CDiffusionKernel::Best);
        for (int x = 1; x <= src.width; ++x)
            for (int y = 1; y <= src.height; ++y)
                for (int ch = 0; ch < 3; ++ch) {
                    double lo = 1e9, hi = -1e9;
                    for (int dx = -1; dx <= 1; ++dx)
                        for (int dy = -1; dy <= 1; ++dy) {
                            lo = std::min(lo, src.at(x + dx, y + dy, ch));
                            hi = std::max(hi, src.at(x + dx, y + dy, ch));
                        }
                    EXPECT_GE(dst.at(x, y, ch), lo - 1e-9);
                    EXPECT_LE(dst.at(x, y, ch), hi + 1e-9);
                }
    }
}

TEST(Diffusion, CancelAtTheLastColumnLeavesThePictureAndCommitsNothing)
{
    for (CShrink rule : {CShrink::TotalVariation, CShrink::Balanced}) {
        // One column: the whole run is on this thread, so the stop lands exactly on the last column
        // start of the last pass.
        const CImage original = Noise(1, 40, 8);
        CImage picture = Copy(original);
        CImageProcessor engine(&picture);
        CStopAtPosition stop(engine, 3);
        engine.SetProgressSink(&stop);
        Diffuse(engine, rule, 3);
        EXPECT_EQ(stop.last, 3);
        EXPECT_TRUE(SamePixels(picture, original));
        EXPECT_EQ(engine.committed.load(), 0);
        EXPECT_EQ(engine.running.load(), 0);

        // Wider, cancelled once the second pass has begun: the other thread stops too.
        const CImage wide = Noise(64, 20, 9);
        CImage second = Copy(wide);
        CImageProcessor other(&second);
        CStopAtPosition later(other, 65);
        other.SetProgressSink(&later);
        Diffuse(other, rule, 4);
        EXPECT_TRUE(SamePixels(second, wide));
        EXPECT_EQ(other.committed.load(), 0);

        // Completed: committed, progress about 100.
        other.SetProgressSink(nullptr);
        Diffuse(other, rule, 2);
        EXPECT_EQ(other.committed.load(), 1);
        EXPECT_NEAR(other.progress.load(), 100.0f, 0.01f);
        EXPECT_TRUE(SamePixels(second, WrittenBack(ReferenceRun(wide, 2, rule))));
    }
}

TEST(Diffusion, NoIterationsOrNoMemoryChangeNothing)
{
    const CImage original = Noise(9, 7, 2);
    for (CShrink rule : {CShrink::TotalVariation, CShrink::Balanced}) {
        CImage picture = Copy(original);
        CImageProcessor engine(&picture);
        Diffuse(engine, rule, 0);
        EXPECT_TRUE(SamePixels(picture, original));
        EXPECT_EQ(engine.committed.load(), 0);
        for (int allowed : {0, 1, 2}) {
            orvex_testing::FailRankDiffusionAllocationsAfter(allowed);
            Diffuse(engine, rule, 2);
            orvex_testing::FailRankDiffusionAllocationsAfter(-1);
            EXPECT_TRUE(engine.Failed()) << allowed;
            EXPECT_TRUE(SamePixels(picture, original));
            EXPECT_EQ(engine.committed.load(), 0);
            EXPECT_EQ(engine.running.load(), 0);
            engine.ClearFailure();
        }
    }
}
