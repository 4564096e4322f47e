#pragma once

#include "io/direct_decoders.h"

#include <QIODevice>

// Uncompressed 24-bit BMP is stored exactly as the picture keeps its pixels (bottom-up blue-green-
// red rows padded to 4 bytes), so the pixel array is copied as it stands. Every other BMP (palettes,
// bit fields, RLE, 32-bit, top-down...) is left to the general reader.
DirectResult DecodeBmpDirect(const std::uint8_t* data, std::size_t size, CImage& picture, std::string* reason);
