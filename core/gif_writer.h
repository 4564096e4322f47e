#pragma once

#include "core/image.h"

#include <QIODevice>
#include <QString>

// Writes the picture as a single-frame GIF. A picture of at most 256 distinct colours is written
// with exactly those colours, so it reads back unchanged; a richer one is reduced to 256 colours by
// median cut.
bool WriteGif(const CImage& picture, QIODevice& device, QString* reason);
