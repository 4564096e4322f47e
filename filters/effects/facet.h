#pragma once

class CImageProcessor;

// A painted look from the dominant colour around each pixel. The pixels of the (2 radius + 1)-square
// around a pixel (the picture extended by repeating its edge pixels) are sorted into eight
// brightness classes of 32 levels of luminance (77 R + 150 G + 29 B + 128) / 256 each. The class
// with the most of them wins; on a tie, the one nearest the centre pixel's class, then the darker.
// The pixel becomes the mean of the window's pixels in that class, each channel rounded. Radius
// 1..3 (others are held to the nearest). Writes the work image while the engine's preview flag is
// set, the picture otherwise.
void Facet(CImageProcessor& engine, int radius);
