// Paletted and run-length BMPs read by our own decoder: the same pixels as the general reader on
// sound files, and black (never stale memory) wherever a broken file leaves a pixel unpainted.
#include "io/bmp_decoder.h"
#include "tests/test_pictures.h"

#include <QDirIterator>
#include <QFile>
#include <QImageReader>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <vector>

using namespace test_pictures;

namespace {

using CBytes = std::vector<std::uint8_t>;

void Append16(CBytes& b, unsigned v)
{
    b.push_back(std::uint8_t(v));
    b.push_back(std::uint8_t(v >> 8));
}

void Append32(CBytes& b, std::uint32_t v)
{
    Append16(b, v & 0xFFFF);
    Append16(b, v >> 16);
}

// A Windows BMP with a 40-byte header; `palette` holds B,G,R,x quadruples.
CBytes Bmp(int width, int height, int bits, std::uint32_t compression, const CBytes& palette, const CBytes& body)
{
    const auto offset = std::uint32_t(54 + palette.size());
    CBytes b{'B', 'M'};
    Append32(b, offset + std::uint32_t(body.size()));
    Append32(b, 0);
    Append32(b, offset);
    Append32(b, 40);
    Append32(b, std::uint32_t(width));
    Append32(b, std::uint32_t(height));
    Append16(b, 1);
    Append16(b, unsigned(bits));
    Append32(b, compression);
    Append32(b, std::uint32_t(body.size()));
    Append32(b, 2835);
    Append32(b, 2835);
    Append32(b, std::uint32_t(palette.size() / 4));
    Append32(b, 0);
    b.insert(b.end(), palette.begin(), palette.end());
    b.insert(b.end(), body.begin(), body.end());
    return b;
}

CImage Decode(const CBytes& file)
{
    CImage picture;
    EXPECT_EQ(DecodeBmpDirect(file.data(), file.size(), picture, nullptr), DirectResult::Decoded);
    return picture;
}

// Picture bytes B,G,R of every pixel of row y (0 = top).
CBytes Row(const CImage& picture, int y)
{
    const std::uint8_t* p = picture.bits() + std::ptrdiff_t(y) * picture.pitch();
    return CBytes(p, p + 3 * picture.width());
}

QByteArray ReadFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

const std::uint8_t* Data(const QByteArray& bytes)
{
    return reinterpret_cast<const std::uint8_t*>(bytes.constData());
}

// Broken files whose pixels the general reader partly leaves as the memory held them.
const char* const kUnpaintedByGeneralReader[] = {
    "b/badrle.bmp",      "b/badrlebis.bmp",   "b/badrleter.bmp",  "b/badrle4.bmp",
    "b/badrle4bis.bmp",  "b/badrle4ter.bmp",  "b/shortfile.bmp",  "q/pal8rlecut.bmp",
    "q/pal8rletrns.bmp", "q/pal4rletrns.bmp", "q/pal4rlecut.bmp", "q/pal8os2sp.bmp",
};

bool UnpaintedByGeneralReader(const QString& path)
{
    for (const char* name : kUnpaintedByGeneralReader)
        if (path.endsWith(QStringLiteral("/bmpsuite/") + QLatin1String(name))) return true;
    return false;
}

} // namespace

// Every corpus BMP we decode ourselves and the general reader decodes the same in every run comes
// out with the general reader's pixels.
TEST(BmpDecoder, CorpusMatchesTheGeneralReader)
{
    const QString root = QString::fromStdString(TestDataDir());
    if (root.isEmpty()) GTEST_SKIP() << "ORVEX_TESTDATA_DIR is not set";
    QDirIterator files(root, {"*.bmp", "*.dib"}, QDir::Files, QDirIterator::Subdirectories);
    int compared = 0;
    while (files.hasNext()) {
        const QString path = files.next();
        if (UnpaintedByGeneralReader(path)) continue;
        SCOPED_TRACE(path.toStdString());
        const QByteArray bytes = ReadFile(path);
        CImage ours;
        if (DecodeBmpDirect(Data(bytes), std::size_t(bytes.size()), ours, nullptr) != DirectResult::Decoded) continue;
        QImageReader reader(path, "bmp");
        const QImage theirs = reader.read().convertToFormat(QImage::Format_RGB888);
        if (theirs.isNull()) continue; // a file only we accept has nothing to be held against
        ++compared;
        ASSERT_EQ(ours.width(), theirs.width());
        ASSERT_EQ(ours.height(), theirs.height());
        for (int y = 0; y < ours.height(); ++y) {
            const CBytes row = Row(ours, y);
            const uchar* expected = theirs.constScanLine(y);
            for (int x = 0; x < ours.width(); ++x)
                ASSERT_TRUE(row[3 * x] == expected[3 * x + 2] && row[3 * x + 1] == expected[3 * x + 1] &&
                            row[3 * x + 2] == expected[3 * x])
                    << "pixel " << x << "," << y;
        }
    }
    EXPECT_GE(compared, 25);
}

