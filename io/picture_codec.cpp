#include "io/picture_codec.h"

#include "core/parallel.h"
#include "io/bmp_decoder.h"
#include "io/device_write.h"
#include "io/direct_decoders.h"
#include "io/file_guards.h"
#include "io/gif_writer.h"
#include "io/jpeg_encoder.h"
#include "io/png_encoder.h"
#include "io/tiff_decoder.h"
#include "io/tiff_writer.h"
#include "io/webp_decoder.h"
#include "io/webp_writer.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <future>
#include <new>
#include <system_error>

namespace {

bool Fail(QString* reason, const QString& text)
{
    if (reason) *reason = text;
    return false;
}

QString SizeText(qint64 w, qint64 h)
{
    return QStringLiteral("%1 x %2").arg(w).arg(h);
}

// Qt refuses to allocate images above 256 MB by default; a 15000 x 10000 photo needs more. Our own
// pixel limit and plausibility checks guard the way in, so the reader may allocate up to what the
// largest accepted picture needs at 8 bytes per pixel (16-bit PNG).
void RaiseReaderLimit()
{
    static const bool once = [] {
        QImageReader::setAllocationLimit(static_cast<int>(CImage::kMaxPixels * 8 / (1024 * 1024)));
        return true;
    }();
    (void)once;
}

// libpng refuses to write more rows or columns than this; libjpeg, more than this; GIF keeps
// sides in 16 bits.
constexpr int kPngMaxSide = 1000000;
constexpr int kJpegMaxSide = 65500;
constexpr int kGifMaxSide = 65535;

void PutLE16(std::uint8_t* p, std::uint32_t v)
{
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}

void PutLE32(std::uint8_t* p, std::uint32_t v)
{
    PutLE16(p, v & 0xFFFF);
    PutLE16(p + 2, v >> 16);
}

// The picture's memory already is a bottom-up 24-bit BMP body: it is written as it stands, with no
// picture-sized copy that could fail for want of memory (the general writer converts first and,
// when that conversion fails, writes an empty picture and reports success).
bool WriteBmp(const CImage& picture, QIODevice& device, QString* reason)
{
    const int w = picture.width();
    const int h = picture.height();
    const std::uint64_t rowBytes = (std::uint64_t(w) * 3 + 3) / 4 * 4;
    const std::uint64_t imageBytes = rowBytes * std::uint64_t(h);
    if (imageBytes + 54 > 0xFFFFFFFFu) return Fail(reason, QStringLiteral("BMP files are limited to 4 GB"));

    std::uint8_t header[54] = {'B', 'M'};
    PutLE32(header + 2, static_cast<std::uint32_t>(imageBytes + 54));
    PutLE32(header + 10, 54);                 // offset of the pixels
    PutLE32(header + 14, 40);                 // BITMAPINFOHEADER
    PutLE32(header + 18, static_cast<std::uint32_t>(w));
    PutLE32(header + 22, static_cast<std::uint32_t>(h)); // positive: bottom-up rows
    PutLE16(header + 26, 1);                  // planes
    PutLE16(header + 28, 24);                 // bits per pixel
    PutLE32(header + 34, static_cast<std::uint32_t>(imageBytes));
    PutLE32(header + 38, 2835);               // 72 dpi
    PutLE32(header + 42, 2835);
    if (!WriteFully(device, reinterpret_cast<const char*>(header), sizeof header, reason)) return false;

    // Rows without padding are the body as it stands, written in one call rather than thousands.
    const std::size_t pixelBytes = std::size_t(w) * 3;
    if (pixelBytes == picture.rowBytes() && h > 0) {
        const auto* body = reinterpret_cast<const char*>(picture.bufferStart());
        return WriteFully(device, body, qint64(imageBytes), reason);
    }
    // Rows go out with their padding zeroed (the picture's own padding bytes are not its pixels).
    const char zeros[4] = {};
    for (int y = h - 1; y >= 0; --y) {
        const auto* row = reinterpret_cast<const char*>(picture.bits() + std::ptrdiff_t(y) * picture.pitch());
        if (!WriteFully(device, row, qint64(pixelBytes), reason) ||
            !WriteFully(device, zeros, qint64(rowBytes - pixelBytes), reason))
            return false;
    }
    return true;
}

// Every format a file name can select, in the order they are tried. Each is written by its own
// library here, never by an image plugin that may be missing (and that would load every other plugin
// installed just to be asked).
const std::vector<CEncoder>& KnownEncoders()
{
    static const std::vector<CEncoder> known = {
        {"jpeg", QStringLiteral("JPEG"), QStringLiteral("*.jpg;*.jpeg;*.jpe;*.jfif")},
        {"bmp", QStringLiteral("BMP"), QStringLiteral("*.bmp;*.dib")},
        {"gif", QStringLiteral("GIF"), QStringLiteral("*.gif")},
        {"png", QStringLiteral("PNG"), QStringLiteral("*.png")},
        {"tiff", QStringLiteral("TIFF"), QStringLiteral("*.tif;*.tiff")},
        {"webp", QStringLiteral("WebP"), QStringLiteral("*.webp")},
    };
    return known;
}

} // namespace

