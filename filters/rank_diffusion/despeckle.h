#pragma once

class CImageProcessor;

// Removes isolated specks and keeps edges: in each channel, a value that differs from the median of
// the (2 radius + 1)-square around it by more than `threshold` becomes that median; every other
// value stays. The picture is extended beyond its edges by repeating its edge pixels. Radius 1 or
// 2 (others are held to the nearest), threshold 0..255. Writes the work image while the engine's
// preview flag is set, the picture otherwise.
void Despeckle(CImageProcessor& engine, int radius, int threshold);
