#pragma once

// Shared plumbing of the tonal and colour operations: most of them reduce to a table of 256 output
// bytes per channel, applied to every pixel on all cores.
#include "core/image.h"
#include "core/parallel.h"

#include <cstddef>
#include <cstdint>

namespace orvex_colour {

// Only 24-bit pictures with pixels are worked on; anything else is left as it is.
inline bool HasPixels(const CImage& picture)
{
    return !picture.IsNull() && picture.bitsPerPixel() == 24 && picture.width() > 0 && picture.height() > 0;
}

// Runs `body(sourceRow, targetRow, width)` for every row, rows spread over the cores. `target` has
// the picture's layout (the picture itself or the preview's work image); the rows are independent,
// so the order in which blocks run does not show in the result.
template <class Body>
void ForEachRow(const CImage& picture, std::uint8_t* target, const Body& body)
{
    const std::uint8_t* const sourceTop = picture.bits();
    const std::ptrdiff_t pitch = picture.pitch();
    const int width = picture.width();
    ParallelFor(0, picture.height(), [&](int y0, int y1) {
        for (int y = y0; y < y1; ++y) body(sourceTop + y * pitch, target + y * pitch, width);
    });
}

// Every channel byte v of the picture becomes table[v] in `target`.
void ApplyTable(const CImage& picture, std::uint8_t* target, const std::uint8_t* table);

// Blue bytes go through `blue`, green through `green`, red through `red`.
void ApplyChannelTables(const CImage& picture, std::uint8_t* target, const std::uint8_t* blue,
                        const std::uint8_t* green, const std::uint8_t* red);

// Copies the picture's rows into `target` (same layout).
void CopyPixels(const CImage& picture, std::uint8_t* target);

// Adds the blue, green and red bytes of a row of `width` pixels to sums[0], sums[1], sums[2].
// Exact for any width an int can hold (a picture may be one very long row).
void AddRowChannelSums(const std::uint8_t* row, std::int64_t width, long long (&sums)[3]);

// The row kernels behind ApplyTable and ApplyChannelTables. `source` and `target` may be the same
// row. The plain ones run anywhere; the wide ones need AVX-512 (BW, VBMI) and are used whenever
// the processor has it. Exposed so that the tests can hold both to the same results.
struct CTableKernels
{
    void (*table)(const std::uint8_t* source, std::uint8_t* target, int bytes, const std::uint8_t* table);
    void (*channels)(const std::uint8_t* source, std::uint8_t* target, int width, const std::uint8_t* blue,
                     const std::uint8_t* green, const std::uint8_t* red);
};
const CTableKernels& PlainTableKernels();
// Null when this processor (or this build) has no wide kernels.
const CTableKernels* WideTableKernels();

} // namespace orvex_colour
