// WebP pictures made here with libwebp's encoder and muxer, read back through the loader: stills must
// give exactly the general reader's pixels, an animation its first frame laid on a white canvas.
#include "core/picture_codec.h"
#include "tests/test_pictures.h"

#include <QBuffer>
#include <QImageReader>

#include <gtest/gtest.h>

#include <webp/encode.h>
#include <webp/mux.h>

#include <cstdlib>
#include <vector>

using namespace test_pictures;

namespace {

// Blue-green-red-alpha rows with every alpha level from clear to opaque, and colours that differ
// per channel so that swaps show.
std::vector<std::uint8_t> Bgra(int width, int height, bool alpha)
{
    std::vector<std::uint8_t> bgra(std::size_t(width) * height * 4);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            std::uint8_t* p = &bgra[(std::size_t(y) * width + x) * 4];
            p[0] = std::uint8_t(x * 37 + y * 5);
            p[1] = std::uint8_t(x * 11 + y * 29 + 60);
            p[2] = std::uint8_t(200 - x * 3 - y * 17);
            p[3] = alpha ? std::uint8_t((x + y * width) * 255 / (width * height - 1)) : 255;
        }
    return bgra;
}

QByteArray Encoded(std::uint8_t* bytes, std::size_t size)
{
    QByteArray file(reinterpret_cast<const char*>(bytes), qsizetype(size));
    WebPFree(bytes);
    return file;
}

QByteArray EncodeStill(const std::vector<std::uint8_t>& bgra, int width, int height, bool lossless, bool alpha)
{
    std::uint8_t* out = nullptr;
    std::size_t size = 0;
    if (alpha) {
        size = lossless ? WebPEncodeLosslessBGRA(bgra.data(), width, height, width * 4, &out)
                        : WebPEncodeBGRA(bgra.data(), width, height, width * 4, 80, &out);
    } else {
        std::vector<std::uint8_t> bgr;
        for (std::size_t i = 0; i < bgra.size(); i += 4) bgr.insert(bgr.end(), &bgra[i], &bgra[i] + 3);
        size = lossless ? WebPEncodeLosslessBGR(bgr.data(), width, height, width * 3, &out)
                        : WebPEncodeBGR(bgr.data(), width, height, width * 3, 80, &out);
    }
    return Encoded(out, size);
}

// An animation of two frames on a `canvasWidth` x `canvasHeight` canvas; the first covers only the
// rectangle at (x0, y0).
QByteArray EncodeAnimation(const QByteArray& first, int x0, int y0, const QByteArray& second, int canvasWidth, int canvasHeight)
{
    WebPMux* mux = WebPMuxNew();
    for (const auto& [frame, x, y] : {std::tuple{&first, x0, y0}, std::tuple{&second, 0, 0}}) {
        WebPMuxFrameInfo info{};
        info.bitstream = {reinterpret_cast<const std::uint8_t*>(frame->constData()), std::size_t(frame->size())};
        info.x_offset = x;
        info.y_offset = y;
        info.duration = 100;
        info.id = WEBP_CHUNK_ANMF;
        info.dispose_method = WEBP_MUX_DISPOSE_NONE;
        info.blend_method = WEBP_MUX_BLEND;
        EXPECT_EQ(WebPMuxPushFrame(mux, &info, 1), WEBP_MUX_OK);
    }
    EXPECT_EQ(WebPMuxSetCanvasSize(mux, canvasWidth, canvasHeight), WEBP_MUX_OK);
    WebPMuxAnimParams params{0xFF102030, 0};
    EXPECT_EQ(WebPMuxSetAnimationParams(mux, &params), WEBP_MUX_OK);
    WebPData assembled{};
    EXPECT_EQ(WebPMuxAssemble(mux, &assembled), WEBP_MUX_OK);
    QByteArray file(reinterpret_cast<const char*>(assembled.bytes), qsizetype(assembled.size));
    WebPDataClear(&assembled);
    WebPMuxDelete(mux);
    return file;
}

bool Load(const QByteArray& file, CImage& picture, QString* reason = nullptr)
{
    return LoadPictureFromMemory(reinterpret_cast<const std::uint8_t*>(file.constData()), std::size_t(file.size()),
                                 picture, reason);
}

