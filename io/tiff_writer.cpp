#include "io/tiff_writer.h"

#include "io/device_write.h"

#include <QtGlobal>

#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>

namespace {

// What the library's callbacks share: the device, and the first error of the library or the
// device (the first one names the cause; later ones are its consequences).
struct CTiffContext
{
    QIODevice* device = nullptr;
    const std::uint8_t* data = nullptr; // reading from memory instead
    std::uint64_t size = 0;
    std::uint64_t position = 0;
    std::string error;

    void Note(const std::string& text)
    {
        if (error.empty()) error = text;
    }
};

CTiffContext& ContextOf(thandle_t handle)
{
    return *static_cast<CTiffContext*>(handle);
}

std::string Format(const char* module, const char* format, va_list args)
{
    char text[512];
    std::vsnprintf(text, sizeof text, format, args);
    return module && *module ? std::string(module) + ": " + text : std::string(text);
}

int OnError(TIFF*, void* user, const char* module, const char* format, va_list args)
{
    try {
        static_cast<CTiffContext*>(user)->Note(Format(module, format, args));
    } catch (...) {
    }
    return 1;
}

int OnWarning(TIFF*, void*, const char* module, const char* format, va_list args)
{
    try {
        qWarning("TIFF: %s", Format(module, format, args).c_str());
    } catch (...) {
    }
    return 1;
}

// The device callbacks. Exceptions must not unwind through the library's C frames: everything is
// caught here and reported through the return value.
tmsize_t DeviceRead(thandle_t handle, void* buffer, tmsize_t size)
{
    CTiffContext& c = ContextOf(handle);
    try {
        if (c.data) {
            const std::uint64_t n = std::min<std::uint64_t>(static_cast<std::uint64_t>(size), c.size - std::min(c.position, c.size));
            std::memcpy(buffer, c.data + c.position, n);
            c.position += n;
            return static_cast<tmsize_t>(n);
        }
        return static_cast<tmsize_t>(c.device->read(static_cast<char*>(buffer), size));
    } catch (...) {
        c.Note("the file could not be read");
        return -1;
    }
}

tmsize_t DeviceWrite(thandle_t handle, void* buffer, tmsize_t size)
{
    CTiffContext& c = ContextOf(handle);
    if (c.data) return -1;
    try {
        // A full disk first takes part of a write and refuses only the next one, which names why.
        const char* p = static_cast<const char*>(buffer);
        tmsize_t done = 0;
        while (done < size) {
            const qint64 n = c.device->write(p + done, size - done);
            if (n <= 0) {
                c.Note(WriteFailure(*c.device).toStdString());
                return done > 0 ? done : -1;
            }
            done += static_cast<tmsize_t>(n);
        }
        return done;
    } catch (const std::bad_alloc&) {
        c.Note("not enough memory");
    } catch (...) {
        c.Note("the file could not be written");
    }
    return -1;
}

toff_t DeviceSeek(thandle_t handle, toff_t offset, int whence)
{
    CTiffContext& c = ContextOf(handle);
    try {
        const std::uint64_t end = c.data ? c.size : static_cast<std::uint64_t>(c.device->size());
        const std::uint64_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? (c.data ? c.position : c.device->pos()) : end;
        const std::uint64_t target = base + offset;
        if (c.data) {
            c.position = target;
            return target;
        }
        if (!c.device->seek(static_cast<qint64>(target))) {
            c.Note(c.device->errorString().toStdString());
            return static_cast<toff_t>(-1);
        }
        return target;
    } catch (...) {
        c.Note("the file could not be written");
        return static_cast<toff_t>(-1);
    }
}

int DeviceClose(thandle_t)
{
    return 0;
}

toff_t DeviceSize(thandle_t handle)
{
    CTiffContext& c = ContextOf(handle);
    try {
        return c.data ? c.size : static_cast<toff_t>(c.device->size());
    } catch (...) {
        return 0;
    }
}

int NoMap(thandle_t, tdata_t*, toff_t*)
{
    return 0;
}

void NoUnmap(thandle_t, tdata_t, toff_t) {}

TIFF* Open(CTiffContext& context, const char* mode)
{
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    if (!options) return nullptr;
    TIFFOpenOptionsSetErrorHandlerExtR(options, OnError, &context);
    TIFFOpenOptionsSetWarningHandlerExtR(options, OnWarning, &context);
    TIFF* tif = TIFFClientOpenExt("Orvex", mode, &context, DeviceRead, DeviceWrite, DeviceSeek, DeviceClose,
                                  DeviceSize, NoMap, NoUnmap, options);
    TIFFOpenOptionsFree(options);
    return tif;
}

bool Fail(std::string* reason, const std::string& text)
{
    if (reason) *reason = text;
    return false;
}

std::uint16_t LE16(const std::uint8_t* p)
{
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

std::uint32_t LE32(const std::uint8_t* p)
{
    return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) | (std::uint32_t(p[3]) << 24);
}

// One entry of the first directory of an EXIF structure, its value in place.
struct CExifEntry
{
    std::uint16_t tag = 0;
    std::uint16_t type = 0;
    std::uint32_t count = 0;
    const std::uint8_t* value = nullptr;
    std::uint32_t bytes = 0;
};

std::uint32_t TypeSize(std::uint16_t type)
{
    switch (type) {
    case TIFF_BYTE: case TIFF_ASCII: case TIFF_SBYTE: case TIFF_UNDEFINED: return 1;
    case TIFF_SHORT: case TIFF_SSHORT: return 2;
    case TIFF_LONG: case TIFF_SLONG: case TIFF_FLOAT: case TIFF_IFD: return 4;
    case TIFF_RATIONAL: case TIFF_SRATIONAL: case TIFF_DOUBLE: return 8;
    default: return 0;
    }
}

// The entries of the EXIF structure's first directory; false when it is not a little-endian TIFF
// structure whose entries lie inside it.
bool ReadExifFirstDirectory(const std::vector<std::uint8_t>& exif, std::vector<CExifEntry>& entries)
{
    const std::size_t n = exif.size();
    if (n < 8 || std::memcmp(exif.data(), "II*\0", 4) != 0) return false;
    const std::uint32_t at = LE32(exif.data() + 4);
    if (at < 8 || std::uint64_t(at) + 2 > n) return false;
    const std::uint16_t count = LE16(exif.data() + at);
    if (std::uint64_t(at) + 2 + 12ull * count + 4 > n) return false;
    for (std::uint16_t i = 0; i < count; ++i) {
        const std::uint8_t* e = exif.data() + at + 2 + 12 * i;
        CExifEntry entry{LE16(e), LE16(e + 2), LE32(e + 4), nullptr, 0};
        const std::uint64_t bytes = std::uint64_t(TypeSize(entry.type)) * entry.count;
        if (bytes == 0 || bytes > n) continue;
        const std::uint64_t offset = bytes <= 4 ? std::uint64_t(e + 8 - exif.data()) : LE32(e + 8);
        if (offset + bytes > n) return false;
        entry.value = exif.data() + offset;
        entry.bytes = static_cast<std::uint32_t>(bytes);
        entries.push_back(entry);
    }
    return true;
}

float RationalAt(const std::uint8_t* p, bool isSigned)
{
    const std::uint32_t num = LE32(p), den = LE32(p + 4);
    if (den == 0) return 0.0f;
    return isSigned ? float(double(static_cast<std::int32_t>(num)) / static_cast<std::int32_t>(den)) : float(double(num) / den);
}

// EXIF's first-directory tags (camera, artist, copyright, resolution...) go into the picture's own
// directory. Tags the library knows under another type than EXIF gave them are left out rather
// than written wrongly.
void SetFirstDirectoryTags(TIFF* tif, const std::vector<CExifEntry>& entries)
{
    for (const CExifEntry& e : entries) {
        if (e.tag == TIFFTAG_EXIFIFD || e.tag == TIFFTAG_GPSIFD || e.tag == TIFFTAG_ORIENTATION) continue;
        if ((e.tag == TIFFTAG_XRESOLUTION || e.tag == TIFFTAG_YRESOLUTION) && e.type == TIFF_RATIONAL) {
            TIFFSetField(tif, e.tag, double(RationalAt(e.value, false)));
            continue;
        }
        if (e.tag == TIFFTAG_RESOLUTIONUNIT && e.type == TIFF_SHORT) {
            TIFFSetField(tif, e.tag, unsigned(LE16(e.value)));
            continue;
        }
        const TIFFField* known = TIFFFindField(tif, e.tag, TIFF_ANY);
        if (known) {
            if (e.type == TIFF_ASCII && TIFFFieldDataType(known) == TIFF_ASCII && !TIFFFieldPassCount(known)) {
                const std::string text(reinterpret_cast<const char*>(e.value), strnlen(reinterpret_cast<const char*>(e.value), e.bytes));
                TIFFSetField(tif, e.tag, text.c_str());
            } else {
                qWarning("TIFF: EXIF tag %u is not kept in the picture's directory", unsigned(e.tag));
            }
            continue;
        }
        // Tags the library does not know are declared with EXIF's type and passed as they are.
        static char name[] = "ExifFirstDirectoryTag";
        const auto type = static_cast<TIFFDataType>(e.type);
        std::vector<float> rationals;
        const void* value = e.value;
        if (e.type == TIFF_RATIONAL || e.type == TIFF_SRATIONAL) {
            for (std::uint32_t i = 0; i < e.count; ++i) rationals.push_back(RationalAt(e.value + 8 * i, e.type == TIFF_SRATIONAL));
            value = rationals.data();
        } else if (e.type == TIFF_DOUBLE || e.type == TIFF_FLOAT) {
            qWarning("TIFF: EXIF tag %u is not kept in the picture's directory", unsigned(e.tag));
            continue;
        }
        const TIFFFieldInfo info = {static_cast<ttag_t>(e.tag), TIFF_VARIABLE2, TIFF_VARIABLE2, type, FIELD_CUSTOM, 1, 1, name};
        if (TIFFMergeFieldInfo(tif, &info, 1) != 0) continue;
        TIFFSetField(tif, e.tag, e.count, value);
    }
}

void ToRgb(const std::uint8_t* bgr, std::uint8_t* rgb, int width)
{
    for (int x = 0; x < width; ++x, bgr += 3, rgb += 3) {
        rgb[0] = bgr[2];
        rgb[1] = bgr[1];
        rgb[2] = bgr[0];
    }
}

struct CTiffCloser
{
    TIFF* tif;
    ~CTiffCloser()
    {
        if (tif) TIFFClose(tif);
    }
};

} // namespace

