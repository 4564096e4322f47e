#pragma once

#include <cstdint>

class CImageProcessor;

// Renders clouds over the whole picture: fractal gradient noise, grey from black to white (every
// pixel has equal blue, green and red). Each octave doubles the frequency of the one before and
// weighs `roughness` times as much (0..1; 0.5 halves). The first octave's cells are a quarter of
// the picture's longer side, the last ones between 1 and 2 pixels, so the look is the same at any
// size. Seeded like AddNoise (the engine's seed override, else the clock). Writes the work image
// while the engine's preview flag is set, the picture otherwise.
//
// The octaves are summed on a pyramid of grids, level L sampling every 2^L-th pixel: an octave is
// worked out only on the coarsest level that still has several samples per cell, and each level
// is the next coarser one enlarged twice (four-point cubic interpolation, exact at the coarser
// samples) plus its own octaves. Only the octaves with cells below 4 pixels are evaluated at
// every pixel.
void Clouds(CImageProcessor& engine, float roughness);
// Every channel becomes |value - cloud|, the cloud being the one Clouds makes for the same seed,
// size and roughness.
void DifferenceClouds(CImageProcessor& engine, float roughness);

namespace orvex_clouds {

constexpr int kMaxOctaves = 32;
// Grey levels per unit of the octaves' sum over their total amplitude.
constexpr double kGreySpread = 320.0;

// Everything a cloud depends on besides the pixel's position, drawn on the seeding thread before
// any pixel is worked out.
struct CCloudTables
{
    // Lattice point (i, j) has the gradient (gradientX[h], gradientY[h]) with
    // h = (column[i & 255] + j) & 255: the permutation applied to the column, then to the sum.
    std::int32_t column[256] = {};
    float gradientX[256] = {};
    float gradientY[256] = {};
    int octaves = 1;
    // Octave k samples the noise at ((x + 0.5) * frequency[k] + offsetX[k], (y + 0.5) * ... + offsetY[k]),
    // the lattice cell being the floor of each; frequency is at most 1 (a cell is never smaller than
    // a pixel) and the offsets are >= 0.
    double frequency[kMaxOctaves] = {};
    double offsetX[kMaxOctaves] = {};
    double offsetY[kMaxOctaves] = {};
    float amplitude[kMaxOctaves] = {};
    // The pyramid level octave k is worked out on: 0 for cells below 4 pixels, 1 below 16 and 2
    // below 64 (2 to 8 and 4 to 16 samples a cell), then the level with 8 to 16 samples a cell.
    // Never rises with k.
    int level[kMaxOctaves] = {};
    int levels = 1; // the highest level + 1
    // grey = trunc(clamp(sum * gain + 128.5, 0, 255)).
    float gain = 1.0f;
};

// Draws the tables for a picture of width x height from the calling thread's generator (seeded
// already): 255 draws for the permutation, 256 for the gradients, then two offsets for each of
// kMaxOctaves octaves, whatever the size.
CCloudTables DrawCloudTables(int width, int height, float roughness);

} // namespace orvex_clouds

namespace orvex_testing {
// The cloud rows run the plain build (0), the AVX2 one (1) or the AVX-512 one (2), or the widest the
// processor has (-1). Returns false if the processor lacks the one asked for.
bool UseCloudKernel(int level);
} // namespace orvex_testing
