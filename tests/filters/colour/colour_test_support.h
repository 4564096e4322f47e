#pragma once

// Helpers of the colour tests: noisy pictures and running an operation in place or as a preview.
#include "core/image_processor.h"
#include "tests/test_pictures.h"

#include <cstdint>
#include <functional>

namespace colour_test {

// Every byte drawn from a small generator, so all 256 levels and mixed colours occur.
inline CImage Noise(int width, int height, std::uint32_t seed)
{
    CImage image;
    image.Create(width, height, 24);
    for (int y = 0; y < height; ++y)
        for (int i = 0; i < 3 * width; ++i) {
            seed = seed * 1664525u + 1013904223u;
            test_pictures::Pixel(image, 0, y)[i] = static_cast<std::uint8_t>(seed >> 24);
        }
    return image;
}

inline CImage Copy(const CImage& image)
{
    CImage copy;
    copy.CopyFrom(image);
    return copy;
}

// Runs `op` on a copy of `picture` in place.
inline CImage InPlace(const CImage& picture, const std::function<void(CImageProcessor&)>& op)
{
    CImage copy = Copy(picture);
    CImageProcessor engine(&copy);
    op(engine);
    return copy;
}

// Runs `op` as a preview rendering of a copy of `picture`; the copy must come out untouched.
inline CImage Preview(const CImage& picture, const std::function<void(CImageProcessor&)>& op, bool* pictureKept)
{
    CImage copy = Copy(picture);
    CImageProcessor engine(&copy);
    engine.workImage().Create(picture.width(), picture.height(), 24);
    engine.preview = 1;
    op(engine);
    *pictureKept = test_pictures::SamePixels(copy, picture);
    return Copy(engine.workImage());
}

} // namespace colour_test
