// TIFF files written here with libtiff in the layouts its RGBA interface reads, loaded back and
// checked pixel by pixel against what each layout stores.
#include "core/picture_codec.h"
#include "tests/test_pictures.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <tiffio.h>

#include <vector>

using namespace test_pictures;

namespace {

constexpr int kWidth = 37, kHeight = 21; // neither a multiple of the 16 x 16 tiles

struct CLayout
{
    const char* name;
    std::uint16_t photometric;
    std::uint16_t bits = 8;
    std::uint16_t alpha = 0; // 0, EXTRASAMPLE_ASSOCALPHA or EXTRASAMPLE_UNASSALPHA
    std::uint32_t tile = 0;  // 0: strips of `rowsPerStrip` rows
    std::uint32_t rowsPerStrip = 4;
    std::uint16_t compression = COMPRESSION_NONE;
    std::uint16_t planar = PLANARCONFIG_CONTIG;
    std::uint16_t orientation = ORIENTATION_TOPLEFT;
};

int ColourSamples(const CLayout& l)
{
    if (l.photometric == PHOTOMETRIC_RGB) return 3;
    if (l.photometric == PHOTOMETRIC_SEPARATED) return 4;
    return 1;
}

int AlphaOf(int x, int y)
{
    return (x * 7 + y * 19) & 255;
}

// The 8-bit value a layout stores for sample `s` of stored pixel (x, y).
int Stored8(const CLayout& l, int x, int y, int s)
{
    if (s == ColourSamples(l)) return AlphaOf(x, y);
    int v = 0;
    switch (l.photometric) {
    case PHOTOMETRIC_RGB: v = (x * 7 + y * 3 + s * 80) & 255; break;
    case PHOTOMETRIC_MINISBLACK:
    case PHOTOMETRIC_MINISWHITE: v = l.bits == 1 ? ((x + y) & 1) * 255 : (x * 5 + y * 11) & 255; break;
    case PHOTOMETRIC_PALETTE: v = (x + y * 3) & 255; break;
    case PHOTOMETRIC_SEPARATED: v = s == 3 ? ((x * y) & 1) * 255 : (x * 9 + y * 13 * s + s * 40) & 255; break;
    default: break;
    }
    // Associated alpha stores colours already multiplied by it.
    if (l.alpha == EXTRASAMPLE_ASSOCALPHA) v = v * AlphaOf(x, y) / 255;
    return v;
}

std::uint16_t PaletteEntry(int index, int channel)
{
    const int v[3] = {index, 255 - index, (index * 7) & 255};
    return std::uint16_t(v[channel] * 257);
}

// What the stored pixel (x, y) looks like over white, as blue, green, red.
void Expected(const CLayout& l, int x, int y, int bgr[3])
{
    int rgb[3] = {};
    switch (l.photometric) {
    case PHOTOMETRIC_RGB:
        for (int c = 0; c < 3; ++c) rgb[c] = Stored8(l, x, y, c);
        break;
    case PHOTOMETRIC_MINISBLACK: rgb[0] = rgb[1] = rgb[2] = Stored8(l, x, y, 0); break;
    case PHOTOMETRIC_MINISWHITE: rgb[0] = rgb[1] = rgb[2] = 255 - Stored8(l, x, y, 0); break;
    case PHOTOMETRIC_PALETTE:
        for (int c = 0; c < 3; ++c) rgb[c] = PaletteEntry(Stored8(l, x, y, 0), c) / 257;
        break;
    case PHOTOMETRIC_SEPARATED: // black ink is all or nothing here, so no rounding is involved
        for (int c = 0; c < 3; ++c) rgb[c] = Stored8(l, x, y, 3) ? 0 : 255 - Stored8(l, x, y, c);
        break;
    default: break;
    }
    const int a = l.alpha ? AlphaOf(x, y) : 255;
    for (int c = 0; c < 3; ++c) {
        const int over = l.alpha == EXTRASAMPLE_ASSOCALPHA ? rgb[c] + 255 - a : (rgb[c] * a + 255 * (255 - a) + 127) / 255;
        bgr[2 - c] = over;
    }
}

// Samples `first`..`first + count` of row y from column x0 for `width` pixels, packed at the
// layout's depth.
std::vector<std::uint8_t> Packed(const CLayout& l, int x0, int y, int width, int first, int count, std::size_t bytes)
{
    std::vector<std::uint8_t> out(bytes, 0);
    int at = 0;
    for (int x = x0; x < x0 + width; ++x)
        for (int s = first; s < first + count; ++s, ++at) {
            const int v = x < kWidth && y < kHeight ? Stored8(l, x, y, s) : 0;
            if (l.bits == 1) {
                if (v) out[std::size_t(at / 8)] |= std::uint8_t(0x80 >> (at % 8));
            } else if (l.bits == 16) {
                const std::uint16_t wide = std::uint16_t(v * 257);
                std::memcpy(&out[std::size_t(at) * 2], &wide, 2);
            } else {
                out[std::size_t(at)] = std::uint8_t(v);
            }
        }
    return out;
}

void WritePage(TIFF* tif, const CLayout& l, int width, int height)
{
    const int samples = ColourSamples(l) + (l.alpha ? 1 : 0);
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, l.bits);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, samples);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, l.photometric);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, l.planar);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, l.compression);
    TIFFSetField(tif, TIFFTAG_ORIENTATION, l.orientation);
    if (l.alpha) {
        const std::uint16_t extra[1] = {l.alpha};
        TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, extra);
    }
    if (l.photometric == PHOTOMETRIC_SEPARATED) TIFFSetField(tif, TIFFTAG_INKSET, INKSET_CMYK);
    if (l.photometric == PHOTOMETRIC_PALETTE) {
        std::vector<std::uint16_t> map[3];
        for (int c = 0; c < 3; ++c)
            for (int i = 0; i < 256; ++i) map[c].push_back(PaletteEntry(i, c));
        TIFFSetField(tif, TIFFTAG_COLORMAP, map[0].data(), map[1].data(), map[2].data());
    }
    const bool separate = l.planar == PLANARCONFIG_SEPARATE;
    const int planes = separate ? samples : 1, perPlane = separate ? 1 : samples;
    if (l.tile) {
        TIFFSetField(tif, TIFFTAG_TILEWIDTH, l.tile);
        TIFFSetField(tif, TIFFTAG_TILELENGTH, l.tile);
        const auto bytes = std::size_t(TIFFTileSize(tif));
        const std::size_t rowBytes = bytes / l.tile;
        for (int p = 0; p < planes; ++p)
            for (std::uint32_t ty = 0; ty < std::uint32_t(height); ty += l.tile)
                for (std::uint32_t tx = 0; tx < std::uint32_t(width); tx += l.tile) {
                    std::vector<std::uint8_t> tile;
                    for (std::uint32_t r = 0; r < l.tile; ++r) {
                        const auto row = Packed(l, int(tx), int(ty + r), int(l.tile), p * perPlane, perPlane, rowBytes);
                        tile.insert(tile.end(), row.begin(), row.end());
                    }
                    ASSERT_GE(TIFFWriteTile(tif, tile.data(), tx, ty, 0, std::uint16_t(p)), 0);
                }
    } else {
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, l.rowsPerStrip);
        for (int p = 0; p < planes; ++p)
            for (int y = 0; y < height; ++y) {
                auto row = Packed(l, 0, y, width, p * perPlane, perPlane, std::size_t(TIFFScanlineSize(tif)));
                ASSERT_EQ(TIFFWriteScanline(tif, row.data(), std::uint32_t(y), std::uint16_t(p)), 1);
            }
    }
}

