#include "io/picture_save.h"

#include "core/parallel.h"
#include "io/bmp_decoder.h"
#include "io/device_write.h"
#include "io/gif_writer.h"
#include "io/picture_codec.h"
#include "io/png_encoder.h"
#include "io/saved_file_check.h"
#include "io/webp_writer.h"

#include <webp/decode.h>

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <new>

#include <fcntl.h>
#include <unistd.h>

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

// Encodes into memory in `format` (JPEG, PNG or WebP), with the tags and profile of `metadata` when
// given. WebP's container takes the blocks itself; it has no place for IPTC, which `leftOut` names.
bool EncodeFile(const CImage& picture, const QByteArray& format, const CSaveOptions& options,
                const CPictureMetadata* metadata, std::vector<std::uint8_t>& file, QString* reason,
                const std::function<void(double)>& progress = nullptr, QStringList* leftOut = nullptr)
{
    const std::vector<std::uint8_t>& icc = metadata ? metadata->iccProfile() : NoProfile();
    std::string why;
    if (format == "webp") {
        CPictureMetadata::Blocks blocks;
        if (metadata && !metadata->EncodeBlocks(picture.width(), picture.height(), blocks, &why))
            return Fail(reason, QString::fromStdString(why));
        if (!EncodeWebp(picture, options.webp, icc, blocks, file, &why, progress))
            return Fail(reason, QString::fromStdString(why));
        if (!blocks.iptc.empty() && leftOut) leftOut->append(QStringLiteral("IPTC (WebP files have no place for it)"));
        return true;
    }
    if (format == "jpeg") {
        if (!EncodeJpeg(picture, options.jpeg, icc, file, &why, progress)) return Fail(reason, QString::fromStdString(why));
    } else if (format == "png") {
        CPngOptions png;
        png.level = std::clamp(options.png.level, 0, 9);
        png.pieces = options.png.pieces;
        if (!EncodePng(picture, png, icc, file, &why, progress)) return Fail(reason, QString::fromStdString(why));
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

// A name beside `path` for a file that is to take its place without replacing anything there:
// hidden, and unique within this process and among processes.
QString HiddenSibling(const QString& path)
{
    static std::atomic<unsigned> s_counter{0};
    const QFileInfo info(path);
    return info.dir().filePath(
        QStringLiteral(".%1.orvex-%2-%3").arg(info.fileName()).arg(getpid()).arg(s_counter.fetch_add(1)));
}

// Gives the complete file `written` the name `path` unless something already has it; the check
// and the naming are one step, so a file that appears meanwhile is never replaced. `written` is
// gone afterwards either way.
bool NameWithoutReplacing(const QString& written, const QString& path, QString* reason)
{
    const QByteArray from = QFile::encodeName(written), to = QFile::encodeName(path);
    if (renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0) return true;
    int error = errno;
    // File systems that cannot rename without replacing can mostly still link, which never replaces.
    if (error == EINVAL || error == ENOSYS || error == ENOTSUP)
        error = link(from.constData(), to.constData()) == 0 ? 0 : errno;
    unlink(from.constData());
    if (error == 0) return true;
    return Fail(reason, error == EEXIST ? QStringLiteral("exists") : QString::fromLocal8Bit(std::strerror(error)));
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
        if (!EncodeWebp(picture, options.webp, icc, blocks, bytes, &why, bar.Reporter()))
            return Fail(reason, QString::fromStdString(why));
        if (!blocks.iptc.empty()) leftOut.append(QStringLiteral("IPTC (WebP files have no place for it)"));
        expected.iptc = false;
    }
    // A TIFF keeps EXIF's first-directory tags in the picture's own directory: only a sub-directory
    // can be looked for.
    if (format == "tiff") expected.exif = ExifHasSubDirectory(blocks.exif);
    if (metadata && CarriesMetadata(format)) leftOut.append(metadata->damaged());

    if (!options.replace && QFileInfo::exists(path)) return Fail(reason, QStringLiteral("exists"));
    const QString target = options.replace ? path : HiddenSibling(path);
    QSaveFile file(target);
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
    return options.replace || NameWithoutReplacing(target, path, reason);
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

bool EncodePictureFile(const CImage& picture, const QByteArray& format, const CSaveOptions& options,
                       const CPictureMetadata* metadata, std::vector<std::uint8_t>& file, QString* reason)
{
    try {
        if (picture.IsNull()) return Fail(reason, QStringLiteral("there is no picture to save"));
        if (!CheckEncodableSize(picture, format, reason)) return false;
        CPictureMetadata stripped;
        const CPictureMetadata* tags = Usable(format, options, metadata, stripped);
        if (format == "jpeg" || format == "png" || format == "webp")
            return EncodeFile(picture, format, options, tags, file, reason);
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        if (format == "tiff") {
            CPictureMetadata::Blocks blocks;
            std::string why;
            if (tags && !tags->EncodeBlocks(picture.width(), picture.height(), blocks, &why))
                return Fail(reason, QString::fromStdString(why));
            if (!WriteTiff(picture, options.tiff, tags ? tags->iccProfile() : NoProfile(), blocks, buffer, &why))
                return Fail(reason, QString::fromStdString(why));
        } else if (!EncodePicture(picture, format, buffer, reason)) {
            return false;
        }
        const QByteArray& bytes = buffer.data();
        file.assign(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                    reinterpret_cast<const std::uint8_t*>(bytes.constData()) + bytes.size());
        return true;
    } catch (const std::bad_alloc&) {
        return Fail(reason, QStringLiteral("not enough memory"));
    }
}

namespace {

qint64 EncodedSize(const CImage& picture, const QByteArray& format, const CSaveOptions& options,
                   const CPictureMetadata* metadata)
{
    std::vector<std::uint8_t> file;
    return EncodePictureFile(picture, format, options, metadata, file) ? qint64(file.size()) : -1;
}

// Each strip of a sample is three of the 16-row blocks the lossy coders work in. Its first block
// follows the previous strip's last rows, which it does not continue: a seam that costs far more
// than the rows inside a picture (most of all in smooth pictures, most of all for lossy WebP).
// The first blocks are therefore encoded a second time on their own, seams and all, and only the
// difference, the strips' inner rows as they cost inside the picture, is scaled up.
constexpr int kStripRows = 48;
constexpr int kSeamRows = 16;

// The share of the picture's rows the strips take (one in so many): a large one where the encoder
// is quick or its cost varies most with the content, smaller ones for the slow encoders.
int SampleShare(const QByteArray& format, const CSaveOptions& options)
{
    if (format == "webp") return options.webp.lossless ? 48 : 12;
    if (format == "tiff" && options.tiff.compression == TiffCompression::Deflate) return 24;
    if (format == "png" && options.png.level >= 7) return 24;
    return 16;
}

// The pictures a format encodes whole about as quickly as it encodes a sample of a large one.
std::int64_t ExactPixels(const QByteArray& format, const CSaveOptions& options)
{
    if (format == "jpeg") return 6'000'000;
    if (format == "webp") return options.webp.lossless ? 400'000 : 3'000'000;
    return 2'000'000;
}

} // namespace

CPredictedSize PredictFileSize(const CImage& picture, const QByteArray& format, const CSaveOptions& options,
                               const CPictureMetadata* metadata, std::int64_t exactPixels)
{
    CPredictedSize result;
    if (picture.IsNull()) return result;
    const int w = picture.width(), h = picture.height();
    if (exactPixels < 0) exactPixels = ExactPixels(format, options);
    // A short picture has too few rows to spread strips over; it is encoded whole.
    if (std::int64_t(w) * h <= exactPixels || h < 4 * kStripRows) {
        result.bytes = EncodedSize(picture, format, options, metadata);
        result.exact = result.bytes >= 0;
        return result;
    }
    try {
        const int strips = std::max(2, h / SampleShare(format, options) / kStripRows);
        const std::size_t rowBytes = std::size_t(w) * 3;
        // Strips first, first + step, ... (`rows` rows of each) put together, top to bottom.
        const auto gather = [&](int first, int step, int rows, CImage& sample) {
            const int count = (strips - first + step - 1) / step;
            if (!sample.CreateForOverwrite(w, count * rows, 24)) return false;
            for (int s = first, at = 0; s < strips; s += step, ++at) {
                const int centre = int((std::int64_t(2 * s + 1) * h) / (2 * strips));
                int top = std::clamp(centre - kStripRows / 2, 0, h - kStripRows);
                top -= top % 16;
                for (int r = 0; r < rows; ++r)
                    std::memcpy(sample.bits() + std::ptrdiff_t(at * rows + r) * sample.pitch(),
                                picture.bits() + std::ptrdiff_t(top + r) * picture.pitch(), rowBytes);
            }
            return true;
        };
        // Encoders that run on one thread take the strips in two groups, each with its seams,
        // so that the four encodes share the cores; JPEG and PNG spread one encode over them.
        const int groups = format == "jpeg" || format == "png" ? 1 : 2;
        std::vector<CImage> samples(std::size_t(2 * groups));
        for (int g = 0; g < groups; ++g)
            if (!gather(g, groups, kStripRows, samples[std::size_t(2 * g)]) ||
                !gather(g, groups, kSeamRows, samples[std::size_t(2 * g + 1)]))
                return result;
        std::vector<qint64> sizes(samples.size(), -1);
        ParallelFor(0, int(samples.size()), [&](int b, int e) {
            for (int i = b; i < e; ++i)
                sizes[std::size_t(i)] = EncodedSize(samples[std::size_t(i)], format, options, metadata);
        });
        // What every file holds whatever its pixels: headers, the profile and the metadata.
        CImage dot;
        if (!dot.Create(1, 1, 24)) return result;
        std::memcpy(dot.bits(), picture.bits(), 3);
        const qint64 fixed = EncodedSize(dot, format, options, metadata);
        if (fixed < 0) return result;
        double inner = 0;
        for (int g = 0; g < groups; ++g) {
            const qint64 whole = sizes[std::size_t(2 * g)], seams = sizes[std::size_t(2 * g + 1)];
            if (whole < 0 || seams < 0) return result;
            inner += double(std::max<qint64>(0, whole - seams));
        }
        const double scale = double(h) / double(strips * (kStripRows - kSeamRows));
        result.bytes = fixed + qint64(inner * scale + 0.5);
    } catch (const std::bad_alloc&) {
        result.bytes = -1;
    }
    return result;
}

namespace {

std::uint32_t TiffNumber(const std::uint8_t* p, int bytes, bool little)
{
    std::uint32_t v = 0;
    for (int i = 0; i < bytes; ++i) v |= std::uint32_t(p[little ? i : bytes - 1 - i]) << (8 * i);
    return v;
}

// The compression of a classic TIFF's first directory; 0 when it cannot be read.
std::uint32_t TiffCompressionOf(const std::uint8_t* data, std::size_t size)
{
    if (size < 8) return 0;
    const bool little = data[0] == 'I';
    if (TiffNumber(data + 2, 2, little) != 42) return 0;
    const std::uint32_t directory = TiffNumber(data + 4, 4, little);
    if (directory > size || size - directory < 2) return 0;
    const std::uint32_t entries = TiffNumber(data + directory, 2, little);
    for (std::uint32_t i = 0; i < entries; ++i) {
        const std::size_t at = std::size_t(directory) + 2 + std::size_t(i) * 12;
        if (at + 12 > size) return 0;
        if (TiffNumber(data + at, 2, little) != 259) continue;
        const std::uint32_t type = TiffNumber(data + at + 2, 2, little);
        return type == 3 ? TiffNumber(data + at + 8, 2, little) : type == 4 ? TiffNumber(data + at + 8, 4, little) : 0;
    }
    return 0;
}

} // namespace

bool IsLosslessPictureFile(const std::uint8_t* data, std::size_t size)
{
    if (!data) return true;
    if (size >= 3 && data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF) return false;
    if (size >= 12 && std::memcmp(data, "RIFF", 4) == 0 && std::memcmp(data + 8, "WEBP", 4) == 0) {
        WebPBitstreamFeatures features;
        return WebPGetFeatures(data, size, &features) != VP8_STATUS_OK || features.format != 1;
    }
    if (size >= 8 && (std::memcmp(data, "II", 2) == 0 || std::memcmp(data, "MM", 2) == 0)) {
        // Old-style and new-style JPEG inside TIFF, and the lossy JPEG of raw camera files.
        const std::uint32_t compression = TiffCompressionOf(data, size);
        return compression != 6 && compression != 7 && compression != 34892;
    }
    return true;
}
