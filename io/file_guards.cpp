#include "io/file_guards.h"

#include "core/image.h"

#include <zlib.h>

#include <algorithm>
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

std::uint32_t ReadLE32(const std::uint8_t* p)
{
    return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) | (std::uint32_t(p[3]) << 24);
}

bool StartsWith(const std::uint8_t* data, std::size_t size, const char* magic, std::size_t length)
{
    return size >= length && std::memcmp(data, magic, length) == 0;
}

bool IsPng(const std::uint8_t* d, std::size_t n) { return StartsWith(d, n, "\x89PNG", 4); }
bool IsJpeg(const std::uint8_t* d, std::size_t n) { return StartsWith(d, n, "\xFF\xD8\xFF", 3); }
bool IsGif(const std::uint8_t* d, std::size_t n) { return StartsWith(d, n, "GIF87a", 6) || StartsWith(d, n, "GIF89a", 6); }
bool IsBmp(const std::uint8_t* d, std::size_t n) { return StartsWith(d, n, "BM", 2); }
bool IsTiff(const std::uint8_t* d, std::size_t n) { return StartsWith(d, n, "II*\0", 4) || StartsWith(d, n, "MM\0*", 4); }
bool IsWebp(const std::uint8_t* d, std::size_t n) { return n >= 12 && StartsWith(d, n, "RIFF", 4) && std::memcmp(d + 8, "WEBP", 4) == 0; }

struct CDecoderKind
{
    const char* format;
    bool (*matches)(const std::uint8_t*, std::size_t);
};

const CDecoderKind kDecoders[] = {
    {"jpeg", IsJpeg},
    {"png", IsPng},
    {"bmp", IsBmp},
    {"gif", IsGif},
    {"tiff", IsTiff},
    {"webp", IsWebp},
};

bool Fail(QString* reason, const char* text)
{
    if (reason) *reason = QString::fromLatin1(text);
    return false;
}

bool Truncated(QString* reason)
{
    return Fail(reason, "the file is truncated (its picture data ends early)");
}

std::int64_t ReadLE24(const std::uint8_t* p)
{
    return std::int64_t(p[0]) | (std::int64_t(p[1]) << 8) | (std::int64_t(p[2]) << 16);
}

} // namespace

const char* DetectPictureFormat(const std::uint8_t* data, std::size_t size)
{
    for (const CDecoderKind& kind : kDecoders)
        if (kind.matches(data, size)) return kind.format;
    return nullptr;
}

std::string DeclaredSizeProblem(std::int64_t width, std::int64_t height, std::int64_t fileBytes)
{
    const std::string size = std::to_string(width) + " x " + std::to_string(height);
    if (width <= 0 || height <= 0) return "the file claims an invalid picture size (" + size + ")";
    if (width > CImage::kMaxPixels || height > CImage::kMaxPixels || width * height > CImage::kMaxPixels)
        return "the picture is too large (" + size + " pixels)";
    if (ImplausiblyDense(width * height, fileBytes)) return "the file is too small for the " + size + " pixels it claims";
    return {};
}

bool CheckDeclaredSize(std::int64_t width, std::int64_t height, std::int64_t fileBytes, QString* reason)
{
    const std::string problem = DeclaredSizeProblem(width, height, fileBytes);
    if (problem.empty()) return true;
    if (reason) *reason = QString::fromStdString(problem);
    return false;
}

