#pragma once

#include "core/image.h"
#include "io/jpeg_encoder.h"
#include "io/picture_metadata.h"

#include <QString>

#include <cstddef>
#include <cstdint>

// Picture files by name: the layer above the decoders and encoders (io/picture_codec.h) and the
// metadata reader (io/picture_metadata.h). Opening reads the file's bytes once; every reading of
// them (the structure guards, the decoder, the metadata, the orientation, the JPEG sampling) is
// served from that one mapping.

// What opening a picture file yields.
struct CPictureFile
{
    CImage picture;            // upright: the EXIF orientation already applied
    CPictureMetadata metadata; // empty when the file has none or the reader does not understand it
    // How a JPEG's colour was sampled (see JpegFrameSubsampling); Automatic for any other file.
    ChromaSubsampling subsampling = ChromaSubsampling::Automatic;
    // Whether the file kept every pixel exactly (see IsLosslessPictureFile): WebP is written
    // lossless by default only for such pictures.
    bool lossless = true;
};

// Opens the file at `path` from one mapping of it: decodes it (DecodeStoredPicture's rules), reads
// its metadata and turns the picture upright. On failure `opened` is untouched, `reason` says why,
// and the result is false; metadata never makes opening fail.
bool OpenPictureFile(const QString& path, CPictureFile& opened, QString* reason = nullptr);

// The same for a file's `size` bytes at `data`.
bool OpenPictureFromMemory(const std::uint8_t* data, std::size_t size, CPictureFile& opened, QString* reason = nullptr);

// OpenPictureFile for the callers that want only some of what it yields. On failure `picture` (and
// `metadata`) are untouched.
bool LoadPicture(const QString& path, CImage& picture, QString* reason = nullptr);
bool LoadPictureFromMemory(const std::uint8_t* data, std::size_t size, CImage& picture, QString* reason = nullptr);
bool LoadPictureAndMetadata(const QString& path, CImage& picture, CPictureMetadata& metadata,
                            QString* reason = nullptr);

// Encodes `picture` at `path` with the encoder the extension selects, default settings (JPEG at
// quality 92) and no metadata; `SavePictureWith` (io/picture_save.h) takes options and tags. The
// file is written under a temporary name in the same folder and renamed over `path` only once
// complete, so a failed save leaves an existing file as it was.
bool SavePicture(const CImage& picture, const QString& path, QString* reason = nullptr);
