#include "filters/colour/variations.h"

#include "core/image_processor.h"
#include "core/parallel.h"
#include "filters/colour/colour_tables.h"

#include <algorithm>
#include <cstdint>
#include <new>
#include <vector>

namespace orvex_colour {

CVariationTables MakeVariationTables(int red, int green, int blue, int lightness)
{
    const auto held = [](int v) { return std::clamp(v, -255, 255); };
    const int shift[3] = {held(blue) + held(lightness), held(green) + held(lightness), held(red) + held(lightness)};
    CVariationTables tables;
    std::uint8_t* const channel[3] = {tables.blue, tables.green, tables.red};
    for (int c = 0; c < 3; ++c)
        for (int v = 0; v < 256; ++v) channel[c][v] = static_cast<std::uint8_t>(std::clamp(v + shift[c], 0, 255));
    return tables;
}

bool ReducePicture(const CImage& source, int longSide, CImage& out)
{
    if (source.IsNull() || source.bitsPerPixel() != 24 || source.width() < 1 || source.height() < 1) {
        out.Destroy();
        return false;
    }
    const int w = source.width();
    const int h = source.height();
    longSide = std::max(longSide, 1);
    if (std::max(w, h) <= longSide) return out.CopyFrom(source);
    const double scale = static_cast<double>(longSide) / std::max(w, h);
    const int dw = std::clamp(static_cast<int>(w * scale + 0.5), 1, longSide);
    const int dh = std::clamp(static_cast<int>(h * scale + 0.5), 1, longSide);
    if (!out.Create(dw, dh, 24)) return false;
    // Source column x belongs to target column x * dw / w; the blocks tile the picture exactly.
    std::vector<int> target;
    std::vector<int> first;
    try {
        target.resize(static_cast<std::size_t>(w));
        first.resize(static_cast<std::size_t>(dw) + 1);
    } catch (const std::bad_alloc&) {
        out.Destroy();
        return false;
    }
    for (int x = 0; x < w; ++x)
        target[static_cast<std::size_t>(x)] = static_cast<int>(static_cast<long long>(x) * dw / w);
    for (int d = 0; d <= dw; ++d)
        first[static_cast<std::size_t>(d)] = static_cast<int>((static_cast<long long>(d) * w + dw - 1) / dw);
    const auto rowOf = [&](int d) { return static_cast<int>((static_cast<long long>(d) * h + dh - 1) / dh); };
    // A block of a very long picture reduced to a few pixels can exceed 32 bits of sums.
    try {
        ParallelFor(0, dh, [&](int d0, int d1) {
            std::vector<std::uint64_t> sums(static_cast<std::size_t>(dw) * 3);
            for (int dy = d0; dy < d1; ++dy) {
                std::fill(sums.begin(), sums.end(), std::uint64_t{0});
                const int y0 = rowOf(dy);
                const int y1 = rowOf(dy + 1);
                for (int y = y0; y < y1; ++y) {
                    const std::uint8_t* s = source.bits() + static_cast<std::ptrdiff_t>(y) * source.pitch();
                    for (int x = 0; x < w; ++x, s += 3) {
                        std::uint64_t* sum = sums.data() + 3 * target[static_cast<std::size_t>(x)];
                        sum[0] += s[0];
                        sum[1] += s[1];
                        sum[2] += s[2];
                    }
                }
                std::uint8_t* o = out.bits() + static_cast<std::ptrdiff_t>(dy) * out.pitch();
                for (int dx = 0; dx < dw; ++dx) {
                    const std::uint64_t count = static_cast<std::uint64_t>(y1 - y0) *
                                                static_cast<std::uint64_t>(first[static_cast<std::size_t>(dx) + 1] -
                                                                           first[static_cast<std::size_t>(dx)]);
                    for (int c = 0; c < 3; ++c)
                        o[3 * dx + c] =
                            static_cast<std::uint8_t>((sums[3 * static_cast<std::size_t>(dx) + c] + count / 2) / count);
                }
            }
        });
    } catch (const std::bad_alloc&) {
        out.Destroy();
        return false;
    }
    return true;
}

} // namespace orvex_colour

void Variations(CImageProcessor& engine, int red, int green, int blue, int lightness)
{
    CImage& picture = *engine.image();
    if (!orvex_colour::HasPixels(picture)) return;
    std::uint8_t* const target = engine.OutputBits();
    if (!target) return;
    const orvex_colour::CVariationTables t = orvex_colour::MakeVariationTables(red, green, blue, lightness);
    orvex_colour::ApplyChannelTables(picture, target, t.blue, t.green, t.red);
}
