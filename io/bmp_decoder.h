#pragma once

#include "io/direct_decoders.h"

#include <QIODevice>

// The BMP layouts read here rather than by the general reader: uncompressed bottom-up 24-bit rows
// (copied as they stand, being stored exactly as the picture keeps its pixels) and 1, 4 and 8-bit
// paletted pictures, uncompressed (either row order) or run-length coded, with a Windows header or
// the OS/2 core header. The picture starts black and only pixels the file describes are painted:
// a short file, a delta skip or a palette index with no entry leaves black, never whatever the
// memory held. Bit fields, 16/32-bit, top-down 24-bit and embedded JPEG/PNG go the general way.
DirectResult DecodeBmpDirect(const std::uint8_t* data, std::size_t size, CImage& picture, std::string* reason);
