#include "io/picture_file.h"

#include "io/picture_codec.h"
#include "io/picture_save.h"

#include <QFile>

namespace {

bool Fail(QString* reason, const QString& text)
{
    if (reason) *reason = text;
    return false;
}

} // namespace

bool OpenPictureFromMemory(const std::uint8_t* data, std::size_t size, CPictureFile& opened, QString* reason)
{
    CPictureFile read;
    if (!DecodeStoredPicture(data, size, read.picture, reason)) return false;
    read.metadata = CPictureMetadata::ReadFromMemory(data, size);
    if (!ApplyOrientation(read.picture, read.metadata.orientation()))
        return Fail(reason, QStringLiteral("not enough memory"));
    read.subsampling = JpegFrameSubsampling(data, size);
    read.lossless = IsLosslessPictureFile(data, size);
    opened = std::move(read);
    return true;
}

bool OpenPictureFile(const QString& path, CPictureFile& opened, QString* reason)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return Fail(reason, file.errorString());
    const qint64 fileBytes = file.size();
    if (fileBytes <= 0) return Fail(reason, QStringLiteral("the file is empty"));

    // Mapped rather than read: the decoder touches each page once, and nothing is copied.
    QByteArray owned;
    const uchar* data = file.map(0, fileBytes);
    if (!data) {
        owned = file.readAll();
        if (owned.size() != fileBytes) return Fail(reason, file.errorString());
        data = reinterpret_cast<const uchar*>(owned.constData());
    }
    return OpenPictureFromMemory(data, static_cast<std::size_t>(fileBytes), opened, reason);
}

bool LoadPicture(const QString& path, CImage& picture, QString* reason)
{
    CPictureFile opened;
    if (!OpenPictureFile(path, opened, reason)) return false;
    picture = std::move(opened.picture);
    return true;
}

bool LoadPictureFromMemory(const std::uint8_t* data, std::size_t size, CImage& picture, QString* reason)
{
    CPictureFile opened;
    if (!OpenPictureFromMemory(data, size, opened, reason)) return false;
    picture = std::move(opened.picture);
    return true;
}

bool LoadPictureAndMetadata(const QString& path, CImage& picture, CPictureMetadata& metadata, QString* reason)
{
    CPictureFile opened;
    if (!OpenPictureFile(path, opened, reason)) return false;
    picture = std::move(opened.picture);
    metadata = std::move(opened.metadata);
    return true;
}

bool SavePicture(const CImage& picture, const QString& path, QString* reason)
{
    return SavePictureWith(picture, path, CSaveOptions{}, nullptr, reason);
}
