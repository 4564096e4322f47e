#include "io/bmp_decoder.h"

#include "core/parallel.h"
#include "io/file_guards.h"

#include <cstring>

namespace {

std::uint32_t U32(const std::uint8_t* p)
{
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}

std::uint16_t U16(const std::uint8_t* p)
{
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

} // namespace

DirectResult DecodeBmpDirect(const std::uint8_t* data, std::size_t size, CImage& picture, std::string* reason)
{
    if (size < 54 || data[0] != 'B' || data[1] != 'M') return DirectResult::NotHandled;
    const std::uint32_t offset = U32(data + 10);
    const std::uint32_t headerSize = U32(data + 14);
    if (headerSize < 40 || headerSize > 124) return DirectResult::NotHandled;
    const auto width = static_cast<std::int32_t>(U32(data + 18));
    const auto height = static_cast<std::int32_t>(U32(data + 22));
    // Top-down files (negative height) and anything but plain 24-bit rows go the general way.
    if (U16(data + 26) != 1 || U16(data + 28) != 24 || U32(data + 30) != 0 || width <= 0 || height <= 0)
        return DirectResult::NotHandled;
    const std::int64_t pixels = std::int64_t(width) * height;
    if (pixels > CImage::kMaxPixels) {
        if (reason) *reason = "the picture is too large";
        return DirectResult::Refused;
    }
    const std::int64_t stride = CImage::StrideFor(width, 24);
    // A short pixel array (truncated file) is the general reader's to judge.
    if (stride == 0 || offset < 14 + headerSize || std::int64_t(offset) + stride * height > std::int64_t(size))
        return DirectResult::NotHandled;
    if (ImplausiblyDense(pixels, static_cast<std::int64_t>(size))) return DirectResult::NotHandled;

    CImage decoded;
    if (!decoded.Create(width, height, 24)) {
        if (reason) *reason = "not enough memory";
        return DirectResult::Refused;
    }
    // File row r (from the bottom) is picture row height - 1 - r.
    const std::uint8_t* rows = data + offset;
    std::uint8_t* top = decoded.bits();
    const int pitch = decoded.pitch();
    ParallelFor(0, height, [&](int y0, int y1) {
        for (int y = y0; y < y1; ++y)
            std::memcpy(top + std::ptrdiff_t(y) * pitch, rows + std::ptrdiff_t(height - 1 - y) * stride, std::size_t(width) * 3);
    });
    picture = std::move(decoded);
    return DirectResult::Decoded;
}
