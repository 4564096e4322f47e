#include "shell/orvex_view.h"

#include "dialogs/preview_renderer.h"
#include "io/colour_profile.h"
#include "io/picture_codec.h"
#include "shell/document_host.h"
#include "shell/picture_painter.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QLayout>
#include <QMdiArea>
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
#include <cstdint>
#include <vector>

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

// The zoom levels the steps go through: 100 % divided by 1.5 down to the first level below the
// smallest zoom, and doubled up to the largest. Built by the same float steps every time, so that
// going down and back up lands exactly on 100 %.
const std::vector<float>& ZoomLevels()
{
    static const std::vector<float> levels = [] {
        std::vector<float> below;
        for (float z = 1.0f; z > COrvexView::kMinZoom;) {
            z = static_cast<float>(z / 1.5);
            below.push_back(z);
        }
        std::vector<float> all(below.rbegin(), below.rend());
        for (float z = 1.0f; z <= COrvexView::kMaxZoom; z *= 2) all.push_back(z);
        return all;
    }();
    return levels;
}

// A zoom too close to a level counts as that level: a step from it goes one level further.
constexpr double kStepMargin = 1.1;
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

int COrvexView::zoomPercent() const
{
    return static_cast<int>(m_zoom * 100);
}

bool COrvexView::showingPreview() const
{
    // The host drops its preview source before the engine's flag goes down, and repaints the views
    // on both changes, so that a view asked from its repaint already knows the preview is over.
    return m_host.previewSource() != nullptr && document().engine().preview.load() != 0;
}

QString COrvexView::Caption() const
{
    const int percent = zoomPercent();
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
    // A command that gave the picture a new size (rotation, resizing, cropping) keeps the zoom, and
    // the middle of the view stays on the same relative place of the picture.
    const QSize size(picture.width(), picture.height());
    std::optional<QPointF> relative;
    if (m_laidOutSize.isValid() && size != m_laidOutSize && !m_laidOutSize.isEmpty() && !size.isEmpty()) {
        const QSize area = viewport()->size();
        const CPictureLayout old =
            LayoutPicture(m_laidOutSize.width(), m_laidOutSize.height(), m_zoom, area.width(), area.height());
        const QPointF middle = QPointF(area.width() / 2.0, area.height() / 2.0) + QPointF(scrollOffset());
        if (old.dw > 0 && old.dh > 0)
            relative = QPointF((middle.x() - old.x0) / old.dw, (middle.y() - old.y0) / old.dh);
    }
    m_laidOutSize = size;
    m_cacheValid = false;
    UpdateScrollBars();
    if (relative) {
        LayOutNow();
        PlacePicturePoint(QPointF(relative->x() * size.width(), relative->y() * size.height()),
                          QPointF(viewport()->width() / 2.0, viewport()->height() / 2.0));
    }
    if (m_frame) m_frame->setWindowTitle(Caption());
    viewport()->update();
    emit layoutChanged();
}

void COrvexView::UpdateCaption()
{
    if (m_frame) m_frame->setWindowTitle(Caption());
}

void COrvexView::ZoomIn()
{
    ZoomTo(StepZoom(true));
}

void COrvexView::ZoomOut()
{
    ZoomTo(StepZoom(false));
}

void COrvexView::Zoom100()
{
    ZoomTo(1.0f);
}

float COrvexView::StepZoom(bool in) const
{
    const std::vector<float>& levels = ZoomLevels();
    if (in) {
        for (float level : levels)
            if (level > m_zoom * kStepMargin) return level;
        // Within the margin of the largest level: that level itself.
        return std::max(m_zoom, levels.back());
    }
    for (auto it = levels.rbegin(); it != levels.rend(); ++it)
        if (*it * kStepMargin < m_zoom) return *it;
    return std::min(m_zoom, levels.front());
}