bool WriteTiff(const CImage& picture, const CTiffOptions& options, const std::vector<std::uint8_t>& icc,
               const CPictureMetadata::Blocks& blocks, QIODevice& device, std::string* reason,
               const std::function<void(double)>& progress)
{
    if (picture.IsNull() || picture.bitsPerPixel() != 24) return Fail(reason, "there is no picture to save");
    CTiffContext context;
    context.device = &device;
    TIFF* tif = Open(context, "wl");
    if (!tif) return Fail(reason, context.error.empty() ? "the TIFF file could not be started" : context.error);
    CTiffCloser closer{tif};
    const auto failed = [&](const char* what) {
        return Fail(reason, context.error.empty() ? std::string(what) : context.error);
    };

    const int w = picture.width(), h = picture.height();
    const std::size_t rowBytes = std::size_t(w) * 3;
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, std::uint32_t(w));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, std::uint32_t(h));
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
    switch (options.compression) {
    case TiffCompression::None: TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_NONE); break;
    case TiffCompression::Lzw: TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_LZW); break;
    case TiffCompression::Deflate: TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE); break;
    }
    if (options.compression != TiffCompression::None) TIFFSetField(tif, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
    // Strips of about 256 KB: small enough to stream, large enough for the compressor.
    const auto rowsPerStrip = static_cast<std::uint32_t>(std::clamp<std::size_t>((256 * 1024) / std::max<std::size_t>(rowBytes, 1), 1, std::size_t(h)));
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, rowsPerStrip);

    if (!icc.empty()) TIFFSetField(tif, TIFFTAG_ICCPROFILE, std::uint32_t(icc.size()), icc.data());
    if (!blocks.xmp.empty()) TIFFSetField(tif, TIFFTAG_XMLPACKET, std::uint32_t(blocks.xmp.size()), blocks.xmp.data());
    if (!blocks.iptc.empty()) {
        // Declared as 32-bit words by the library: the records are padded to whole words.
        std::vector<std::uint32_t> words((blocks.iptc.size() + 3) / 4, 0);
        std::memcpy(words.data(), blocks.iptc.data(), blocks.iptc.size());
        const TIFFField* field = TIFFFindField(tif, TIFFTAG_RICHTIFFIPTC, TIFF_ANY);
        if (field && TIFFFieldDataType(field) == TIFF_LONG)
            TIFFSetField(tif, TIFFTAG_RICHTIFFIPTC, std::uint32_t(words.size()), words.data());
        else
            TIFFSetField(tif, TIFFTAG_RICHTIFFIPTC, std::uint32_t(blocks.iptc.size()), blocks.iptc.data());
    }
    // The EXIF structure goes right after the file header, where its own offsets (counted from its
    // own 8-byte header) are already the file's: its sub-directories need no relocation. Its first
    // directory stays unreferenced; its tags are written into the picture's directory instead.
    if (!blocks.exif.empty()) {
        std::vector<CExifEntry> entries;
        if (!ReadExifFirstDirectory(blocks.exif, entries)) return Fail(reason, "the EXIF tags could not be encoded");
        if (device.size() != 8 || !device.seek(8)) return failed("the TIFF file could not be started");
        QString why;
        if (!WriteFully(device, reinterpret_cast<const char*>(blocks.exif.data()) + 8, qint64(blocks.exif.size() - 8), &why))
            return Fail(reason, why.toStdString());
        for (const CExifEntry& e : entries) {
            if ((e.tag == TIFFTAG_EXIFIFD || e.tag == TIFFTAG_GPSIFD) && e.bytes == 4)
                TIFFSetField(tif, e.tag, std::uint64_t(LE32(e.value)));
        }
        SetFirstDirectoryTags(tif, entries);
    }

    try {
        std::vector<std::uint8_t> strip(rowBytes * rowsPerStrip);
        const std::uint32_t strips = (std::uint32_t(h) + rowsPerStrip - 1) / rowsPerStrip;
        for (std::uint32_t s = 0; s < strips; ++s) {
            const int y0 = static_cast<int>(s * rowsPerStrip);
            const int rows = std::min(int(rowsPerStrip), h - y0);
            for (int r = 0; r < rows; ++r)
                ToRgb(picture.bits() + std::ptrdiff_t(y0 + r) * picture.pitch(), strip.data() + rowBytes * std::size_t(r), w);
            if (TIFFWriteEncodedStrip(tif, s, strip.data(), static_cast<tmsize_t>(rowBytes * std::size_t(rows))) < 0)
                return failed("the TIFF encoder failed");
            if (progress) progress(double(s + 1) / strips);
        }
    } catch (const std::bad_alloc&) {
        return Fail(reason, "not enough memory");
    }
    if (!TIFFWriteDirectory(tif)) return failed("the TIFF directory could not be written");
    closer.tif = nullptr;
    TIFFClose(tif);
    if (!context.error.empty()) return Fail(reason, context.error);
    return true;
}


