#pragma once

#include <QString>

#include <cstddef>
#include <cstdint>

// Structural checks made on a picture file's bytes before any decoder sees them, and the few
// layouts the decoders refuse that still describe a picture.

// Walks the chunks of a PNG file: every chunk must lie inside the file, critical chunks must carry
// a correct checksum, IHDR must come first and IEND must be reached. Reports the declared size.
// A decoder fed only files that pass cannot be led into reading a declared multi-gigabyte chunk or
// showing a truncated file as if it were whole.
bool CheckPngStructure(const std::uint8_t* data, std::size_t size, int* width, int* height, QString* reason);

// A GIF whose stream holds no image with pixels (only the logical screen, or frames of zero width or
// height) shows just its background: reports the screen size so that the loader can make a blank
// picture of it. False when the stream has a real frame or no usable screen size.
bool GifBackgroundOnly(const std::uint8_t* data, std::size_t size, int* width, int* height);

// True when a file of `fileBytes` bytes cannot plausibly hold `pixels` pixels: no real encoding
// packs more than a few thousand pixels into one byte, while corrupt headers often claim billions.
bool ImplausiblyDense(std::int64_t pixels, std::int64_t fileBytes);
