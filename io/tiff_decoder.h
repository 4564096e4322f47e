#pragma once

#include "io/direct_decoders.h"

// TIFF decoded with libtiff from the file's bytes in memory: the first page, in every layout
// libtiff's RGBA interface reads (strips or tiles of any size, 1 to 16 bits a sample, grey, palette,
// RGB, CMYK, YCbCr, associated or unassociated alpha composited over white), with the file's
// orientation tag applied so that the picture comes out upright as the general reader gave it.
//
// The declared picture and tile sizes pass the declared-size check, and every strip or tile must
// lie inside the file, before anything picture-sized is allocated. Rows are converted one strip or
// row of tiles at a time, so the memory needed beyond the picture itself is one strip's or tile
// row's worth. libtiff's errors become `reason`, its warnings go to qWarning(); it never writes to
// the terminal itself. Never NotHandled.
DirectResult DecodeTiff(const std::uint8_t* data, std::size_t size, CImage& picture, std::string* reason);
