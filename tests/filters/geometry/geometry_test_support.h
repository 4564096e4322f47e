#pragma once

#include "tests/test_pictures.h"

#include <gtest/gtest.h>

#include <array>
#include <string>

namespace geometry_test {

using Bgr = std::array<int, 3>;

inline Bgr At(const CImage& image, int x, int y)
{
    const std::uint8_t* p = test_pictures::Pixel(image, x, y);
    return {p[0], p[1], p[2]};
}

inline constexpr Bgr kGrey = {100, 100, 100};

// The first differing pixel, for a readable failure.
inline ::testing::AssertionResult SamePicture(const CImage& actual, const CImage& expected)
{
    if (actual.width() != expected.width() || actual.height() != expected.height())
        return ::testing::AssertionFailure() << "size " << actual.width() << "x" << actual.height() << ", expected "
                                             << expected.width() << "x" << expected.height();
    for (int y = 0; y < actual.height(); ++y)
        for (int x = 0; x < actual.width(); ++x)
            if (At(actual, x, y) != At(expected, x, y)) {
                const Bgr a = At(actual, x, y), e = At(expected, x, y);
                return ::testing::AssertionFailure() << "pixel (" << x << ", " << y << ") is " << a[0] << "," << a[1] << ","
                                                     << a[2] << ", expected " << e[0] << "," << e[1] << "," << e[2];
            }
    return ::testing::AssertionSuccess();
}

} // namespace geometry_test
