#pragma once

#include "core/image.h"
#include "core/progress.h"
#include "io/jpeg_encoder.h"
#include "io/picture_metadata.h"
#include "io/tiff_writer.h"

#include <QString>
#include <QStringList>

// How a picture is to be written, beyond the format its file name selects.
struct CSaveOptions
{
    CJpegOptions jpeg;            // JPEG, and the quality of lossy WebP
    CTiffOptions tiff;
    bool removeMetadata = false;  // write no EXIF, XMP or IPTC (the colour profile stays)
    bool chosen = false;          // picked by the user in Save As (not the defaults)
};

// Encodes `picture` at `path` with the encoder the extension selects. JPEG, PNG, TIFF and WebP
// carry `metadata` (when given and not removed) describing the upright picture as saved; BMP and GIF
// carry none. The file is written under a temporary name in the same folder and renamed over
// `path` only once complete and read back: its structure must parse again as the format it claims,
// holding the metadata written, or the save fails with the reason. A failed save leaves an existing
// file as it was. Saves that take a while (large pictures in the slower formats) show how far they
// are on `progress`. Metadata the file could not keep (a block too large for the format, a damaged
// one from the opened file) does not fail the save: each block left out is named in `leftOut`,
// which is empty when nothing was.
bool SavePictureWith(const CImage& picture, const QString& path, const CSaveOptions& options,
                     const CPictureMetadata* metadata, QString* reason = nullptr, IProgress* progress = nullptr,
                     QStringList* leftOut = nullptr);

// The bytes `SavePictureWith` would write for a JPEG, without touching the disk: the options step of
// Save As uses it to tell the file size a quality gives.
bool EncodeJpegFile(const CImage& picture, const CSaveOptions& options, const CPictureMetadata* metadata,
                    std::vector<std::uint8_t>& file, QString* reason = nullptr);

// How the colour of the JPEG file at `path` is sampled (see JpegFrameSubsampling); Automatic for
// any other file. Reads only the marker headers up to the frame, seeking over the rest.
ChromaSubsampling JpegFileSubsampling(const QString& path);