bool ExifHasSubDirectory(const std::vector<std::uint8_t>& exif)
{
    std::vector<CExifEntry> entries;
    if (!ReadExifFirstDirectory(exif, entries)) return false;
    return std::any_of(entries.begin(), entries.end(), [](const CExifEntry& e) { return e.tag == TIFFTAG_EXIFIFD; });
}

namespace {

// The library reads past a cut-off directory with no more than a warning; the first directory and
// every value it points at must lie inside the file.
bool FirstDirectoryInside(const std::uint8_t* data, std::size_t size)
{
    if (size < 8) return false;
    const bool big = data[0] == 'M';
    const auto u16 = [&](std::size_t at) { return big ? std::uint32_t(data[at] << 8 | data[at + 1]) : LE16(data + at); };
    const auto u32 = [&](std::size_t at) { return big ? (u16(at) << 16 | u16(at + 2)) : LE32(data + at); };
    const std::uint64_t at = u32(4);
    if (at + 2 > size) return false;
    const std::uint64_t count = u16(std::size_t(at));
    if (at + 2 + 12 * count + 4 > size) return false;
    for (std::uint64_t i = 0; i < count; ++i) {
        const auto entry = std::size_t(at + 2 + 12 * i);
        const std::uint64_t bytes = std::uint64_t(TypeSize(static_cast<std::uint16_t>(u16(entry + 2)))) * u32(entry + 4);
        if (bytes > 4 && (u32(entry + 8) > size || bytes > size - u32(entry + 8))) return false;
    }
    return true;
}

} // namespace

