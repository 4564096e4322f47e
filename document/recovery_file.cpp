#include "document/recovery_file.h"

#include <QFile>
#include <QFileInfo>

#include <zlib.h>
#include <zstd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <new>
#include <unistd.h>

namespace {

constexpr char kMagic[8] = {'O', 'R', 'V', 'X', 'R', 'E', 'C', 'V'};
constexpr std::uint32_t kVersion = 1;
// Level 1 keeps a 24 MP write within a fraction of a second on one core; the files live briefly.
constexpr int kLevel = 1;
constexpr std::size_t kFrameTarget = std::size_t(4) << 20;
// Far beyond any real header (three strings and a size per band); a larger claim is damage.
constexpr std::uint32_t kMaxHeader = 16u << 20;
constexpr std::size_t kPrefix = 16; // magic, version, header size

void PutU32(std::vector<std::uint8_t>& out, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i) out.push_back(std::uint8_t(value >> (8 * i)));
}

void PutU64(std::vector<std::uint8_t>& out, std::uint64_t value)
{
    for (int i = 0; i < 8; ++i) out.push_back(std::uint8_t(value >> (8 * i)));
}

void PutString(std::vector<std::uint8_t>& out, const QString& text)
{
    const QByteArray utf8 = text.toUtf8();
    PutU32(out, std::uint32_t(utf8.size()));
    out.insert(out.end(), utf8.begin(), utf8.end());
}

void SetU32(std::uint8_t* at, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i) at[i] = std::uint8_t(value >> (8 * i));
}

void SetU64(std::uint8_t* at, std::uint64_t value)
{
    for (int i = 0; i < 8; ++i) at[i] = std::uint8_t(value >> (8 * i));
}

// Reads little-endian fields from a bounded range; any read past its end makes `ok` false.
class CReader
{
public:
    CReader(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}
    std::uint64_t Get(int bytes)
    {
        if (!ok || m_size - m_at < std::size_t(bytes)) {
            ok = false;
            return 0;
        }
        std::uint64_t value = 0;
        for (int i = 0; i < bytes; ++i) value |= std::uint64_t(m_data[m_at + std::size_t(i)]) << (8 * i);
        m_at += std::size_t(bytes);
        return value;
    }
    QString String()
    {
        const std::uint64_t length = Get(4);
        if (!ok || m_size - m_at < length) {
            ok = false;
            return {};
        }
        const QString text = QString::fromUtf8(reinterpret_cast<const char*>(m_data + m_at), qsizetype(length));
        m_at += std::size_t(length);
        return text;
    }
    bool AtEnd() const { return m_at == m_size; }
    bool ok = true;

private:
    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_at = 0;
};

bool Fail(QString* reason, const QString& text)
{
    if (reason) *reason = text;
    return false;
}

std::uint32_t Crc(const std::uint8_t* data, std::size_t size)
{
    uLong crc = crc32(0L, Z_NULL, 0);
    while (size > 0) {
        const uInt chunk = uInt(std::min<std::size_t>(size, 1u << 30));
        crc = crc32(crc, data, chunk);
        data += chunk;
        size -= chunk;
    }
    return std::uint32_t(crc);
}

struct CCtxFree
{
    void operator()(ZSTD_CCtx* context) const { ZSTD_freeCCtx(context); }
};
struct DCtxFree
{
    void operator()(ZSTD_DCtx* context) const { ZSTD_freeDCtx(context); }
};

bool WriteAll(int fd, const std::uint8_t* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t written = ::write(fd, data, std::min<std::size_t>(size, std::size_t(1) << 30));
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += written;
        size -= std::size_t(written);
    }
    return true;
}

} // namespace

