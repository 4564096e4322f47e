#include "io/bmp_decoder.h"

#include "core/parallel.h"
#include "io/file_guards.h"

#include <algorithm>
#include <array>
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

constexpr std::uint32_t kRgb = 0, kRle8 = 1, kRle4 = 2;

struct CBmpLayout
{
    int width = 0;
    int height = 0;
    bool topDown = false;
    int bits = 0;
    std::uint32_t compression = kRgb;
    std::uint32_t offset = 0;
    std::size_t paletteAt = 0;
    int entryBytes = 4;
    std::uint32_t colorsUsed = 0;
};

// Blue, green, red for every possible index; indices the file gives no entry for stay black.
using CPalette = std::array<std::array<std::uint8_t, 3>, 256>;

bool ReadLayout(const std::uint8_t* data, std::size_t size, CBmpLayout& layout)
{
    if (size < 26 || data[0] != 'B' || data[1] != 'M') return false;
    layout.offset = U32(data + 10);
    const std::uint32_t headerSize = U32(data + 14);
    std::int64_t width = 0, height = 0;
    if (headerSize == 12) {
        // OS/2 core header: signed 16-bit sizes, always bottom-up, never compressed.
        width = static_cast<std::int16_t>(U16(data + 18));
        height = static_cast<std::int16_t>(U16(data + 20));
        if (U16(data + 22) != 1) return false;
        layout.bits = U16(data + 24);
        layout.entryBytes = 3;
        if (height <= 0) return false;
    } else if (headerSize >= 40 && headerSize <= 124) {
        if (size < 54 || U16(data + 26) != 1) return false;
        width = static_cast<std::int32_t>(U32(data + 18));
        height = static_cast<std::int32_t>(U32(data + 22));
        layout.bits = U16(data + 28);
        layout.compression = U32(data + 30);
        layout.colorsUsed = U32(data + 46);
    } else {
        return false;
    }
    layout.paletteAt = 14 + std::size_t(headerSize);
    if (width <= 0 || height == 0 || layout.offset < layout.paletteAt) return false;
    layout.topDown = height < 0;
    if (layout.topDown) height = -height;
    layout.width = static_cast<int>(width);
    layout.height = static_cast<int>(height);
    switch (layout.bits) {
    case 24: return layout.compression == kRgb && !layout.topDown;
    case 1: return layout.compression == kRgb;
    case 4: return layout.compression == kRgb || (layout.compression == kRle4 && !layout.topDown);
    case 8: return layout.compression == kRgb || (layout.compression == kRle8 && !layout.topDown);
    default: return false;
    }
}

CPalette ReadPalette(const std::uint8_t* data, std::size_t size, const CBmpLayout& layout)
{
    CPalette palette{};
    const std::size_t limit = std::size_t(1) << layout.bits;
    std::size_t count = layout.colorsUsed != 0 ? std::min<std::size_t>(layout.colorsUsed, limit) : limit;
    // The table may not reach into the pixel data nor past the end of the file.
    const std::size_t end = std::min<std::size_t>(layout.offset, size);
    count = std::min(count, end > layout.paletteAt ? (end - layout.paletteAt) / std::size_t(layout.entryBytes) : 0);
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t* entry = data + layout.paletteAt + i * std::size_t(layout.entryBytes);
        palette[i] = {entry[0], entry[1], entry[2]};
    }
    return palette;
}

void Put(std::uint8_t* row, int x, const CPalette& palette, unsigned index)
{
    std::memcpy(row + 3 * std::ptrdiff_t(x), palette[index].data(), 3);
}

// Uncompressed paletted rows; a row the file stops short of keeps the pixels it holds.
void DecodeIndexedRows(const std::uint8_t* data, std::size_t size, const CBmpLayout& layout, const CPalette& palette,
                       CImage& picture)
{
    const std::int64_t stride = (std::int64_t(layout.width) * layout.bits + 31) / 32 * 4;
    const std::int64_t available = size > layout.offset ? std::int64_t(size - layout.offset) : 0;
    const std::uint8_t* rows = data + layout.offset;
    std::uint8_t* top = picture.bits();
    const int pitch = picture.pitch();
    const int bits = layout.bits;
    const unsigned mask = (1u << bits) - 1;
    ParallelFor(0, layout.height, [&](int r0, int r1) {
        for (int r = r0; r < r1; ++r) {
            const std::int64_t start = std::int64_t(r) * stride;
            if (start >= available) break;
            const std::int64_t bytes = std::min(stride, available - start);
            const int count = static_cast<int>(std::min<std::int64_t>(layout.width, bytes * 8 / bits));
            const std::uint8_t* src = rows + start;
            std::uint8_t* row = top + std::ptrdiff_t(layout.topDown ? r : layout.height - 1 - r) * pitch;
            if (bits == 8) {
                for (int x = 0; x < count; ++x) Put(row, x, palette, src[x]);
            } else {
                // Pixels are packed from the most significant bits of each byte.
                for (int x = 0; x < count; ++x) {
                    const int bit = x * bits;
                    Put(row, x, palette, (src[bit >> 3] >> (8 - bits - (bit & 7))) & mask);
                }
            }
        }
    });
}

