#include "shell/clipboard.h"

#include "core/image_processor.h"
#include "document/orvex_doc.h"
#include "io/picture_codec.h"
#include "shell/command_sequences.h"
#include "shell/orvex_view.h"

#include <QClipboard>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMessageBox>
#include <QMimeData>
#include <QUrl>

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace clipboard {
namespace {

QStringList LocalFiles(const QList<QUrl>& urls)
{
    QStringList paths;
    for (const QUrl& url : urls)
        if (url.isLocalFile()) paths << url.toLocalFile();
    return paths;
}

// Text counts as a list of files only when every line names one: a sentence that happens to
// contain a path is not a request to open it.
QStringList TextFiles(const QString& text)
{
    QStringList paths;
    for (const QString& raw : text.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QString line = raw.trimmed();
        if (line.isEmpty()) continue;
        const QString path = line.startsWith(QStringLiteral("file:")) ? QUrl(line).toLocalFile() : line;
        if (path.isEmpty() || !QFileInfo(path).isFile()) return {};
        paths << path;
    }
    return paths;
}

QStringList NamedFiles(const QMimeData& data)
{
    if (data.hasUrls()) {
        const QStringList paths = LocalFiles(data.urls());
        if (!paths.isEmpty()) return paths;
    }
    return {};
}

} // namespace

bool HasOffer(const QMimeData* data)
{
    if (!data) return false;
    return !NamedFiles(*data).isEmpty() || data->hasImage() || (data->hasText() && !TextFiles(data->text()).isEmpty());
}

COffer ReadOffer(const QMimeData* data)
{
    COffer offer;
    if (!data) return offer;
    offer.paths = NamedFiles(*data);
    if (!offer.paths.isEmpty()) return offer;
    if (data->hasImage()) {
        offer.image = qvariant_cast<QImage>(data->imageData());
        if (!offer.image.isNull()) return offer;
    }
    if (data->hasText()) offer.paths = TextFiles(data->text());
    return offer;
}

bool CopyPicture(const CImage& picture, const std::optional<CRegion>& selection)
{
    const QImage image = PictureToQImage(picture, selection.value_or(CRegion{0, 0, picture.width(), picture.height()}));
    if (image.isNull()) return false;
    QGuiApplication::clipboard()->setImage(image, QClipboard::Clipboard);
    return true;
}

void FillWithBackground(CImage& picture, CRegion region)
{
    const int x0 = std::max(region.x, 0), y0 = std::max(region.y, 0);
    const int x1 = static_cast<int>(std::min<std::int64_t>(std::int64_t(region.x) + region.width, picture.width()));
    const int y1 = static_cast<int>(std::min<std::int64_t>(std::int64_t(region.y) + region.height, picture.height()));
    if (picture.IsNull() || picture.bitsPerPixel() != 24 || x1 <= x0 || y1 <= y0) return;
    std::uint8_t* first = picture.bits() + std::ptrdiff_t(y0) * picture.pitch() + std::ptrdiff_t(x0) * 3;
    for (int x = x0; x < x1; ++x, first += 3) {
        first[0] = CImageProcessor::kBackgroundBlue;
        first[1] = CImageProcessor::kBackgroundGreen;
        first[2] = CImageProcessor::kBackgroundRed;
    }
    const std::size_t rowBytes = std::size_t(x1 - x0) * 3;
    const std::uint8_t* const top = picture.bits() + std::ptrdiff_t(y0) * picture.pitch() + std::ptrdiff_t(x0) * 3;
    for (int y = y0 + 1; y < y1; ++y)
        std::memcpy(picture.bits() + std::ptrdiff_t(y) * picture.pitch() + std::ptrdiff_t(x0) * 3, top, rowBytes);
}

bool Copy(const COrvexView& view)
{
    const COrvexDoc& doc = view.document();
    if (CopyPicture(doc.picture(), doc.selection())) return true;
    QMessageBox box(QMessageBox::Warning, COrvexDoc::kAppTitle, sequence::kOutOfMemory, QMessageBox::Ok);
    box.exec();
    return false;
}

void Cut(COrvexView& view)
{
    const std::optional<CRegion> selection = view.document().selection();
    if (!selection || !Copy(view)) return;
    sequence::Direct(view,
                     [region = *selection](CImageProcessor& engine) { FillWithBackground(*engine.image(), region); });
}

bool CanCut(const COrvexView& view)
{
    return view.document().selection().has_value();
}

} // namespace clipboard
