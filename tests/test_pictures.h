#pragma once

#include "core/image.h"
#include "core/image_processor.h"

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <string>
#include <string_view>

// Small helpers shared by the tests: deterministic pictures and pixel access.
namespace test_pictures {

inline std::uint8_t* Pixel(CImage& image, int x, int y)
{
    return image.bits() + static_cast<std::ptrdiff_t>(y) * image.pitch() + 3 * x;
}

inline const std::uint8_t* Pixel(const CImage& image, int x, int y)
{
    return image.bits() + static_cast<std::ptrdiff_t>(y) * image.pitch() + 3 * x;
}

// A picture whose every byte differs from its neighbours', so swaps and shifts show.
inline CImage Pattern(int width, int height, int seed = 0)
{
    CImage image;
    image.Create(width, height, 24);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < 3; ++c)
                Pixel(image, x, y)[c] = static_cast<std::uint8_t>((x * 7 + y * 13 + c * 101 + seed * 31) & 0xFF);
    return image;
}

// Every byte drawn from a small generator, so all 256 levels and mixed colours occur.
inline CImage Noise(int width, int height, std::uint32_t seed)
{
    CImage image;
    image.Create(width, height, 24);
    for (int y = 0; y < height; ++y)
        for (int i = 0; i < 3 * width; ++i) {
            seed = seed * 1664525u + 1013904223u;
            Pixel(image, 0, y)[i] = static_cast<std::uint8_t>(seed >> 24);
        }
    return image;
}

inline CImage Copy(const CImage& image)
{
    CImage copy;
    copy.CopyFrom(image);
    return copy;
}

// Runs `op` in place on a copy of `picture` and returns the result.
inline CImage Applied(const CImage& picture, const std::function<void(CImageProcessor&)>& op)
{
    CImage copy = Copy(picture);
    CImageProcessor engine(&copy);
    op(engine);
    return copy;
}

inline CImage Filled(int width, int height, std::uint8_t b, std::uint8_t g, std::uint8_t r)
{
    CImage image;
    image.Create(width, height, 24);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            Pixel(image, x, y)[0] = b;
            Pixel(image, x, y)[1] = g;
            Pixel(image, x, y)[2] = r;
        }
    return image;
}

// True when both pictures have the same size and the same picture bytes (padding ignored).
inline bool SamePixels(const CImage& a, const CImage& b)
{
    if (a.width() != b.width() || a.height() != b.height()) return false;
    for (int y = 0; y < a.height(); ++y)
        for (int i = 0; i < a.width() * 3; ++i)
            if (Pixel(a, 0, y)[i] != Pixel(b, 0, y)[i]) return false;
    return true;
}

// A watcher that asks every operation it watches to stop at once.
class CStopAtOnce : public IProgress
{
public:
    void Begin(std::string_view, int) override {}
    void SetPosition(int) override {}
    void End() override {}
    bool StopRequested() override { return true; }
};

inline std::string TestDataDir()
{
    const char* dir = std::getenv("ORVEX_TESTDATA_DIR");
    return dir ? dir : "";
}

} // namespace test_pictures