void COrvexView::ZoomTo(float zoom, std::optional<QPoint> anchor)
{
    const CImage& picture = document().picture();
    // No smaller than one view pixel for the picture's longer side, no larger than the largest level.
    const float smallest = 1.0f / static_cast<float>(std::max({1, picture.width(), picture.height()}));
    zoom = std::clamp(zoom, std::min(smallest, kMinZoom), kMaxZoom);
    const QPointF from = anchor ? QPointF(*anchor) : QPointF(viewport()->width() / 2.0, viewport()->height() / 2.0);
    const QPointF point = PicturePointAt(from);
    m_zoom = zoom;
    m_cacheValid = false;
    UpdateScrollBars();
    LayOutNow();
    // The middle of the view as it is now: the bars may have come or gone.
    PlacePicturePoint(point,
                      anchor ? QPointF(*anchor) : QPointF(viewport()->width() / 2.0, viewport()->height() / 2.0));
    if (m_frame) m_frame->setWindowTitle(Caption());
    viewport()->update();
    emit layoutChanged();
}

void COrvexView::FitInWindow()
{
    const CImage& picture = document().picture();
    if (picture.IsNull()) return;
    const QSize full = maximumViewportSize();
    double fit = std::min({1.0, static_cast<double>(full.width()) / picture.width(),
                           static_cast<double>(full.height()) / picture.height()});
    float zoom = static_cast<float>(fit);
    // The float may round up past the area by a hair, which would bring the bars back.
    while (zoom > 0.0f &&
           (ScaledSize(picture.width(), zoom) > full.width() || ScaledSize(picture.height(), zoom) > full.height()))
        zoom = std::nextafter(zoom, 0.0f);
    ZoomTo(zoom);
}

void COrvexView::FitOnScreen()
{
    if (m_frame && m_frame->mdiArea() && !m_frame->isMaximized()) {
        if (m_frame->isMinimized()) m_frame->showNormal();
        m_frame->setGeometry(QRect(QPoint(0, 0), m_frame->mdiArea()->viewport()->size()));
        if (m_frame->layout()) m_frame->layout()->activate();
    }
    FitInWindow();
}

QPointF COrvexView::PicturePointAt(QPointF viewportPos) const
{
    const CPictureMapping map = mapping();
    return {map.ToPictureX(viewportPos.x()), map.ToPictureY(viewportPos.y())};
}

std::optional<QPoint> COrvexView::PixelAt(QPoint viewportPos) const
{
    const CImage& picture = document().picture();
    if (picture.IsNull() || !pictureRect().contains(viewportPos)) return std::nullopt;
    const QPointF at = PicturePointAt(QPointF(viewportPos));
    const QPoint pixel(static_cast<int>(std::floor(at.x())), static_cast<int>(std::floor(at.y())));
    if (pixel.x() < 0 || pixel.y() < 0 || pixel.x() >= picture.width() || pixel.y() >= picture.height())
        return std::nullopt;
    return pixel;
}

void COrvexView::PlacePicturePoint(QPointF point, QPointF viewportPos)
{
    const CImage& picture = document().picture();
    if (picture.IsNull()) return;
    const QSize area = viewport()->size();
    const CPictureLayout layout = LayoutPicture(picture.width(), picture.height(), m_zoom, area.width(), area.height());
    const double x = layout.x0 + point.x() * layout.dw / picture.width() - viewportPos.x();
    const double y = layout.y0 + point.y() * layout.dh / picture.height() - viewportPos.y();
    horizontalScrollBar()->setValue(static_cast<int>(std::lround(x)));
    verticalScrollBar()->setValue(static_cast<int>(std::lround(y)));
}

QPointF COrvexView::CentrePoint() const
{
    return PicturePointAt(QPointF(viewport()->width() / 2.0, viewport()->height() / 2.0));
}

