#include "io/direct_decoders.h"

#include "io/background_fault.h"
#include "io/file_guards.h"
#include "io/jpeg_read_errors.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include <jerror.h>
#include <jpeglib.h>
#include <png.h>
#include <spng.h>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace {

DirectResult Refuse(std::string* reason, const char* text)
{
    if (reason) *reason = text;
    return DirectResult::Refused;
}

DirectResult CheckSize(std::uint32_t w, std::uint32_t h, std::size_t fileBytes, std::string* reason)
{
    if (w == 0 || h == 0) return DirectResult::NotHandled;
    const std::string problem = DeclaredSizeProblem(w, h, static_cast<std::int64_t>(fileBytes));
    if (!problem.empty()) {
        if (reason) *reason = problem;
        return DirectResult::Refused;
    }
    return DirectResult::Decoded;
}

// ---- JPEG -----------------------------------------------------------------------------------------

using JpegErrors = JpegReadErrors;

bool JpegReadHeader(jpeg_decompress_struct* cinfo, JpegErrors* errors, const std::uint8_t* data, std::size_t size)
{
    if (setjmp(errors->jump)) return false;
    jpeg_mem_src(cinfo, data, static_cast<unsigned long>(size));
    return jpeg_read_header(cinfo, TRUE) == JPEG_HEADER_OK;
}

// Decodes into `picture` (already of the frame's size). CMYK files (as written with an Adobe
// marker, inverted) are converted per row the way the general reader does: channel * K / 255.
bool JpegReadPixels(jpeg_decompress_struct* cinfo, JpegErrors* errors, CImage* picture, std::uint8_t* cmykRow)
{
    if (setjmp(errors->jump)) return false;
    const bool cmyk = cinfo->jpeg_color_space == JCS_CMYK || cinfo->jpeg_color_space == JCS_YCCK;
    cinfo->out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGR;
    jpeg_start_decompress(cinfo);
    if (cinfo->output_components != (cmyk ? 4 : 3) || cinfo->output_width != JDIMENSION(picture->width()) ||
        cinfo->output_height != JDIMENSION(picture->height()))
        return false;
    while (cinfo->output_scanline < cinfo->output_height) {
        std::uint8_t* out = picture->bits() + std::ptrdiff_t(cinfo->output_scanline) * picture->pitch();
        if (cmyk) {
            JSAMPROW row = cmykRow;
            if (jpeg_read_scanlines(cinfo, &row, 1) == 0) return false;
            const std::uint8_t* in = cmykRow;
            for (JDIMENSION x = 0; x < cinfo->output_width; ++x, in += 4, out += 3) {
                const int k = in[3];
                out[0] = static_cast<std::uint8_t>(k * in[2] / 255);
                out[1] = static_cast<std::uint8_t>(k * in[1] / 255);
                out[2] = static_cast<std::uint8_t>(k * in[0] / 255);
            }
            continue;
        }
        JSAMPROW rows[4];
        const JDIMENSION first = cinfo->output_scanline;
        JDIMENSION count = 0;
        for (; count < 4 && first + count < cinfo->output_height; ++count)
            rows[count] = picture->bits() + std::ptrdiff_t(first + count) * picture->pitch();
        if (jpeg_read_scanlines(cinfo, rows, count) == 0) return false;
    }
    jpeg_finish_decompress(cinfo);
    return true;
}

// Huffman coding spends at least one bit on every 8 x 8 block of every component (its DC value), so
// a file shorter than that cannot hold the picture it declares: libjpeg would make up the rest,
// spending time and memory on data that is not there. Arithmetic coding can spend less.
bool HoldsEveryBlock(const jpeg_decompress_struct& cinfo, std::size_t size)
{
    if (cinfo.arith_code) return true;
    std::uint64_t fewest = ~std::uint64_t(0);
    for (int c = 0; c < cinfo.num_components; ++c)
        fewest = std::min(fewest, std::uint64_t(cinfo.comp_info[c].width_in_blocks) * cinfo.comp_info[c].height_in_blocks);
    return fewest / 8 <= size;
}

// ---- PNG ------------------------------------------------------------------------------------------

struct PngSource
{
    const std::uint8_t* data;
    std::size_t size;
    std::size_t pos;
};

void PngRead(png_structp png, png_bytep out, png_size_t count)
{
    auto* source = static_cast<PngSource*>(png_get_io_ptr(png));
    if (count > source->size - source->pos) png_error(png, "unexpected end of file");
    std::memcpy(out, source->data + source->pos, count);
    source->pos += count;
}

void PngQuiet(png_structp, png_const_charp) {}

[[noreturn]] void PngFail(png_structp png, png_const_charp)
{
    png_longjmp(png, 1);
}

