// WebP stills made here with libwebp's encoder must give exactly the general reader's pixels, and
// lossless ones the encoded pixels over white. Animations are in hostile_files_test.cpp.
#include "io/picture_codec.h"
#include "io/picture_file.h"
#include "tests/test_pictures.h"

#include <QBuffer>
#include <QImageReader>

#include <gtest/gtest.h>

#include <webp/encode.h>

#include <vector>

using namespace test_pictures;

TEST(WebpDecoder, StillsGiveTheGeneralReadersPixels)
{
    const int w = 23, h = 11;
    std::vector<std::uint8_t> bgra(std::size_t(w) * h * 4), bgr;
    for (std::size_t i = 0; i < bgra.size(); i += 4) {
        for (int c = 0; c < 3; ++c) bgra[i + c] = std::uint8_t(i * (c + 3) + c * 70);
        bgra[i + 3] = std::uint8_t(i * 255 / bgra.size()); // every level from clear to nearly opaque
        bgr.insert(bgr.end(), &bgra[i], &bgra[i] + 3);
    }
    for (const bool lossless : {false, true})
        for (const bool alpha : {false, true}) {
            SCOPED_TRACE(testing::Message() << "lossless " << lossless << " alpha " << alpha);
            std::uint8_t* out = nullptr;
            const std::size_t size = alpha ? (lossless ? WebPEncodeLosslessBGRA(bgra.data(), w, h, w * 4, &out)
                                                       : WebPEncodeBGRA(bgra.data(), w, h, w * 4, 80, &out))
                                           : (lossless ? WebPEncodeLosslessBGR(bgr.data(), w, h, w * 3, &out)
                                                       : WebPEncodeBGR(bgr.data(), w, h, w * 3, 80, &out));
            QByteArray file(reinterpret_cast<const char*>(out), qsizetype(size));
            WebPFree(out);
            CImage picture;
            QString reason;
            ASSERT_TRUE(LoadPictureFromMemory(reinterpret_cast<const std::uint8_t*>(file.constData()), size, picture, &reason))
                << reason.toStdString();
            if (QImageReader::supportedImageFormats().contains("webp")) {
                QBuffer buffer(&file);
                CImage reference;
                ASSERT_TRUE(PictureFromQImage(QImageReader(&buffer, "webp").read(), reference));
                EXPECT_TRUE(SamePixels(picture, reference));
            }
            for (int i = 0; lossless && i < w * h; ++i) {
                const int a = alpha ? bgra[std::size_t(i) * 4 + 3] : 255;
                for (int c = 0; c < 3; ++c)
                    ASSERT_EQ(Pixel(picture, i % w, i / w)[c], (bgra[std::size_t(i) * 4 + c] * a + 255 * (255 - a) + 127) / 255) << i;
            }
        }
}