bool CheckPngStructure(const std::uint8_t* data, std::size_t size, int* width, int* height, QString* reason,
                       bool imageDataChecksums)
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
        if (critical && (imageDataChecksums || std::memcmp(type, "IDAT", 4) != 0)) {
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

bool PngImageDataChecksumsMatch(const std::uint8_t* data, std::size_t size, QString* reason)
{
    // The chunks' bounds were checked by the structure walk; they are checked again all the same,
    // so that this stays safe on any input.
    std::size_t pos = 8;
    while (size >= pos && size - pos >= 12) {
        const std::uint32_t length = ReadBE32(data + pos);
        const std::uint8_t* type = data + pos + 4;
        if (length > 0x7FFFFFFFu || length > size - pos - 12) return true;
        if (std::memcmp(type, "IDAT", 4) == 0) {
            const auto crc = static_cast<std::uint32_t>(crc32(crc32(0L, Z_NULL, 0), type, length + 4));
            if (crc != ReadBE32(data + pos + 8 + length)) return Fail(reason, "checksum mismatch in a critical chunk");
        } else if (std::memcmp(type, "IEND", 4) == 0) {
            return true;
        }
        pos += 12 + std::size_t(length);
    }
    return true;
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

bool CheckBmpStructure(const std::uint8_t* data, std::size_t size, QString* reason)
{
    if (size < 14 + 12 || !IsBmp(data, size)) return Fail(reason, "the file is truncated (incomplete BMP header)");
    const std::uint32_t offset = ReadLE32(data + 10);
    const std::uint32_t header = ReadLE32(data + 14);
    std::int64_t width = 0, height = 0;
    unsigned bitCount = 0, compression = 0;
    if (header == 12) { // OS/2 1.x: 16-bit sizes, always bottom-up
        width = ReadLE16(data + 18);
        height = ReadLE16(data + 20);
        bitCount = static_cast<unsigned>(ReadLE16(data + 24));
    } else if (header >= 16 && header <= 0x10000) {
        if (size < 14 + std::min<std::size_t>(header, 40)) return Fail(reason, "the file is truncated (incomplete BMP header)");
        width = static_cast<std::int32_t>(ReadLE32(data + 18));
        height = static_cast<std::int32_t>(ReadLE32(data + 22)); // negative: rows stored top-down
        bitCount = static_cast<unsigned>(ReadLE16(data + 28));
        if (header >= 20) compression = ReadLE32(data + 30);
    } else {
        return Fail(reason, "the BMP header has an unknown size");
    }
    if (height < 0) height = -height;
    if (!CheckDeclaredSize(width, height, static_cast<std::int64_t>(size), reason)) return false;
    if (offset > size) return Truncated(reason);

    // OS/2 2.x headers number their compressions differently (3 is Huffman, 4 is RLE24): only
    // layouts whose data length follows from the header are checked here.
    const bool os2v2 = header == 16 || header == 64;
    const std::size_t available = size - offset;
    const bool uncompressed = compression == 0 || compression == 6 || (compression == 3 && !os2v2);
    if (uncompressed && bitCount >= 1 && bitCount <= 64) {
        const std::int64_t rowBytes = (width * bitCount + 31) / 32 * 4;
        if (rowBytes > static_cast<std::int64_t>(available) / height) return Truncated(reason);
    } else if ((compression == 1 && bitCount == 8) || (compression == 2 && bitCount == 4)) {
        // Run-length data: pairs of (count, value), or (0, code) escapes. The picture is complete
        // only when the end-of-picture escape is reached inside the file.
        std::size_t pos = offset;
        while (true) {
            if (size - pos < 2) return Truncated(reason);
            const unsigned count = data[pos], value = data[pos + 1];
            pos += 2;
            if (count > 0 || value == 0) continue; // a run, or the end of a row
            if (value == 1) break;                  // end of picture
            std::size_t skip = 2;                   // delta: two offset bytes
            if (value > 2) {                        // literal pixels, padded to a whole word
                skip = compression == 1 ? value : (value + 1) / 2;
                skip += skip & 1;
            }
            if (skip > size - pos) return Truncated(reason);
            pos += skip;
        }
    }
    return true;
}

bool CheckGifStructure(const std::uint8_t* data, std::size_t size, QString* reason)
{
    if (size < 13 || !IsGif(data, size)) return Fail(reason, "the file is truncated (incomplete GIF header)");
    const auto fileBytes = static_cast<std::int64_t>(size);
    const int screenWidth = ReadLE16(data + 6);
    const int screenHeight = ReadLE16(data + 8);
    // A screen of zero width or height holds nothing; the decoder refuses or shows its frame.
    if (screenWidth > 0 && screenHeight > 0 && !CheckDeclaredSize(screenWidth, screenHeight, fileBytes, reason)) return false;
    std::size_t pos = 13;
    if (data[10] & 0x80) pos += 3u * (2u << (data[10] & 7));
    if (pos > size) return Truncated(reason);

    const auto skipSubBlocks = [&]() {
        while (true) {
            if (pos >= size) return false;
            const std::size_t length = data[pos++];
            if (length == 0) return true;
            if (length > size - pos) return false;
            pos += length;
        }
    };
    while (pos < size) {
        const std::uint8_t kind = data[pos];
        if (kind == 0x3B) break; // trailer
        if (kind == 0x21) {
            if (size - pos < 2) return Truncated(reason);
            pos += 2;
            if (!skipSubBlocks()) return Truncated(reason);
        } else if (kind == 0x2C) {
            if (size - pos < 11) return Truncated(reason);
            const int w = ReadLE16(data + pos + 5);
            const int h = ReadLE16(data + pos + 7);
            const std::uint8_t flags = data[pos + 9];
            if (w == 0 || h == 0) break; // a frame without pixels: files end their useful part there
            if (!CheckDeclaredSize(w, h, fileBytes, reason)) return false;
            pos += 10;
            if (flags & 0x80) {
                const std::size_t table = 3u * (2u << (flags & 7));
                if (table > size - pos) return Truncated(reason);
                pos += table;
            }
            if (pos >= size) return Truncated(reason);
            ++pos; // LZW minimum code size
            if (!skipSubBlocks()) return Truncated(reason);
        } else {
            break; // not ours to judge: the decoder skips it or fails
        }
    }
    return true;
}

bool CheckWebpStructure(const std::uint8_t* data, std::size_t size, QString* reason)
{
    if (!IsWebp(data, size)) return Fail(reason, "not a WebP file");
    const auto fileBytes = static_cast<std::int64_t>(size);
    // Bytes after the RIFF's declared end are not the picture's; a RIFF that claims more than the
    // file holds was cut short.
    const std::uint32_t riffSize = ReadLE32(data + 4);
    if (riffSize < 4 || riffSize > size - 8) return Truncated(reason);
    const std::size_t end = 8 + std::size_t(riffSize);
    std::size_t pos = 12;
    bool sawPicture = false;
    while (pos < end) {
        if (end - pos < 8) return Truncated(reason);
        const std::uint8_t* type = data + pos;
        const std::uint32_t length = ReadLE32(data + pos + 4);
        if (length > end - pos - 8) return Truncated(reason);
        const std::uint8_t* payload = data + pos + 8;
        if (std::memcmp(type, "VP8X", 4) == 0) {
            if (length < 10) return Fail(reason, "the WebP header chunk is damaged");
            if (!CheckDeclaredSize(1 + ReadLE24(payload + 4), 1 + ReadLE24(payload + 7), fileBytes, reason)) return false;
        } else if (std::memcmp(type, "ANMF", 4) == 0) {
            if (length < 16) return Fail(reason, "a WebP animation frame chunk is damaged");
            if (!CheckDeclaredSize(1 + ReadLE24(payload + 6), 1 + ReadLE24(payload + 9), fileBytes, reason)) return false;
            sawPicture = true;
        } else if (std::memcmp(type, "VP8 ", 4) == 0 || std::memcmp(type, "VP8L", 4) == 0) {
            sawPicture = true;
        }
        // Chunks are padded to an even length; a missing pad byte at the very end is tolerated.
        pos += 8 + std::size_t(length) + (length & 1);
    }
    if (!sawPicture) return Fail(reason, "the WebP file holds no picture");
    return true;
}
