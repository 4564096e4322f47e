#include "io/direct_decoders.h"
#include "io/picture_codec.h"
#include "io/png_encoder.h"
#include "tests/test_pictures.h"

#include <QDirIterator>
#include <QFile>

#include <gtest/gtest.h>
#include <png.h>

#include <csetjmp>
#include <cstring>
#include <vector>

using namespace test_pictures;

namespace {

struct CPngBytes
{
    const QByteArray* file;
    qsizetype at;
};

bool ReadOpaqueRows(png_structp png, png_infop info, CImage* decoded, std::vector<png_bytep>* rows)
{
    if (setjmp(png_jmpbuf(png))) return false;
    png_read_info(png, info);
    const int type = png_get_color_type(png, info), depth = png_get_bit_depth(png, info);
    const bool opaque8 = !png_get_valid(png, info, PNG_INFO_tRNS) &&
                         ((type == PNG_COLOR_TYPE_RGB && depth == 8) || type == PNG_COLOR_TYPE_PALETTE ||
                          (type == PNG_COLOR_TYPE_GRAY && depth <= 8));
    if (!opaque8 || !decoded->Create(int(png_get_image_width(png, info)), int(png_get_image_height(png, info)), 24))
        return false;
    png_set_palette_to_rgb(png);
    png_set_expand_gray_1_2_4_to_8(png);
    png_set_gray_to_rgb(png);
    png_set_bgr(png);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    for (int y = 0; y < decoded->height(); ++y) rows->push_back(decoded->bits() + std::ptrdiff_t(y) * decoded->pitch());
    png_read_image(png, rows->data());
    png_read_end(png, nullptr);
    return true;
}

// The reading of an opaque 8-bit PNG that opening gave before libspng took over the common layouts,
// kept here as the reference: libpng with the palette and grey expanded and blue first.
bool DecodeWithLibpng(const QByteArray& file, CImage& picture)
{
    CPngBytes source{&file, 0};
    png_structp png = png_create_read_struct(
        PNG_LIBPNG_VER_STRING, nullptr, [](png_structp p, png_const_charp) { png_longjmp(p, 1); },
        [](png_structp, png_const_charp) {});
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        return false;
    }
    png_set_read_fn(png, &source, [](png_structp p, png_bytep out, png_size_t count) {
        auto* s = static_cast<CPngBytes*>(png_get_io_ptr(p));
        if (qsizetype(count) > s->file->size() - s->at) png_error(p, "end of file");
        std::memcpy(out, s->file->constData() + s->at, count);
        s->at += qsizetype(count);
    });
    CImage decoded;
    std::vector<png_bytep> rows;
    const bool ok = ReadOpaqueRows(png, info, &decoded, &rows);
    png_destroy_read_struct(&png, &info, nullptr);
    if (ok) picture = std::move(decoded);
    return ok;
}

} // namespace

TEST(DirectDecoders, PngPixelsAreLibpngsForEveryOpaqueEightBitFile)
{
    // The corpus (grey of every depth, palettes, every row filter, interlaced, gamma and odd widths)
    // and one picture wide enough that its rows carry padding and use every filter.
    std::vector<std::pair<QString, QByteArray>> files;
    for (QDirIterator it(QString::fromStdString(TestDataDir() + "/png"), {QStringLiteral("*.png")}, QDir::Files,
                         QDirIterator::Subdirectories);
         it.hasNext();) {
        QFile file(it.next());
        if (file.open(QIODevice::ReadOnly)) files.emplace_back(file.fileName(), file.readAll());
    }
    ASSERT_GT(files.size(), 100u) << "picture corpus not found under " << TestDataDir();
    std::vector<std::uint8_t> encoded;
    std::string why;
    ASSERT_TRUE(EncodePng(Pattern(301, 77, 5), CPngOptions{}, {}, encoded, &why)) << why;
    files.emplace_back(QStringLiteral("pattern.png"),
                       QByteArray(reinterpret_cast<const char*>(encoded.data()), qsizetype(encoded.size())));

    int compared = 0;
    for (const auto& [name, bytes] : files) {
        SCOPED_TRACE(name.toStdString());
        CImage reference;
        if (!DecodeWithLibpng(bytes, reference)) continue;
        CImage picture;
        QString reason;
        const bool ok = DecodeStoredPicture(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                                            std::size_t(bytes.size()), picture, &reason);
        // A file refused by the structure guard (a bad checksum, say) never reaches a decoder.
        if (!ok) continue;
        ASSERT_TRUE(SamePixels(picture, reference));
        for (int y = 0; y < picture.height(); ++y) {
            const std::uint8_t* row = picture.bits() + std::ptrdiff_t(y) * picture.pitch();
            for (std::size_t i = std::size_t(picture.width()) * 3; i < picture.rowBytes(); ++i)
                ASSERT_EQ(row[i], 0) << "row " << y;
        }
        ++compared;
    }
    EXPECT_GT(compared, 80);
}
