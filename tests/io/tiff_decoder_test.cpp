// TIFF files written here with libtiff in the layouts its RGBA interface reads, loaded back and
// checked pixel by pixel against what each layout stores.
#include "io/picture_codec.h"
#include "io/picture_file.h"
#include "tests/test_pictures.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <tiffio.h>

#include <cstring>
#include <vector>

using namespace test_pictures;

namespace {

constexpr int kWidth = 37, kHeight = 21; // neither a multiple of the 16 x 16 tiles

struct CLayout
{
    const char* name;
    std::uint16_t photometric; // RGB, palette or separated (CMYK)
    std::uint16_t bits = 8;
    bool alpha = false;        // unassociated
    std::uint32_t tile = 0;    // 0: strips of `rowsPerStrip` rows
    std::uint32_t rowsPerStrip = 4;
    std::uint16_t orientation = ORIENTATION_TOPLEFT;
};

int Samples(const CLayout& l)
{
    return (l.photometric == PHOTOMETRIC_RGB ? 3 : l.photometric == PHOTOMETRIC_SEPARATED ? 4 : 1) + (l.alpha ? 1 : 0);
}

// The 8-bit value stored for sample `s` of stored pixel (x, y). CMYK's black ink is all or nothing
// so that no rounding is involved; the last sample of an alpha layout is the alpha.
int Stored(const CLayout& l, int x, int y, int s)
{
    if (l.alpha && s == Samples(l) - 1) return (x * 7 + y * 19) & 255;
    if (l.photometric == PHOTOMETRIC_SEPARATED && s == 3) return ((x * y) & 1) * 255;
    return (x * 7 + y * 3 + s * 80) & 255;
}

std::uint16_t PaletteEntry(int index, int channel)
{
    const int v[3] = {index, 255 - index, (index * 7) & 255};
    return std::uint16_t(v[channel] * 257);
}

// What the stored pixel (x, y) looks like over white, as blue, green, red.
void Expected(const CLayout& l, int x, int y, int bgr[3])
{
    for (int c = 0; c < 3; ++c) {
        int v = Stored(l, x, y, c);
        if (l.photometric == PHOTOMETRIC_PALETTE) v = PaletteEntry(Stored(l, x, y, 0), c) / 257;
        if (l.photometric == PHOTOMETRIC_SEPARATED) v = Stored(l, x, y, 3) ? 0 : 255 - v;
        const int a = l.alpha ? Stored(l, x, y, Samples(l) - 1) : 255;
        bgr[2 - c] = (v * a + 255 * (255 - a) + 127) / 255;
    }
}

// `width` pixels of row y from column x0, packed at the layout's depth; zeros outside the picture.
std::vector<std::uint8_t> Row(const CLayout& l, int x0, int y, int width)
{
    std::vector<std::uint8_t> out(std::size_t(width) * Samples(l) * l.bits / 8, 0);
    for (int x = x0; x < x0 + width && x < kWidth && y < kHeight; ++x)
        for (int s = 0; s < Samples(l); ++s) {
            const std::size_t at = std::size_t(x - x0) * Samples(l) + s;
            const std::uint16_t wide = std::uint16_t(Stored(l, x, y, s) * 257);
            if (l.bits == 16) std::memcpy(&out[at * 2], &wide, 2);
            else out[at] = std::uint8_t(Stored(l, x, y, s));
        }
    return out;
}

void WritePage(TIFF* tif, const CLayout& l)
{
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, kWidth);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, kHeight);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, l.bits);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, Samples(l));
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, l.photometric);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    // Uncompressed tiles are what the general reader refused ("Invalid tile byte count").
    TIFFSetField(tif, TIFFTAG_COMPRESSION, l.tile ? COMPRESSION_NONE : COMPRESSION_LZW);
    TIFFSetField(tif, TIFFTAG_ORIENTATION, l.orientation);
    const std::uint16_t extra[1] = {EXTRASAMPLE_UNASSALPHA};
    if (l.alpha) TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, extra);
    if (l.photometric == PHOTOMETRIC_SEPARATED) TIFFSetField(tif, TIFFTAG_INKSET, INKSET_CMYK);
    std::vector<std::uint16_t> map[3];
    for (int c = 0; c < 3; ++c)
        for (int i = 0; i < 256; ++i) map[c].push_back(PaletteEntry(i, c));
    if (l.photometric == PHOTOMETRIC_PALETTE) TIFFSetField(tif, TIFFTAG_COLORMAP, map[0].data(), map[1].data(), map[2].data());
    if (!l.tile) {
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, l.rowsPerStrip);
        for (int y = 0; y < kHeight; ++y) ASSERT_EQ(TIFFWriteScanline(tif, Row(l, 0, y, kWidth).data(), std::uint32_t(y)), 1);
        return;
    }
    TIFFSetField(tif, TIFFTAG_TILEWIDTH, l.tile);
    TIFFSetField(tif, TIFFTAG_TILELENGTH, l.tile);
    for (std::uint32_t ty = 0; ty < kHeight; ty += l.tile)
        for (std::uint32_t tx = 0; tx < kWidth; tx += l.tile) {
            std::vector<std::uint8_t> tile;
            for (std::uint32_t r = 0; r < l.tile; ++r) {
                const auto row = Row(l, int(tx), int(ty + r), int(l.tile));
                tile.insert(tile.end(), row.begin(), row.end());
            }
            ASSERT_GE(TIFFWriteTile(tif, tile.data(), tx, ty, 0, 0), 0);
        }
}

