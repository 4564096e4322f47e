// Mosaic: every pixel takes the colour of the top-left pixel of its square cell.
#include "core/image_processor.h"
#include "core/parallel.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

void CImageProcessor::Mosaic(int cellSize)
{
    CImage& picture = *image();
    if (picture.IsNull() || picture.width() < 1 || picture.height() < 1) return;
    std::uint8_t* const target = OutputBits();
    if (!target) return;
    // A size below 1 has no cells; 1 is the identity, which the preview still has to copy.
    cellSize = std::max(cellSize, 1);

    const int width = picture.width();
    const int height = picture.height();
    const std::uint8_t* const source = picture.bits();
    const std::ptrdiff_t pitch = picture.pitch();
    const bool inPlace = target == source;
    const std::size_t rowBytes = static_cast<std::size_t>(width) * 3;

    // Rows may be shared out in any order: a cell's colour sits in its top-left pixel, which no
    // row ever writes when working in place (it would copy the pixel onto itself).
    ParallelFor(0, height, [&](int y0, int y1) {
        for (int y = y0; y < y1; ++y) {
            const int top = y / cellSize * cellSize;
            const std::uint8_t* const from = source + static_cast<std::ptrdiff_t>(top) * pitch;
            std::uint8_t* const to = target + static_cast<std::ptrdiff_t>(y) * pitch;
            if (cellSize == 1) {
                if (!inPlace) std::memcpy(to, from, rowBytes);
                continue;
            }
            const bool cornerRow = inPlace && top == y;
            for (int left = 0; left < width; left += cellSize) {
                const std::uint8_t b = from[3 * left];
                const std::uint8_t g = from[3 * left + 1];
                const std::uint8_t r = from[3 * left + 2];
                const int end = std::min(left + cellSize, width);
                for (int x = cornerRow ? left + 1 : left; x < end; ++x) {
                    to[3 * x] = b;
                    to[3 * x + 1] = g;
                    to[3 * x + 2] = r;
                }
            }
        }
    });
}
