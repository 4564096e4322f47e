#include "io/saved_file_check.h"

#include "io/file_guards.h"
#include "io/tiff_writer.h"
#include "io/webp_writer.h"

#include <zlib.h>

#include <cstring>
#include <string>

namespace {

bool Fail(QString* reason, const QString& text)
{
    if (reason) *reason = QStringLiteral("the written file does not read back correctly: ") + text;
    return false;
}

bool Fail(QString* reason, const std::string& text)
{
    return Fail(reason, QString::fromStdString(text));
}

std::uint32_t BE16(const std::uint8_t* p)
{
    return (std::uint32_t(p[0]) << 8) | p[1];
}

std::uint32_t BE32(const std::uint8_t* p)
{
    return (BE16(p) << 16) | BE16(p + 2);
}

bool HasPrefix(const std::uint8_t* body, std::size_t length, const char* prefix, std::size_t prefixLength)
{
    return length >= prefixLength && std::memcmp(body, prefix, prefixLength) == 0;
}

// Which block is missing from what was written, or empty.
QString Missing(const CWrittenContent& expected, const CWrittenContent& found)
{
    if (expected.icc && !found.icc) return QStringLiteral("the colour profile is missing");
    if (expected.exif && !found.exif) return QStringLiteral("the EXIF tags are missing");
    if (expected.xmp && !found.xmp) return QStringLiteral("the XMP tags are missing");
    if (expected.iptc && !found.iptc) return QStringLiteral("the IPTC tags are missing");
    if (expected.width != found.width || expected.height != found.height)
        return QStringLiteral("it holds a %1 x %2 picture").arg(found.width).arg(found.height);
    return {};
}

// Marker segments up to the scan; the entropy-coded data is not walked, but the file must end with
// the end-of-picture marker.
bool ReadJpeg(const std::uint8_t* data, std::size_t size, CWrittenContent& found, QString* reason)
{
    if (size < 4 || data[0] != 0xFF || data[1] != 0xD8) return Fail(reason, QStringLiteral("no JPEG start marker"));
    std::size_t at = 2;
    bool frame = false;
    while (true) {
        if (size - at < 4 || data[at] != 0xFF) return Fail(reason, QStringLiteral("a JPEG marker segment is broken"));
        const std::uint8_t code = data[at + 1];
        const std::size_t length = BE16(data + at + 2);
        if (length < 2 || length > size - at - 2) return Fail(reason, QStringLiteral("a JPEG marker segment runs past the end"));
        const std::uint8_t* body = data + at + 4;
        const std::size_t bodyLength = length - 2;
        if (code == 0xE1 && HasPrefix(body, bodyLength, "Exif\0\0", 6)) found.exif = true;
        if (code == 0xE1 && HasPrefix(body, bodyLength, "http://ns.adobe.com/xap/1.0/\0", 29)) found.xmp = true;
        if (code == 0xE2 && HasPrefix(body, bodyLength, "ICC_PROFILE\0", 12)) found.icc = true;
        if (code == 0xED && HasPrefix(body, bodyLength, "Photoshop 3.0\0", 14)) found.iptc = true;
        if (code >= 0xC0 && code <= 0xCF && code != 0xC4 && code != 0xC8 && code != 0xCC) {
            if (bodyLength < 6) return Fail(reason, QStringLiteral("the JPEG frame header is short"));
            found.height = static_cast<int>(BE16(body + 1));
            found.width = static_cast<int>(BE16(body + 3));
            frame = true;
        }
        at += 2 + length;
        if (code == 0xDA) break;
    }
    if (!frame) return Fail(reason, QStringLiteral("the JPEG file has no frame header"));
    if (data[size - 2] != 0xFF || data[size - 1] != 0xD9) return Fail(reason, QStringLiteral("the JPEG file does not end with its end marker"));
    return true;
}

// The chunk walk of the loader's guard (critical checksums included), then the ancillary chunks the
// metadata went into, with their checksums.
bool ReadPng(const std::uint8_t* data, std::size_t size, CWrittenContent& found, QString* reason)
{
    QString why;
    if (!CheckPngStructure(data, size, &found.width, &found.height, &why)) return Fail(reason, why);
    for (std::size_t at = 8; size - at >= 12;) {
        const std::uint32_t length = BE32(data + at);
        const std::uint8_t* type = data + at + 4;
        const std::uint8_t* body = type + 4;
        if ((type[0] & 0x20) != 0) {
            const auto crc = static_cast<std::uint32_t>(crc32(crc32(0L, Z_NULL, 0), type, length + 4));
            if (crc != BE32(body + length)) return Fail(reason, QStringLiteral("checksum mismatch in an ancillary chunk"));
        }
        if (std::memcmp(type, "iCCP", 4) == 0) found.icc = true;
        if (std::memcmp(type, "eXIf", 4) == 0) found.exif = true;
        if (std::memcmp(type, "iTXt", 4) == 0 && HasPrefix(body, length, "XML:com.adobe.xmp\0", 18)) found.xmp = true;
        if (std::memcmp(type, "zTXt", 4) == 0 || std::memcmp(type, "tEXt", 4) == 0 || std::memcmp(type, "iTXt", 4) == 0) {
            if (HasPrefix(body, length, "Raw profile type exif\0", 22)) found.exif = true;
            if (HasPrefix(body, length, "Raw profile type iptc\0", 22)) found.iptc = true;
            if (HasPrefix(body, length, "Raw profile type xmp\0", 21)) found.xmp = true;
        }
        if (std::memcmp(type, "IEND", 4) == 0) break;
        at += 12 + std::size_t(length);
    }
    return true;
}

} // namespace

