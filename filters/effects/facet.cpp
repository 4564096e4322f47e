#include "filters/effects/facet.h"

#include "core/beside_output.h"
#include "core/image_processor.h"
#include "core/parallel.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <new>
#include <vector>

// The window vectors are passed only between inlined code within each instruction-set clone.
#pragma GCC diagnostic ignored "-Wpsabi"

// Everything the choice and the mean need about one class in a window is kept in one 64-bit word,
//   bits  0..13 blue sum, 14..27 green sum, 28..41 red sum, 48..51 tie rank, 52..57 count,
// so a window is eight words (one per class) and sums of windows are plain additions: at most 49
// pixels of up to 255 keep every field below its next. The tie rank (15 for the centre pixel's
// class, then 14, 13 for one class darker and brighter, and so on) is added per pixel, and the
// largest word is then the winning class with its count and sums.
namespace {

using CWindow = std::int64_t __attribute__((vector_size(64)));

constexpr int kBlueShift = 0;
constexpr int kGreenShift = 14;
constexpr int kRedShift = 28;
constexpr int kRankShift = 48;
constexpr int kCountShift = 52;
constexpr std::int64_t kSumMask = (std::int64_t{1} << 14) - 1;

inline int ClassOf(const std::uint8_t* p)
{
    // Luminance (77 R + 150 G + 29 B + 128) / 256 in classes of 32 levels.
    return (77 * p[2] + 150 * p[1] + 29 * p[0] + 128) >> 13;
}

inline std::int64_t Word(const std::uint8_t* p)
{
    return (std::int64_t{p[0]} << kBlueShift) | (std::int64_t{p[1]} << kGreenShift) |
           (std::int64_t{p[2]} << kRedShift) | (std::int64_t{1} << kCountShift);
}

struct CTables
{
    // Tie ranks per centre class.
    CWindow rank[8];
    // ceil(2^32 / n): (s * m) >> 32 is s / n rounded down for every s below 2^14 since
    // s * (m n - 2^32) < 2^14 * 49 < 2^32.
    std::uint64_t reciprocal[64];
};

const CTables& Tables()
{
    static const CTables tables = [] {
        CTables t{};
        for (int own = 0; own < 8; ++own)
            for (int k = 0; k < 8; ++k) {
                const int distance = k > own ? k - own : own - k;
                t.rank[own][k] = std::int64_t{15 - 2 * distance - (k > own ? 1 : 0)} << kRankShift;
            }
        for (int n = 1; n < 64; ++n)
            t.reciprocal[n] = ((std::uint64_t{1} << 32) + static_cast<std::uint64_t>(n) - 1) / n;
        return t;
    }();
    return tables;
}

inline CWindow Load(const std::int64_t* p)
{
    CWindow v;
    __builtin_memcpy(&v, p, sizeof v);
    return v;
}

inline std::int64_t Largest(CWindow v)
{
    CWindow w = __builtin_shufflevector(v, v, 4, 5, 6, 7, 0, 1, 2, 3);
    v = v > w ? v : w;
    w = __builtin_shufflevector(v, v, 2, 3, 0, 1, 6, 7, 4, 5);
    v = v > w ? v : w;
    w = __builtin_shufflevector(v, v, 1, 0, 3, 2, 5, 4, 7, 6);
    v = v > w ? v : w;
    return v[0];
}

// A source row's class and word per pixel, made once when the row enters the window.
__attribute__((target_clones("avx512f", "avx2", "default"))) void PrepareRow(const std::uint8_t* row, int width,
                                                                             std::uint8_t* classes, std::int64_t* words)
{
    for (int x = 0; x < width; ++x) {
        classes[x] = static_cast<std::uint8_t>(ClassOf(row + 3 * x));
        words[x] = Word(row + 3 * x);
    }
}

// `columns` holds, per padded column (the picture's columns with `radius` copies of the edge
// columns on either side), the eight class words of the column's 2 radius + 1 window rows.
void AddRow(std::int64_t* columns, const std::uint8_t* classes, const std::int64_t* words, int width, int radius)
{
    std::int64_t* inner = columns + 8 * radius;
    for (int x = 0; x < width; ++x) inner[8 * x + classes[x]] += words[x];
}

// Moves one row into the columns and another out of them.
void ReplaceRow(std::int64_t* columns, const std::uint8_t* inClasses, const std::int64_t* inWords,
                const std::uint8_t* outClasses, const std::int64_t* outWords, int width, int radius)
{
    std::int64_t* inner = columns + 8 * radius;
    for (int x = 0; x < width; ++x) {
        inner[8 * x + inClasses[x]] += inWords[x];
        inner[8 * x + outClasses[x]] -= outWords[x];
    }
}

void PadColumns(std::int64_t* columns, int width, int radius)
{
    for (int i = 0; i < radius; ++i) {
        std::copy_n(columns + 8 * radius, 8, columns + 8 * i);
        std::copy_n(columns + 8 * (radius + width - 1), 8, columns + 8 * (radius + width + i));
    }
}

__attribute__((target_clones("avx512f", "avx2", "default"))) void WriteRow(const std::int64_t* columns,
                                                                           const std::uint8_t* centreClasses,
                                                                           std::uint8_t* target, int width, int radius,
                                                                           const CTables& tables)
{
    const int window = 2 * radius + 1;
    CWindow sum = Load(columns);
    for (int i = 1; i < window; ++i) sum += Load(columns + 8 * i);
    for (int x = 0; x < width; ++x) {
        const std::int64_t best = Largest(sum + tables.rank[centreClasses[x]]);
        const auto n = static_cast<std::uint64_t>(best >> kCountShift);
        const std::uint64_t m = tables.reciprocal[n];
        const std::uint64_t half = n >> 1;
        auto mean = [&](int shift) {
            return static_cast<std::uint8_t>(((static_cast<std::uint64_t>((best >> shift) & kSumMask) + half) * m) >>
                                             32);
        };
        target[3 * x] = mean(kBlueShift);
        target[3 * x + 1] = mean(kGreenShift);
        target[3 * x + 2] = mean(kRedShift);
        if (x + 1 < width) sum += Load(columns + 8 * (x + window)) - Load(columns + 8 * x);
    }
}

void FacetRows(const CImage& picture, const CBesideOutput& out, int radius, int y0, int y1)
{
    const int width = picture.width();
    const int height = picture.height();
    auto row = [&](int y) {
        return picture.bits() + static_cast<std::ptrdiff_t>(std::clamp(y, 0, height - 1)) * picture.pitch();
    };
    const CTables& tables = Tables();
    std::vector<std::int64_t> columns(static_cast<std::size_t>(8) * (width + 2 * radius));
    // The window's rows and the one just leaving it, by row number (rows beyond the edges repeat
    // the edge rows, so the window slides over clamped rows).
    const int ringRows = 2 * radius + 2;
    std::vector<std::uint8_t> classes(static_cast<std::size_t>(ringRows) * width);
    std::vector<std::int64_t> words(static_cast<std::size_t>(ringRows) * width);
    auto slot = [&](int y) { return static_cast<std::size_t>((y - y0 + radius + 1) % ringRows) * width; };
    auto prepare = [&](int y) { PrepareRow(row(y), width, classes.data() + slot(y), words.data() + slot(y)); };
    for (int y = y0 - radius; y <= y0 + radius; ++y) {
        prepare(y);
        AddRow(columns.data(), classes.data() + slot(y), words.data() + slot(y), width, radius);
    }
    for (int y = y0; y < y1; ++y) {
        if (y > y0) {
            const int in = y + radius;
            const int gone = y - radius - 1;
            prepare(in);
            ReplaceRow(columns.data(), classes.data() + slot(in), words.data() + slot(in), classes.data() + slot(gone),
                       words.data() + slot(gone), width, radius);
        }
        PadColumns(columns.data(), width, radius);
        WriteRow(columns.data(), classes.data() + slot(y), out.Row(y), width, radius, tables);
    }
}

} // namespace

void Facet(CImageProcessor& engine, int radius)
{
    CBesideOutput out;
    if (!out.Begin(engine)) return;
    const CImage& picture = *engine.image();
    radius = std::clamp(radius, 1, 3);
    try {
        ParallelFor(0, picture.height(), [&](int y0, int y1) { FacetRows(picture, out, radius, y0, y1); });
    } catch (const std::bad_alloc&) {
        engine.ReportFailure();
        return;
    }
    out.Commit();
}
