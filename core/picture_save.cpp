#include "core/picture_save.h"

#include "core/bmp_decoder.h"
#include "core/gif_writer.h"
#include "core/picture_codec.h"
#include "core/png_encoder.h"

#include <QBuffer>
#include <QColorSpace>
#include <QImageWriter>
#include <QFile>
#include <QSaveFile>

#include <algorithm>
#include <functional>
#include <new>

namespace {

bool Fail(QString* reason, const QString& text)
{
    if (reason) *reason = text;
    return false;
}

// Formats that carry EXIF, XMP, IPTC and a colour profile.
bool CarriesMetadata(const QByteArray& format)
{
    return format == "jpeg" || format == "png" || format == "tiff" || format == "webp";
}

// The tags to write, or null: none given, none wanted, or a format without room for them.
const CPictureMetadata* Usable(const QByteArray& format, const CSaveOptions& options, const CPictureMetadata* metadata,
                               CPictureMetadata& stripped)
{
    if (!metadata || !CarriesMetadata(format) || metadata->IsEmpty()) return nullptr;
    if (!options.removeMetadata) return metadata;
    stripped.SetIccProfile(metadata->iccProfile());
    return stripped.IsEmpty() ? nullptr : &stripped;
}

const std::vector<std::uint8_t>& NoProfile()
{
    static const std::vector<std::uint8_t> none;
    return none;
}

// Encodes through Qt's writer into memory. The writers embed a colour profile they can parse; true
// in `iccWritten` then.
bool EncodeWithQt(const CImage& picture, const QByteArray& format, const CSaveOptions& options,
                  const std::vector<std::uint8_t>& icc, std::vector<std::uint8_t>& file, bool* iccWritten,
                  QString* reason)
{
    QImage image = PictureToQImage(picture);
    if (image.isNull()) return Fail(reason, QStringLiteral("not enough memory"));
    *iccWritten = false;
    if (!icc.empty()) {
        const QColorSpace space = QColorSpace::fromIccProfile(
            QByteArray::fromRawData(reinterpret_cast<const char*>(icc.data()), static_cast<qsizetype>(icc.size())));
        if (space.isValid()) {
            image.setColorSpace(space);
            *iccWritten = true;
        }
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    // WebP's own default (75) is far below what a photograph should be kept at.
    if (format == "webp") writer.setQuality(options.jpeg.quality);
    if (!writer.write(image)) return Fail(reason, writer.errorString());
    try {
        file.assign(bytes.constBegin(), bytes.constEnd());
    } catch (const std::bad_alloc&) {
        return Fail(reason, QStringLiteral("not enough memory"));
    }
    return true;
}

// Encodes into memory in `format`, with the tags and profile of `metadata` when given.
bool EncodeFile(const CImage& picture, const QByteArray& format, const CSaveOptions& options,
                const CPictureMetadata* metadata, std::vector<std::uint8_t>& file, QString* reason,
                const std::function<void(double)>& progress = nullptr, QStringList* leftOut = nullptr)
{
    const std::vector<std::uint8_t>& icc = metadata ? metadata->iccProfile() : NoProfile();
    std::string why;
    bool iccWritten = false;
    if (format == "jpeg") {
        if (!EncodeJpeg(picture, options.jpeg, icc, file, &why, progress)) return Fail(reason, QString::fromStdString(why));
        iccWritten = true;
    } else if (format == "png") {
        if (!EncodePng(picture, CPngOptions{}, icc, file, &why, progress)) return Fail(reason, QString::fromStdString(why));
        iccWritten = true;
    } else if (!EncodeWithQt(picture, format, options, icc, file, &iccWritten, reason)) {
        return false;
    }
    if (metadata && (!metadata->HasNoTags() || !iccWritten)) {
        if (!metadata->WriteInto(file, picture.width(), picture.height(), !iccWritten, &why, leftOut))
            return Fail(reason, QString::fromStdString(why));
    }
    return true;
}

// The status-bar bar of a save, for the saves that take long enough to want one.
class CSaveProgress
{
public:
    CSaveProgress(IProgress* sink, const CImage& picture, const QByteArray& format, const CSaveOptions& options)
    {
        const std::int64_t pixels = std::int64_t(picture.width()) * picture.height();
        const bool quick = format == "bmp" || (format == "jpeg" && !options.jpeg.progressive);
        if (sink && pixels >= 8'000'000 && !quick) {
            m_sink = sink;
            m_sink->Begin(" Saving:", 100);
        }
    }
    ~CSaveProgress()
    {
        if (m_sink) m_sink->End();
    }
    CSaveProgress(const CSaveProgress&) = delete;
    CSaveProgress& operator=(const CSaveProgress&) = delete;

    std::function<void(double)> Reporter()
    {
        if (!m_sink) return nullptr;
        return [this](double done) {
            const int position = std::clamp(static_cast<int>(done * 100), 0, 100);
            if (position != m_position) m_sink->SetPosition(m_position = position);
        };
    }

private:
    IProgress* m_sink = nullptr;
    int m_position = -1;
};

} // namespace

bool EncodeJpegFile(const CImage& picture, const CSaveOptions& options, const CPictureMetadata* metadata,
                    std::vector<std::uint8_t>& file, QString* reason)
{
    CPictureMetadata stripped;
    return EncodeFile(picture, "jpeg", options, Usable("jpeg", options, metadata, stripped), file, reason);
}

bool SavePictureWith(const CImage& picture, const QString& path, const CSaveOptions& options,
                     const CPictureMetadata* metadata, QString* reason, IProgress* progress, QStringList* leftOut)
{
    if (leftOut) leftOut->clear();
    if (picture.IsNull()) return Fail(reason, QStringLiteral("there is no picture to save"));
    const CEncoder* encoder = EncoderForPath(path);
    if (!encoder) return Fail(reason, QStringLiteral("no picture format is known for this file name's extension"));
    const QByteArray& format = encoder->format;
    if (!CheckEncodableSize(picture, format, reason)) return false;

    // Encoded first and written aside; renamed over the target only when complete.
    CSaveProgress bar(progress, picture, format, options);
    std::vector<std::uint8_t> bytes;
    const bool inMemory = format == "jpeg" || format == "png" || CarriesMetadata(format);
    if (inMemory) {
        CPictureMetadata stripped;
        if (!EncodeFile(picture, format, options, Usable(format, options, metadata, stripped), bytes, reason, bar.Reporter(),
                        leftOut))
            return false;
        if (leftOut && metadata && CarriesMetadata(format)) leftOut->append(metadata->damaged());
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return Fail(reason, file.errorString());
    bool ok = false;
    QString why;
    if (inMemory) {
        ok = file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size())) ==
             static_cast<qint64>(bytes.size());
        // A full disk says why better than a short count; flushing surfaces what the buffer holds.
        if (!ok || file.error() != QFileDevice::NoError || !file.flush()) {
            ok = false;
            why = file.errorString();
        }
    } else {
        ok = EncodePicture(picture, format, file, &why);
    }
    if (!ok) {
        file.cancelWriting();
        return Fail(reason, why.isEmpty() ? file.errorString() : why);
    }
    if (!file.commit()) return Fail(reason, file.errorString());
    return true;
}

