#include "io/tiff_decoder.h"

#include "io/file_guards.h"

#include <QtGlobal>

#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

namespace {

struct CMemorySource
{
    const std::uint8_t* data;
    std::size_t size;
    std::size_t pos;
    std::string firstError; // libtiff's first complaint: later ones are usually its consequences
};

tmsize_t SourceRead(thandle_t handle, void* out, tmsize_t count)
{
    auto* source = static_cast<CMemorySource*>(handle);
    if (count < 0 || source->pos >= source->size) return 0;
    const std::size_t n = std::min<std::size_t>(std::size_t(count), source->size - source->pos);
    std::memcpy(out, source->data + source->pos, n);
    source->pos += n;
    return static_cast<tmsize_t>(n);
}

tmsize_t SourceWrite(thandle_t, void*, tmsize_t)
{
    return 0;
}

toff_t SourceSeek(thandle_t handle, toff_t offset, int whence)
{
    auto* source = static_cast<CMemorySource*>(handle);
    std::uint64_t base = 0;
    if (whence == SEEK_CUR) base = source->pos;
    else if (whence == SEEK_END) base = source->size;
    // Offsets arrive unsigned; a backward seek from the current position or the end wraps around.
    const std::uint64_t target = base + offset;
    if (target > source->size) return static_cast<toff_t>(-1);
    source->pos = static_cast<std::size_t>(target);
    return target;
}

int SourceClose(thandle_t)
{
    return 0;
}

toff_t SourceSize(thandle_t handle)
{
    return static_cast<CMemorySource*>(handle)->size;
}

// The bytes are already in memory: libtiff reads them in place instead of copying each strip.
int SourceMap(thandle_t handle, void** base, toff_t* size)
{
    auto* source = static_cast<CMemorySource*>(handle);
    *base = const_cast<std::uint8_t*>(source->data);
    *size = source->size;
    return 1;
}

void SourceUnmap(thandle_t, void*, toff_t) {}

std::string Format(const char* module, const char* format, va_list args)
{
    char text[512];
    std::vsnprintf(text, sizeof text, format, args);
    return module && *module ? std::string(module) + ": " + text : std::string(text);
}

// Returning 1 keeps libtiff's global handlers (which print to stderr) out of it.
int OnError(TIFF*, void* user, const char* module, const char* format, va_list args)
{
    auto* source = static_cast<CMemorySource*>(user);
    if (source->firstError.empty()) source->firstError = Format(module, format, args);
    return 1;
}

int OnWarning(TIFF*, void*, const char* module, const char* format, va_list args)
{
    qWarning("TIFF: %s", Format(module, format, args).c_str());
    return 1;
}

struct TiffCloser
{
    void operator()(TIFF* tif) const { TIFFClose(tif); }
};

struct OptionsFreer
{
    void operator()(TIFFOpenOptions* options) const { TIFFOpenOptionsFree(options); }
};

DirectResult Refuse(std::string* reason, std::string text)
{
    if (reason) *reason = std::move(text);
    return DirectResult::Refused;
}

// libtiff's first error when it gave one, else our own words.
DirectResult RefuseWith(std::string* reason, const CMemorySource& source, const char* fallback)
{
    return Refuse(reason, source.firstError.empty() ? std::string(fallback) : "TIFF: " + source.firstError);
}

// Every strip or tile must lie inside the file: one that does not means the file was cut short,
// which is said plainly rather than as libtiff's read error halfway through the decode.
bool StrilesInsideFile(TIFF* tif, std::size_t size)
{
    const std::uint32_t count = TIFFIsTiled(tif) ? TIFFNumberOfTiles(tif) : TIFFNumberOfStrips(tif);
    for (std::uint32_t i = 0; i < count; ++i) {
        int error = 0;
        const std::uint64_t offset = TIFFGetStrileOffsetWithErr(tif, i, &error);
        const std::uint64_t bytes = error ? 0 : TIFFGetStrileByteCountWithErr(tif, i, &error);
        if (error || offset > size || bytes > size - offset) return false;
    }
    return true;
}

struct RgbaImageEnder
{
    void operator()(TIFFRGBAImage* image) const { TIFFRGBAImageEnd(image); }
};

} // namespace

