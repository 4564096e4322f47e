#pragma once

#include "core/image.h"
#include "core/progress.h"
#include "io/jpeg_encoder.h"
#include "io/picture_metadata.h"
#include "io/png_encoder.h"
#include "io/tiff_writer.h"
#include "io/webp_writer.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// How a picture is to be written, beyond the format its file name selects.
struct CSaveOptions
{
    CJpegOptions jpeg;
    CPngOptions png; // its level and its pieces (0: one per core); the rest is the encoder's own choice
    CWebpOptions webp;
    CTiffOptions tiff;
    bool removeMetadata = false; // write no EXIF, XMP or IPTC (the colour profile stays)
    // False: a file already at the path (or one put there while this one was written) is left as
    // it is and the save fails with the reason "exists".
    bool replace = true;
    // The formats ("jpeg", "png"...) whose options the user picked in Save As (not the defaults).
    QList<QByteArray> chosen;
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

// The bytes `SavePictureWith` would write in `format` (an encoder's format name), without touching
// the disk. Empty with the reason on failure.
bool EncodePictureFile(const CImage& picture, const QByteArray& format, const CSaveOptions& options,
                       const CPictureMetadata* metadata, std::vector<std::uint8_t>& file, QString* reason = nullptr);

// How large the file of a save would be, for the options step of Save As.
struct CPredictedSize
{
    qint64 bytes = -1;  // -1 when it cannot be told (the picture cannot be encoded)
    bool exact = false; // the whole picture was encoded; otherwise scaled up from a sample
};

// Pictures up to `exactPixels` are encoded whole; -1 takes the size each format encodes whole in
// about a fifth of a second. Larger ones are told from a sample: full-width
// strips spread evenly over the picture (a sixteenth of it, less for the slow encoders), put
// together and encoded with the same options; the bytes their rows took are scaled by area and the
// fixed part of the file (headers, profile, metadata) added once.
CPredictedSize PredictFileSize(const CImage& picture, const QByteArray& format, const CSaveOptions& options,
                               const CPictureMetadata* metadata, std::int64_t exactPixels = -1);

// Whether the file at `data` keeps its picture exactly: PNG, BMP, GIF, TIFF and lossless WebP do;
// JPEG and lossy WebP do not. Anything not recognised counts as lossless.
bool IsLosslessPictureFile(const std::uint8_t* data, std::size_t size);

// How the colour of the JPEG file at `path` is sampled (see JpegFrameSubsampling); Automatic for
// any other file. Reads only the marker headers up to the frame, seeking over the rest.
ChromaSubsampling JpegFileSubsampling(const QString& path);
