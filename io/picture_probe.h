#pragma once

#include "core/image.h"

#include <QString>

#include <cstddef>
#include <cstdint>

// A look at a picture file without opening it: its kind and size from the headers alone, and a
// small decoding for a preview. Both take the file's bytes as opening does (one mapping) and apply
// the same size checks before anything picture-sized is allocated.

struct CPictureProbe
{
    QString format; // "JPEG", "PNG", "BMP", "GIF", "TIFF", "WebP"
    // As the picture opens: upright, the EXIF orientation applied. 0 when the headers do not say
    // (a TIFF whose first directory is out of reach, a GIF with an empty logical screen).
    int width = 0;
    int height = 0;
};

// The kind by the first bytes (never by the name) and the size the headers declare. False with the
// reason the loader would give when the file is not a picture it opens or declares a size it would
// refuse; a file that passes may still fail to decode further in.
bool ProbePicture(const std::uint8_t* data, std::size_t size, CPictureProbe& probe, QString* reason = nullptr);

// The picture for a preview, upright, with the loader's checks and reasons. A JPEG is decoded at the
// smallest of libjpeg's reductions (1/8, 1/4, 1/2) that keeps its longer side at least `minSide`
// pixels; any other file is decoded whole. Files declaring more than `pixelCap` pixels are refused
// before decoding ("too large to preview"), which bounds time and memory on any input.
bool DecodePreviewPicture(const std::uint8_t* data, std::size_t size, int minSide, std::int64_t pixelCap,
                          CImage& picture, QString* reason = nullptr);
