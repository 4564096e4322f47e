#pragma once

#include "core/image.h"

#include <cstdint>

class CImageProcessor;

// Variations: every channel byte v becomes clamp(v + offset + lightness, 0, 255), the offset being
// `red`, `green` or `blue` for the channel (each -255..255; values outside are held to that range).
// More cyan is less red, more magenta less green, more yellow less blue. Writes the work image
// while the engine's preview flag is set, the picture otherwise.
void Variations(CImageProcessor& engine, int red, int green, int blue, int lightness);

namespace orvex_colour {

// The three channel tables of a variation, indexed by the input byte.
struct CVariationTables
{
    std::uint8_t blue[256];
    std::uint8_t green[256];
    std::uint8_t red[256];
};
CVariationTables MakeVariationTables(int red, int green, int blue, int lightness);

// A copy of `source` whose longer side is `longSide` pixels (the shorter in proportion, at least
// 1; a picture no larger is copied as it is), each pixel the rounded mean of the block of source
// pixels it covers. False when the copy cannot be made.
bool ReducePicture(const CImage& source, int longSide, CImage& out);

} // namespace orvex_colour
