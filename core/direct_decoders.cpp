#include "core/direct_decoders.h"

#include "core/file_guards.h"

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <vector>

#include <jpeglib.h>
#include <png.h>

namespace {

DirectResult Refuse(std::string* reason, const char* text)
{
    if (reason) *reason = text;
    return DirectResult::Refused;
}

DirectResult CheckSize(std::uint32_t w, std::uint32_t h, std::size_t fileBytes, std::string* reason)
{
    const std::int64_t pixels = std::int64_t(w) * std::int64_t(h);
    if (w == 0 || h == 0) return DirectResult::NotHandled;
    if (pixels > CImage::kMaxPixels) return Refuse(reason, "the picture is too large");
    if (ImplausiblyDense(pixels, static_cast<std::int64_t>(fileBytes)))
        return Refuse(reason, "the file is too small for the size it claims");
    return DirectResult::Decoded;
}

// ---- JPEG -----------------------------------------------------------------------------------------

struct JpegErrors
{
    jpeg_error_mgr manager;
    std::jmp_buf jump;
};

[[noreturn]] void JpegFail(j_common_ptr cinfo)
{
    std::longjmp(reinterpret_cast<JpegErrors*>(cinfo->err)->jump, 1);
}

// Recoverable damage (a truncated scan) is decoded as far as it goes, like the general reader does;
// its warnings are not ours to print.
void JpegQuiet(j_common_ptr) {}

int ExifOrientation(const jpeg_saved_marker_ptr markers)
{
    for (jpeg_saved_marker_ptr m = markers; m; m = m->next) {
        if (m->marker != JPEG_APP0 + 1 || m->data_length < 14 || std::memcmp(m->data, "Exif\0\0", 6) != 0) continue;
        const JOCTET* tiff = m->data + 6;
        const std::size_t n = m->data_length - 6;
        const bool little = tiff[0] == 'I' && tiff[1] == 'I';
        if (!little && !(tiff[0] == 'M' && tiff[1] == 'M')) return 0;
        const auto u16 = [&](std::size_t at) -> unsigned {
            return little ? unsigned(tiff[at]) | unsigned(tiff[at + 1]) << 8 : unsigned(tiff[at]) << 8 | unsigned(tiff[at + 1]);
        };
        const auto u32 = [&](std::size_t at) -> std::size_t {
            return little ? std::size_t(u16(at)) | std::size_t(u16(at + 2)) << 16 : std::size_t(u16(at)) << 16 | u16(at + 2);
        };
        const std::size_t ifd = u32(4);
        if (ifd + 2 > n) return 0;
        const unsigned entries = u16(ifd);
        for (unsigned i = 0; i < entries; ++i) {
            const std::size_t e = ifd + 2 + std::size_t(i) * 12;
            if (e + 12 > n) return 0;
            if (u16(e) == 0x0112) return static_cast<int>(u16(e + 8));
        }
        return 0;
    }
    return 0;
}

bool JpegReadHeader(jpeg_decompress_struct* cinfo, JpegErrors* errors, const std::uint8_t* data, std::size_t size)
{
    if (setjmp(errors->jump)) return false;
    jpeg_mem_src(cinfo, data, static_cast<unsigned long>(size));
    jpeg_save_markers(cinfo, JPEG_APP0 + 1, 0xFFFF);
    return jpeg_read_header(cinfo, TRUE) == JPEG_HEADER_OK;
}

bool JpegReadPixels(jpeg_decompress_struct* cinfo, JpegErrors* errors, CImage* picture)
{
    if (setjmp(errors->jump)) return false;
    cinfo->out_color_space = JCS_EXT_BGR;
    jpeg_start_decompress(cinfo);
    if (cinfo->output_components != 3 || cinfo->output_width != JDIMENSION(picture->width()) ||
        cinfo->output_height != JDIMENSION(picture->height()))
        return false;
    while (cinfo->output_scanline < cinfo->output_height) {
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

} // namespace

DirectResult DecodeJpegDirect(const std::uint8_t* data, std::size_t size, CImage& picture, std::string* reason)
{
    jpeg_decompress_struct cinfo{};
    JpegErrors errors{};
    cinfo.err = jpeg_std_error(&errors.manager);
    errors.manager.error_exit = JpegFail;
    errors.manager.output_message = JpegQuiet;
    jpeg_create_decompress(&cinfo);

    DirectResult result = DirectResult::NotHandled;
    if (JpegReadHeader(&cinfo, &errors, data, size) && cinfo.data_precision == 8 &&
        (cinfo.jpeg_color_space == JCS_YCbCr || cinfo.jpeg_color_space == JCS_GRAYSCALE ||
         cinfo.jpeg_color_space == JCS_RGB) &&
        ExifOrientation(cinfo.marker_list) <= 1) {
        result = CheckSize(cinfo.image_width, cinfo.image_height, size, reason);
        if (result == DirectResult::Decoded) {
            CImage decoded;
            if (!decoded.Create(int(cinfo.image_width), int(cinfo.image_height), 24)) {
                result = Refuse(reason, "not enough memory");
            } else if (JpegReadPixels(&cinfo, &errors, &decoded)) {
                picture = std::move(decoded);
            } else {
                result = DirectResult::NotHandled;
            }
        }
    }
    jpeg_destroy_decompress(&cinfo);
    return result;
}

DirectResult DecodePngDirect(const std::uint8_t* data, std::size_t size, CImage& picture, std::string* reason)
{
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