bool ReadTiffSummary(const std::uint8_t* data, std::size_t size, CTiffSummary& summary, std::string* reason)
{
    if (!FirstDirectoryInside(data, size)) return Fail(reason, "the TIFF directory lies outside the file");
    CTiffContext context;
    context.data = data;
    context.size = size;
    // 'm': never map (the bytes are already in memory).
    TIFF* tif = Open(context, "rm");
    if (!tif) return Fail(reason, context.error.empty() ? "not a readable TIFF file" : context.error);
    CTiffCloser closer{tif};
    std::uint32_t w = 0, h = 0;
    if (!TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w) || !TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h))
        return Fail(reason, "the TIFF directory has no picture size");
    summary.width = static_cast<int>(w);
    summary.height = static_cast<int>(h);
    const auto count = static_cast<tmsize_t>(TIFFIsTiled(tif) ? TIFFNumberOfTiles(tif) : TIFFNumberOfStrips(tif));
    if (count <= 0) return Fail(reason, "the TIFF directory has no picture data");
    for (tmsize_t i = 0; i < count; ++i) {
        const std::uint64_t offset = TIFFGetStrileOffset(tif, static_cast<std::uint32_t>(i));
        const std::uint64_t bytes = TIFFGetStrileByteCount(tif, static_cast<std::uint32_t>(i));
        if (bytes == 0 || offset > size || bytes > size - offset) return Fail(reason, "the TIFF picture data lies outside the file");
    }
    std::uint32_t length = 0;
    void* value = nullptr;
    summary.icc = TIFFGetField(tif, TIFFTAG_ICCPROFILE, &length, &value) && length > 0;
    summary.xmp = TIFFGetField(tif, TIFFTAG_XMLPACKET, &length, &value) && length > 0;
    summary.iptc = TIFFGetField(tif, TIFFTAG_RICHTIFFIPTC, &length, &value) && length > 0;
    std::uint64_t exifAt = 0;
    if (TIFFGetField(tif, TIFFTAG_EXIFIFD, &exifAt)) {
        if (!TIFFReadEXIFDirectory(tif, exifAt)) return Fail(reason, context.error.empty() ? "the EXIF directory cannot be read" : context.error);
        summary.exif = true;
    }
    if (!context.error.empty()) return Fail(reason, context.error);
    return true;
}