QByteArray WriteTiff(const QTemporaryDir& dir, const CLayout& layout, bool secondPage = false)
{
    const QString path = dir.filePath(QString::fromLatin1(layout.name) + QStringLiteral(".tif"));
    TIFF* tif = TIFFOpen(path.toLocal8Bit().constData(), "w");
    EXPECT_NE(tif, nullptr);
    if (!tif) return {};
    WritePage(tif, layout, kWidth, kHeight);
    if (secondPage) {
        TIFFWriteDirectory(tif);
        WritePage(tif, CLayout{"second", PHOTOMETRIC_MINISBLACK}, 5, 5);
    }
    TIFFClose(tif);
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool Load(const QByteArray& file, CImage& picture, QString* reason)
{
    return LoadPictureFromMemory(reinterpret_cast<const std::uint8_t*>(file.constData()), std::size_t(file.size()),
                                 picture, reason);
}

// Where the upright pixel (x, y) is stored, for the orientations used here.
void StoredAt(int orientation, int x, int y, int& sx, int& sy)
{
    sx = x;
    sy = y;
    if (orientation == ORIENTATION_BOTRIGHT) {
        sx = kWidth - 1 - x;
        sy = kHeight - 1 - y;
    } else if (orientation == ORIENTATION_RIGHTTOP) {
        sx = y;
        sy = kHeight - 1 - x;
    }
}

} // namespace

