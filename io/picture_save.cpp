#include "io/picture_save.h"

#include "io/bmp_decoder.h"
#include "io/device_write.h"
#include "io/gif_writer.h"
#include "io/picture_codec.h"
#include "io/png_encoder.h"
#include "io/saved_file_check.h"
#include "io/webp_writer.h"

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

// Encodes into memory in `format` (JPEG or PNG), with the tags and profile of `metadata` when given.
bool EncodeFile(const CImage& picture, const QByteArray& format, const CSaveOptions& options,
                const CPictureMetadata* metadata, std::vector<std::uint8_t>& file, QString* reason,
                const std::function<void(double)>& progress = nullptr, QStringList* leftOut = nullptr)
{
    const std::vector<std::uint8_t>& icc = metadata ? metadata->iccProfile() : NoProfile();
    std::string why;
    if (format == "jpeg") {
        if (!EncodeJpeg(picture, options.jpeg, icc, file, &why, progress)) return Fail(reason, QString::fromStdString(why));
    } else if (format == "png") {
        if (!EncodePng(picture, CPngOptions{}, icc, file, &why, progress)) return Fail(reason, QString::fromStdString(why));
    } else {
        return Fail(reason, QStringLiteral("no in-memory encoder for this format"));
    }
    if (metadata && !metadata->HasNoTags()) {
        if (!metadata->WriteInto(file, picture.width(), picture.height(), false, &why, leftOut))
            return Fail(reason, QString::fromStdString(why));
    }
    return true;
}

// Reads the temporary file back through a descriptor of its own: QSaveFile writes only, and an
// unnamed temporary file has no name to open. The check walks the structure and decodes nothing.
bool CheckWrittenTemporary(QSaveFile& file, const QByteArray& format, const CWrittenContent& expected, QString* reason)
{
    QFile back(QStringLiteral("/proc/self/fd/%1").arg(file.handle()));
    if (!back.open(QIODevice::ReadOnly))
        return Fail(reason, QStringLiteral("the written file could not be read back to check it: ") + back.errorString());
    const qint64 size = back.size();
    if (size <= 0) return Fail(reason, QStringLiteral("the written file is empty"));
    QByteArray owned;
    const uchar* data = back.map(0, size);
    if (!data && format == "bmp") {
        // Without room to map it, a BMP's header and length still tell all there is to tell.
        owned = back.read(64);
        return CheckWrittenBmpHeader(reinterpret_cast<const std::uint8_t*>(owned.constData()),
                                     static_cast<std::size_t>(owned.size()), size, expected, reason);
    }
    if (!data) {
        owned = back.readAll();
        if (owned.size() != size) return Fail(reason, QStringLiteral("the written file could not be read back to check it: ") + back.errorString());
        data = reinterpret_cast<const uchar*>(owned.constData());
    }
    return CheckWrittenFile(data, static_cast<std::size_t>(size), format, expected, reason);
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

namespace {

bool Save(const CImage& picture, const QString& path, const CSaveOptions& options, const CPictureMetadata* metadata,
          QString* reason, IProgress* progress, QStringList& leftOut)
{
    if (picture.IsNull()) return Fail(reason, QStringLiteral("there is no picture to save"));
    const CEncoder* encoder = EncoderForPath(path);
    if (!encoder) return Fail(reason, QStringLiteral("no picture format is known for this file name's extension"));
    const QByteArray& format = encoder->format;
    if (!CheckEncodableSize(picture, format, reason)) return false;

    CSaveProgress bar(progress, picture, format, options);
    CPictureMetadata stripped;
    const CPictureMetadata* tags = Usable(format, options, metadata, stripped);
    const std::vector<std::uint8_t>& icc = tags ? tags->iccProfile() : NoProfile();
    CPictureMetadata::Blocks blocks;
    std::string why;
    if (tags && !tags->EncodeBlocks(picture.width(), picture.height(), blocks, &why)) return Fail(reason, QString::fromStdString(why));

    // The formats encoded in memory are encoded first, before a temporary file is made.
    std::vector<std::uint8_t> bytes;
    CWrittenContent expected{picture.width(), picture.height(), !icc.empty(), !blocks.exif.empty(),
                             !blocks.xmp.empty(), !blocks.iptc.empty()};
    if (format == "jpeg" || format == "png") {
        if (!EncodeFile(picture, format, options, tags, bytes, reason, bar.Reporter(), &leftOut)) return false;
        // A block the encoder had to leave out whole is not looked for in the written file.
        if (leftOut.contains(QLatin1String(kExifTooLarge))) expected.exif = false;
        if (leftOut.contains(QLatin1String(kXmpNotEncoded))) expected.xmp = false;
    } else if (format == "webp") {
        if (!EncodeWebp(picture, options.jpeg.quality, icc, blocks, bytes, &why, bar.Reporter()))
            return Fail(reason, QString::fromStdString(why));
        if (!blocks.iptc.empty()) leftOut.append(QStringLiteral("IPTC (WebP files have no place for it)"));
        expected.iptc = false;
    }
    // A TIFF keeps EXIF's first-directory tags in the picture's own directory: only a sub-directory
    // can be looked for.
    if (format == "tiff") expected.exif = ExifHasSubDirectory(blocks.exif);
    if (metadata && CarriesMetadata(format)) leftOut.append(metadata->damaged());

    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return Fail(reason, file.errorString());
    bool ok = false;
    QString failure;
    if (!bytes.empty()) {
        ok = WriteFully(file, reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()), &failure);
        std::vector<std::uint8_t>().swap(bytes);
    } else if (format == "tiff") {
        ok = WriteTiff(picture, options.tiff, icc, blocks, file, &why, bar.Reporter());
        if (!ok) failure = QString::fromStdString(why);
    } else {
        ok = EncodePicture(picture, format, file, &failure);
    }
    // A full disk may still be hiding in the device's buffer.
    if (ok && !file.flush()) {
        ok = false;
        failure = WriteFailure(file);
    }
    if (ok) ok = CheckWrittenTemporary(file, format, expected, &failure);
    if (!ok) {
        file.cancelWriting();
        return Fail(reason, failure.isEmpty() ? QStringLiteral("the file could not be written") : failure);
    }
    if (!file.commit()) return Fail(reason, file.errorString());
    return true;
}

} // namespace

bool SavePictureWith(const CImage& picture, const QString& path, const CSaveOptions& options,
                     const CPictureMetadata* metadata, QString* reason, IProgress* progress, QStringList* leftOut)
{
    // The notes are only true of a file that was written.
    QStringList notes;
    bool saved = false;
    // The save may run on a thread of its own; nothing thrown in the libraries below may end it.
    try {
        saved = Save(picture, path, options, metadata, reason, progress, notes);
    } catch (const std::bad_alloc&) {
        saved = Fail(reason, QStringLiteral("not enough memory"));
    } catch (const std::exception& e) {
        saved = Fail(reason, QString::fromUtf8(e.what()));
    }
    if (leftOut) *leftOut = saved ? notes : QStringList();
    return saved;
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