const std::vector<CEncoder>& Encoders()
{
    return KnownEncoders();
}

const CEncoder* EncoderForPath(const QString& path)
{
    const QString name = QFileInfo(path).fileName();
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot < 0) return nullptr;
    const QStringView extension = QStringView(name).mid(dot);
    for (const CEncoder& encoder : KnownEncoders()) {
        for (const QString& pattern : encoder.patterns.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
            const qsizetype patternDot = pattern.lastIndexOf(QLatin1Char('.'));
            if (patternDot >= 0 && QStringView(pattern).mid(patternDot).compare(extension, Qt::CaseInsensitive) == 0)
                return &encoder;
        }
    }
    return nullptr;
}

bool PictureFromQImage(const QImage& source, CImage& picture)
{
    QImage image = source;
    const QImage::Format format = image.format();
    if (format != QImage::Format_RGB32 && format != QImage::Format_ARGB32 &&
        format != QImage::Format_ARGB32_Premultiplied)
        image = image.convertToFormat(image.hasAlphaChannel() ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    if (image.isNull()) return false;

    CImage result;
    if (!result.Create(image.width(), image.height(), 24)) return false;
    const int w = image.width();
    const QImage::Format f = image.format();
    std::uint8_t* const top = result.bits();
    const int pitch = result.pitch();
    ParallelFor(0, image.height(), [&](int y0, int y1) {
        for (int y = y0; y < y1; ++y) {
            const auto* in = reinterpret_cast<const QRgb*>(image.constScanLine(y));
            std::uint8_t* out = top + std::ptrdiff_t(y) * pitch;
            if (f == QImage::Format_RGB32) {
                for (int x = 0; x < w; ++x, out += 3) {
                    const QRgb p = in[x];
                    out[0] = static_cast<std::uint8_t>(qBlue(p));
                    out[1] = static_cast<std::uint8_t>(qGreen(p));
                    out[2] = static_cast<std::uint8_t>(qRed(p));
                }
            } else {
                // Alpha is composited over white: c * a + 255 * (1 - a), rounded.
                const bool premultiplied = f == QImage::Format_ARGB32_Premultiplied;
                for (int x = 0; x < w; ++x, out += 3) {
                    const QRgb p = in[x];
                    const int a = qAlpha(p);
                    const int c[3] = {qBlue(p), qGreen(p), qRed(p)};
                    for (int k = 0; k < 3; ++k) {
                        const int v = premultiplied ? c[k] + (255 - a) : (c[k] * a + 255 * (255 - a) + 127) / 255;
                        out[k] = static_cast<std::uint8_t>(v > 255 ? 255 : v);
                    }
                }
            }
        }
    });
    picture = std::move(result);
    return true;
}

QImage PictureToQImage(const CImage& picture)
{
    return PictureToQImage(picture, CRegion{0, 0, picture.width(), picture.height()});
}

QImage PictureToQImage(const CImage& picture, CRegion region)
{
    if (picture.IsNull() || picture.bitsPerPixel() != 24) return {};
    const int x0 = std::max(region.x, 0), y0 = std::max(region.y, 0);
    const int x1 = static_cast<int>(std::min<std::int64_t>(std::int64_t(region.x) + region.width, picture.width()));
    const int y1 = static_cast<int>(std::min<std::int64_t>(std::int64_t(region.y) + region.height, picture.height()));
    if (x1 <= x0 || y1 <= y0) return {};
    QImage image(x1 - x0, y1 - y0, QImage::Format_BGR888);
    if (image.isNull()) return {};
    const std::size_t rowBytes = std::size_t(x1 - x0) * 3;
    const std::uint8_t* const first = picture.bits() + std::ptrdiff_t(y0) * picture.pitch() + std::ptrdiff_t(x0) * 3;
    const int pitch = picture.pitch();
    // The rows go on both cores: a whole photo is tens of megabytes, and a fresh image's pages are
    // first touched here.
    ParallelFor(0, y1 - y0, [&](int from, int to) {
        for (int y = from; y < to; ++y) std::memcpy(image.scanLine(y), first + std::ptrdiff_t(y) * pitch, rowBytes);
    });
    return image;
}

QImage BufferAsQImage(const CImage& picture)
{
    if (picture.IsNull() || picture.bitsPerPixel() != 24) return {};
    return QImage(picture.bufferStart(), picture.width(), picture.height(),
                  static_cast<qsizetype>(picture.rowBytes()), QImage::Format_BGR888);
}

bool DecodeStoredPicture(const std::uint8_t* data, std::size_t size, CImage& picture, QString* reason)
{
    RaiseReaderLimit();
    if (size == 0) return Fail(reason, QStringLiteral("the file is empty"));
    const auto fileBytes = static_cast<qint64>(size);
    const char* format = DetectPictureFormat(data, size);
    if (!format) return Fail(reason, QStringLiteral("the file is not a JPEG, PNG, BMP, GIF, TIFF or WebP picture"));
    const QByteArray kind(format);

    // Every declared size and the file's structure are checked before a decoder allocates.
    DirectResult direct = DirectResult::NotHandled;
    std::string directReason;
    if (kind == "png") {
        int w = 0, h = 0;
        QString why;
        if (!CheckPngStructure(data, size, &w, &h, &why, false)) return Fail(reason, why);
        if (!CheckDeclaredSize(w, h, fileBytes, reason)) return false;
        // Summing the image data's checksums takes as long as a tenth of the decoding, so it runs on
        // the other core meanwhile; a mismatch still refuses the file, whatever was decoded. A thread
        // held to one core (pictures decoded side by side) sums them itself.
        std::future<bool> sums;
        QString sumsWhy;
        try {
            if (ParallelThreadCount() > 1)
                sums = std::async(std::launch::async,
                                  [data, size, &sumsWhy] { return PngImageDataChecksumsMatch(data, size, &sumsWhy); });
        } catch (const std::system_error&) {
        }
        if (!sums.valid() && !PngImageDataChecksumsMatch(data, size, &sumsWhy)) return Fail(reason, sumsWhy);
        direct = DecodePngDirect(data, size, picture, &directReason);
        if (sums.valid() && !sums.get()) {
            picture = CImage();
            return Fail(reason, sumsWhy);
        }
    } else if (kind == "jpeg") {
        direct = DecodeJpegDirect(data, size, picture, &directReason);
    } else if (kind == "bmp") {
        if (!CheckBmpStructure(data, size, reason)) return false;
        direct = DecodeBmpDirect(data, size, picture, &directReason);
    } else if (kind == "gif") {
        if (!CheckGifStructure(data, size, reason)) return false;
    } else if (kind == "tiff") {
        direct = DecodeTiff(data, size, picture, &directReason);
    } else if (kind == "webp") {
        direct = DecodeWebp(data, size, picture, &directReason);
    }
    if (direct == DirectResult::Decoded) return true;
    if (direct == DirectResult::Refused) return Fail(reason, QString::fromStdString(directReason));

    QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    // Only the decoder the content was recognised as: no fallback to whatever plugin claims it.
    QImageReader reader(&buffer, kind);
    reader.setAutoDetectImageFormat(false);
    reader.setAutoTransform(false);

    const QSize declared = reader.size();
    if (declared.isValid() && !CheckDeclaredSize(declared.width(), declared.height(), fileBytes, reason)) return false;

    QImage image = reader.read();
    if (image.isNull()) {
        int w = 0, h = 0;
        if (kind == "gif" && GifBackgroundOnly(data, size, &w, &h) && CheckDeclaredSize(w, h, fileBytes, nullptr)) {
            // Nothing but the (transparent) logical screen: shown over white.
            CImage blank;
            if (!blank.Create(w, h, 24)) return Fail(reason, QStringLiteral("not enough memory"));
            for (int y = 0; y < h; ++y) std::memset(blank.bits() + std::ptrdiff_t(y) * blank.pitch(), 255, std::size_t(w) * 3);
            picture = std::move(blank);
            return true;
        }
        QString why = reader.errorString();
        if (reader.error() == QImageReader::UnsupportedFormatError) why = QStringLiteral("unsupported or unrecognised file format");
        return Fail(reason, why);
    }
    if (qint64(image.width()) * image.height() > CImage::kMaxPixels)
        return Fail(reason, QStringLiteral("the picture is too large (%1 pixels)").arg(SizeText(image.width(), image.height())));
    if (!PictureFromQImage(image, picture)) return Fail(reason, QStringLiteral("not enough memory"));
    return true;
}

bool CheckEncodableSize(int width, int height, const QByteArray& format, QString* reason)
{
    // Limits of the libraries behind the readers and writers, said plainly instead of their
    // "Unknown error".
    if (format == "png" && (width > kPngMaxSide || height > kPngMaxSide))
        return Fail(reason, QStringLiteral("PNG files are limited to %1 pixels a side (this picture is %2)")
                                .arg(kPngMaxSide).arg(SizeText(width, height)));
    if (format == "jpeg" && (width > kJpegMaxSide || height > kJpegMaxSide))
        return Fail(reason, QStringLiteral("JPEG files are limited to %1 pixels a side (this picture is %2)")
                                .arg(kJpegMaxSide).arg(SizeText(width, height)));
    if (format == "gif" && (width > kGifMaxSide || height > kGifMaxSide))
        return Fail(reason, QStringLiteral("GIF files are limited to %1 pixels a side (this picture is %2)")
                                .arg(kGifMaxSide).arg(SizeText(width, height)));
    if (format == "webp" && (width > kWebpMaxSide || height > kWebpMaxSide))
        return Fail(reason, QStringLiteral("WebP pictures are at most %1 x %1 pixels (this picture is %2)")
                                .arg(kWebpMaxSide).arg(SizeText(width, height)));
    return true;
}

bool CheckEncodableSize(const CImage& picture, const QByteArray& format, QString* reason)
{
    return CheckEncodableSize(picture.width(), picture.height(), format, reason);
}

bool EncodePicture(const CImage& picture, const QByteArray& format, QIODevice& device, QString* reason)
{
    if (picture.IsNull()) return Fail(reason, QStringLiteral("there is no picture to save"));
    if (!CheckEncodableSize(picture, format, reason)) return false;

    bool ok = false;
    QString why;
    try {
        if (format == "gif") {
            ok = WriteGif(picture, device, &why);
        } else if (format == "bmp") {
            ok = WriteBmp(picture, device, &why);
        } else if (format == "tiff") {
            std::string text;
            ok = WriteTiff(picture, CTiffOptions{}, {}, {}, device, &text);
            if (!ok) why = QString::fromStdString(text);
        } else if (format == "webp" || format == "jpeg" || format == "png") {
            std::string text;
            std::vector<std::uint8_t> file;
            if (format == "webp") ok = EncodeWebp(picture, CWebpOptions{}, {}, {}, file, &text);
            else if (format == "jpeg") ok = EncodeJpeg(picture, CJpegOptions{}, {}, file, &text);
            else ok = EncodePng(picture, CPngOptions{}, {}, file, &text);
            if (!ok) why = QString::fromStdString(text);
            else ok = WriteFully(device, reinterpret_cast<const char*>(file.data()), qint64(file.size()), &why);
        } else {
            why = QStringLiteral("no encoder is known for this format");
        }
    } catch (const std::bad_alloc&) {
        ok = false;
        why = QStringLiteral("not enough memory");
    }
    // A write that failed underneath the encoder (a full disk) says why better than the encoder.
    // Flushing surfaces an error still held in the device's buffer.
    auto* file = qobject_cast<QFileDevice*>(&device);
    if (file && (file->error() != QFileDevice::NoError || !file->flush())) {
        ok = false;
        why = WriteFailure(*file);
    }
    if (!ok) return Fail(reason, why.isEmpty() ? QStringLiteral("the encoder failed") : why);
    return true;
}
