#pragma once

#include "core/image.h"

#include <QIODevice>
#include <QString>

// Writes the picture as a single-frame GIF. A picture of at most 256 distinct colours is written
// with exactly those colours, so it reads back unchanged; a richer one is reduced to 256 colours
// (median cut by squared error, refined by k-means, each pixel to its nearest entry). A shortage of
// memory is reported as "not enough memory", never thrown.
bool WriteGif(const CImage& picture, QIODevice& device, QString* reason);