DirectResult DecodeTiff(const std::uint8_t* data, std::size_t size, CImage& picture, std::string* reason)
{
    CMemorySource source{data, size, 0, {}};
    const std::unique_ptr<TIFFOpenOptions, OptionsFreer> options(TIFFOpenOptionsAlloc());
    if (!options) return Refuse(reason, "not enough memory");
    TIFFOpenOptionsSetErrorHandlerExtR(options.get(), OnError, &source);
    TIFFOpenOptionsSetWarningHandlerExtR(options.get(), OnWarning, &source);
    // No single buffer beyond what the largest accepted picture needs at 16 bits a sample with alpha.
    TIFFOpenOptionsSetMaxSingleMemAlloc(options.get(), static_cast<tmsize_t>(CImage::kMaxPixels * 8));

    const std::unique_ptr<TIFF, TiffCloser> tif(TIFFClientOpenExt("TIFF", "r", &source, SourceRead, SourceWrite,
                                                                  SourceSeek, SourceClose, SourceSize, SourceMap,
                                                                  SourceUnmap, options.get()));
    if (!tif) return RefuseWith(reason, source, "the TIFF file's header is damaged");

    std::uint32_t width = 0, height = 0;
    TIFFGetField(tif.get(), TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tif.get(), TIFFTAG_IMAGELENGTH, &height);
    const auto fileBytes = static_cast<std::int64_t>(size);
    std::string problem = DeclaredSizeProblem(width, height, fileBytes);
    if (!problem.empty()) return Refuse(reason, problem);

    std::uint32_t bandRows = height;
    if (TIFFIsTiled(tif.get())) {
        std::uint32_t tileWidth = 0, tileLength = 0;
        TIFFGetField(tif.get(), TIFFTAG_TILEWIDTH, &tileWidth);
        TIFFGetField(tif.get(), TIFFTAG_TILELENGTH, &tileLength);
        problem = DeclaredSizeProblem(tileWidth, tileLength, fileBytes);
        if (!problem.empty()) return Refuse(reason, "a tile: " + problem);
        bandRows = tileLength;
    } else {
        TIFFGetFieldDefaulted(tif.get(), TIFFTAG_ROWSPERSTRIP, &bandRows);
    }
    bandRows = std::clamp<std::uint32_t>(bandRows, 1, height);
    std::uint16_t samples = 1, bits = 1;
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_BITSPERSAMPLE, &bits);
    // Extra channels cost decoding memory per pixel that the declared size does not show.
    if (std::uint32_t(samples) * bits > 128) return Refuse(reason, "the TIFF file has too many channels");
    if (!StrilesInsideFile(tif.get(), size)) return Refuse(reason, "the file is truncated (its picture data ends early)");

    char message[1024] = {};
    if (!TIFFRGBAImageOK(tif.get(), message)) return Refuse(reason, std::string("TIFF: ") + message);
    TIFFRGBAImage image{};
    if (!TIFFRGBAImageBegin(&image, tif.get(), 1, message)) return Refuse(reason, std::string("TIFF: ") + message);
    const std::unique_ptr<TIFFRGBAImage, RgbaImageEnder> ender(&image);
    // Rows in the order they are stored, never flipped: libtiff would flip only within each piece
    // it is asked for, and the loader turns the whole picture upright from the one reading of the
    // orientation that saving uses too.
    image.req_orientation = image.orientation;

    CImage decoded;
    if (!decoded.Create(int(width), int(height), 24)) return Refuse(reason, "not enough memory");
    std::vector<std::uint32_t> band;
    try {
        band.resize(std::size_t(width) * bandRows);
    } catch (const std::bad_alloc&) {
        return Refuse(reason, "not enough memory");
    }
    for (std::uint32_t top = 0; top < height; top += bandRows) {
        const std::uint32_t rows = std::min(bandRows, height - top);
        image.row_offset = int(top);
        image.col_offset = 0;
        if (!TIFFRGBAImageGet(&image, band.data(), width, rows))
            return RefuseWith(reason, source, "the TIFF picture data is corrupt");
        // Samples come premultiplied by alpha, so over white each is c + (255 - a).
        for (std::uint32_t r = 0; r < rows; ++r) {
            const std::uint32_t* in = band.data() + std::size_t(r) * width;
            std::uint8_t* out = decoded.bits() + std::ptrdiff_t(top + r) * decoded.pitch();
            for (std::uint32_t x = 0; x < width; ++x, out += 3) {
                const std::uint32_t p = in[x];
                const std::uint32_t lift = 255 - TIFFGetA(p);
                out[0] = static_cast<std::uint8_t>(std::min<std::uint32_t>(TIFFGetB(p) + lift, 255));
                out[1] = static_cast<std::uint8_t>(std::min<std::uint32_t>(TIFFGetG(p) + lift, 255));
                out[2] = static_cast<std::uint8_t>(std::min<std::uint32_t>(TIFFGetR(p) + lift, 255));
            }
        }
    }
    picture = std::move(decoded);
    return DirectResult::Decoded;
}