std::optional<QRgb> COrvexView::ShownColourAt(QPoint pixel) const
{
    if (document().picture().IsNull() || m_isFrozen) return std::nullopt;
    std::optional<QRgb> colour;
    // Under the same lock as painting: a preview rendering is never read while it is written.
    WithSource([&](const CImage& source) {
        if (source.IsNull() || pixel.x() < 0 || pixel.y() < 0 || pixel.x() >= source.width() ||
            pixel.y() >= source.height())
            return;
        const std::uint8_t* p = source.bits() + static_cast<std::ptrdiff_t>(pixel.y()) * source.pitch() +
                                static_cast<std::ptrdiff_t>(pixel.x()) * (source.bitsPerPixel() / 8);
        colour = qRgb(p[2], p[1], p[0]);
    });
    return colour;
}

void COrvexView::LayOutNow()
{
    // The scroll area shows or hides its bars on a queued call after their ranges change; a layout
    // request does the same at once.
    QEvent request(QEvent::LayoutRequest);
    QCoreApplication::sendEvent(this, &request);
}

void COrvexView::PictureChanged()
{
    m_cacheValid = false;
    viewport()->update();
    emit shownChanged();
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
    emit shownChanged();
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
    emit layoutChanged();
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
    // The middle button, or the left one with the space bar held, moves the picture, never the selection.
    if (event->button() == Qt::MiddleButton || (event->button() == Qt::LeftButton && m_spaceHeld)) {
        m_panning = true;
        m_panFrom = event->position().toPoint();
        viewport()->setCursor(Qt::ClosedHandCursor);
        event->accept();
        return;
    }
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
    emit pointerMoved(position);
    if (m_panning) {
        const QPoint moved = position - m_panFrom;
        m_panFrom = position;
        horizontalScrollBar()->setValue(horizontalScrollBar()->value() - moved.x());
        verticalScrollBar()->setValue(verticalScrollBar()->value() - moved.y());
        event->accept();
        return;
    }
    if (m_drag.active() && (event->buttons() & Qt::LeftButton)) {
        if (const std::optional<CRegion> selection = m_drag.Update(position, event->modifiers() & Qt::ShiftModifier)) {
            document().SetSelection(*selection);
            ShowSelectionStatus(*selection);
        }
        event->accept();
        return;
    }
    if (m_spaceHeld) {
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
    if (m_panning && (event->button() == Qt::MiddleButton || event->button() == Qt::LeftButton)) {
        EndPan();
        event->accept();
        return;
    }
    if (event->button() != Qt::LeftButton || !m_drag.active()) {
        QAbstractScrollArea::mouseReleaseEvent(event);
        return;
    }
    // A click without a drag selects nothing.
    if (!m_drag.dragged()) document().SetSelection(std::nullopt);
    m_drag.End();
    event->accept();
}

void COrvexView::EndPan()
{
    m_panning = false;
    UpdatePanCursor();
}

void COrvexView::UpdatePanCursor()
{
    if (m_panning) viewport()->setCursor(Qt::ClosedHandCursor);
    else if (m_spaceHeld) viewport()->setCursor(Qt::OpenHandCursor);
    else viewport()->setCursor(Qt::ArrowCursor);
}

bool COrvexView::viewportEvent(QEvent* event)
{
    if (event->type() == QEvent::Leave) emit pointerLeft();
    return QAbstractScrollArea::viewportEvent(event);
}

void COrvexView::keyPressEvent(QKeyEvent* event)
{
    QScrollBar* h = horizontalScrollBar();
    QScrollBar* v = verticalScrollBar();
    const bool shift = event->modifiers() & Qt::ShiftModifier;
    switch (event->key()) {
    case Qt::Key_Space:
        // Held down: the hand that moves the picture. A selection being dragged keeps its drag.
        if (!event->isAutoRepeat() && !m_drag.active()) {
            m_spaceHeld = true;
            UpdatePanCursor();
        }
        event->accept();
        return;
    case Qt::Key_Home:
        h->setValue(h->minimum());
        v->setValue(v->minimum());
        break;
    case Qt::Key_End:
        h->setValue(h->maximum());
        v->setValue(v->maximum());
        break;
    case Qt::Key_PageUp:
        if (shift) h->triggerAction(QAbstractSlider::SliderPageStepSub);
        else v->triggerAction(QAbstractSlider::SliderPageStepSub);
        break;
    case Qt::Key_PageDown:
        if (shift) h->triggerAction(QAbstractSlider::SliderPageStepAdd);
        else v->triggerAction(QAbstractSlider::SliderPageStepAdd);
        break;
    default: QAbstractScrollArea::keyPressEvent(event); return;
    }
    event->accept();
}

void COrvexView::keyReleaseEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Space && !event->isAutoRepeat()) {
        m_spaceHeld = false;
        if (!m_panning) UpdatePanCursor();
        event->accept();
        return;
    }
    QAbstractScrollArea::keyReleaseEvent(event);
}

