// Offset: the picture shifted by whole pixels, the uncovered area set to the background colour,
// repeated from the edge or wrapped around.
#include "core/image_processor.h"
#include "core/parallel.h"
#include "filters/geometry/geometry_internal.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

using orvex_geometry::FillBackground;
using orvex_geometry::HasPixels;
using orvex_geometry::Row;

namespace {

// Brings v into 0..n-1 by whole multiples of n.
int Wrap(long long v, int n)
{
    const long long r = v % n;
    return static_cast<int>(r < 0 ? r + n : r);
}

// One output row from one source row (or from nothing: the background). Each output pixel x reads
// source column x - horizontal, placed by the edge mode; done as at most three block copies.
void ShiftRow(const std::uint8_t* in, std::uint8_t* out, int width, int horizontal, char mode)
{
    const long long shift = horizontal;
    if (mode == 'w') {
        const int s = Wrap(shift, width); // out[x] = in[(x - s) mod width]
        std::memcpy(out + 3 * static_cast<std::size_t>(s), in, 3 * static_cast<std::size_t>(width - s));
        std::memcpy(out, in + 3 * static_cast<std::size_t>(width - s), 3 * static_cast<std::size_t>(s));
        return;
    }
    // Columns [lo, hi) of the output read the source directly.
    const int lo = static_cast<int>(std::clamp<long long>(shift, 0, width));
    const int hi = static_cast<int>(std::clamp<long long>(width + shift, 0, width));
    if (lo < hi) std::memcpy(out + 3 * lo, in + 3 * (lo - shift), 3 * static_cast<std::size_t>(hi - lo));
    if (mode == 'r') {
        const std::uint8_t* firstPixel = in;
        const std::uint8_t* lastPixel = in + 3 * (width - 1);
        for (int x = 0; x < std::min(lo, width); ++x) std::memcpy(out + 3 * x, firstPixel, 3);
        for (int x = std::max(hi, std::min(lo, width)); x < width; ++x) std::memcpy(out + 3 * x, lastPixel, 3);
    } else {
        FillBackground(out, lo);
        FillBackground(out + 3 * std::max(hi, lo), width - std::max(hi, lo));
    }
}

} // namespace

namespace {

// The picture row that output row y shows, or -1 for the background.
int SourceRow(int y, int vertical, int height, char mode)
{
    const long long sy = static_cast<long long>(y) - vertical;
    if (mode == 'w') return Wrap(sy, height);
    if (mode == 'r') return static_cast<int>(std::clamp<long long>(sy, 0, height - 1));
    return sy >= 0 && sy < height ? static_cast<int>(sy) : -1;
}

} // namespace

void CImageProcessor::Offset(int horizontal, int vertical, char edgeMode)
{
    CImage& picture = *image();
    if (!HasPixels(picture)) return;
    const char mode = edgeMode == 'r' || edgeMode == 'w' ? edgeMode : 's';
    const int w = picture.width();
    const int h = picture.height();
    const std::ptrdiff_t pitch = picture.pitch();
    const std::size_t rowBytes = 3 * static_cast<std::size_t>(w);

    if (preview.load()) {
        // A preview writes the work image straight from the picture.
        std::uint8_t* const target = OutputBits();
        if (!target) return;
        ParallelFor(0, h, [&](int begin, int end) {
            for (int y = begin; y < end; ++y) {
                std::uint8_t* out = target + static_cast<std::ptrdiff_t>(y) * pitch;
                const int source = SourceRow(y, vertical, h, mode);
                if (source < 0) FillBackground(out, w);
                else ShiftRow(Row(picture, source), out, w, horizontal, mode);
            }
        });
        return;
    }

    // In place, one pass: the rows are split into one block per core, and each block runs in the
    // direction in which its rows are read before they are overwritten (downward shifts from the
    // bottom up). The only rows that could be overwritten before they are read (those read across
    // a block boundary, and wrapped rows read against the direction) are copied aside first, so a
    // failed allocation still leaves the picture as it was.
    const int blocks = std::max(1, std::min(ParallelThreadCount(), h));
    auto blockBegin = [&](int b) { return static_cast<int>(static_cast<long long>(h) * b / blocks); };
    auto blockOf = [&](int y) {
        int b = blocks - 1;
        while (y < blockBegin(b)) --b;
        return b;
    };
    long long effective = vertical;
    if (mode == 'w') {
        effective = Wrap(vertical, h);
        if (effective > h / 2) effective -= h;
    }
    const bool upward = effective > 0; // rows processed from the bottom of each block up
    std::vector<int> slot;
    std::vector<std::uint8_t> aside;
    std::vector<std::uint8_t> rowScratch;
    try {
        slot.assign(static_cast<std::size_t>(h), -1);
        int kept = 0;
        for (int y = 0; y < h; ++y) {
            const int r = SourceRow(y, vertical, h, mode);
            if (r < 0 || r == y || slot[static_cast<std::size_t>(r)] >= 0) continue;
            const bool overwrittenFirst = blockOf(r) != blockOf(y) || (upward ? r > y : r < y);
            if (overwrittenFirst) slot[static_cast<std::size_t>(r)] = kept++;
        }
        aside.resize(rowBytes * static_cast<std::size_t>(kept));
        rowScratch.resize(rowBytes * static_cast<std::size_t>(blocks));
    } catch (const std::bad_alloc&) {
        ReportFailure();
        return;
    }
    for (int r = 0; r < h; ++r)
        if (slot[static_cast<std::size_t>(r)] >= 0)
            std::memcpy(aside.data() + rowBytes * static_cast<std::size_t>(slot[static_cast<std::size_t>(r)]), Row(picture, r), rowBytes);

    ParallelFor(0, blocks, [&](int firstBlock, int endBlock) {
        for (int b = firstBlock; b < endBlock; ++b) {
            std::uint8_t* const temp = rowScratch.data() + rowBytes * static_cast<std::size_t>(b);
            const int from = blockBegin(b);
            const int to = blockBegin(b + 1);
            for (int i = 0; i < to - from; ++i) {
                const int y = upward ? to - 1 - i : from + i;
                std::uint8_t* out = Row(picture, y);
                const int source = SourceRow(y, vertical, h, mode);
                if (source < 0) {
                    FillBackground(out, w);
                    continue;
                }
                const int kept = slot[static_cast<std::size_t>(source)];
                const std::uint8_t* in = kept >= 0 ? aside.data() + rowBytes * static_cast<std::size_t>(kept) : Row(picture, source);
                // The row may be its own source: shift from a copy.
                std::memcpy(temp, in, rowBytes);
                ShiftRow(temp, out, w, horizontal, mode);
            }
        }
    });
}
