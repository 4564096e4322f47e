#pragma once

#include "core/image.h"
#include "io/picture_metadata.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// The largest width and height a WebP picture can have.
constexpr int kWebpMaxSide = 16383;

struct CWebpOptions
{
    static constexpr int kDefaultQuality = 92;
    // Lossless keeps every pixel; it is the choice for pictures that came from lossless files and
    // for new ones, which have lost nothing yet.
    bool lossless = true;
    int quality = kDefaultQuality; // 1..100, for lossy files
};

// Encodes `picture` as a WebP file in `file`, lossless or lossy at the options' quality. The
// colour profile and the EXIF and XMP blocks go into their own ICCP, EXIF and "XMP " chunks of an
// extended container, announced in its VP8X header; without any, the simple container is written.
// IPTC has no place in WebP and is not written. False with `reason` on failure (too large, out of
// memory); `progress` is told the share done.
bool EncodeWebp(const CImage& picture, const CWebpOptions& options, const std::vector<std::uint8_t>& icc,
                const CPictureMetadata::Blocks& blocks, std::vector<std::uint8_t>& file, std::string* reason,
                const std::function<void(double)>& progress = nullptr);

// What a WebP file's container says: the picture size of its bitstream and which metadata chunks
// it holds.
struct CWebpSummary
{
    int width = 0;
    int height = 0;
    bool icc = false;
    bool exif = false;
    bool xmp = false;
};

// Walks the RIFF chunks of a WebP file without decoding the picture: the RIFF size must match the
// file, every chunk must lie inside it, an extended container must start with VP8X, announce
// exactly the ICCP, EXIF and XMP chunks it holds, keep ICCP before the picture, and hold one
// picture whose bitstream header agrees with the canvas size. False with `reason` otherwise.
bool ReadWebpSummary(const std::uint8_t* data, std::size_t size, CWebpSummary& summary, std::string* reason);