bool EncodeRecovery(const CRecoveryInfo& info, const CImage& picture, std::vector<std::uint8_t>& bytes, QString* reason,
                    int rowsPerFrame)
{
    try {
        if (picture.IsNull() || picture.bitsPerPixel() != 24) return Fail(reason, QStringLiteral("no picture"));
        const int width = picture.width(), height = picture.height();
        const std::size_t rowBytes = std::size_t(width) * 3;
        if (rowsPerFrame <= 0) rowsPerFrame = int(std::max<std::size_t>(1, kFrameTarget / rowBytes));
        rowsPerFrame = std::min(rowsPerFrame, height);
        const int frames = (height + rowsPerFrame - 1) / rowsPerFrame;

        std::vector<std::uint8_t> out(kMagic, kMagic + sizeof kMagic);
        PutU32(out, kVersion);
        PutU32(out, 0); // header size, known once the header is written
        PutU64(out, std::uint64_t(info.time.toMSecsSinceEpoch()));
        PutU32(out, std::uint32_t(width));
        PutU32(out, std::uint32_t(height));
        PutU32(out, std::uint32_t(rowsPerFrame));
        PutU32(out, std::uint32_t(frames));
        PutString(out, info.path);
        PutString(out, info.name);
        PutString(out, info.format);
        const std::size_t sizesAt = out.size();
        out.resize(out.size() + 8 * std::size_t(frames));
        const std::size_t headerEnd = out.size();
        SetU32(out.data() + 12, std::uint32_t(headerEnd - kPrefix));
        out.resize(headerEnd + 4);

        std::unique_ptr<ZSTD_CCtx, CCtxFree> context(ZSTD_createCCtx());
        if (!context) throw std::bad_alloc();
        ZSTD_CCtx_setParameter(context.get(), ZSTD_c_compressionLevel, kLevel);
        // The content checksum is what catches a damaged byte in the pixels.
        ZSTD_CCtx_setParameter(context.get(), ZSTD_c_checksumFlag, 1);
        ZSTD_CCtx_setParameter(context.get(), ZSTD_c_contentSizeFlag, 1);
        std::vector<std::uint8_t> band(rowBytes * std::size_t(rowsPerFrame));
        for (int frame = 0; frame < frames; ++frame) {
            const int y0 = frame * rowsPerFrame, rows = std::min(rowsPerFrame, height - y0);
            for (int r = 0; r < rows; ++r)
                std::memcpy(band.data() + std::size_t(r) * rowBytes,
                            picture.bits() + std::ptrdiff_t(y0 + r) * picture.pitch(), rowBytes);
            const std::size_t rawSize = rowBytes * std::size_t(rows);
            const std::size_t at = out.size();
            out.resize(at + ZSTD_compressBound(rawSize));
            const std::size_t packed =
                ZSTD_compress2(context.get(), out.data() + at, out.size() - at, band.data(), rawSize);
            if (ZSTD_isError(packed))
                return Fail(reason, QStringLiteral("compression failed: %1").arg(ZSTD_getErrorName(packed)));
            out.resize(at + packed);
            SetU64(out.data() + sizesAt + 8 * std::size_t(frame), packed);
        }
        SetU32(out.data() + headerEnd, Crc(out.data(), headerEnd));
        bytes = std::move(out);
        return true;
    } catch (const std::bad_alloc&) {
        return Fail(reason, QStringLiteral("not enough memory"));
    }
}

