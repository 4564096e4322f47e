#include "shell/orvex_view.h"

#include "dialogs/preview_renderer.h"
#include "io/colour_profile.h"
#include "io/picture_codec.h"
#include "shell/document_host.h"
#include "shell/picture_painter.h"

#include <QCoreApplication>
#include <QLayout>
#include <QMdiSubWindow>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPrinter>
#include <QScrollBar>
#include <QStatusTipEvent>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace {
// Where the window is (or would be) when neither minimized nor maximized.
QRect NormalGeometry(const QMdiSubWindow& window)
{
    if (window.isMinimized() || window.isMaximized()) {
        const QRect normal = window.normalGeometry();
        if (normal.isValid()) return normal;
    }
    return window.geometry();
}
} // namespace

COrvexView::COrvexView(CDocumentHost& host, QWidget* parent) : QAbstractScrollArea(parent), m_host(host)
{
    // The view paints every pixel itself, surround included.
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    viewport()->setAttribute(Qt::WA_NoSystemBackground);
    // The cursor shows what a press would grab of the selection.
    viewport()->setMouseTracking(true);
    setFrameShape(QFrame::NoFrame);
    m_host.AddView(this);
}

COrvexView::~COrvexView()
{
    Detach();
}

void COrvexView::Detach()
{
    if (!m_attached) return;
    m_attached = false;
    m_host.RemoveView(this);
}

COrvexDoc& COrvexView::document() const
{
    return m_host.doc();
}

QString COrvexView::Caption() const
{
    const int percent = static_cast<int>(m_zoom * 100);
    // Windows of one document are told apart by number: "photo.jpg:1", "photo.jpg:2".
    QString name = document().title();
    const QList<IDocumentView*>& views = m_host.views();
    if (views.size() > 1 && views.contains(const_cast<COrvexView*>(this)))
        name += QLatin1Char(':') + QString::number(views.indexOf(const_cast<COrvexView*>(this)) + 1);
    return name + QString::asprintf(document().modified() ? "* @ %d" : " @ %d", percent) +
           QStringLiteral("%");
}

void COrvexView::Refresh()
{
    const CImage& picture = document().picture();
    int sw = ScaledSize(picture.width(), m_zoom);
    int sh = ScaledSize(picture.height(), m_zoom);
    if (m_fitPending) {
        while ((sw > kFitWidth && m_zoom > kMinZoom) || (sh > kFitHeight && m_zoom > kMinZoom)) {
            m_zoom = static_cast<float>(m_zoom / 1.5);
            sw = ScaledSize(picture.width(), m_zoom);
            sh = ScaledSize(picture.height(), m_zoom);
        }
        if (m_frame) {
            const QRect normal = NormalGeometry(*m_frame);
            m_frame->setGeometry(QRect(normal.topLeft(),
                                       QSize(static_cast<int>(picture.width() * static_cast<double>(m_zoom) + 60),
                                             static_cast<int>(picture.height() * static_cast<double>(m_zoom) + 80))));
            m_frame->show();
        }
        m_fitPending = false;
    }
    m_cacheValid = false;
    UpdateScrollBars();
    if (m_frame) m_frame->setWindowTitle(Caption());
    viewport()->update();
}

void COrvexView::UpdateCaption()
{
    if (m_frame) m_frame->setWindowTitle(Caption());
}

void COrvexView::ZoomIn()
{
    if (m_zoom >= kMaxZoom) return;
    m_zoom = m_zoom >= 1.0f ? m_zoom * 2 : static_cast<float>(m_zoom * 1.5);
    Refresh();
}

void COrvexView::ZoomOut()
{
    if (m_zoom <= kMinZoom) return;
    m_zoom = m_zoom > 1.0f ? m_zoom / 2 : static_cast<float>(m_zoom / 1.5);
    Refresh();
}

void COrvexView::Zoom100()
{
    m_zoom = 1.0f;
    Refresh();
}

void COrvexView::PictureChanged()
{
    m_cacheValid = false;
    viewport()->update();
}

void COrvexView::SelectionChanged()
{
    viewport()->update(m_outline);
    const std::optional<CRegion>& selection = document().selection();
    m_outline = selection ? CSelectionDrag::OutlineArea(mapping(), *selection) : QRegion();
    viewport()->update(m_outline);
    // The position and size stay in the status bar after a drag, as long as they describe a
    // selection; once it is gone (Deselect, a crop) the bar goes back to its own text.
    if (!selection && m_selectionStatusShown) {
        m_selectionStatusShown = false;
        QStatusTipEvent clear{QString()};
        QCoreApplication::sendEvent(this, &clear);
    }
}

CPictureMapping COrvexView::mapping() const
{
    const CImage& picture = document().picture();
    return {pictureRect(), picture.width(), picture.height()};
}

