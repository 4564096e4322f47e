#pragma once

// Helpers of the colour tests: noisy pictures and running an operation in place or as a preview.
#include "core/image_processor.h"
#include "tests/test_pictures.h"

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

} // namespace colour_test
