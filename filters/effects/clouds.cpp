// Clouds: octaves of gradient noise summed into a grey. The random tables are drawn first, on the
// seeding thread; every sample is then a function of its position and the tables alone, so the
// rows can go to the cores in any split and the result stays the same.
//
// Evaluating every octave at every pixel costs eleven noise evaluations a pixel on a large
// picture, while a coarse octave changes little from one pixel to the next. So the sum is built on
// a pyramid: level L holds the samples (i 2^L, j 2^L), whole for the coarse levels and one row at a
// time for the picture's own. A level is the coarser one doubled in both directions plus the
// octaves it owns; the octaves cost a quarter less for every level up, and a pixel of the picture
// costs the two finest octaves, one doubling along its row and the grey.
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

    // The coarse octaves carry most of the contrast and cost next to nothing, so they get 8 to 16
    // samples a cell, which the cubic doubling follows to a fraction of a grey; the fainter ones
    // with cells of 4 to 64 pixels get 2 to 16 on levels 1 and 2, and the finest two are worked
    // out per pixel.
    tables.levels = 1;
    for (int k = 0; k < octaves; ++k) {
        const double f = tables.frequency[k];
        int level = 0;
        if (f > 1.0 / 4) level = 0;
        else if (f > 1.0 / 16) level = 1;
        else if (f > 1.0 / 64) level = 2;
        else
            for (level = 3; std::ldexp(f, level + 4) <= 1.0; ++level) {
            }
        tables.level[k] = level;
        tables.levels = std::max(tables.levels, level + 1);
    }
    return tables;
}

} // namespace orvex_clouds

namespace {

std::atomic<int> g_level{-1};

CCloudKernel ChosenKernel()
{
    int level = g_level.load(std::memory_order_relaxed);
    if (level < 0) level = __builtin_cpu_supports("avx512f") ? 2 : __builtin_cpu_supports("avx2") ? 1 : 0;
    return level == 2 ? CloudKernelAvx512() : level == 1 ? CloudKernelAvx2() : kCloudKernel;
}

int FloorHalf(int v)
{
    return v >= 0 ? v / 2 : -((1 - v) / 2);
}

// The samples a level needs along one direction: [low, high].
struct CSpan
{
    int low = 0;
    int high = 0;
    int Count() const { return high - low + 1; }
    // The coarser level's samples that doubling this span reads.
    CSpan Coarser() const { return {FloorHalf(low) - 1, FloorHalf(high) + 2}; }
};

// One octave's columns on its level, owned.
struct COctaveColumnsData
{
    std::vector<std::int32_t> relative;
    std::vector<float> fraction;
    std::vector<float> fade;
    std::vector<float> fadeFraction;
    std::vector<std::int32_t> hashed;
    COctaveColumns view;
};

void PlaceColumns(const CCloudTables& tables, int k, CSpan span, COctaveColumnsData& data)
{
    const int padded = (span.Count() + 15) & ~15;
    const double step = std::ldexp(1.0, tables.level[k]);
    data.relative.resize(static_cast<std::size_t>(padded));
    data.fraction.resize(static_cast<std::size_t>(padded));
    data.fade.resize(static_cast<std::size_t>(padded));
    data.fadeFraction.resize(static_cast<std::size_t>(padded));
    int first = 0;
    for (int i = 0; i < padded; ++i) {
        const double p = ((span.low + i) * step + 0.5) * tables.frequency[k] + tables.offsetX[k];
        const double floored = std::floor(p);
        const int cell = static_cast<int>(floored);
        if (i == 0) first = cell;
        const float fx = static_cast<float>(p - floored);
        const float u = fx * fx * (3.0f - 2.0f * fx);
        data.relative[static_cast<std::size_t>(i)] = cell - first;
        data.fraction[static_cast<std::size_t>(i)] = fx;
        data.fade[static_cast<std::size_t>(i)] = u;
        data.fadeFraction[static_cast<std::size_t>(i)] = u * fx;
    }
    const int columns = data.relative.back() + 2;
    data.hashed.assign(static_cast<std::size_t>(columns) + 16, 0);
    for (int j = 0; j < columns; ++j) data.hashed[static_cast<std::size_t>(j)] = tables.column[(first + j) & 255];
    data.view = {data.relative.data(),
                 data.fraction.data(),
                 data.fade.data(),
                 data.fadeFraction.data(),
                 data.hashed.data(),
                 columns,
                 padded};
}

// The four latest rows of a level a thread has made, each in the slot of its index mod 4: doubling
// a row halfway between two coarser ones reads four consecutive coarser rows, and the next row of
// the finer level at most one more.
struct CRing
{
    std::vector<float> slot[4];
    int row[4] = {};
    bool made[4] = {};
};

// One thread's rows: the lattice rows of every octave, the latest rows of every level and the
// rows a picture row is made in.
struct CThreadRows
{
    std::vector<float> lattice;
    COctaveRows octave[kMaxOctaves];
    std::vector<CRing> rings;
    std::vector<float> between; // a coarser level halfway between two of its rows
    std::vector<float> sum;     // the picture's row
    std::vector<std::uint8_t> grey;