// Run-length data, painted over black. Runs that overrun their row are clipped; a position moved
// past the top row (by line ends or a delta) ends the picture, as does the end of the data.
void DecodeRunLength(const std::uint8_t* data, std::size_t size, const CBmpLayout& layout, const CPalette& palette,
                     CImage& picture)
{
    const bool four = layout.compression == kRle4;
    const int width = layout.width, height = layout.height;
    std::uint8_t* top = picture.bits();
    const int pitch = picture.pitch();
    std::int64_t x = 0;
    int y = 0; // counted from the bottom row
    const auto rowAt = [&](int fromBottom) { return top + std::ptrdiff_t(height - 1 - fromBottom) * pitch; };
    std::size_t pos = layout.offset;
    while (size >= 2 && pos <= size - 2 && y < height) {
        const unsigned count = data[pos], value = data[pos + 1];
        pos += 2;
        if (count > 0) {
            std::uint8_t* row = rowAt(y);
            const std::int64_t end = std::min<std::int64_t>(x + count, width);
            for (std::int64_t i = 0; x + i < end; ++i)
                Put(row, static_cast<int>(x + i), palette, four ? ((i & 1) ? value & 15u : value >> 4) : value);
            x += count;
        } else if (value == 0) {
            x = 0;
            ++y;
        } else if (value == 1) {
            break;
        } else if (value == 2) {
            if (size - pos < 2) break;
            x += data[pos];
            y += data[pos + 1];
            pos += 2;
        } else {
            const std::size_t bytes = four ? (value + 1) / 2 : value;
            const std::size_t present = std::min(bytes, size - pos);
            std::uint8_t* row = rowAt(y);
            for (std::size_t i = 0; i < value; ++i) {
                if (x + std::int64_t(i) >= width || (four ? i / 2 : i) >= present) break;
                const unsigned byte = data[pos + (four ? i / 2 : i)];
                Put(row, static_cast<int>(x + std::int64_t(i)), palette,
                    four ? ((i & 1) ? byte & 15u : byte >> 4) : byte);
            }
            x += value;
            pos += std::min(bytes + (bytes & 1), size - pos);
        }
    }
}

} // namespace

DirectResult DecodeBmpDirect(const std::uint8_t* data, std::size_t size, CImage& picture, std::string* reason)
{
    CBmpLayout layout;
    if (!ReadLayout(data, size, layout)) return DirectResult::NotHandled;
    const int width = layout.width, height = layout.height;
    const std::int64_t pixels = std::int64_t(width) * height;
    if (pixels > CImage::kMaxPixels) {
        if (reason) *reason = "the picture is too large";
        return DirectResult::Refused;
    }
    if (ImplausiblyDense(pixels, static_cast<std::int64_t>(size))) return DirectResult::NotHandled;
    const std::int64_t stride = CImage::StrideFor(width, 24);
    // A short 24-bit pixel array (truncated file) is the general reader's to judge.
    if (layout.bits == 24 && (stride == 0 || std::int64_t(layout.offset) + stride * height > std::int64_t(size)))
        return DirectResult::NotHandled;

    CImage decoded;
    if (!decoded.Create(width, height, 24)) {
        if (reason) *reason = "not enough memory";
        return DirectResult::Refused;
    }
    if (layout.bits == 24) {
        // File row r (from the bottom) is picture row height - 1 - r.
        const std::uint8_t* rows = data + layout.offset;
        std::uint8_t* top = decoded.bits();
        const int pitch = decoded.pitch();
        ParallelFor(0, height, [&](int y0, int y1) {
            for (int y = y0; y < y1; ++y)
                std::memcpy(top + std::ptrdiff_t(y) * pitch, rows + std::ptrdiff_t(height - 1 - y) * stride,
                            std::size_t(width) * 3);
        });
    } else {
        const CPalette palette = ReadPalette(data, size, layout);
        if (layout.compression == kRgb) DecodeIndexedRows(data, size, layout, palette, decoded);
        else DecodeRunLength(data, size, layout, palette, decoded);
    }
    picture = std::move(decoded);
    return DirectResult::Decoded;
}
