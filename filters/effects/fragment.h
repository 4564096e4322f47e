#pragma once

class CImageProcessor;

// Four copies of the picture, shifted `offset` pixels up, down, left and right, averaged: each
// channel becomes (up + down + left + right + 2) / 4 of the pixels `offset` away along the axes,
// positions beyond the edges taking the nearest edge pixel. Offset 1..50 (others are held to the
// nearest). Writes the work image while the engine's preview flag is set, the picture otherwise.
void Fragment(CImageProcessor& engine, int offset);
