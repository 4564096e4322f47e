// Mosaic: every pixel takes the colour of the top-left pixel of its square cell.
#include "core/image_processor.h"
#include "core/parallel.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

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
    const auto rowOf = [&](std::uint8_t* bits, int y) { return bits + static_cast<std::ptrdiff_t>(y) * pitch; };

    if (cellSize == 1) {
        // The work image has the picture's layout, so both are one block from the bottom row up.
        if (!inPlace)
            ParallelCopy(rowOf(target, height - 1), source + static_cast<std::ptrdiff_t>(height - 1) * pitch,
                         picture.bufferBytes());
        return;
    }

    // All rows of a band of cells are the same: each part builds the band's row once and copies it.
    const int parts = ParallelThreadCount();
    std::vector<std::vector<std::uint8_t>> bandRows;
    try {
        bandRows.assign(static_cast<std::size_t>(parts), std::vector<std::uint8_t>(rowBytes));
    } catch (const std::bad_alloc&) {
        ReportFailure();
        return;
    }
    ParallelFor(0, parts, [&](int p0, int p1) {
        for (int part = p0; part < p1; ++part) {
            const int y0 = static_cast<int>(static_cast<long long>(height) * part / parts);
            const int y1 = static_cast<int>(static_cast<long long>(height) * (part + 1) / parts);
            std::uint8_t* const band = bandRows[static_cast<std::size_t>(part)].data();
            int builtFor = -1;
            for (int y = y0; y < y1; ++y) {
                const int top = y / cellSize * cellSize;
                if (top != builtFor) {
                    // Only the cells' top-left pixels of the band's top row are read. Working in
                    // place, no part ever writes them (they would be copied onto themselves), so
                    // parts can share a band.
                    const std::uint8_t* const from = source + static_cast<std::ptrdiff_t>(top) * pitch;
                    for (int left = 0; left < width; left += cellSize) {
                        const int end = std::min(left + cellSize, width);
                        for (int x = left; x < end; ++x) std::memcpy(band + 3 * x, from + 3 * left, 3);
                    }
                    builtFor = top;
                }
                std::uint8_t* const to = rowOf(target, y);
                if (!inPlace || y != top) {
                    std::memcpy(to, band, rowBytes);
                    continue;
                }
                for (int left = 0; left < width; left += cellSize) {
                    const int end = std::min(left + cellSize, width);
                    std::memcpy(to + 3 * (left + 1), band + 3 * (left + 1), 3 * static_cast<std::size_t>(std::max(0, end - left - 1)));
                }
            }
        }
    });
}
