#pragma once

#include <QIODevice>
#include <QString>

// Writes all `size` bytes at `data` to `device`. A filling disk takes part of a write and names the
// cause ("No space left on device") only when the rest is written, so the rest is always tried
// rather than reporting the short count with no reason. False with the device's reason otherwise.
bool WriteFully(QIODevice& device, const char* data, qint64 size, QString* reason = nullptr);

// Why a write to `device` failed, in the system's words where it gave any.
QString WriteFailure(QIODevice& device);
