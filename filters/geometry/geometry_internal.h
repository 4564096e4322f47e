#pragma once

#include "core/image.h"

#include <cstddef>
#include <cstdint>

// Helpers shared by the geometry operations. Pictures are 24-bit, rows addressed through bits and
// the (negative) pitch.
namespace orvex_geometry {

inline std::uint8_t* Row(CImage& image, int y)
{
    return image.bits() + static_cast<std::ptrdiff_t>(y) * image.pitch();
}

inline const std::uint8_t* Row(const CImage& image, int y)
{
    return image.bits() + static_cast<std::ptrdiff_t>(y) * image.pitch();
}

inline bool HasPixels(const CImage& image)
{
    return !image.IsNull() && image.width() > 0 && image.height() > 0 && image.bitsPerPixel() == 24;
}

// Fills `count` pixels from `out` with the background colour (stored blue, green, red).
void FillBackground(std::uint8_t* out, int count);

// The arbitrary rotation of a w x h picture: its cosine and sine, and the canvas that holds the
// whole turned picture (w x h itself for an angle that turns nothing). One function for the
// rotation and for the size it is predicted to give.
struct CTurnedCanvas
{
    float c = 1, s = 0;
    int width = 0, height = 0;
};
CTurnedCanvas TurnedCanvas(int w, int h, float angle);

} // namespace orvex_geometry