void COrvexView::focusOutEvent(QFocusEvent* event)
{
    // A release that goes to another window never arrives here.
    if (m_spaceHeld) {
        m_spaceHeld = false;
        if (!m_panning) UpdatePanCursor();
    }
    QAbstractScrollArea::focusOutEvent(event);
}

void COrvexView::DrawPicture(QPainter& painter, const CImage& source, const QRect& pictureRect, const QRect& target)
{
    if (m_zoom < 1.0f) {
        // Below 100 % a smooth reduction, kept for the zoom: scrolling and partial repaints only copy
        // from it. Only what is exposed is reduced, when first exposed, so that the first frame at a
        // new zoom of a large picture costs the visible part and not the whole picture.
        const qreal ratio = devicePixelRatioF();
        const int cw = std::clamp(static_cast<int>(pictureRect.width() * ratio), 1, source.width());
        const int ch = std::clamp(static_cast<int>(pictureRect.height() * ratio), 1, source.height());
        if (!m_cacheValid || m_cacheZoom != m_zoom || m_cacheRatio != ratio || m_cache.size() != QSize(cw, ch)) {
            m_cache = QImage(cw, ch, QImage::Format_RGB32);
            m_cacheDone = QRegion();
            m_cacheValid = !m_cache.isNull();
            m_cacheZoom = m_zoom;
            m_cacheRatio = ratio;
        }
        if (!m_cacheValid) return;
        const double sx = static_cast<double>(cw) / pictureRect.width();
        const double sy = static_cast<double>(ch) / pictureRect.height();
        const QRectF from((target.x() - pictureRect.x()) * sx, (target.y() - pictureRect.y()) * sy,
                          target.width() * sx, target.height() * sy);
        // One cell more on each side: smooth scaling reads the neighbours of the cells it covers.
        const QRect need =
            QRect(
                QPoint(static_cast<int>(std::floor(from.left())) - 1, static_cast<int>(std::floor(from.top())) - 1),
                QPoint(static_cast<int>(std::ceil(from.right())) + 1, static_cast<int>(std::ceil(from.bottom())) + 1)) &
            m_cache.rect();
        const QRegion missing = QRegion(need).subtracted(m_cacheDone);
        if (!missing.isEmpty()) {
            uchar* const bits = m_cache.bits();
            const qsizetype stride = m_cache.bytesPerLine();
            for (const QRect& r : missing) {
                ScalePictureDownPart(source, m_cache, r);
                QImage part(bits + r.y() * stride + r.x() * 4, r.width(), r.height(), stride, QImage::Format_RGB32);
                ConvertToSrgb(part, document().metadata().iccProfile());
            }
            m_cacheDone += need;
        }
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

void COrvexView::wheelEvent(QWheelEvent* event)
{
    if (event->modifiers() & Qt::ControlModifier) {
        const int delta = event->angleDelta().y();
        if (delta != 0) ZoomTo(StepZoom(delta > 0), event->position().toPoint());
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
