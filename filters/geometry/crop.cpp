#include "filters/geometry/crop.h"

#include "core/image_processor.h"
#include "core/parallel.h"
#include "filters/geometry/geometry_internal.h"

#include <algorithm>
#include <cstring>

using orvex_geometry::Row;

CRegion CropRectangle(int pictureWidth, int pictureHeight, long long x, long long y, long long width, long long height)
{
    // In 64 bits: a corner far outside the picture plus a large side must not wrap around into it.
    const long long left = std::max(0LL, x);
    const long long top = std::max(0LL, y);
    const long long right = std::min<long long>(pictureWidth, width > 0 ? x + width : x);
    const long long bottom = std::min<long long>(pictureHeight, height > 0 ? y + height : y);
    if (left >= right || top >= bottom) return {};
    return {static_cast<int>(left), static_cast<int>(top), static_cast<int>(right - left),
            static_cast<int>(bottom - top)};
}

bool Crop(CImageProcessor& engine, long long x, long long y, long long width, long long height)
{
    CImage& picture = *engine.image();
    if (picture.IsNull() || picture.bitsPerPixel() % 8 != 0) return false;
    const CRegion kept = CropRectangle(picture.width(), picture.height(), x, y, width, height);
    if (kept.IsEmpty()) return false;
    if (kept.width == picture.width() && kept.height == picture.height()) return true;

    CImage result;
    if (!result.CreateForOverwrite(kept.width, kept.height, picture.bitsPerPixel())) {
        engine.ReportFailure();
        return false;
    }
    const std::size_t pixelBytes = static_cast<std::size_t>(picture.bitsPerPixel() / 8);
    const std::size_t bytes = pixelBytes * static_cast<std::size_t>(kept.width);
    const std::size_t padding = result.rowBytes() - bytes;
    const std::size_t skip = pixelBytes * static_cast<std::size_t>(kept.x);
    ParallelFor(0, kept.height, [&](int begin, int end) {
        for (int row = begin; row < end; ++row) {
            std::uint8_t* out = Row(result, row);
            std::memcpy(out, Row(picture, kept.y + row) + skip, bytes);
            std::memset(out + bytes, 0, padding);
        }
    });
    picture = std::move(result);
    return true;
}
