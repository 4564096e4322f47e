#pragma once

// Helpers of the colour tests: noisy pictures and running an operation in place or as a preview.
#include "core/image_processor.h"
#include "tests/test_pictures.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>

namespace colour_test {

using test_pictures::Copy;
using test_pictures::Noise;

// Runs `op` on a copy of `picture` in place.
inline CImage InPlace(const CImage& picture, const std::function<void(CImageProcessor&)>& op)
{
    return test_pictures::Applied(picture, op);
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

// Checks every picture byte of `result` against `expected(source byte, channel)`.
template <class Expected>
void ExpectEveryByte(const CImage& source, const CImage& result, const Expected& expected)
{
    ASSERT_EQ(result.width(), source.width());
    ASSERT_EQ(result.height(), source.height());
    for (int x = 0; x < source.width(); ++x)
        for (int y = 0; y < source.height(); ++y)
            for (int c = 0; c < 3; ++c) {
                const int v = test_pictures::Pixel(source, x, y)[c];
                ASSERT_EQ(test_pictures::Pixel(result, x, y)[c], expected(v, c)) << "x " << x << " y " << y << " channel " << c;
            }
}

} // namespace colour_test
