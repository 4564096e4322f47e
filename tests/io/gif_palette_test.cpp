// Colour reduction of the GIF writer against a plain 256-colour median cut kept here, and the
// mapping of every pixel against a brute-force nearest-entry search.
#include "io/gif_writer.h"
#include "io/picture_codec.h"
#include "io/picture_file.h"
#include "tests/test_pictures.h"

#include <QBuffer>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>

using namespace test_pictures;

namespace {

using Colour = std::array<int, 3>; // red, green, blue

std::vector<Colour> Colours(const CImage& picture)
{
    std::vector<Colour> colours;
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x) {
            const std::uint8_t* p = Pixel(picture, x, y);
            colours.push_back({p[2], p[1], p[0]});
        }
    return colours;
}

// Heckbert's median cut: split the box with the longest side at its median pixel along that side
// until there are 256 boxes; every pixel becomes its box's mean. Returns the mean absolute error
// per channel.
double MedianCutError(std::vector<Colour> pixels)
{
    struct Box
    {
        std::size_t begin, end;
    };
    const auto longestSide = [&](const Box& b, int* channel) {
        int best = -1;
        for (int c = 0; c < 3; ++c) {
            int lo = 255, hi = 0;
            for (std::size_t i = b.begin; i < b.end; ++i) lo = std::min(lo, pixels[i][c]), hi = std::max(hi, pixels[i][c]);
            if (hi - lo > best) best = hi - lo, *channel = c;
        }
        return best;
    };
    std::vector<Box> boxes{{0, pixels.size()}};
    while (boxes.size() < 256) {
        std::size_t pick = boxes.size();
        int pickSide = 0, channel = 0;
        for (std::size_t i = 0; i < boxes.size(); ++i) {
            int c = 0;
            const int side = longestSide(boxes[i], &c);
            if (side > pickSide) pickSide = side, pick = i, channel = c;
        }
        if (pick == boxes.size()) break;
        const Box b = boxes[pick];
        const std::size_t mid = (b.begin + b.end) / 2;
        std::nth_element(pixels.begin() + std::ptrdiff_t(b.begin), pixels.begin() + std::ptrdiff_t(mid),
                         pixels.begin() + std::ptrdiff_t(b.end),
                         [channel](const Colour& p, const Colour& q) { return p[channel] < q[channel]; });
        boxes[pick] = {b.begin, mid};
        boxes.push_back({mid, b.end});
    }
    double error = 0;
    for (const Box& b : boxes) {
        double mean[3] = {};
        for (std::size_t i = b.begin; i < b.end; ++i)
            for (int c = 0; c < 3; ++c) mean[c] += pixels[i][c];
        for (double& m : mean) m = std::floor(m / double(b.end - b.begin) + 0.5);
        for (std::size_t i = b.begin; i < b.end; ++i)
            for (int c = 0; c < 3; ++c) error += std::abs(pixels[i][c] - mean[c]);
    }
    return error / (3.0 * double(pixels.size()));
}

struct Written
{
    CImage picture;
    std::vector<Colour> palette;
};

Written WriteAndRead(const CImage& source)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QString reason;
    EXPECT_TRUE(WriteGif(source, buffer, &reason)) << reason.toStdString();
    Written out;
    EXPECT_TRUE(LoadPictureFromMemory(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                                      std::size_t(bytes.size()), out.picture));
    const int entries = 2 << (bytes[10] & 7); // the global colour table follows the screen
    for (int i = 0; i < entries; ++i) {
        const auto* c = reinterpret_cast<const std::uint8_t*>(bytes.constData()) + 13 + 3 * i;
        out.palette.push_back({c[0], c[1], c[2]});
    }
    return out;
}

double MeanError(const CImage& a, const CImage& b)
{
    double error = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            for (int c = 0; c < 3; ++c) error += std::abs(Pixel(a, x, y)[c] - Pixel(b, x, y)[c]);
    return error / (3.0 * a.width() * a.height());
}

// Smooth shading, a few saturated shapes, a dark corner and sensor-like noise: the mix a photo has.
CImage PhotoLike(int w, int h)
{
    CImage picture;
    picture.Create(w, h, 24);
    std::uint32_t state = 99;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            state = state * 1664525u + 1013904223u;
            const int noise = int(state >> 29) - 4;
            const double u = double(x) / w, v = double(y) / h;
            double r = 40 + 180 * u * v, g = 30 + 120 * std::sin(3 * u) * v, b = 20 + 60 * (1 - u);
            if ((u - 0.7) * (u - 0.7) + (v - 0.3) * (v - 0.3) < 0.02) r = 230, g = 40, b = 50;
            if (u < 0.25 && v > 0.6) r *= 0.15, g *= 0.15, b *= 0.15;
            std::uint8_t* p = Pixel(picture, x, y);
            p[0] = std::uint8_t(std::clamp(int(b) + noise, 0, 255));
            p[1] = std::uint8_t(std::clamp(int(g) + noise, 0, 255));
            p[2] = std::uint8_t(std::clamp(int(r) + noise, 0, 255));
        }
    return picture;
}

} // namespace

TEST(GifPalette, ErrorStaysWithinAFifthOfMedianCut)
{
    std::vector<CImage> pictures;
    pictures.push_back(PhotoLike(320, 240));
    pictures.push_back(Noise(97, 61, 5)); // no structure at all: the hardest case for any palette
    for (const char* name : {"/jpeg/libjpeg-turbo/testorig.jpg", "/jpeg/go-image/video-001.jpeg"}) {
        CImage photo;
        ASSERT_TRUE(LoadPicture(QString::fromStdString(TestDataDir() + name), photo)) << name;
        pictures.push_back(std::move(photo));
    }
    for (std::size_t i = 0; i < pictures.size(); ++i) {
        const CImage& source = pictures[i];
        SCOPED_TRACE(source.width());
        const double reference = MedianCutError(Colours(source));
        const Written gif = WriteAndRead(source);
        ASSERT_EQ(gif.picture.width(), source.width());
        const double error = MeanError(source, gif.picture);
        EXPECT_LE(error, 1.2 * reference) << "median cut " << reference;
        RecordProperty("error_per_mille_of_median_cut_" + std::to_string(i), int(1000 * error / reference));
    }
}

TEST(GifPalette, EveryPixelTakesItsNearestEntry)
{
    // The candidate lists only prune: the chosen entry must be as near as any in the palette, and
    // among equally near entries the first.
    for (const CImage& source : {PhotoLike(131, 77), Noise(64, 33, 11), Noise(1, 300, 2)}) {
        const Written gif = WriteAndRead(source);
        for (int y = 0; y < source.height(); ++y)
            for (int x = 0; x < source.width(); ++x) {
                const std::uint8_t* p = Pixel(source, x, y);
                const std::uint8_t* q = Pixel(gif.picture, x, y);
                const auto distance = [&](const Colour& c) {
                    return (c[0] - p[2]) * (c[0] - p[2]) + (c[1] - p[1]) * (c[1] - p[1]) + (c[2] - p[0]) * (c[2] - p[0]);
                };
                int best = 1 << 30;
                for (const Colour& c : gif.palette) best = std::min(best, distance(c));
                ASSERT_EQ(distance({q[2], q[1], q[0]}), best) << x << "," << y;
            }
    }
}
