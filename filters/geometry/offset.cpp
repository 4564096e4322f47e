// Offset: the picture shifted by whole pixels, the uncovered area set to the background colour,
// repeated from the edge or wrapped around.
#include "core/image_processor.h"
#include "core/parallel.h"
#include "filters/geometry/geometry_internal.h"

#include <algorithm>
#include <cstring>

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

void CImageProcessor::Offset(int horizontal, int vertical, char edgeMode)
{
    CImage& picture = *image();
    if (!HasPixels(picture)) return;
    const char mode = edgeMode == 'r' || edgeMode == 'w' ? edgeMode : 's';
    const int w = picture.width();
    const int h = picture.height();

    // A preview writes the work image straight from the picture. In place, the result goes to a new
    // buffer that then replaces the picture's, which costs no more than the copy the shift needs.
    CImage shifted;
    const bool toPicture = preview.load() == 0;
    std::uint8_t* target = nullptr;
    if (toPicture) {
        if (!shifted.Create(w, h, 24)) {
            ReportFailure();
            return;
        }
        target = shifted.bits();
    } else {
        target = OutputBits();
        if (!target) return;
    }
    const std::ptrdiff_t pitch = picture.pitch();
    ParallelFor(0, h, [&](int begin, int end) {
        for (int y = begin; y < end; ++y) {
            std::uint8_t* out = target + static_cast<std::ptrdiff_t>(y) * pitch;
            const long long sy = static_cast<long long>(y) - vertical;
            int source = -1;
            if (mode == 'w') source = Wrap(sy, h);
            else if (mode == 'r') source = static_cast<int>(std::clamp<long long>(sy, 0, h - 1));
            else if (sy >= 0 && sy < h) source = static_cast<int>(sy);
            if (source < 0) FillBackground(out, w);
            else ShiftRow(Row(picture, source), out, w, horizontal, mode);
        }
    });
    if (toPicture) picture = std::move(shifted);
}
