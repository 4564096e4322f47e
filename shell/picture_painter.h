#pragma once

#include "core/image.h"

#include <QImage>
#include <QRect>

class QPainter;

// Where a picture of width x height lands at `zoom` in an area of areaWidth x areaHeight: scaled
// size dw x dh (truncated products in double precision) and the top-left corner, centred, or 0 on
// an axis where the picture does not fit.
struct CPictureLayout
{
    int dw = 0;
    int dh = 0;
    int x0 = 0;
    int y0 = 0;
};

int ScaledSize(int size, float zoom);
CPictureLayout LayoutPicture(int width, int height, float zoom, int areaWidth, int areaHeight);

// Area-averaging reduction of the whole picture to dw x dh (each no larger than the picture),
// top row first. The smooth path for zooms below 100 %.
QImage ScalePictureDown(const CImage& picture, int dw, int dh);
// The cells of `part` of that reduction, written into `out` (RGB32, the reduction's full size, no
// larger than the picture); every cell comes out exactly as the whole reduction makes it, so a
// reduction made part by part is the same image.
void ScalePictureDownPart(const CImage& picture, QImage& out, const QRect& part);

// The pixels of `region` (picture coordinates, top row first) as an RGB32 image: the crisp path for
// zooms of 100 % and more, which converts only what is exposed.
QImage ExtractPictureRegion(const CImage& picture, const QRect& region);

// Fills the surround of the picture rectangle `pictureRect` inside `area` with the background colour.
void FillSurround(QPainter& painter, const QRect& area, const QRect& pictureRect);

// A one-pixel line in the surround just outside `pictureRect`, clipped to `area`; the picture's own
// pixels are left alone. Canvas Size and rotation fill new areas with the background colour, which
// would otherwise run into the surround without a visible edge.
void DrawPictureEdge(QPainter& painter, const QRect& area, const QRect& pictureRect);