// Qt's WebP reader as it was used before, converted the way every general-reader picture is.
CImage GeneralReader(QByteArray file)
{
    QBuffer buffer(&file);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "webp");
    CImage picture;
    EXPECT_TRUE(PictureFromQImage(reader.read(), picture)) << reader.errorString().toStdString();
    return picture;
}

int Over(int c, int a)
{
    return (c * a + 255 * (255 - a) + 127) / 255;
}

} // namespace

TEST(WebpDecoder, StillsGiveTheGeneralReadersPixels)
{
    if (!QImageReader::supportedImageFormats().contains("webp")) GTEST_SKIP() << "no WebP reader to compare with";
    const int w = 23, h = 11;
    for (const bool lossless : {false, true})
        for (const bool alpha : {false, true}) {
            SCOPED_TRACE(testing::Message() << "lossless " << lossless << " alpha " << alpha);
            const std::vector<std::uint8_t> source = Bgra(w, h, alpha);
            const QByteArray file = EncodeStill(source, w, h, lossless, alpha);
            CImage picture;
            QString reason;
            ASSERT_TRUE(Load(file, picture, &reason)) << reason.toStdString();
            EXPECT_TRUE(SamePixels(picture, GeneralReader(file)));
            if (!lossless) continue;
            // Lossless files also keep the source exactly, alpha composited over white.
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x)
                    for (int c = 0; c < 3; ++c) {
                        const std::uint8_t* s = &source[(std::size_t(y) * w + x) * 4];
                        ASSERT_EQ(Pixel(picture, x, y)[c], Over(s[c], s[3])) << x << "," << y;
                    }
        }
}

TEST(WebpDecoder, AnimationOpensAsItsFirstFrameOnAWhiteCanvas)
{
    const int fw = 6, fh = 4, x0 = 4, y0 = 2, cw = 16, ch = 10;
    const std::vector<std::uint8_t> first = Bgra(fw, fh, true);
    const QByteArray file = EncodeAnimation(EncodeStill(first, fw, fh, true, true), x0, y0,
                                            EncodeStill(Bgra(cw, ch, false), cw, ch, true, false), cw, ch);
    CImage picture;
    QString reason;
    ASSERT_TRUE(Load(file, picture, &reason)) << reason.toStdString();
    ASSERT_EQ(picture.width(), cw);
    ASSERT_EQ(picture.height(), ch);
    const CImage reference = QImageReader::supportedImageFormats().contains("webp") ? GeneralReader(file) : CImage();
    for (int y = 0; y < ch; ++y)
        for (int x = 0; x < cw; ++x) {
            const bool inside = x >= x0 && x < x0 + fw && y >= y0 && y < y0 + fh;
            for (int c = 0; c < 3; ++c) {
                const std::uint8_t* s = &first[(std::size_t(y - y0) * fw + (x - x0)) * 4];
                ASSERT_EQ(Pixel(picture, x, y)[c], inside ? Over(s[c], s[3]) : 255) << x << "," << y;
                // The general reader composites through a painter and may round the other way.
                if (!reference.IsNull()) {
                    ASSERT_LE(std::abs(Pixel(picture, x, y)[c] - Pixel(reference, x, y)[c]), 1) << x << "," << y;
                }
            }
        }
}

TEST(WebpDecoder, DamagedFilesAreRefusedWithAReason)
{
    const QByteArray file = EncodeStill(Bgra(40, 30, false), 40, 30, false, false);
    CImage picture;
    QString reason;
    ASSERT_TRUE(Load(file, picture));
    for (const qsizetype cut : {file.size() / 2, file.size() - 3, qsizetype(20)}) {
        CImage cutPicture;
        EXPECT_FALSE(Load(file.left(cut), cutPicture, &reason)) << cut;
        EXPECT_TRUE(reason.contains(QLatin1String("truncated"))) << reason.toStdString();
        EXPECT_TRUE(cutPicture.IsNull());
    }
    // A RIFF that says it is shorter than its picture chunk: the chunk runs past the declared end.
    QByteArray shortRiff = file;
    shortRiff[4] = char(12);
    shortRiff[5] = shortRiff[6] = shortRiff[7] = 0;
    EXPECT_FALSE(Load(shortRiff, picture, &reason));
    EXPECT_FALSE(reason.isEmpty());
}
