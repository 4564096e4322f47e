#include "shell/picture_painter.h"

#include "core/image_processor.h"
#include "core/parallel.h"

#include <QPainter>
#include <QRegion>

#include <algorithm>
#include <cstdint>
#include <vector>

int ScaledSize(int size, float zoom)
{
    return static_cast<int>(static_cast<double>(size) * static_cast<double>(zoom));
}

CPictureLayout LayoutPicture(int width, int height, float zoom, int areaWidth, int areaHeight)
{
    CPictureLayout layout;
    layout.dw = ScaledSize(width, zoom);
    layout.dh = ScaledSize(height, zoom);
    layout.x0 = std::max(0, (areaWidth - layout.dw) / 2);
    layout.y0 = std::max(0, (areaHeight - layout.dh) / 2);
    return layout;
}

namespace {

// Bounds of the source cells that average into each destination cell: cell i covers
// [bounds[i], bounds[i + 1]), never empty because destinations are no larger than the source.
std::vector<int> CellBounds(int source, int destination)
{
    std::vector<int> bounds(static_cast<std::size_t>(destination) + 1);
    for (int i = 0; i <= destination; ++i)
        bounds[static_cast<std::size_t>(i)] =
            static_cast<int>(static_cast<std::int64_t>(i) * source / destination);
    return bounds;
}

} // namespace

QImage ScalePictureDown(const CImage& picture, int dw, int dh)
{
    if (picture.IsNull() || dw < 1 || dh < 1) return {};
    dw = std::min(dw, picture.width());
    dh = std::min(dh, picture.height());
    QImage out(dw, dh, QImage::Format_RGB32);
    if (out.isNull()) return {};
    ScalePictureDownPart(picture, out, out.rect());
    return out;
}

void ScalePictureDownPart(const CImage& picture, QImage& out, const QRect& part)
{
    const int dw = out.width();
    const int dh = out.height();
    const QRect wanted = part & out.rect();
    if (picture.IsNull() || wanted.isEmpty() || dw > picture.width() || dh > picture.height() ||
        out.format() != QImage::Format_RGB32)
        return;
    const std::vector<int> columns = CellBounds(picture.width(), dw);
    const std::vector<int> rows = CellBounds(picture.height(), dh);
    const int bytesPerPixel = picture.bitsPerPixel() / 8;

    // The widest source span summed at once: its sums stay in the first-level cache while the
    // rows of a band are added into them.
    constexpr int kTileBytes = 4096;
    int widestCell = 1;
    for (int i = 0; i < dw; ++i)
        widestCell = std::max(widestCell, columns[static_cast<std::size_t>(i) + 1] - columns[static_cast<std::size_t>(i)]);
    const std::size_t sumsSize = static_cast<std::size_t>(std::max(kTileBytes, widestCell * bytesPerPixel));

    // Only the columns of the part: the tile search below starts and stops there.
    const int firstCell = wanted.left();
    // Taken once here: scanLine on a shared image would copy it, once per thread.
    std::uint8_t* const outBits = out.bits();
    const qsizetype outStride = out.bytesPerLine();
    const int endCell = wanted.right() + 1;
    ParallelFor(wanted.top(), wanted.bottom() + 1, [&](int j0, int j1) {
        std::vector<std::uint32_t> sums(sumsSize);
        for (int j = j0; j < j1; ++j) {
            const int ya = rows[static_cast<std::size_t>(j)];
            const int yb = rows[static_cast<std::size_t>(j) + 1];
            auto* line = reinterpret_cast<QRgb*>(outBits + static_cast<qsizetype>(j) * outStride);
            for (int i0 = firstCell; i0 < endCell;) {
                // A run of whole destination cells whose source bytes fit one tile.
                int i1 = i0 + 1;
                const int xa = columns[static_cast<std::size_t>(i0)];
                while (i1 < endCell && (columns[static_cast<std::size_t>(i1) + 1] - xa) * bytesPerPixel <= kTileBytes)
                    ++i1;
                const int bytes = (columns[static_cast<std::size_t>(i1)] - xa) * bytesPerPixel;
                std::uint32_t* sum = sums.data();
                std::fill_n(sum, bytes, 0u);
                // A straight byte loop over each row of the band, which the compiler vectorizes.
                for (int y = ya; y < yb; ++y) {
                    const std::uint8_t* row =
                        picture.bits() + static_cast<std::ptrdiff_t>(y) * picture.pitch() + xa * bytesPerPixel;
                    for (int k = 0; k < bytes; ++k) sum[k] += row[k];
                }
                for (int i = i0; i < i1; ++i) {
                    const int ca = columns[static_cast<std::size_t>(i)];
                    const int cb = columns[static_cast<std::size_t>(i) + 1];
                    std::uint32_t b = 0, g = 0, r = 0;
                    const std::uint32_t* p = sum + (ca - xa) * bytesPerPixel;
                    for (int x = ca; x < cb; ++x, p += bytesPerPixel) {
                        b += p[0];
                        g += p[1];
                        r += p[2];
                    }
                    const std::uint32_t cells = static_cast<std::uint32_t>((cb - ca) * (yb - ya));
                    line[i] = qRgb(static_cast<int>(r / cells), static_cast<int>(g / cells), static_cast<int>(b / cells));
                }
                i0 = i1;
            }
        }
    });
}

QImage ExtractPictureRegion(const CImage& picture, const QRect& region)
{
    const QRect r = region & QRect(0, 0, picture.width(), picture.height());
    if (picture.IsNull() || r.isEmpty()) return {};
    QImage out(r.width(), r.height(), QImage::Format_RGB32);
    if (out.isNull()) return {};
    const int bytesPerPixel = picture.bitsPerPixel() / 8;
    for (int y = 0; y < r.height(); ++y) {
        const std::uint8_t* p = picture.bits() + static_cast<std::ptrdiff_t>(r.y() + y) * picture.pitch() +
                                bytesPerPixel * r.x();
        auto* line = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < r.width(); ++x, p += bytesPerPixel) line[x] = qRgb(p[2], p[1], p[0]);
    }
    return out;
}

void FillSurround(QPainter& painter, const QRect& area, const QRect& pictureRect)
{
    static const QColor background(CImageProcessor::kBackgroundRed, CImageProcessor::kBackgroundGreen,
                                   CImageProcessor::kBackgroundBlue);
    const QRegion surround = QRegion(area).subtracted(QRegion(pictureRect));
    for (const QRect& r : surround) painter.fillRect(r, background);
}

void DrawPictureEdge(QPainter& painter, const QRect& area, const QRect& pictureRect)
{
    // Dark enough to stand out against the background colour and against a light picture.
    static const QColor edge(40, 40, 40);
    if (pictureRect.isEmpty()) return;
    const QRegion ring = QRegion(pictureRect.adjusted(-1, -1, 1, 1)).subtracted(QRegion(pictureRect)).intersected(area);
    for (const QRect& r : ring) painter.fillRect(r, edge);
}
