// Clouds: octaves of gradient noise summed into a grey. The random tables are drawn first, on the
// seeding thread; every pixel is then a function of its position and the tables alone, so the
// rows can go to the cores in any split and the result stays the same.
//
// The rows are worked in tiles of columns. Along a row every octave's lattice column is a line
// in the pixel's position within its cell (the vertical blend is done once per lattice column),
// so a pixel costs four in-register lookups and a few products per octave.
#include "filters/effects/clouds.h"

#include "core/image_processor.h"
#include "core/parallel.h"
#include "core/random.h"
#include "filters/effects/clouds_kernel.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <memory>
#include <new>
#include <vector>

namespace orvex_clouds {

CCloudTables DrawCloudTables(int width, int height, float roughness)
{
    CCloudTables tables;
    int permutation[256];
    for (int i = 0; i < 256; ++i) permutation[i] = i;
    for (int i = 255; i > 0; --i) std::swap(permutation[i], permutation[orvex_random::Next() % (i + 1)]);
    double angle[256];
    for (double& a : angle) a = orvex_random::Next() * (6.283185307179586 / 32768.0);
    for (int i = 0; i < 256; ++i) {
        tables.column[i] = permutation[i];
        tables.gradientX[i] = static_cast<float>(std::cos(angle[permutation[i]]));
        tables.gradientY[i] = static_cast<float>(std::sin(angle[permutation[i]]));
    }
    for (int k = 0; k < kMaxOctaves; ++k) {
        tables.offsetX[k] = orvex_random::Next() * (256.0 / 32768.0);
        tables.offsetY[k] = orvex_random::Next() * (256.0 / 32768.0);
    }

    // A NaN roughness is taken as the usual halving.
    if (!(roughness == roughness)) roughness = 0.5f;
    roughness = std::clamp(roughness, 0.0f, 1.0f);
    const double longer = std::max({width, height, 1});
    int octaves = 0;
    while (octaves < kMaxOctaves && std::ldexp(4.0 / longer, octaves) <= 1.0) {
        tables.frequency[octaves] = std::ldexp(4.0 / longer, octaves);
        ++octaves;
    }
    // Below 4 pixels the first cell would be smaller than a pixel.
    if (octaves == 0) {
        tables.frequency[0] = 1.0;
        octaves = 1;
    }
    tables.octaves = octaves;
    float amplitude = 1.0f;
    float total = 0.0f;
    for (int k = 0; k < octaves; ++k) {
        tables.amplitude[k] = amplitude;
        total += amplitude;
        amplitude *= roughness;
    }
    // Sums of octaves rarely stray beyond half their total amplitude; that range spans the greys.
    tables.gain = static_cast<float>(kGreySpread / total);
    return tables;
}

} // namespace orvex_clouds

namespace {

std::atomic<int> g_level{-1};

CCloudTileFn ChosenTile()
{
    int level = g_level.load(std::memory_order_relaxed);
    if (level < 0) level = __builtin_cpu_supports("avx512f") ? 2 : __builtin_cpu_supports("avx2") ? 1 : 0;
    return level == 2 ? CloudTileAvx512() : level == 1 ? CloudTileAvx2() : &CloudTile;
}

void RenderClouds(CImageProcessor& engine, float roughness, bool difference)
{
    CImage& picture = *engine.image();
    engine.SeedRandomFromClock();
    if (picture.IsNull() || picture.bitsPerPixel() != 24 || picture.width() < 1 || picture.height() < 1) return;
    std::uint8_t* const target = engine.OutputBits();
    if (!target) return;
    const int width = picture.width();
    const int height = picture.height();
    const CCloudTables tables = DrawCloudTables(width, height, roughness);

    std::vector<std::unique_ptr<CCloudScratch>> scratch;
    try {
        for (int i = 0; i < ParallelThreadCount(); ++i) scratch.push_back(std::make_unique<CCloudScratch>());
    } catch (const std::bad_alloc&) {
        engine.ReportFailure();
        return;
    }
    const CCloudTileFn tile = ChosenTile();
    const std::uint8_t* const source = difference ? picture.bits() : nullptr;
    const std::ptrdiff_t pitch = picture.pitch();
    ParallelFor(0, height, [&](int y0, int y1) {
        CCloudScratch& w = *scratch[static_cast<std::size_t>(ParallelSlot())];
        for (int x = 0; x < width; x += CCloudScratch::kTile)
            tile(tables, w, x, std::min(CCloudScratch::kTile, width - x), y0, y1, source, target, pitch);
    });
}

} // namespace

void Clouds(CImageProcessor& engine, float roughness)
{
    RenderClouds(engine, roughness, false);
}

void DifferenceClouds(CImageProcessor& engine, float roughness)
{
    RenderClouds(engine, roughness, true);
}

namespace orvex_testing {
bool UseCloudKernel(int level)
{
    const bool available = level <= 0 || (level == 1 && __builtin_cpu_supports("avx2")) ||
                           (level == 2 && __builtin_cpu_supports("avx512f"));
    if (available) g_level.store(level < 0 ? -1 : level);
    return available;
}
} // namespace orvex_testing