void COrvexView::Freeze(bool frozen)
{
    if (frozen == m_isFrozen) return;
    if (frozen) m_frozen = viewport()->grab();
    else m_frozen = QPixmap();
    m_isFrozen = frozen;
    m_cacheValid = false;
    viewport()->update();
}

QPoint COrvexView::scrollOffset() const
{
    return {horizontalScrollBar()->value(), verticalScrollBar()->value()};
}

// Centred in the view's own visible area rather than in the frame's client area, so the picture
// stays centred whether or not scroll bars are showing.
QRect COrvexView::pictureRect() const
{
    const CImage& picture = document().picture();
    const QSize area = viewport()->size();
    const CPictureLayout layout = LayoutPicture(picture.width(), picture.height(), m_zoom, area.width(), area.height());
    return QRect(QPoint(layout.x0, layout.y0) - scrollOffset(), QSize(layout.dw, layout.dh));
}

QSize COrvexView::ShownArea() const
{
    // Judged against the whole area the bars would leave, not against the viewport as it is: a
    // viewport still narrowed by a bar would keep asking for that bar once the picture fits.
    const CImage& picture = document().picture();
    const QSize scaled(ScaledSize(picture.width(), m_zoom), ScaledSize(picture.height(), m_zoom));
    const QSize full = maximumViewportSize();
    bool wide = scaled.width() > full.width();
    bool tall = scaled.height() > full.height();
    // Each bar takes room from the other direction, which may then need its bar too.
    const int barHeight = horizontalScrollBar()->sizeHint().height();
    const int barWidth = verticalScrollBar()->sizeHint().width();
    if (wide && !tall) tall = scaled.height() > full.height() - barHeight;
    if (tall && !wide) wide = scaled.width() > full.width() - barWidth;
    return {full.width() - (tall ? barWidth : 0), full.height() - (wide ? barHeight : 0)};
}

void COrvexView::UpdateScrollBars()
{
    const CImage& picture = document().picture();
    const int sw = ScaledSize(picture.width(), m_zoom);
    const int sh = ScaledSize(picture.height(), m_zoom);
    const QSize area = ShownArea();
    horizontalScrollBar()->setRange(0, std::max(0, sw - area.width()));
    horizontalScrollBar()->setPageStep(std::max(1, area.width()));
    horizontalScrollBar()->setSingleStep(std::max(1, sw / 100));
    verticalScrollBar()->setRange(0, std::max(0, sh - area.height()));
    verticalScrollBar()->setPageStep(std::max(1, area.height()));
    verticalScrollBar()->setSingleStep(std::max(1, sh / 100));
}

void COrvexView::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    // A worker may be giving the picture a new size; the bars follow once it is done.
    if (!m_isFrozen) UpdateScrollBars();
}

void COrvexView::scrollContentsBy(int dx, int dy)
{
    // A picture larger than the window moves with the bars: shift what is on screen and paint only
    // the strip that comes into view.
    if (m_isFrozen) viewport()->update();
    else viewport()->scroll(dx, dy);
}

void COrvexView::WithSource(const std::function<void(const CImage&)>& draw) const
{
    COrvexDoc& doc = document();
    CImageProcessor& engine = doc.engine();
    if (engine.preview.load()) {
        if (CPreviewRenderer* renderer = m_host.previewSource()) {
            renderer->ReadFrame(draw);
            return;
        }
        const CImage& work = engine.workImage();
        if (!work.IsNull() && work.width() == doc.picture().width() && work.height() == doc.picture().height()) {
            draw(work);
            return;
        }
    }
    draw(doc.picture());
}

QImage COrvexView::ShownPixels(const QRect& region) const
{
    QImage out(region.size(), QImage::Format_RGB32);
    if (out.isNull()) return out;
    QImage part;
    // Read under the frame lock, as painting reads it: the rendering thread may be writing a newer one.
    WithSource([&](const CImage& source) { part = ExtractPictureRegion(source, region); });
    if (!part.isNull()) ConvertToSrgb(part, document().metadata().iccProfile());
    const CImage& picture = document().picture();
    const QRect inOut = QRect(-region.topLeft(), QSize(picture.width(), picture.height()));
    QPainter painter(&out);
    FillSurround(painter, out.rect(), inOut);
    if (!part.isNull())
        painter.drawImage(inOut.topLeft() + QPoint(std::max(0, region.x()), std::max(0, region.y())), part);
    return out;
}

