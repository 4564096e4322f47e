#include "io/picture_probe.h"

#include "io/file_guards.h"
#include "io/jpeg_read_errors.h"
#include "io/picture_file.h"
#include "io/picture_metadata.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <jerror.h>
#include <jpeglib.h>
#include <webp/decode.h>

namespace {

bool Fail(QString* reason, const QString& text)
{
    if (reason) *reason = text;
    return false;
}

std::uint32_t LE16(const std::uint8_t* p)
{
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8;
}
std::uint32_t LE32(const std::uint8_t* p)
{
    return LE16(p) | LE16(p + 2) << 16;
}
std::uint32_t BE32(const std::uint8_t* p)
{
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

// ---- JPEG -----------------------------------------------------------------------------------------

using JpegErrors = JpegReadErrors;

// One libjpeg decompressor over the file's bytes, torn down whatever happens.
class CJpegReader
{
public:
    CJpegReader(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size)
    {
        cinfo.err = jpeg_std_error(&m_errors.manager);
        m_errors.manager.error_exit = JpegReadFail;
        m_errors.manager.emit_message = JpegReadWarning;
        jpeg_create_decompress(&cinfo);
    }
    ~CJpegReader() { jpeg_destroy_decompress(&cinfo); }
    CJpegReader(const CJpegReader&) = delete;
    CJpegReader& operator=(const CJpegReader&) = delete;

    bool ReadHeader()
    {
        if (setjmp(m_errors.jump)) return false;
        jpeg_mem_src(&cinfo, m_data, static_cast<unsigned long>(m_size));
        return jpeg_read_header(&cinfo, TRUE) == JPEG_HEADER_OK;
    }

    // Decodes at 1/`denominator` into `picture`. CMYK (Adobe, inverted) as the loader converts it.
    bool ReadScaled(int denominator, CImage& picture)
    {
        if (setjmp(m_errors.jump)) return false;
        const bool cmyk = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
        cinfo.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGR;
        cinfo.scale_num = 1;
        cinfo.scale_denom = static_cast<unsigned>(denominator);
        jpeg_start_decompress(&cinfo);
        if (cinfo.output_components != (cmyk ? 4 : 3)) return false;
        if (!picture.Create(int(cinfo.output_width), int(cinfo.output_height), 24)) {
            outOfMemory = true;
            return false;
        }
        // A member, not a local: libjpeg's errors jump back over this function's locals.
        m_row.resize(std::size_t(cinfo.output_width) * 4);
        while (cinfo.output_scanline < cinfo.output_height) {
            std::uint8_t* out = picture.bits() + std::ptrdiff_t(cinfo.output_scanline) * picture.pitch();
            JSAMPROW target = cmyk ? m_row.data() : out;
            if (jpeg_read_scanlines(&cinfo, &target, 1) == 0) return false;
            if (!cmyk) continue;
            const std::uint8_t* in = m_row.data();
            for (JDIMENSION x = 0; x < cinfo.output_width; ++x, in += 4, out += 3) {
                const int k = in[3];
                out[0] = static_cast<std::uint8_t>(k * in[2] / 255);
                out[1] = static_cast<std::uint8_t>(k * in[1] / 255);
                out[2] = static_cast<std::uint8_t>(k * in[0] / 255);
            }
        }
        jpeg_finish_decompress(&cinfo);
        return true;
    }

    QString Reason()
    {
        if (outOfMemory) return QStringLiteral("not enough memory");
        if (m_errors.truncated) return QStringLiteral("the file is truncated (its picture data ends early)");
        char text[JMSG_LENGTH_MAX] = {};
        m_errors.manager.format_message(reinterpret_cast<j_common_ptr>(&cinfo), text);
        return QString::fromLocal8Bit(text);
    }

    jpeg_decompress_struct cinfo{};
    bool outOfMemory = false;

private:
    const std::uint8_t* m_data;
    std::size_t m_size;
    JpegErrors m_errors{};
    std::vector<std::uint8_t> m_row;
};

// ---- TIFF -----------------------------------------------------------------------------------------

// ImageWidth and ImageLength from the first directory of a classic TIFF; false when out of reach.
bool TiffSize(const std::uint8_t* data, std::size_t size, std::int64_t& width, std::int64_t& height)
{
    if (size < 8) return false;
    const bool little = data[0] == 'I';
    auto u16 = [&](std::size_t at) { return little ? LE16(data + at) : std::uint32_t(data[at]) << 8 | data[at + 1]; };
    auto u32 = [&](std::size_t at) { return little ? LE32(data + at) : BE32(data + at); };
    if (u16(2) != 42) return false;
    const std::size_t directory = u32(4);
    if (directory > size || size - directory < 2) return false;
    const std::size_t entries = u16(directory);
    if ((size - directory - 2) / 12 < entries) return false;
    width = height = 0;
    for (std::size_t i = 0; i < entries; ++i) {
        const std::size_t entry = directory + 2 + 12 * i;
        const std::uint32_t tag = u16(entry), type = u16(entry + 2), count = u32(entry + 4);
        if ((tag != 256 && tag != 257) || count != 1) continue;
        const std::int64_t value = type == 3 ? u16(entry + 8) : type == 4 ? u32(entry + 8) : 0;
        (tag == 256 ? width : height) = value;
    }
    return width > 0 && height > 0;
}

const char* FormatName(const QByteArray& kind)
{
    if (kind == "jpeg") return "JPEG";
    if (kind == "png") return "PNG";
    if (kind == "bmp") return "BMP";
    if (kind == "gif") return "GIF";
    if (kind == "tiff") return "TIFF";
    return "WebP";
}

// The size the headers declare, as stored (before the orientation); false with the reason when
// the headers are cut short or broken. Zero when the format keeps it out of reach of a header read.
bool DeclaredSize(const QByteArray& kind, const std::uint8_t* data, std::size_t size, std::int64_t& width,
                  std::int64_t& height, QString* reason)
{
    width = height = 0;
    const QString cut = QStringLiteral("the file is truncated (its headers end early)");
    if (kind == "jpeg") {
        CJpegReader reader(data, size);
        if (!reader.ReadHeader()) return Fail(reason, reader.Reason());
        width = reader.cinfo.image_width;
        height = reader.cinfo.image_height;
    } else if (kind == "png") {
        if (size < 24 || std::memcmp(data + 12, "IHDR", 4) != 0) return Fail(reason, cut);
        width = BE32(data + 16);
        height = BE32(data + 20);
    } else if (kind == "bmp") {
        if (size < 26) return Fail(reason, cut);
        if (LE32(data + 14) == 12) {
            width = LE16(data + 18);
            height = LE16(data + 20);
        } else {
            width = static_cast<std::int32_t>(LE32(data + 18));
            height = std::abs(std::int64_t(static_cast<std::int32_t>(LE32(data + 22))));
        }
    } else if (kind == "gif") {
        if (size < 10) return Fail(reason, cut);
        width = LE16(data + 6);
        height = LE16(data + 8);
        // An empty logical screen is the frames' business, which only the decoder walks.
        if (width == 0 || height == 0) {
            width = height = 0;
            return true;
        }
    } else if (kind == "webp") {
        int w = 0, h = 0;
        if (!WebPGetInfo(data, size, &w, &h)) return Fail(reason, QStringLiteral("the WebP headers are broken"));
        width = w;
        height = h;
    } else if (kind == "tiff") {
        TiffSize(data, size, width, height);
        return true;
    }
    return CheckDeclaredSize(width, height, static_cast<std::int64_t>(size), reason);
}

} // namespace

bool ProbePicture(const std::uint8_t* data, std::size_t size, CPictureProbe& probe, QString* reason)
{
    if (size == 0) return Fail(reason, QStringLiteral("the file is empty"));
    const char* format = DetectPictureFormat(data, size);
    if (!format) return Fail(reason, QStringLiteral("the file is not a JPEG, PNG, BMP, GIF, TIFF or WebP picture"));
    const QByteArray kind(format);
    std::int64_t width = 0, height = 0;
    if (!DeclaredSize(kind, data, size, width, height, reason)) return false;
    CPictureProbe read;
    read.format = QString::fromLatin1(FormatName(kind));
    read.width = static_cast<int>(width);
    read.height = static_cast<int>(height);
    // Orientations 5 to 8 turn the picture a quarter.
    if (CPictureMetadata::ReadFromMemory(data, size).orientation() >= 5) std::swap(read.width, read.height);
    probe = read;
    return true;
}

bool DecodePreviewPicture(const std::uint8_t* data, std::size_t size, int minSide, std::int64_t pixelCap,
                          CImage& picture, QString* reason)
{
    CPictureProbe probe;
    if (!ProbePicture(data, size, probe, reason)) return false;
    // A size the headers keep to themselves could be anything up to what opening accepts.
    if ((probe.width == 0 && probe.format == QStringLiteral("TIFF")) ||
        std::int64_t(probe.width) * probe.height > pixelCap)
        return Fail(reason, QStringLiteral("too large to preview"));
    if (probe.format != QStringLiteral("JPEG")) return LoadPictureFromMemory(data, size, picture, reason);

    CJpegReader reader(data, size);
    if (!reader.ReadHeader()) return Fail(reason, reader.Reason());
    // As opening does: Huffman coding spends at least a bit on every block, so a shorter file would
    // have libjpeg make up the rest.
    if (!reader.cinfo.arith_code) {
        std::uint64_t fewest = ~std::uint64_t(0);
        for (int c = 0; c < reader.cinfo.num_components; ++c)
            fewest = std::min(fewest, std::uint64_t(reader.cinfo.comp_info[c].width_in_blocks) *
                                          reader.cinfo.comp_info[c].height_in_blocks);
        if (fewest / 8 > size)
            return Fail(reason, QStringLiteral("the file is too small for the %1 x %2 pixels it claims")
                                    .arg(reader.cinfo.image_width)
                                    .arg(reader.cinfo.image_height));
    }
    const int longer = static_cast<int>(std::max(reader.cinfo.image_width, reader.cinfo.image_height));
    int denominator = 8;
    while (denominator > 1 && longer / denominator < minSide) denominator /= 2;
    CImage decoded;
    if (!reader.ReadScaled(denominator, decoded)) return Fail(reason, reader.Reason());
    if (!ApplyOrientation(decoded, CPictureMetadata::ReadFromMemory(data, size).orientation()))
        return Fail(reason, QStringLiteral("not enough memory"));
    picture = std::move(decoded);
    return true;
}