bool PngReadInfo(png_structp png, png_infop info)
{
    if (setjmp(png_jmpbuf(png))) return false;
    png_read_info(png, info);
    return true;
}

bool PngReadPixels(png_structp png, png_infop info, int colourType, int bitDepth, png_bytepp rows)
{
    if (setjmp(png_jmpbuf(png))) return false;
    if (colourType == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
    if (colourType == PNG_COLOR_TYPE_GRAY) {
        if (bitDepth < 8) png_set_expand_gray_1_2_4_to_8(png);
        png_set_gray_to_rgb(png);
    }
    png_set_bgr(png);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    if (png_get_rowbytes(png, info) != png_get_image_width(png, info) * 3) return false;
    png_read_image(png, rows);
    png_read_end(png, nullptr);
    return true;
}

#if defined(__x86_64__)
__attribute__((target("ssse3"))) std::size_t CopySwappedSsse3(std::uint8_t* to, const std::uint8_t* from,
                                                              std::size_t bytes)
{
    // Four pixels from each 16-byte window; the window's last four bytes are stored as they came
    // and then overwritten by the next window's store. Reading one buffer and writing another keeps
    // every load clear of the stores before it.
    const __m128i order = _mm_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 12, 13, 14, 15);
    std::size_t done = 0;
    for (; bytes - done >= 16; done += 12) {
        const __m128i pixels = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + done));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to + done), _mm_shuffle_epi8(pixels, order));
    }
    return done;
}
#endif

// Copies a row of red-green-blue pixels as blue-green-red. Swapped byte by byte in place, this took
// as long as a twentieth of the whole PNG decoding.
void CopyRedBlueSwapped(std::uint8_t* to, const std::uint8_t* from, std::size_t bytes)
{
    std::size_t done = 0;
#if defined(__x86_64__)
    static const bool ssse3 = __builtin_cpu_supports("ssse3");
    if (ssse3 && bytes >= 16) done = CopySwappedSsse3(to, from, bytes);
#endif
    for (std::size_t x = done; x + 2 < bytes; x += 3) {
        to[x] = from[x + 2];
        to[x + 1] = from[x + 1];
        to[x + 2] = from[x];
    }
}

// libspng decodes the common layout (8 bits per sample, no transparency, rows in order) faster than
// libpng, chiefly through its filter code. It must give libpng's pixels: anything it stops at, the
// libpng path below decodes as before, reasons and all.
bool DecodePngSpng(const std::uint8_t* data, std::size_t size, CImage& picture)
{
    spng_ctx* ctx = spng_ctx_new(0);
    if (!ctx) return false;
    // Checksums stay checked although the structure guard has seen the chunks' already: telling the
    // library to trust them also stops it checking the compressed stream's own.
    bool ok = spng_set_png_buffer(ctx, data, size) == 0;
    spng_ihdr ihdr{};
    spng_trns trns{};
    ok = ok && spng_get_ihdr(ctx, &ihdr) == 0 && ihdr.interlace_method == SPNG_INTERLACE_NONE &&
         ((ihdr.color_type == SPNG_COLOR_TYPE_TRUECOLOR && ihdr.bit_depth == 8) ||
          ihdr.color_type == SPNG_COLOR_TYPE_INDEXED ||
          (ihdr.color_type == SPNG_COLOR_TYPE_GRAYSCALE && ihdr.bit_depth <= 8)) &&
         spng_get_trns(ctx, &trns) == SPNG_ECHUNKAVAIL &&
         DeclaredSizeProblem(ihdr.width, ihdr.height, static_cast<std::int64_t>(size)).empty();
    CImage decoded;
    ok = ok && decoded.CreateForOverwrite(int(ihdr.width), int(ihdr.height), 24) &&
         spng_decode_image(ctx, nullptr, 0, SPNG_FMT_RGB8, SPNG_DECODE_PROGRESSIVE) == 0;
    const orvex_memory::CBackgroundFault fault(decoded.bufferStart(), decoded.bufferBytes());
    const std::size_t rowBytes = std::size_t(ihdr.width) * 3;
    // Each row is decoded into a buffer that stays in the cache and copied into place from there.
    const std::unique_ptr<std::uint8_t[]> decodedRow(ok ? new (std::nothrow) std::uint8_t[rowBytes] : nullptr);
    int status = ok && decodedRow ? 0 : SPNG_EINTERNAL;
    for (int y = 0; ok && status == 0; ++y) {
        if (y >= decoded.height()) {
            status = SPNG_EINTERNAL;
            break;
        }
        std::uint8_t* row = decoded.bits() + std::ptrdiff_t(y) * decoded.pitch();
        status = spng_decode_row(ctx, decodedRow.get(), rowBytes);
        if (status != 0 && status != SPNG_EOI) break;
        CopyRedBlueSwapped(row, decodedRow.get(), rowBytes);
        // The bytes past the last pixel are the row's padding, not left as the memory held them.
        std::memset(row + rowBytes, 0, decoded.rowBytes() - rowBytes);
        if (status == SPNG_EOI && y + 1 != decoded.height()) status = SPNG_EINTERNAL;
    }
    spng_ctx_free(ctx);
    if (!ok || status != SPNG_EOI) return false;
    picture = std::move(decoded);
    return true;
}

} // namespace

