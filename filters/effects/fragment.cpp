#include "filters/effects/fragment.h"

#include "core/beside_output.h"
#include "core/image_processor.h"
#include "core/parallel.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

// Widen is always inlined into each instruction-set clone, so the calling convention of a vector
// returned by value never comes into play.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace {

using CBytes16 = std::uint8_t __attribute__((vector_size(16)));
using CWords16 = std::uint16_t __attribute__((vector_size(32)));

__attribute__((always_inline)) inline CWords16 Widen(const std::uint8_t* p)
{
    CBytes16 v;
    std::memcpy(&v, p, sizeof v);
    return __builtin_convertvector(v, CWords16);
}

__attribute__((target_clones("avx2", "default"))) void FragmentRows(const CImage& picture, const CBesideOutput& out,
                                                                    int offset, int y0, int y1)
{
    const int width = picture.width();
    const int height = picture.height();
    auto row = [&](int y) {
        return picture.bits() + static_cast<std::ptrdiff_t>(std::clamp(y, 0, height - 1)) * picture.pitch();
    };
    const int shift = 3 * offset;
    // Pixels whose left and right copies both lie inside the row.
    const int inner0 = std::min(offset, width);
    const int inner1 = std::max(inner0, width - offset);
    for (int y = y0; y < y1; ++y) {
        const std::uint8_t* up = row(y - offset);
        const std::uint8_t* down = row(y + offset);
        const std::uint8_t* centre = row(y);
        std::uint8_t* target = out.Row(y);
        auto one = [&](int x) {
            const std::uint8_t* left = centre + 3 * std::max(x - offset, 0);
            const std::uint8_t* right = centre + 3 * std::min(x + offset, width - 1);
            for (int c = 0; c < 3; ++c)
                target[3 * x + c] =
                    static_cast<std::uint8_t>((up[3 * x + c] + down[3 * x + c] + left[c] + right[c] + 2) >> 2);
        };
        for (int x = 0; x < inner0; ++x) one(x);
        int i = 3 * inner0;
        for (; i + 16 <= 3 * inner1; i += 16) {
            const CWords16 sum =
                Widen(up + i) + Widen(down + i) + Widen(centre + i - shift) + Widen(centre + i + shift) + 2;
            const CBytes16 mean = __builtin_convertvector(sum >> 2, CBytes16);
            std::memcpy(target + i, &mean, sizeof mean);
        }
        for (; i < 3 * inner1; ++i)
            target[i] = static_cast<std::uint8_t>((up[i] + down[i] + centre[i - shift] + centre[i + shift] + 2) >> 2);
        for (int x = inner1; x < width; ++x) one(x);
    }
}

} // namespace

void Fragment(CImageProcessor& engine, int offset)
{
    CBesideOutput out;
    if (!out.Begin(engine)) return;
    const CImage& picture = *engine.image();
    offset = std::clamp(offset, 1, 50);
    ParallelFor(0, picture.height(), [&](int y0, int y1) { FragmentRows(picture, out, offset, y0, y1); });
    out.Commit();
}