// The files the general reader leaves partly unpainted decode the same with the heap dirtied
// between two decodings.
TEST(BmpDecoder, BrokenFilesDecodeTheSameWhateverTheHeapHeld)
{
    const std::string root = TestDataDir();
    if (root.empty()) GTEST_SKIP() << "ORVEX_TESTDATA_DIR is not set";
    for (const char* name : kUnpaintedByGeneralReader) {
        SCOPED_TRACE(name);
        const QByteArray bytes = ReadFile(QString::fromStdString(root + "/bmp/bmpsuite/" + name));
        ASSERT_FALSE(bytes.isEmpty());
        CImage first, second;
        ASSERT_EQ(DecodeBmpDirect(Data(bytes), std::size_t(bytes.size()), first, nullptr), DirectResult::Decoded);
        for (int i = 0; i < 4; ++i) {
            const std::size_t amount = std::size_t(1 + i) << 20;
            void* dirt = std::malloc(amount);
            ASSERT_NE(dirt, nullptr);
            std::memset(dirt, 0xAA, amount);
            std::free(dirt);
        }
        ASSERT_EQ(DecodeBmpDirect(Data(bytes), std::size_t(bytes.size()), second, nullptr), DirectResult::Decoded);
        EXPECT_TRUE(SamePixels(first, second));
    }
}

// RLE8: a delta skips pixels, a run overruns its row, an index has no palette entry.
TEST(BmpDecoder, RunLengthLeavesUnpaintedPixelsBlack)
{
    const CBytes palette{30, 20, 10, 0, 255, 255, 255, 0};
    const CBytes body{2, 1,             // bottom row: two white pixels
                      0, 2, 2, 1,       // delta: two right, one up (x = 4, middle row)
                      3, 1,             // three white, clipped to the last pixel
                      0, 0,             // end of line: top row
                      0, 3, 1, 0, 7, 0, // absolute: white, entry 0, no entry; padded
                      0, 1};
    const CImage picture = Decode(Bmp(5, 3, 8, 1, palette, body));
    ASSERT_EQ(picture.width(), 5);
    ASSERT_EQ(picture.height(), 3);
    const CBytes black(3, 0), white(3, 255), first{30, 20, 10};
    const auto join = [](std::initializer_list<CBytes> pixels) {
        CBytes row;
        for (const CBytes& p : pixels) row.insert(row.end(), p.begin(), p.end());
        return row;
    };
    EXPECT_EQ(Row(picture, 2), join({white, white, black, black, black}));
    EXPECT_EQ(Row(picture, 1), join({black, black, black, black, white}));
    EXPECT_EQ(Row(picture, 0), join({white, first, black, black, black}));

    // A delta past the top row ends the picture; what follows is not painted anywhere.
    const CImage ended = Decode(Bmp(2, 2, 8, 1, palette, {0, 2, 0, 5, 2, 1, 0, 1}));
    EXPECT_EQ(Row(ended, 0), join({black, black}));
    EXPECT_EQ(Row(ended, 1), join({black, black}));

    // A stream cut short (no end-of-picture code, a run missing its value) keeps what came before.
    const CImage cut = Decode(Bmp(3, 2, 8, 1, palette, {1, 1, 0, 0, 3}));
    EXPECT_EQ(Row(cut, 1), join({white, black, black}));
    EXPECT_EQ(Row(cut, 0), join({black, black, black}));
}

// RLE4: runs alternate their two nibbles, absolute runs of an odd count are padded to a word.
TEST(BmpDecoder, RunLengthFourBitNibbles)
{
    CBytes palette;
    for (int i = 0; i < 4; ++i) palette.insert(palette.end(), {std::uint8_t(i), std::uint8_t(10 * i), 7, 0});
    const CBytes body{3, 0x12, 0,    0,             // bottom: 1 2 1
                      0, 5,    0x32, 0x10, 0x20, 0, // top: 3 2 1 0 2 (three bytes, padded to four)
                      0, 1};
    const CImage picture = Decode(Bmp(5, 2, 4, 2, palette, body));
    const auto expect = [&](std::initializer_list<int> indices) {
        CBytes row;
        for (int i : indices) {
            if (i < 0) row.insert(row.end(), {0, 0, 0});
            else row.insert(row.end(), {std::uint8_t(i), std::uint8_t(10 * i), 7});
        }
        return row;
    };
    EXPECT_EQ(Row(picture, 1), expect({1, 2, 1, -1, -1}));
    EXPECT_EQ(Row(picture, 0), expect({3, 2, 1, 0, 2}));
}

