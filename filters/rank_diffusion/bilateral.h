#pragma once

class CImageProcessor;

// Edge-preserving smoothing. Every pixel becomes the weighted mean of the pixels (x + dx, y + dy)
// with dx^2 + dy^2 <= radius^2, each weighted by
//     exp(-(dx^2 + dy^2) / (2 s^2)) * exp(-d^2 / (2 sigma^2)),   s = radius / 2,
// where d = |dB| + |dG| + |dR| is its colour distance from the centre pixel (the sum of the three
// channels' absolute differences); each channel is rounded to the nearest level. The picture is
// extended beyond its edges by repeating its edge pixels. Radius 0..20 (0 gives the picture as it
// is) and sigma 1..150 (others are held to the nearest). Writes the work image while the engine's preview flag is set,
// the picture otherwise; a stale preview rendering stops early.
void Bilateral(CImageProcessor& engine, int radius, float sigma);
