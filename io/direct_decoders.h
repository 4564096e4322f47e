#pragma once

#include "core/image.h"

#include <cstddef>
#include <cstdint>
#include <string>

// Decoders that write straight into the picture's bottom-up blue-green-red rows, for the files that
// make up nearly everything users open: every JPEG libjpeg reads (CMYK converted) and 8-bit opaque
// PNG. They give the same pixels as the general reader while skipping its intermediate 32-bit
// picture and the conversion pass after it. Pixels come out as stored: the EXIF orientation is
// applied afterwards from the metadata, whatever the decoder. A JPEG is never handed on: a file
// this decoder refuses (truncated, 12-bit, lossless...) is refused with libjpeg's reason.
enum class DirectResult {
    Decoded,     // the picture holds the file's pixels
    NotHandled,  // the file needs the general reader (alpha, CMYK, 16-bit, rotated, corrupt...)
    Refused,     // the file is unacceptable as it stands (`reason` says why); do not try further
};

DirectResult DecodeJpegDirect(const std::uint8_t* data, std::size_t size, CImage& picture, std::string* reason);
DirectResult DecodePngDirect(const std::uint8_t* data, std::size_t size, CImage& picture, std::string* reason);