    CThreadRows(const COctaveColumnsData* columns, int octaves, const std::vector<CSpan>& spans)
    {
        std::size_t total = 0;
        for (int k = 0; k < octaves; ++k) total += 8 * (static_cast<std::size_t>(columns[k].view.columns) + 16);
        lattice.assign(total, 0.0f);
        float* next = lattice.data();
        for (int k = 0; k < octaves; ++k) {
            const std::size_t n = static_cast<std::size_t>(columns[k].view.columns) + 16;
            float** arrays[] = {&octave[k].g0x, &octave[k].g0y, &octave[k].g1x, &octave[k].g1y,
                                &octave[k].a,   &octave[k].b,   &octave[k].c,   &octave[k].d};
            for (float** array : arrays) {
                *array = next;
                next += n;
            }
        }
        std::size_t widest = 0;
        for (const CSpan& span : spans) widest = std::max(widest, static_cast<std::size_t>(span.Count()));
        rings.resize(spans.size());
        for (std::size_t l = 1; l < spans.size(); ++l)
            for (std::vector<float>& slot : rings[l].slot)
                slot.assign(static_cast<std::size_t>(spans[l].Count()) + 32, 0.0f);
        between.assign(widest + 16, 0.0f);
        sum.assign(static_cast<std::size_t>(spans[0].Count()) + 32, 0.0f);
        grey.assign(static_cast<std::size_t>(spans[0].Count()) + 16, 0);
    }
};

struct CPyramid
{
    const CCloudTables& tables;
    const CCloudKernel& kernel;
    const std::vector<CSpan>& spans; // the columns of every level
    const COctaveColumnsData* columns;

    // The offset of a level's first sample in its row buffer: the doubled row starts at an even
    // sample, one left of the level's first when that is odd.
    int Lead(int level) const
    {
        const int low = spans[static_cast<std::size_t>(level)].low;
        return low - 2 * FloorHalf(low);
    }

    const float* Fetch(int level, int j, CThreadRows& w) const
    {
        CRing& ring = w.rings[static_cast<std::size_t>(level)];
        const int s = j & 3;
        float* const buffer = ring.slot[s].data();
        if (!ring.made[s] || ring.row[s] != j) {
            Make(level, j, buffer, w);
            ring.row[s] = j;
            ring.made[s] = true;
        }
        return buffer + Lead(level);
    }

    // Row j of `level` into `buffer` (from Lead(level) on): the coarser level doubled, plus the
    // level's octaves.
    const float* Make(int level, int j, float* buffer, CThreadRows& w) const
    {
        const CSpan span = spans[static_cast<std::size_t>(level)];
        float* const row = buffer + Lead(level);
        const int padded = (span.Count() + 15) & ~15;
        if (level + 1 < tables.levels) {
            const int m = FloorHalf(j);
            const float* source = Fetch(level + 1, m, w);
            if (j != 2 * m) {
                const float* r0 = Fetch(level + 1, m - 1, w);
                const float* r2 = Fetch(level + 1, m + 1, w);
                const float* r3 = Fetch(level + 1, m + 2, w);
                kernel.betweenRows(r0, source, r2, r3, spans[static_cast<std::size_t>(level) + 1].Count(),
                                   w.between.data());
                source = w.between.data();
            }
            kernel.doubleRow(source, FloorHalf(span.high) - FloorHalf(span.low) + 1, buffer);
            std::fill(row + span.Count(), row + padded, 0.0f);
        } else {
            std::fill(row, row + padded, 0.0f);
        }
        const double y = j * std::ldexp(1.0, level) + 0.5;
        for (int k = 0; k < tables.octaves; ++k)
            if (tables.level[k] == level) kernel.addOctave(tables, k, columns[k].view, w.octave[k], y, row);
        return row;
    }
};

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
    const CCloudKernel kernel = ChosenKernel();

    std::vector<CSpan> spans;
    std::vector<COctaveColumnsData> columns;
    std::vector<std::unique_ptr<CThreadRows>> threads;
    try {
        spans.push_back({0, width - 1});
        while (static_cast<int>(spans.size()) < tables.levels) spans.push_back(spans.back().Coarser());
        columns.resize(static_cast<std::size_t>(tables.octaves));
        for (int k = 0; k < tables.octaves; ++k)
            PlaceColumns(tables, k, spans[static_cast<std::size_t>(tables.level[k])],
                         columns[static_cast<std::size_t>(k)]);
        for (int i = 0; i < ParallelThreadCount(); ++i)
            threads.push_back(std::make_unique<CThreadRows>(columns.data(), tables.octaves, spans));
    } catch (const std::bad_alloc&) {
        engine.ReportFailure();
        return;
    }

    // Every row is made from the coarser rows around it, on whichever thread asks for it; a row
    // two threads both need is made twice, to the same values.
    const CPyramid pyramid{tables, kernel, spans, columns.data()};
    const std::uint8_t* const source = difference ? picture.bits() : nullptr;
    const std::ptrdiff_t pitch = picture.pitch();
    ParallelFor(0, height, [&](int y0, int y1) {
        CThreadRows& w = *threads[static_cast<std::size_t>(ParallelSlot())];
        for (int y = y0; y < y1; ++y) {
            const float* row = pyramid.Make(0, y, w.sum.data(), w);
            kernel.finishRow(row, width, tables.gain, source ? source + y * pitch : nullptr, target + y * pitch,
                             w.grey.data());
        }
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