bool CheckWrittenFile(const std::uint8_t* data, std::size_t size, const QByteArray& format,
                      const CWrittenContent& expected, QString* reason)
{
    if (size == 0) return Fail(reason, QStringLiteral("it is empty"));
    CWrittenContent found;
    // The blocks a format cannot hold are not looked for.
    CWrittenContent wanted = expected;
    std::string why;
    if (format == "jpeg") {
        if (!ReadJpeg(data, size, found, reason)) return false;
    } else if (format == "png") {
        if (!ReadPng(data, size, found, reason)) return false;
    } else if (format == "tiff") {
        CTiffSummary tiff;
        if (!ReadTiffSummary(data, size, tiff, &why)) return Fail(reason, why);
        found = {tiff.width, tiff.height, tiff.icc, tiff.exif, tiff.xmp, tiff.iptc};
    } else if (format == "webp") {
        CWebpSummary webp;
        if (!ReadWebpSummary(data, size, webp, &why)) return Fail(reason, why);
        found = {webp.width, webp.height, webp.icc, webp.exif, webp.xmp, false};
        wanted.iptc = false;
    } else if (format == "bmp" || format == "gif") {
        QString text;
        const bool ok = format == "bmp" ? CheckBmpStructure(data, size, &text) : CheckGifStructure(data, size, &text);
        if (!ok) return Fail(reason, text);
        // Both store the size as little-endian numbers after their signature: 32-bit in BMP's
        // information header, 16-bit in GIF's logical screen.
        const bool bmp = format == "bmp";
        if (size < (bmp ? 26u : 10u)) return Fail(reason, QStringLiteral("the header is short"));
        const std::uint8_t* p = data + (bmp ? 18 : 6);
        const auto number = [bmp](const std::uint8_t* q) {
            std::uint32_t v = q[0] | (std::uint32_t(q[1]) << 8);
            if (bmp) v |= (std::uint32_t(q[2]) << 16) | (std::uint32_t(q[3]) << 24);
            return static_cast<int>(v);
        };
        found.width = number(p);
        found.height = number(p + (bmp ? 4 : 2));
        wanted = {expected.width, expected.height, false, false, false, false};
    } else {
        return Fail(reason, QStringLiteral("no check is known for this format"));
    }
    const QString missing = Missing(wanted, found);
    if (!missing.isEmpty()) return Fail(reason, missing);
    return true;
}

bool CheckWrittenBmpHeader(const std::uint8_t* header, std::size_t size, qint64 fileBytes,
                           const CWrittenContent& expected, QString* reason)
{
    const auto le32 = [header](std::size_t at) {
        return std::uint32_t(header[at]) | (std::uint32_t(header[at + 1]) << 8) | (std::uint32_t(header[at + 2]) << 16) |
               (std::uint32_t(header[at + 3]) << 24);
    };
    if (size < 54 || header[0] != 'B' || header[1] != 'M') return Fail(reason, QStringLiteral("no BMP header"));
    const std::uint64_t rowBytes = (std::uint64_t(expected.width) * 3 + 3) / 4 * 4;
    const std::uint64_t whole = 54 + rowBytes * std::uint64_t(expected.height);
    if (le32(2) != whole || le32(10) != 54 || le32(18) != std::uint32_t(expected.width) ||
        le32(22) != std::uint32_t(expected.height) || (header[28] | (header[29] << 8)) != 24 || le32(30) != 0)
        return Fail(reason, QStringLiteral("the BMP header does not describe the picture written"));
    if (std::uint64_t(fileBytes) != whole) return Fail(reason, QStringLiteral("the BMP file's length does not match its header"));
    return true;
}
