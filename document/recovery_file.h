#pragma once

#include "core/image.h"

#include <QDateTime>
#include <QString>

#include <cstdint>
#include <vector>

// A recovery file keeps one modified document's picture so that a crash, a kill or a power cut
// loses nothing: the picture losslessly compressed (zstd, a frame per band of rows, each frame with
// its content checksum) behind a header naming the document, itself guarded by a CRC-32. Any
// truncation or damaged byte makes reading fail; a half-read picture is never handed out.

// What a recovery file says about the document it keeps.
struct CRecoveryInfo
{
    QString path;   // the document's file (absolute), empty for a document without one
    QString name;   // the name its captions show ("photo.jpg", "Untitled-2")
    QString format; // the format it saves in ("jpeg", "png", ...), empty when its name selects none
    QDateTime time; // when its picture was taken for the file
    int width = 0;
    int height = 0;
};

// The file name every recovery file ends in; anything else in a recovery folder is not one.
inline const QString kRecoverySuffix = QStringLiteral(".orvexrecovery");

// The container's bytes for `picture`, `info.width`/`height` taken from the picture. `rowsPerFrame`
// 0 picks bands of about 4 MB. False (with the reason) when memory or the compressor fails.
bool EncodeRecovery(const CRecoveryInfo& info, const CImage& picture, std::vector<std::uint8_t>& bytes,
                    QString* reason = nullptr, int rowsPerFrame = 0);

// Writes the container to `file` atomically: a temporary file beside it, written, flushed to the
// disk, then renamed over `file`, so that a crash at any moment leaves the old file or the new one,
// whole. False with the reason otherwise, the temporary file removed. Throws nothing.
bool WriteRecoveryFile(const QString& file, const CRecoveryInfo& info, const CImage& picture,
                       QString* reason = nullptr);

// Reads a container from memory or a file, checking everything: magic, version, header checksum,
// the exact length, every frame's size and checksum. False with the reason on any fault, leaving
// `info` and `picture` untouched. Throws nothing.
bool DecodeRecovery(const std::uint8_t* data, std::size_t size, CRecoveryInfo& info, CImage& picture,
                    QString* reason = nullptr);
bool ReadRecoveryFile(const QString& file, CRecoveryInfo& info, CImage& picture, QString* reason = nullptr);
