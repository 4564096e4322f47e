#pragma once

#include "core/region.h"

class CImageProcessor;

// The part of a picture a crop keeps: the asked-for rectangle clamped to the picture. Empty (width
// and height 0) when the rectangle does not overlap the picture or asks for no pixels.
CRegion CropRectangle(int pictureWidth, int pictureHeight, long long x, long long y, long long width, long long height);

// Makes the picture the rectangle (x, y, width, height) of itself, clamped to the picture. Returns
// false, with the picture unchanged, when that leaves nothing (no overlap, or an empty picture); a
// rectangle that holds the whole picture leaves it as it is. The new pixels are built beside the
// picture and swapped in at the end: when their memory cannot be had, the engine's failure flag is
// raised and the picture is unchanged. Always works on the picture itself, never on the work image.
bool Crop(CImageProcessor& engine, long long x, long long y, long long width, long long height);