// Uncompressed 1, 4 and 8-bit rows, both row orders, odd widths, held against a plain reading of
// the packed indices; the rows a short file lacks stay black.
TEST(BmpDecoder, UncompressedIndexedRows)
{
    for (const int bits : {1, 4, 8}) {
        for (const int width : {1, 7, 9, 13}) {
            for (const bool topDown : {false, true}) {
                SCOPED_TRACE(std::to_string(bits) + " bits, width " + std::to_string(width) +
                             (topDown ? " top-down" : ""));
                const int height = 3, colours = bits == 8 ? 200 : 1 << bits; // 8-bit: some indices lack an entry
                CBytes palette;
                for (int i = 0; i < colours; ++i)
                    palette.insert(palette.end(), {std::uint8_t(i), std::uint8_t(255 - i), std::uint8_t(i * 7), 0});
                const int stride = (width * bits + 31) / 32 * 4;
                CBytes body(std::size_t(stride * height));
                for (std::size_t i = 0; i < body.size(); ++i) body[i] = std::uint8_t(i * 37 + 11);
                // The last file row is cut after its first byte.
                body.resize(body.size() - std::size_t(stride) + 1);
                const CImage picture = Decode(Bmp(width, topDown ? -height : height, bits, 0, palette, body));
                for (int r = 0; r < height; ++r) {
                    CBytes expected;
                    for (int x = 0; x < width; ++x) {
                        const std::size_t at = std::size_t(r * stride + x * bits / 8);
                        int index = -1;
                        if (at < body.size()) {
                            const int shift = 8 - bits - (x * bits) % 8;
                            index = (body[at] >> shift) & ((1 << bits) - 1);
                        }
                        if (index < 0 || index >= colours) expected.insert(expected.end(), {0, 0, 0});
                        else
                            expected.insert(expected.end(), palette.begin() + 4 * index,
                                            palette.begin() + 4 * index + 3);
                    }
                    EXPECT_EQ(Row(picture, topDown ? r : height - 1 - r), expected) << "file row " << r;
                }
            }
        }
    }
}

// Layouts left to the general reader.
TEST(BmpDecoder, OtherLayoutsAreNotHandled)
{
    CImage picture;
    for (const CBytes& file :
         {Bmp(2, -2, 24, 0, {}, CBytes(16)), Bmp(2, 2, 16, 0, {}, CBytes(16)), Bmp(2, 2, 32, 3, {}, CBytes(16)),
          Bmp(2, -2, 8, 1, {}, {0, 1}), Bmp(2, 2, 4, 1, {}, {0, 1}), Bmp(2, 2, 2, 0, {}, CBytes(8))})
        EXPECT_EQ(DecodeBmpDirect(file.data(), file.size(), picture, nullptr), DirectResult::NotHandled);
}

// The OS/2 core header: 16-bit sizes and 3-byte palette entries, the table limited to what lies
// before the pixel data.
TEST(BmpDecoder, Os2CoreHeader)
{
    const auto os2 = [](int width, int height, int bits, const CBytes& palette, const CBytes& body) {
        const auto offset = std::uint32_t(26 + palette.size());
        CBytes b{'B', 'M'};
        Append32(b, offset + std::uint32_t(body.size()));
        Append32(b, 0);
        Append32(b, offset);
        Append32(b, 12);
        Append16(b, unsigned(width));
        Append16(b, unsigned(height));
        Append16(b, 1);
        Append16(b, unsigned(bits));
        b.insert(b.end(), palette.begin(), palette.end());
        b.insert(b.end(), body.begin(), body.end());
        return b;
    };
    // Two entries of the 256 an 8-bit table has: index 2 is black.
    const CImage indexed = Decode(os2(3, 2, 8, {1, 2, 3, 4, 5, 6}, {0, 1, 2, 0, 2, 1, 0, 0}));
    EXPECT_EQ(Row(indexed, 1), (CBytes{1, 2, 3, 4, 5, 6, 0, 0, 0}));
    EXPECT_EQ(Row(indexed, 0), (CBytes{0, 0, 0, 4, 5, 6, 1, 2, 3}));

    const CImage direct = Decode(os2(1, 2, 24, {}, {9, 8, 7, 0, 6, 5, 4, 0}));
    EXPECT_EQ(Row(direct, 1), (CBytes{9, 8, 7}));
    EXPECT_EQ(Row(direct, 0), (CBytes{6, 5, 4}));

    CImage picture;
    const CBytes topDown = os2(1, -2, 24, {}, CBytes(8));
    EXPECT_EQ(DecodeBmpDirect(topDown.data(), topDown.size(), picture, nullptr), DirectResult::NotHandled);
}
