#pragma once

class CImageProcessor;

// Every pixel becomes white (255, 255, 255) where its Luminance is at least `level` and black
// (0, 0, 0) elsewhere; level 0 makes everything white (levels outside 0..256 are held to it).
// Writes the work image while the engine's preview flag is set, the picture otherwise.
void Threshold(CImageProcessor& engine, int level);
