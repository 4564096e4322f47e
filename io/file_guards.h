#pragma once

#include <QString>

#include <cstddef>
#include <cstdint>
#include <string>

// Structural checks made on a picture file's bytes before any decoder sees them, and the few
// layouts the decoders refuse that still describe a picture. Every check that learns a declared
// size applies CheckDeclaredSize before anything picture-sized is allocated.

// The decoders we run, picked by the file's first bytes (never by its name). Files of any other
// kind are refused: every extra decoder is attack surface nobody tests. To offer a format, add a
// row to the table in file_guards.cpp and give it a structure check here if its decoder needs one.
// Returns the reader's format name ("jpeg", "png", "bmp", "gif", "tiff", "webp") or null.
const char* DetectPictureFormat(const std::uint8_t* data, std::size_t size);

// The reason a declared size is refused: more pixels than a picture may have, or more than a file
// of `fileBytes` bytes can plausibly hold. Empty when the size is acceptable.
std::string DeclaredSizeProblem(std::int64_t width, std::int64_t height, std::int64_t fileBytes);
bool CheckDeclaredSize(std::int64_t width, std::int64_t height, std::int64_t fileBytes, QString* reason);

// Walks the chunks of a PNG file: every chunk must lie inside the file, critical chunks must carry
// a correct checksum, IHDR must come first and IEND must be reached. Reports the declared size.
// A decoder fed only files that pass cannot be led into reading a declared multi-gigabyte chunk or
// showing a truncated file as if it were whole. With `imageDataChecksums` false the IDAT chunks'
// checksums are left to PngImageDataChecksumsMatch, which opening runs beside the decoder.
bool CheckPngStructure(const std::uint8_t* data, std::size_t size, int* width, int* height, QString* reason,
                       bool imageDataChecksums = true);
// The checksums of the IDAT chunks of a file that passed CheckPngStructure; the reason is the
// structure check's own.
bool PngImageDataChecksumsMatch(const std::uint8_t* data, std::size_t size, QString* reason);

// Reads a BMP's headers in all their forms (OS/2 and Windows, bottom-up and top-down), applies the
// declared-size check to the absolute height, and refuses a file whose pixel data ends early:
// uncompressed rows must all be present, an RLE stream must reach its end-of-picture code.
bool CheckBmpStructure(const std::uint8_t* data, std::size_t size, QString* reason);

// Walks a GIF's blocks: the logical screen and every frame pass the declared-size check, and each
// block and data sub-block must lie inside the file (a file cut short inside its picture data is
// refused). A clean end without the trailer, or an unknown block, ends the walk without complaint.
bool CheckGifStructure(const std::uint8_t* data, std::size_t size, QString* reason);

// Walks a WebP file's RIFF chunks: the RIFF size and every chunk must lie inside the file, the
// VP8X canvas and every animation frame pass the declared-size check. An animation's canvas is
// allocated whole before its first frame is decoded, so it must be judged from these fields alone.
bool CheckWebpStructure(const std::uint8_t* data, std::size_t size, QString* reason);

// A GIF whose stream holds no image with pixels (only the logical screen, or frames of zero width or
// height) shows just its background: reports the screen size so that the loader can make a blank
// picture of it. False when the stream has a real frame or no usable screen size.
bool GifBackgroundOnly(const std::uint8_t* data, std::size_t size, int* width, int* height);

// True when a file of `fileBytes` bytes cannot plausibly hold `pixels` pixels: no real encoding
// packs more than a few thousand pixels into one byte, while corrupt headers often claim billions.
bool ImplausiblyDense(std::int64_t pixels, std::int64_t fileBytes);
