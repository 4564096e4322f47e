// Point operations: each output byte depends only on the input byte at the same place.
#include "core/image_processor.h"
#include "core/parallel.h"

#include <cstdint>

void CImageProcessor::Invert()
{
    CImage& picture = *image();
    if (picture.IsNull()) return;
    const int rowBytes = picture.width() * 3;
    std::uint8_t* const top = picture.bits();
    const int pitch = picture.pitch();
    ParallelFor(0, picture.height(), [&](int y0, int y1) {
        for (int y = y0; y < y1; ++y) {
            std::uint8_t* row = top + static_cast<std::ptrdiff_t>(y) * pitch;
            for (int i = 0; i < rowBytes; ++i) row[i] = static_cast<std::uint8_t>(~row[i]);
        }
    });
}