// The file's bytes; with `secondPage` a different page follows the first.
QByteArray WriteTiff(const QTemporaryDir& dir, const CLayout& layout, bool secondPage = false)
{
    const QString path = dir.filePath(QString::fromLatin1(layout.name) + QStringLiteral(".tif"));
    TIFF* tif = TIFFOpen(path.toLocal8Bit().constData(), "w");
    if (!tif) return {};
    WritePage(tif, layout);
    if (secondPage && TIFFWriteDirectory(tif)) WritePage(tif, CLayout{"second", PHOTOMETRIC_PALETTE});
    TIFFClose(tif);
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

TEST(TiffDecoder, EveryLayoutOpensUprightWithTheStoredPixels)
{
    const CLayout layouts[] = {
        {"rgb-strips", PHOTOMETRIC_RGB},
        {"rgb-16x16-tiles-upside-down", PHOTOMETRIC_RGB, 8, false, 16, 0, ORIENTATION_BOTRIGHT},
        {"rgba16-tiles", PHOTOMETRIC_RGB, 16, true, 16},
        {"rgba-one-strip", PHOTOMETRIC_RGB, 8, true, 0, kHeight},
        {"palette", PHOTOMETRIC_PALETTE},
        {"cmyk", PHOTOMETRIC_SEPARATED},
        {"rgb-strips-rotated", PHOTOMETRIC_RGB, 8, false, 0, 3, ORIENTATION_RIGHTTOP},
    };
    QTemporaryDir dir;
    for (const CLayout& layout : layouts) {
        SCOPED_TRACE(layout.name);
        const QByteArray file = WriteTiff(dir, layout, layout.orientation == ORIENTATION_TOPLEFT);
        CImage picture;
        QString reason;
        ASSERT_TRUE(LoadPictureFromMemory(reinterpret_cast<const std::uint8_t*>(file.constData()), std::size_t(file.size()),
                                          picture, &reason))
            << reason.toStdString();
        const bool transposed = layout.orientation == ORIENTATION_RIGHTTOP;
        ASSERT_EQ(picture.width(), transposed ? kHeight : kWidth);
        ASSERT_EQ(picture.height(), transposed ? kWidth : kHeight);
        for (int y = 0; y < picture.height(); ++y)
            for (int x = 0; x < picture.width(); ++x) {
                // Where the upright pixel (x, y) is stored.
                int sx = x, sy = y, bgr[3];
                if (layout.orientation == ORIENTATION_BOTRIGHT) sx = kWidth - 1 - x, sy = kHeight - 1 - y;
                if (transposed) sx = y, sy = kHeight - 1 - x;
                Expected(layout, sx, sy, bgr);
                for (int c = 0; c < 3; ++c) ASSERT_EQ(Pixel(picture, x, y)[c], bgr[c]) << x << "," << y << " channel " << c;
            }
    }
}
