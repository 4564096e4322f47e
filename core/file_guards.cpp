#include "core/file_guards.h"

#include <zlib.h>

#include <cstring>

namespace {

std::uint32_t ReadBE32(const std::uint8_t* p)
{
    return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) | p[3];
}

int ReadLE16(const std::uint8_t* p)
{
    return p[0] | (p[1] << 8);
}

bool Fail(QString* reason, const char* text)
{
    if (reason) *reason = QString::fromLatin1(text);
    return false;
}

} // namespace

bool CheckPngStructure(const std::uint8_t* data, std::size_t size, int* width, int* height, QString* reason)
{
    static const std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (size < 8 || std::memcmp(data, kSignature, 8) != 0) return Fail(reason, "not a PNG file");

    std::size_t pos = 8;
    bool first = true;
    bool sawData = false;
    while (true) {
        if (size - pos < 12) return Fail(reason, "the file is truncated (no end chunk)");
        const std::uint32_t length = ReadBE32(data + pos);
        const std::uint8_t* type = data + pos + 4;
        if (length > 0x7FFFFFFFu || length > size - pos - 12)
            return Fail(reason, "a chunk extends past the end of the file (truncated or corrupt)");
        const bool critical = (type[0] & 0x20) == 0;
        if (critical) {
            const std::uint32_t stored = ReadBE32(data + pos + 8 + length);
            const auto crc = static_cast<std::uint32_t>(crc32(crc32(0L, Z_NULL, 0), type, length + 4));
            if (crc != stored) return Fail(reason, "checksum mismatch in a critical chunk");
        }
        if (first) {
            if (std::memcmp(type, "IHDR", 4) != 0 || length != 13) return Fail(reason, "the header chunk is missing");
            const std::uint32_t w = ReadBE32(type + 4);
            const std::uint32_t h = ReadBE32(type + 8);
            if (w == 0 || h == 0 || w > 0x7FFFFFFFu || h > 0x7FFFFFFFu) return Fail(reason, "invalid picture size");
            if (width) *width = static_cast<int>(w);
            if (height) *height = static_cast<int>(h);
            first = false;
        } else if (std::memcmp(type, "IDAT", 4) == 0) {
            sawData = true;
        } else if (std::memcmp(type, "IEND", 4) == 0) {
            if (!sawData) return Fail(reason, "the file has no image data");
            return true;
        }
        pos += 12 + std::size_t(length);
    }
}

bool GifBackgroundOnly(const std::uint8_t* data, std::size_t size, int* width, int* height)
{
    if (size < 13 || (std::memcmp(data, "GIF87a", 6) != 0 && std::memcmp(data, "GIF89a", 6) != 0)) return false;
    const int w = ReadLE16(data + 6);
    const int h = ReadLE16(data + 8);
    if (w <= 0 || h <= 0) return false;
    std::size_t pos = 13;
    if (data[10] & 0x80) pos += 3u * (2u << (data[10] & 7));

    // Stop at the trailer, at the end of the data, or at a frame without pixels (after which such
    // files hold nothing more a decoder could use). Any frame with pixels means a real picture.
    while (pos < size && data[pos] != 0x3B) {
        if (data[pos] == 0x21) { // extension: label, then sub-blocks up to a zero length
            pos += 2;
            while (pos < size && data[pos] != 0) pos += 1u + data[pos];
            ++pos;
        } else if (data[pos] == 0x2C) {
            if (size - pos < 10) break;
            if (ReadLE16(data + pos + 5) > 0 && ReadLE16(data + pos + 7) > 0) return false;
            break;
        } else {
            return false;
        }
    }
    if (width) *width = w;
    if (height) *height = h;
    return true;
}

bool ImplausiblyDense(std::int64_t pixels, std::int64_t fileBytes)
{
    constexpr std::int64_t kAlwaysPlausible = std::int64_t(1) << 24; // up to 16 Mpixel, decode and see
    constexpr std::int64_t kMaxPixelsPerByte = 10000;
    return pixels > kAlwaysPlausible && pixels / kMaxPixelsPerByte > fileBytes;
}