void COrvexView::paintEvent(QPaintEvent* event)
{
    QPainter painter(viewport());
    if (m_isFrozen) {
        const QRect exposed = event->rect();
        painter.drawPixmap(0, 0, m_frozen);
        const QSize shown = m_frozen.deviceIndependentSize().toSize();
        FillSurround(painter, exposed, QRect(QPoint(0, 0), shown));
        return;
    }
    const QRect picture = pictureRect();
    // Rectangle by rectangle: a moving outline exposes thin strips, not their bounding box.
    for (const QRect& exposed : event->region()) {
        FillSurround(painter, exposed, picture);
        DrawPictureEdge(painter, exposed, picture);
        const QRect target = picture & exposed;
        if (target.isEmpty() || document().picture().IsNull()) continue;
        WithSource([&](const CImage& source) { DrawPicture(painter, source, picture, target); });
    }
    const std::optional<CRegion>& selection = document().selection();
    m_outline = selection ? CSelectionDrag::OutlineArea(mapping(), *selection) : QRegion();
    if (selection) {
        painter.setClipRegion(event->region());
        DrawSelection(painter, *selection);
    }
}

void COrvexView::DrawSelection(QPainter& painter, const CRegion& selection) const
{
    const QRect r = mapping().ToView(selection);
    const QRect line = r.adjusted(0, 0, -1, -1);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setBrush(Qt::NoBrush);
    // White under black dashes: one of the two shows on any picture.
    painter.setPen(QPen(Qt::white, 0));
    painter.drawRect(line);
    QPen dashes(Qt::black, 0, Qt::CustomDashLine);
    dashes.setDashPattern({4, 4});
    painter.setPen(dashes);
    painter.drawRect(line);
    const int half = CSelectionDrag::kHandleSize / 2;
    const int xs[] = {line.left(), (line.left() + line.right()) / 2, line.right()};
    const int ys[] = {line.top(), (line.top() + line.bottom()) / 2, line.bottom()};
    painter.setPen(QPen(Qt::black, 0));
    painter.setBrush(Qt::white);
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            if (i != 1 || j != 1)
                painter.drawRect(xs[i] - half, ys[j] - half, CSelectionDrag::kHandleSize - 1,
                                 CSelectionDrag::kHandleSize - 1);
}

void COrvexView::ShowSelectionStatus(const CRegion& selection)
{
    QStatusTipEvent tip(
        QStringLiteral("%1, %2: %3 x %4").arg(selection.x).arg(selection.y).arg(selection.width).arg(selection.height));
    QCoreApplication::sendEvent(this, &tip);
    m_selectionStatusShown = true;
}

void COrvexView::mousePressEvent(QMouseEvent* event)
{
    // Nothing is selected under a preview or a running operation.
    if (event->button() != Qt::LeftButton || m_isFrozen || document().engine().preview.load() ||
        document().picture().IsNull()) {
        QAbstractScrollArea::mousePressEvent(event);
        return;
    }
    m_drag.Begin(mapping(), document().selection(), event->position().toPoint());
    event->accept();
}

void COrvexView::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint position = event->position().toPoint();
    if (m_drag.active() && (event->buttons() & Qt::LeftButton)) {
        if (const std::optional<CRegion> selection = m_drag.Update(position, event->modifiers() & Qt::ShiftModifier)) {
            document().SetSelection(*selection);
            ShowSelectionStatus(*selection);
        }
        event->accept();
        return;
    }
    const int grip = CSelectionDrag::GripAt(mapping(), document().selection(), position);
    viewport()->setCursor(grip == kGripNone && !pictureRect().contains(position) ? Qt::ArrowCursor
                                                                                 : CSelectionDrag::CursorFor(grip));
    QAbstractScrollArea::mouseMoveEvent(event);
}

void COrvexView::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || !m_drag.active()) {
        QAbstractScrollArea::mouseReleaseEvent(event);
        return;
    }
    // A click without a drag selects nothing.
    if (!m_drag.dragged()) document().SetSelection(std::nullopt);
    m_drag.End();
    event->accept();
}

