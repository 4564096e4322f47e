#pragma once

#include "core/image.h"
#include "io/picture_metadata.h"

#include <QIODevice>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

enum class TiffCompression
{
    None,
    Lzw,
    Deflate,
};

struct CTiffOptions
{
    TiffCompression compression = TiffCompression::Deflate;
};

// Writes `picture` to `device` as an 8-bit RGB TIFF, one strip at a time, so that no second copy
// of the picture is ever held in memory. `device` must be open for writing, empty and seekable.
// The colour profile, XMP and IPTC go into the picture's directory as their own tags; EXIF goes
// into its own sub-directories (the `blocks.exif` structure is placed in the file as it stands,
// its directories pointed at from the picture's), and the few tags EXIF keeps in the first
// directory (camera, artist, copyright, resolution...) are written there. Errors of the library
// and of the device come back in `reason`; nothing is printed and the process never ends. A
// warning of the library goes to qWarning(). `progress` is told the share of rows written.
bool WriteTiff(const CImage& picture, const CTiffOptions& options, const std::vector<std::uint8_t>& icc,
               const CPictureMetadata::Blocks& blocks, QIODevice& device, std::string* reason,
               const std::function<void(double)>& progress = nullptr);

// True when the first directory of an EXIF block points at an EXIF sub-directory: only then does a
// TIFF written from it have an EXIF directory of its own (first-directory tags such as the camera
// join the picture's directory).
bool ExifHasSubDirectory(const std::vector<std::uint8_t>& exif);

// What a TIFF file's first directory says, read through the same library without decoding a strip.
struct CTiffSummary
{
    int width = 0;
    int height = 0;
    bool icc = false;
    bool xmp = false;
    bool iptc = false;
    bool exif = false;
};

// Reads the first directory of the TIFF at `data` (and its EXIF directory when it has one) and
// checks that every strip or tile lies inside the file. False with `reason` when the library
// cannot read it or a piece lies outside.
bool ReadTiffSummary(const std::uint8_t* data, std::size_t size, CTiffSummary& summary, std::string* reason);