TEST(TiffDecoder, EveryLayoutOpensWithTheStoredPixels)
{
    const CLayout layouts[] = {
        {"rgb-strips", PHOTOMETRIC_RGB},
        {"rgb-16x16-tiles-lzw", PHOTOMETRIC_RGB, 8, 0, 16, 0, COMPRESSION_LZW},
        {"rgb16-deflate", PHOTOMETRIC_RGB, 16, 0, 0, 5, COMPRESSION_ADOBE_DEFLATE},
        {"rgba16-unassociated-tiles", PHOTOMETRIC_RGB, 16, EXTRASAMPLE_UNASSALPHA, 16},
        {"rgba-associated", PHOTOMETRIC_RGB, 8, EXTRASAMPLE_ASSOCALPHA},
        {"rgba-unassociated-one-strip", PHOTOMETRIC_RGB, 8, EXTRASAMPLE_UNASSALPHA, 0, kHeight, COMPRESSION_LZW},
        {"rgb-planes", PHOTOMETRIC_RGB, 8, 0, 0, 5, COMPRESSION_NONE, PLANARCONFIG_SEPARATE},
        {"grey-min-is-white", PHOTOMETRIC_MINISWHITE},
        {"bilevel-packbits", PHOTOMETRIC_MINISBLACK, 1, 0, 0, 7, COMPRESSION_PACKBITS},
        {"palette-tiles", PHOTOMETRIC_PALETTE, 8, 0, 16},
        {"cmyk", PHOTOMETRIC_SEPARATED},
        {"rgb-tiles-upside-down", PHOTOMETRIC_RGB, 8, 0, 16, 0, COMPRESSION_NONE, PLANARCONFIG_CONTIG, ORIENTATION_BOTRIGHT},
        {"rgb-strips-rotated", PHOTOMETRIC_RGB, 8, 0, 0, 3, COMPRESSION_NONE, PLANARCONFIG_CONTIG, ORIENTATION_RIGHTTOP},
    };
    QTemporaryDir dir;
    for (const CLayout& layout : layouts) {
        SCOPED_TRACE(layout.name);
        const QByteArray file = WriteTiff(dir, layout);
        CImage picture;
        QString reason;
        ASSERT_TRUE(Load(file, picture, &reason)) << reason.toStdString();
        const bool transposed = layout.orientation == ORIENTATION_RIGHTTOP;
        ASSERT_EQ(picture.width(), transposed ? kHeight : kWidth);
        ASSERT_EQ(picture.height(), transposed ? kWidth : kHeight);
        for (int y = 0; y < picture.height(); ++y)
            for (int x = 0; x < picture.width(); ++x) {
                int sx = 0, sy = 0, bgr[3];
                StoredAt(layout.orientation, x, y, sx, sy);
                Expected(layout, sx, sy, bgr);
                for (int c = 0; c < 3; ++c) ASSERT_EQ(Pixel(picture, x, y)[c], bgr[c]) << x << "," << y << " channel " << c;
            }
    }
    // A file of several pages opens at its first.
    const CLayout first{"two-pages", PHOTOMETRIC_RGB};
    CImage picture;
    QString reason;
    ASSERT_TRUE(Load(WriteTiff(dir, first, true), picture, &reason)) << reason.toStdString();
    ASSERT_EQ(picture.width(), kWidth);
    int bgr[3];
    Expected(first, 3, 2, bgr);
    EXPECT_EQ(Pixel(picture, 3, 2)[2], bgr[2]);
}

TEST(TiffDecoder, LibtiffSpeaksOnlyThroughTheLoader)
{
    QTemporaryDir dir;
    QByteArray file = WriteTiff(dir, CLayout{"unknown-tag", PHOTOMETRIC_RGB, 8, 0, 0, kHeight});
    // The strip byte counts (tag 279) given a private tag number libtiff does not know: warnings,
    // and the strip's size is then worked out from the picture's.
    const qsizetype entry = file.lastIndexOf(QByteArray("\x17\x01\x04\x00", 4));
    ASSERT_GT(entry, 0);
    file[entry] = char(0xE8);
    file[entry + 1] = char(0xFD);

    static QStringList messages;
    messages.clear();
    const QtMessageHandler previous = qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& text) {
        messages << text;
    });
    CImage picture;
    QString reason;
    const bool loaded = Load(file, picture, &reason);
    // The same file with its pixel data gone: libtiff's error is the reason.
    CImage cutPicture;
    QString cutReason;
    const bool cutLoaded = Load(file.left(file.size() / 3), cutPicture, &cutReason);
    qInstallMessageHandler(previous);

    EXPECT_TRUE(loaded) << reason.toStdString();
    EXPECT_TRUE(messages.join(QLatin1Char('\n')).contains(QLatin1String("Unknown field"))) << messages.join(QLatin1Char('\n')).toStdString();
    EXPECT_FALSE(cutLoaded);
    EXPECT_FALSE(cutReason.isEmpty());
    EXPECT_TRUE(cutPicture.IsNull());
}