bool WriteRecoveryFile(const QString& file, const CRecoveryInfo& info, const CImage& picture, QString* reason)
{
    std::vector<std::uint8_t> bytes;
    if (!EncodeRecovery(info, picture, bytes, reason)) return false;
    const QByteArray target = QFile::encodeName(file);
    const QByteArray temporary = target + ".tmp";
    const int fd = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return Fail(reason, QString::fromLocal8Bit(std::strerror(errno)));
    bool ok = WriteAll(fd, bytes.data(), bytes.size());
    // The rename must never reach the disk before the bytes it names.
    ok = ::fsync(fd) == 0 && ok;
    const int error = errno;
    ok = ::close(fd) == 0 && ok;
    if (!ok || ::rename(temporary.constData(), target.constData()) != 0) {
        const QString text = QString::fromLocal8Bit(std::strerror(ok ? errno : error));
        ::unlink(temporary.constData());
        return Fail(reason, text);
    }
    // The rename itself lives in the folder's entries.
    const QByteArray folder = QFile::encodeName(QFileInfo(file).absolutePath());
    const int dir = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

bool DecodeRecovery(const std::uint8_t* data, std::size_t size, CRecoveryInfo& info, CImage& picture, QString* reason)
{
    try {
        const QString truncated = QStringLiteral("the file is truncated");
        if (size < kPrefix + 4) return Fail(reason, truncated);
        if (std::memcmp(data, kMagic, sizeof kMagic) != 0) return Fail(reason, QStringLiteral("not a recovery file"));
        CReader prefix(data + 8, 8);
        const std::uint32_t version = std::uint32_t(prefix.Get(4));
        const std::uint32_t headerSize = std::uint32_t(prefix.Get(4));
        if (version != kVersion) return Fail(reason, QStringLiteral("unknown version %1").arg(version));
        if (headerSize > kMaxHeader) return Fail(reason, QStringLiteral("the header is damaged"));
        const std::size_t headerEnd = kPrefix + headerSize;
        if (size < headerEnd + 4) return Fail(reason, truncated);
        if (Crc(data, headerEnd) != CReader(data + headerEnd, 4).Get(4))
            return Fail(reason, QStringLiteral("the header is damaged"));

        CReader header(data + kPrefix, headerSize);
        CRecoveryInfo read;
        read.time = QDateTime::fromMSecsSinceEpoch(qint64(header.Get(8)), Qt::UTC);
        const std::uint32_t width = std::uint32_t(header.Get(4)), height = std::uint32_t(header.Get(4));
        const std::uint32_t rowsPerFrame = std::uint32_t(header.Get(4)), frames = std::uint32_t(header.Get(4));
        read.path = header.String();
        read.name = header.String();
        read.format = header.String();
        // A checksum that matches a header of impossible values is still damage (or another
        // writer's bug): nothing below trusts a size it has not checked.
        if (!header.ok || width == 0 || height == 0 || width > 1u << 30 || height > 1u << 30 ||
            std::uint64_t(width) * height > std::uint64_t(CImage::kMaxPixels) || rowsPerFrame == 0 ||
            rowsPerFrame > height || frames != (height + rowsPerFrame - 1) / rowsPerFrame)
            return Fail(reason, QStringLiteral("the header is damaged"));
        std::vector<std::uint64_t> sizes(frames);
        std::uint64_t total = headerEnd + 4;
        for (std::uint64_t& frameSize : sizes) {
            frameSize = header.Get(8);
            total += frameSize;
            if (frameSize > size) return Fail(reason, truncated);
        }
        if (!header.ok || !header.AtEnd()) return Fail(reason, QStringLiteral("the header is damaged"));
        if (total != size) return Fail(reason, total > size ? truncated : QStringLiteral("the file is too long"));
        read.width = int(width);
        read.height = int(height);

        CImage pixels;
        if (!pixels.CreateForOverwrite(int(width), int(height), 24))
            return Fail(reason, QStringLiteral("not enough memory"));
        std::unique_ptr<ZSTD_DCtx, DCtxFree> context(ZSTD_createDCtx());
        if (!context) throw std::bad_alloc();
        const std::size_t rowBytes = std::size_t(width) * 3;
        std::vector<std::uint8_t> band(rowBytes * rowsPerFrame);
        std::size_t at = headerEnd + 4;
        for (std::uint32_t frame = 0; frame < frames; ++frame) {
            const std::uint32_t y0 = frame * rowsPerFrame, rows = std::min(rowsPerFrame, height - y0);
            const std::size_t expected = rowBytes * rows;
            const std::size_t frameSize = std::size_t(sizes[frame]);
            // A frame without its checksum could hide a damaged byte; every frame must carry one
            // (bit 2 of the descriptor after the frame's magic number).
            if (frameSize < 6 || CReader(data + at, 4).Get(4) != ZSTD_MAGICNUMBER || (data[at + 4] & 0x04) == 0 ||
                ZSTD_getFrameContentSize(data + at, frameSize) != expected ||
                ZSTD_findFrameCompressedSize(data + at, frameSize) != frameSize)
                return Fail(reason, QStringLiteral("band %1 is damaged").arg(frame));
            const std::size_t unpacked =
                ZSTD_decompressDCtx(context.get(), band.data(), expected, data + at, frameSize);
            if (ZSTD_isError(unpacked) || unpacked != expected)
                return Fail(reason, QStringLiteral("band %1 is damaged").arg(frame));
            for (std::uint32_t r = 0; r < rows; ++r)
                std::memcpy(pixels.bits() + std::ptrdiff_t(y0 + r) * pixels.pitch(), band.data() + r * rowBytes,
                            rowBytes);
            at += frameSize;
        }
        info = std::move(read);
        picture = std::move(pixels);
        return true;
    } catch (const std::bad_alloc&) {
        return Fail(reason, QStringLiteral("not enough memory"));
    }
}

bool ReadRecoveryFile(const QString& file, CRecoveryInfo& info, CImage& picture, QString* reason)
{
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly)) return Fail(reason, in.errorString());
    const qint64 size = in.size();
    if (size <= 0) return Fail(reason, QStringLiteral("the file is truncated"));
    const uchar* mapped = in.map(0, size);
    if (mapped) return DecodeRecovery(mapped, std::size_t(size), info, picture, reason);
    const QByteArray bytes = in.readAll();
    if (bytes.size() != size) return Fail(reason, in.errorString());
    return DecodeRecovery(reinterpret_cast<const std::uint8_t*>(bytes.constData()), std::size_t(bytes.size()), info,
                          picture, reason);
}
