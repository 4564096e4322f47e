#pragma once

// Pieces shared by the convolution operations; not part of the engine's interface.

#include "core/image.h"
#include "core/image_processor.h"
#include "core/parallel.h"
#include "filters/convolution/fft_plans.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <vector>

namespace orvex_convolution {

// Blurs `picture` as GaussianBlur does (whatever picture that is: Unsharp Mask and High Pass blur a
// copy). The radius must already be within (0, 250]. False when memory or an FFT plan could not be
// had; the picture is then unchanged.
bool BlurPicture(const CImageProcessor& engine, CImage& picture, float radius, bool gaussian);

// Lens blur of a disc small enough to sum directly (exact, and faster than the transforms).
bool DirectLensWorthIt(int width, int height, float radius);
bool DirectLens(const CImageProcessor& engine, CImage& picture, float radius);

// The 3 x 3 paths of the blurs: interior pixels become the low 8 bits of the truncated weighted sum
// of their 3 x 3 neighbourhood, k[a + 1][b + 1] weighting column offset a and row offset b. The sum
// is defined in extended precision, a outer and b inner; it is evaluated in single precision first
// and again exactly wherever the single-precision sum lies too near an integer to decide the
// truncation. Shows the " Gaussian blur:" bar, one step per column. False, with the picture
// untouched, when its scratch cannot be allocated.
bool Convolve3x3(const CImageProcessor& engine, CImage& picture, const double (&k)[3][3]);

// Runs fn(y, above, here, below, out) for every interior row y = 1 .. H - 2 of the picture, where
// above/here/below are the unmodified rows y - 1, y, y + 1 (3 * W bytes each) and out is row y of
// the picture itself, which fn overwrites. Rows are shared out over the cores; the input rows are
// kept aside only as far as needed (a few rows per core, never a copy of the picture).
// `progress(fraction)` is called on the calling thread between runs of rows. False, with the
// picture untouched, when the kept rows cannot be allocated.
template <class RowFn>
bool ForEachInteriorRow(CImage& picture, const RowFn& fn, const std::function<void(double)>& progress = {})
{
    const int height = picture.height();
    if (height < 3 || picture.width() < 1) return true;
    const std::size_t rowBytes = static_cast<std::size_t>(picture.width()) * 3;
    std::uint8_t* const top = picture.bits();
    const int pitch = picture.pitch();
    const auto row = [&](int y) { return top + static_cast<std::ptrdiff_t>(y) * pitch; };

    const int parts = ParallelThreadCount();
    const int interior = height - 2;
    const int chunks = std::max(1, std::min(16, interior / std::max(1, 4 * parts)));
    // Per part: the row above its run, the row below it, and two rolling copies.
    const auto keep = orvex_fft::AllocateArray<std::uint8_t>(rowBytes * 4 * static_cast<std::size_t>(parts));
    const auto carry = orvex_fft::AllocateArray<std::uint8_t>(rowBytes); // unmodified row above the chunk
    if (!keep || !carry) return false;
    std::memcpy(carry.get(), row(0), rowBytes);
    const auto slot = [&](int part, int which) { return keep.get() + rowBytes * (4 * static_cast<std::size_t>(part) + which); };

    for (int chunk = 0; chunk < chunks; ++chunk) {
        const int first = 1 + static_cast<int>(static_cast<long long>(interior) * chunk / chunks);
        const int end = 1 + static_cast<int>(static_cast<long long>(interior) * (chunk + 1) / chunks);
        const auto bound = [&](int part) { return first + static_cast<int>(static_cast<long long>(end - first) * part / parts); };
        for (int part = 0; part < parts; ++part) {
            const int y0 = bound(part);
            const int y1 = bound(part + 1);
            if (y0 >= y1) continue;
            std::memcpy(slot(part, 0), part == 0 ? carry.get() : row(y0 - 1), rowBytes);
            std::memcpy(slot(part, 1), row(y1), rowBytes);
        }
        std::memcpy(carry.get(), row(end - 1), rowBytes);
        ParallelFor(0, parts, [&](int p0, int p1) {
            for (int part = p0; part < p1; ++part) {
                const int y0 = bound(part);
                const int y1 = bound(part + 1);
                if (y0 >= y1) continue;
                std::uint8_t* previous = slot(part, 2);
                std::uint8_t* current = slot(part, 3);
                std::memcpy(previous, slot(part, 0), rowBytes);
                std::memcpy(current, row(y0), rowBytes);
                for (int y = y0; y < y1; ++y) {
                    const std::uint8_t* below = y + 1 < y1 ? row(y + 1) : slot(part, 1);
                    fn(y, previous, current, below, row(y));
                    std::swap(previous, current);
                    if (y + 1 < y1) std::memcpy(current, row(y + 1), rowBytes);
                }
            }
        });
        if (progress) progress(static_cast<double>(chunk + 1) / chunks);
    }
    return true;
}

} // namespace orvex_convolution

namespace orvex_testing {
// Makes the direct lens blur use the summing code for an instruction set (0 plain, 1 AVX2,
// 2 AVX-512) for discs of any radius that fit, or the processor's own choice again (-1). False if
// the processor lacks that instruction set.
bool UseLensKernel(int level);
} // namespace orvex_testing