ChromaSubsampling JpegFileSubsampling(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return ChromaSubsampling::Automatic;
    const QByteArray start = file.read(2);
    if (start != QByteArray("\xFF\xD8", 2)) return ChromaSubsampling::Automatic;
    // Marker segments until the frame header; large ones (EXIF thumbnails, profiles) are skipped.
    for (int segments = 0; segments < 1000; ++segments) {
        const QByteArray marker = file.read(4);
        if (marker.size() < 4 || static_cast<std::uint8_t>(marker[0]) != 0xFF) break;
        const auto code = static_cast<std::uint8_t>(marker[1]);
        const qint64 length = static_cast<std::uint8_t>(marker[2]) << 8 | static_cast<std::uint8_t>(marker[3]);
        if (length < 2 || code == 0xDA) break;
        if (code >= 0xC0 && code <= 0xCF && code != 0xC4 && code != 0xC8 && code != 0xCC) {
            const QByteArray frame = QByteArray("\xFF\xD8", 2) + marker + file.read(length - 2);
            return JpegFrameSubsampling(reinterpret_cast<const std::uint8_t*>(frame.constData()),
                                        static_cast<std::size_t>(frame.size()));
        }
        if (!file.seek(file.pos() + length - 2)) break;
    }
    return ChromaSubsampling::Automatic;
}
