#pragma once

#include "core/image.h"
#include "core/region.h"

#include <QImage>
#include <QString>
#include <QStringList>

#include <vector>

// Picture files: decoding any supported file into the engine's 24-bit blue-green-red picture, and
// encoding it back in the format the file name's extension selects.

struct CEncoder
{
    QByteArray format;   // writer's format name ("jpeg", "png", ...; "gif" is written with giflib)
    QString description; // "JPEG", "PNG", ...
    QString patterns;    // file-name patterns separated by ';' ("*.jpg;*.jpeg;*.jpe;*.jfif")
};

// Every encoder, in the order they are tried. JPEG, BMP, GIF and PNG come first.
const std::vector<CEncoder>& Encoders();

// The first encoder one of whose patterns has the path's extension (from the file name's last dot),
// compared ignoring case; null when none claims it.
const CEncoder* EncoderForPath(const QString& path);

// Decodes a file's `size` bytes at `data` into `picture` as 24-bit blue-green-red:
// palettes expanded, alpha composited over white. On failure `picture` is untouched, `reason` says
// why, and the result is false. Only JPEG, PNG, BMP, GIF, TIFF and WebP content is decoded, whatever
// the file's name. Files that claim more than CImage::kMaxPixels pixels, more than their size can
// hold, or whose structure is broken (bad chunk lengths or checksums, truncation), are refused
// before large allocations. The pixels come out as the file stores them, before the EXIF
// orientation (CPictureMetadata::orientation) turns them upright: opening (io/picture_file.h)
// takes that step. Decoders never apply an orientation themselves; that one step does, from the
// same reading the save writes back.
bool DecodeStoredPicture(const std::uint8_t* data, std::size_t size, CImage& picture, QString* reason = nullptr);

// False, with the reason, when `format`'s library cannot hold a picture of this size.
bool CheckEncodableSize(const CImage& picture, const QByteArray& format, QString* reason = nullptr);
// The same for a size alone, so that work whose result could not be written is refused before it
// is done.
bool CheckEncodableSize(int width, int height, const QByteArray& format, QString* reason = nullptr);

// The encoding step of SavePicture for formats without options or tags: writes `picture` to
// `device` in `format` (an encoder's format name). A failure of the device itself (a full disk) is
// reported with the device's own reason.
bool EncodePicture(const CImage& picture, const QByteArray& format, QIODevice& device, QString* reason = nullptr);

// The picture's pixel memory seen as a QImage without copying. Rows are in memory order, which is
// bottom-up: the QImage shows the picture upside down, and painters flip it while drawing. Valid
// while the picture keeps its buffer.
QImage BufferAsQImage(const CImage& picture);

// Copies a QImage of any format into `picture` as 24-bit blue-green-red, compositing alpha over
// white. False when the picture cannot be allocated; `picture` is untouched then.
bool PictureFromQImage(const QImage& source, CImage& picture);

// A top-down copy of the picture in blue-green-red byte order (QImage::Format_BGR888, the picture's
// own), for encoders, printing and the clipboard: one allocation, then each row copied as it is.
// Null when the picture is empty or the copy cannot be allocated.
QImage PictureToQImage(const CImage& picture);
// The same for the part of the picture inside `region`, clamped to the picture; null when the
// region misses it.
QImage PictureToQImage(const CImage& picture, CRegion region);
