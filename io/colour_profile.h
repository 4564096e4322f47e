#pragma once

#include <QImage>

#include <cstdint>
#include <vector>

// Showing pixel values the way their file's colour profile means them. The picture keeps the file's
// values (every operation works on them); only what is painted on screen goes through the profile
// to sRGB. Untagged pictures are taken as sRGB and shown as they are.

// Converts `image` (RGB32 or ARGB32, alpha left alone) in place from the colour space described by
// the ICC profile `icc` to sRGB. Nothing happens for an empty profile, one that is not an RGB
// profile (a grey or CMYK profile carried over from the file) or one that cannot be parsed. The
// transform of a profile is built once and kept.
void ConvertToSrgb(QImage& image, const std::vector<std::uint8_t>& icc);