DirectResult DecodeJpegDirect(const std::uint8_t* data, std::size_t size, CImage& picture, std::string* reason)
{
    jpeg_decompress_struct cinfo{};
    JpegErrors errors{};
    cinfo.err = jpeg_std_error(&errors.manager);
    errors.manager.error_exit = JpegReadFail;
    errors.manager.emit_message = JpegReadWarning;
    jpeg_create_decompress(&cinfo);

    const auto libjpegReason = [&] {
        char text[JMSG_LENGTH_MAX] = {};
        errors.manager.format_message(reinterpret_cast<j_common_ptr>(&cinfo), text);
        return std::string(text);
    };
    DirectResult result = DirectResult::Decoded;
    if (!JpegReadHeader(&cinfo, &errors, data, size)) {
        result = errors.truncated ? Refuse(reason, "the file is truncated (its picture data ends early)")
                                  : Refuse(reason, libjpegReason().c_str());
    } else {
        result = CheckSize(cinfo.image_width, cinfo.image_height, size, reason);
        if (result == DirectResult::NotHandled) result = Refuse(reason, "the file claims an invalid picture size");
        if (result == DirectResult::Decoded && !HoldsEveryBlock(cinfo, size)) {
            const std::string claimed = std::to_string(cinfo.image_width) + " x " + std::to_string(cinfo.image_height);
            result = Refuse(reason, ("the file is too small for the " + claimed + " pixels it claims").c_str());
        }
    }
    if (result == DirectResult::Decoded) {
        CImage decoded;
        std::vector<std::uint8_t> cmykRow;
        if (!decoded.Create(int(cinfo.image_width), int(cinfo.image_height), 24)) {
            result = Refuse(reason, "not enough memory");
        } else {
            cmykRow.resize(std::size_t(cinfo.image_width) * 4);
            const orvex_memory::CBackgroundFault fault(decoded.bufferStart(), decoded.bufferBytes());
            if (!JpegReadPixels(&cinfo, &errors, &decoded, cmykRow.data())) {
                result = errors.truncated ? Refuse(reason, "the file is truncated (its picture data ends early)")
                                          : Refuse(reason, libjpegReason().c_str());
            } else {
                picture = std::move(decoded);
            }
        }
    }
    jpeg_destroy_decompress(&cinfo);
    return result;
}

DirectResult DecodePngDirect(const std::uint8_t* data, std::size_t size, CImage& picture, std::string* reason)
{
    if (DecodePngSpng(data, size, picture)) return DirectResult::Decoded;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, PngFail, PngQuiet);
    if (!png) return DirectResult::NotHandled;
    png_infop info = png_create_info_struct(png);
    PngSource source{data, size, 0};
    png_set_read_fn(png, &source, PngRead);

    DirectResult result = DirectResult::NotHandled;
    if (info && PngReadInfo(png, info)) {
        const int colourType = png_get_color_type(png, info);
        const int bitDepth = png_get_bit_depth(png, info);
        const bool opaque8 = !png_get_valid(png, info, PNG_INFO_tRNS) &&
                             ((colourType == PNG_COLOR_TYPE_RGB && bitDepth == 8) || colourType == PNG_COLOR_TYPE_PALETTE ||
                              (colourType == PNG_COLOR_TYPE_GRAY && bitDepth <= 8));
        if (opaque8) {
            result = CheckSize(png_get_image_width(png, info), png_get_image_height(png, info), size, reason);
            if (result == DirectResult::Decoded) {
                CImage decoded;
                std::vector<png_bytep> rows;
                if (!decoded.Create(int(png_get_image_width(png, info)), int(png_get_image_height(png, info)), 24)) {
                    result = Refuse(reason, "not enough memory");
                } else {
                    rows.resize(std::size_t(decoded.height()));
                    for (int y = 0; y < decoded.height(); ++y) rows[std::size_t(y)] = decoded.bits() + std::ptrdiff_t(y) * decoded.pitch();
                    if (PngReadPixels(png, info, colourType, bitDepth, rows.data())) picture = std::move(decoded);
                    else result = DirectResult::NotHandled;
                }
            }
        }
    }
    png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
    return result;
}
