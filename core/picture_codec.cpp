#include "core/picture_codec.h"

#include "core/bmp_decoder.h"
#include "core/direct_decoders.h"
#include "core/file_guards.h"
#include "core/gif_writer.h"
#include "core/parallel.h"
#include "core/picture_save.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QImageWriter>

#include <cstring>

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

} // namespace

const std::vector<CEncoder>& Encoders()
{
    static const std::vector<CEncoder> encoders = [] {
        struct Known
        {
            const char* format;
            const char* description;
            const char* patterns;
        };
        static const Known known[] = {
            {"jpeg", "JPEG", "*.jpg;*.jpeg;*.jpe;*.jfif"},
            {"bmp", "BMP", "*.bmp;*.dib"},
            {"gif", "GIF", "*.gif"},
            {"png", "PNG", "*.png"},
            {"tiff", "TIFF", "*.tif;*.tiff"},
            {"webp", "WebP", "*.webp"},
            {"ppm", "PPM", "*.ppm"},
        };
        const QList<QByteArray> writable = QImageWriter::supportedImageFormats();
        std::vector<CEncoder> list;
        for (const Known& k : known) {
            const QByteArray format(k.format);
            if (format == "gif" || writable.contains(format))
                list.push_back({format, QString::fromLatin1(k.description), QString::fromLatin1(k.patterns)});
        }
        return list;
    }();
    return encoders;
}

const CEncoder* EncoderForPath(const QString& path)
{
    const QString name = QFileInfo(path).fileName();
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot < 0) return nullptr;
    const QStringView extension = QStringView(name).mid(dot);
    for (const CEncoder& encoder : Encoders()) {
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
    if (picture.IsNull()) return {};
    QImage image(picture.width(), picture.height(), QImage::Format_BGR888);
    if (image.isNull()) return {};
    const std::size_t rowBytes = std::size_t(picture.width()) * 3;
    for (int y = 0; y < picture.height(); ++y)
        std::memcpy(image.scanLine(y), picture.bits() + std::ptrdiff_t(y) * picture.pitch(), rowBytes);
    return image;
}

QImage BufferAsQImage(const CImage& picture)
{
    if (picture.IsNull() || picture.bitsPerPixel() != 24) return {};
    return QImage(picture.bufferStart(), picture.width(), picture.height(),
                  static_cast<qsizetype>(picture.rowBytes()), QImage::Format_BGR888);
}

bool LoadPicture(const QString& path, CImage& picture, QString* reason)
{
    RaiseReaderLimit();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return Fail(reason, file.errorString());
    const qint64 fileBytes = file.size();
    if (fileBytes <= 0) return Fail(reason, QStringLiteral("the file is empty"));

    // Decode from the mapped file: the guards and the decoder share one read of the bytes.
    QByteArray owned;
    const uchar* data = file.map(0, fileBytes);
    if (!data) {
        owned = file.readAll();
        if (owned.size() != fileBytes) return Fail(reason, file.errorString());
        data = reinterpret_cast<const uchar*>(owned.constData());
    }
    const auto size = static_cast<std::size_t>(fileBytes);

    static const uchar kPng[4] = {0x89, 'P', 'N', 'G'};
    static const uchar kJpeg[3] = {0xFF, 0xD8, 0xFF};
    DirectResult direct = DirectResult::NotHandled;
    std::string directReason;
    if (size >= 4 && std::memcmp(data, kPng, 4) == 0) {
        int w = 0, h = 0;
        QString why;
        if (!CheckPngStructure(data, size, &w, &h, &why)) return Fail(reason, why);
        direct = DecodePngDirect(data, size, picture, &directReason);
    } else if (size >= 3 && std::memcmp(data, kJpeg, 3) == 0) {
        direct = DecodeJpegDirect(data, size, picture, &directReason);
    } else if (size >= 2 && data[0] == 'B' && data[1] == 'M') {
        direct = DecodeBmpDirect(data, size, picture, &directReason);
    }
    if (direct == DirectResult::Decoded) return true;
    if (direct == DirectResult::Refused) return Fail(reason, QString::fromStdString(directReason));

    QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setAutoTransform(true);

    const QSize declared = reader.size();
    if (declared.isValid()) {
        const qint64 pixels = qint64(declared.width()) * declared.height();
        if (pixels > CImage::kMaxPixels)
            return Fail(reason, QStringLiteral("the picture is too large (%1 pixels)").arg(SizeText(declared.width(), declared.height())));
        if (ImplausiblyDense(pixels, fileBytes))
            return Fail(reason, QStringLiteral("the file is too small for the %1 pixels it claims")
                                    .arg(SizeText(declared.width(), declared.height())));
    }

    QImage image = reader.read();
    if (image.isNull()) {
        int w = 0, h = 0;
        if (GifBackgroundOnly(data, size, &w, &h) && !ImplausiblyDense(qint64(w) * h, fileBytes) &&
            qint64(w) * h <= CImage::kMaxPixels) {
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

bool SavePicture(const CImage& picture, const QString& path, QString* reason)
{
    return SavePictureWith(picture, path, CSaveOptions{}, nullptr, reason);
}
