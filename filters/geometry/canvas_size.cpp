// Canvas size: the picture keeps its pixels and is placed at one of nine anchors on a new canvas;
// added area takes the background colour, area that no longer fits is cut off.
#include "core/image_processor.h"
#include "core/parallel.h"
#include "filters/geometry/geometry_internal.h"

#include <algorithm>
#include <cstring>

using orvex_geometry::FillBackground;
using orvex_geometry::HasPixels;
using orvex_geometry::Row;

namespace {

// Where the picture's top-left corner lands for an anchor; false for an unknown anchor, which
// places nothing. Halves round toward zero, as integer division does.
bool AnchorOrigin(char anchor, int dx, int dy, int& x, int& y)
{
    switch (anchor) {
    case 'w': x = 0; y = 0; return true;
    case 'N': x = dx / 2; y = 0; return true;
    case 'n': x = dx; y = 0; return true;
    case 'W': x = 0; y = dy / 2; return true;
    case 'C': x = dx / 2; y = dy / 2; return true;
    case 'E': x = dx; y = dy / 2; return true;
    case 's': x = 0; y = dy; return true;
    case 'S': x = dx / 2; y = dy; return true;
    case 'e': x = dx; y = dy; return true;
    default: return false;
    }
}

} // namespace

void CImageProcessor::CanvasSize(int newWidth, int newHeight, char anchor)
{
    CImage& picture = *image();
    if (!HasPixels(picture) || newWidth < 1 || newHeight < 1) return;
    // Every byte of the canvas is written below, so it need not arrive black.
    CImage canvas;
    if (!canvas.CreateForOverwrite(newWidth, newHeight, 24)) {
        ReportFailure();
        return;
    }
    const int w = picture.width();
    const int h = picture.height();
    int x = 0, y = 0;
    const bool places = AnchorOrigin(anchor, newWidth - w, newHeight - h, x, y);
    const bool grows = newWidth > w || newHeight > h;

    // The part of the canvas the picture covers, and where in the picture it starts.
    const int left = places ? std::max(0, x) : 0;
    const int right = places ? std::min(newWidth, x + w) : 0;
    const int top = places ? std::max(0, y) : 0;
    const int bottom = places ? std::min(newHeight, y + h) : 0;
    const bool covers = left < right && top < bottom;

    const std::size_t padding = canvas.rowBytes() - 3 * static_cast<std::size_t>(newWidth);
    // Only a larger canvas takes the background colour; uncovered parts of a smaller one are black.
    const auto fill = [grows](std::uint8_t* out, int count) {
        if (grows) FillBackground(out, count);
        else std::memset(out, 0, 3 * static_cast<std::size_t>(count));
    };
    ParallelFor(0, newHeight, [&](int begin, int end) {
        for (int row = begin; row < end; ++row) {
            std::uint8_t* out = Row(canvas, row);
            std::memset(out + 3 * static_cast<std::size_t>(newWidth), 0, padding);
            if (!covers || row < top || row >= bottom) {
                fill(out, newWidth);
                continue;
            }
            fill(out, left);
            fill(out + 3 * right, newWidth - right);
            std::memcpy(out + 3 * left, Row(picture, row - y) + 3 * (left - x), 3 * static_cast<std::size_t>(right - left));
        }
    });
    picture = std::move(canvas);
}