void COrvexView::DrawPicture(QPainter& painter, const CImage& source, const QRect& pictureRect, const QRect& target)
{
    if (m_zoom < 1.0f) {
        // Below 100 % a smooth reduction, computed once per zoom and kept: scrolling and partial
        // repaints only copy from it.
        const qreal ratio = devicePixelRatioF();
        const int cw = std::clamp(static_cast<int>(pictureRect.width() * ratio), 1, source.width());
        const int ch = std::clamp(static_cast<int>(pictureRect.height() * ratio), 1, source.height());
        if (!m_cacheValid || m_cacheZoom != m_zoom || m_cacheRatio != ratio || m_cache.size() != QSize(cw, ch)) {
            m_cache = ScalePictureDown(source, cw, ch);
            ConvertToSrgb(m_cache, document().metadata().iccProfile());
            m_cacheValid = !m_cache.isNull();
            m_cacheZoom = m_zoom;
            m_cacheRatio = ratio;
        }
        if (!m_cacheValid) return;
        const double sx = static_cast<double>(cw) / pictureRect.width();
        const double sy = static_cast<double>(ch) / pictureRect.height();
        const QRectF from((target.x() - pictureRect.x()) * sx, (target.y() - pictureRect.y()) * sy,
                          target.width() * sx, target.height() * sy);
        painter.setRenderHint(QPainter::SmoothPixmapTransform, cw != static_cast<int>(pictureRect.width() * ratio));
        painter.drawImage(QRectF(target), m_cache, from);
        return;
    }
    // 100 % and above: crisp pixels, converting only the picture pixels under the exposed area.
    const int z = static_cast<int>(m_zoom);
    const QRect local = target.translated(-pictureRect.topLeft());
    const int sx0 = local.left() / z;
    const int sy0 = local.top() / z;
    const int sx1 = std::min(source.width(), (local.right() + z) / z);
    const int sy1 = std::min(source.height(), (local.bottom() + z) / z);
    QImage part = ExtractPictureRegion(source, QRect(sx0, sy0, sx1 - sx0, sy1 - sy0));
    if (part.isNull()) return;
    ConvertToSrgb(part, document().metadata().iccProfile());
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    painter.drawImage(QRect(pictureRect.x() + sx0 * z, pictureRect.y() + sy0 * z, part.width() * z, part.height() * z),
                      part);
}

void COrvexView::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && m_frame) FitWindowToPicture();
    QAbstractScrollArea::mouseDoubleClickEvent(event);
}

void COrvexView::FitWindowToPicture()
{
    if (!m_frame) return;
    if (m_frame->isMaximized() || m_frame->isMinimized()) m_frame->showNormal();
    if (m_frame->layout()) m_frame->layout()->activate();
    // Whatever the title bar and borders take in this style, measured rather than guessed: a guess
    // that falls short leaves both scroll bars, each hiding a strip of the picture.
    const CImage& picture = document().picture();
    const QSize scaled(ScaledSize(picture.width(), m_zoom), ScaledSize(picture.height(), m_zoom));
    const QSize decoration = m_frame->size() - maximumViewportSize();
    m_frame->setGeometry(QRect(NormalGeometry(*m_frame).topLeft(), scaled + decoration));
    m_frame->show();
}

void COrvexView::ZoomAround(bool in, const QPoint& anchor)
{
    const QRect before = pictureRect();
    const double px = (anchor.x() - before.x()) / static_cast<double>(m_zoom);
    const double py = (anchor.y() - before.y()) / static_cast<double>(m_zoom);
    if (in) ZoomIn();
    else ZoomOut();
    const CImage& picture = document().picture();
    const QSize area = viewport()->size();
    const CPictureLayout after = LayoutPicture(picture.width(), picture.height(), m_zoom, area.width(), area.height());
    horizontalScrollBar()->setValue(static_cast<int>(std::lround(after.x0 + px * m_zoom - anchor.x())));
    verticalScrollBar()->setValue(static_cast<int>(std::lround(after.y0 + py * m_zoom - anchor.y())));
}

void COrvexView::wheelEvent(QWheelEvent* event)
{
    if (event->modifiers() & Qt::ControlModifier) {
        const int delta = event->angleDelta().y();
        if (delta != 0) ZoomAround(delta > 0, event->position().toPoint());
        event->accept();
        return;
    }
    QAbstractScrollArea::wheelEvent(event);
}

void COrvexView::PrintTo(QPrinter& printer, CPrintScale scale) const
{
    QPainter painter(&printer);
    if (!painter.isActive()) return;
    PaintPage(painter, QRect(0, 0, painter.device()->width(), painter.device()->height()), scale);
}

void COrvexView::PaintPage(QPainter& painter, const QRect& page, CPrintScale scale) const
{
    const CImage& picture = document().picture();
    if (picture.IsNull()) return;
    QRect target;
    bool smooth = m_zoom < 1.0f;
    if (scale == CPrintScale::FitToPage) {
        target = FitRect(picture.width(), picture.height(), page);
        smooth = target.size() != QSize(picture.width(), picture.height());
    } else {
        // Placed as on screen, but the surround belongs to the screen: the paper stays white.
        const QRect area(page.topLeft(), QSize(page.width() - 3, page.height() - 3));
        const CPictureLayout layout = LayoutPicture(picture.width(), picture.height(), m_zoom, area.width(), area.height());
        target = QRect(area.x() + layout.x0, area.y() + layout.y0, layout.dw, layout.dh);
    }
    if (target.isEmpty()) return;
    painter.setRenderHint(QPainter::SmoothPixmapTransform, smooth);
    painter.drawImage(target, PictureToQImage(picture));
}
