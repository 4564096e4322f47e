#include "filters/effects/facet.h"

#include "core/beside_output.h"
#include "core/image_processor.h"
#include "core/parallel.h"
#include "filters/colour/histogram.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <vector>

namespace {

void FacetRows(const CImage& picture, const CBesideOutput& out, int radius, int y0, int y1)
{
    const int width = picture.width();
    const int height = picture.height();
    const int window = 2 * radius + 1;
    const int padded = width + 2 * radius;
    // Padded pixels of the window's rows, and their classes, in a ring.
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(3 * padded * window));
    std::vector<std::uint8_t> classes(static_cast<std::size_t>(padded * window));
    auto slot = [&](int y) { return (y + 2 * window) % window; };
    auto load = [&](int y) {
        const std::uint8_t* src =
            picture.bits() + static_cast<std::ptrdiff_t>(std::clamp(y, 0, height - 1)) * picture.pitch();
        std::uint8_t* p = pixels.data() + static_cast<std::size_t>(3 * padded * slot(y));
        std::uint8_t* k = classes.data() + static_cast<std::size_t>(padded * slot(y));
        for (int i = 0; i < padded; ++i) {
            const std::uint8_t* px = src + 3 * std::clamp(i - radius, 0, width - 1);
            p[3 * i] = px[0];
            p[3 * i + 1] = px[1];
            p[3 * i + 2] = px[2];
            k[i] = static_cast<std::uint8_t>(orvex_colour::Luminance(px[2], px[1], px[0]) >> 5);
        }
    };
    for (int y = y0 - radius; y < y0 + radius; ++y) load(y);
    for (int y = y0; y < y1; ++y) {
        load(y + radius);
        std::uint8_t* target = out.Row(y);
        const std::uint8_t* centreClasses = classes.data() + static_cast<std::size_t>(padded * slot(y) + radius);
        for (int x = 0; x < width; ++x) {
            int counts[8] = {};
            for (int r = 0; r < window; ++r) {
                const std::uint8_t* k = classes.data() + static_cast<std::size_t>(padded * r + x);
                for (int c = 0; c < window; ++c) ++counts[k[c]];
            }
            const int own = centreClasses[x];
            int best = 0;
            for (int k = 1; k < 8; ++k) {
                if (counts[k] > counts[best] || (counts[k] == counts[best] && std::abs(k - own) < std::abs(best - own)))
                    best = k;
            }
            int sum[3] = {};
            for (int r = 0; r < window; ++r) {
                const std::uint8_t* k = classes.data() + static_cast<std::size_t>(padded * r + x);
                const std::uint8_t* p = pixels.data() + static_cast<std::size_t>(3 * (padded * r + x));
                for (int c = 0; c < window; ++c) {
                    if (k[c] != best) continue;
                    sum[0] += p[3 * c];
                    sum[1] += p[3 * c + 1];
                    sum[2] += p[3 * c + 2];
                }
            }
            const int n = counts[best];
            for (int c = 0; c < 3; ++c) target[3 * x + c] = static_cast<std::uint8_t>((sum[c] + n / 2) / n);
        }
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
