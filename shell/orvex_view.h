#pragma once

#include "shell/document_host.h"
#include "shell/print_options.h"
#include "shell/selection_drag.h"

#include <QAbstractScrollArea>
#include <QImage>
#include <QPixmap>
#include <QRegion>

#include <functional>
#include <optional>

class CDocumentHost;
class COrvexDoc;
class CImage;
class QPainter;
class QPrinter;

// Shows one document's picture scaled by the zoom, centred on the background colour, with scroll
// bars when it is larger than the window; the target of every picture command. Refresh is the step
// every command calls after changing the picture. The left button selects a rectangle of the
// document (CSelectionDrag), drawn over the picture as a black and white dashed outline with handles;
// while it is dragged, the status bar shows its position and size. The space bar held with the left
// button, or the middle button alone, drags the picture around instead.
class COrvexView : public QAbstractScrollArea, public IDocumentView
{
    Q_OBJECT

public:
    static constexpr float kMaxZoom = 16.0f;
    static constexpr float kMinZoom = 0.0625f;
    // A new window is shrunk until the scaled picture fits in this box.
    static constexpr int kFitWidth = 1200;
    static constexpr int kFitHeight = 700;

    COrvexView(CDocumentHost& host, QWidget* parent = nullptr);
    ~COrvexView() override;

    CDocumentHost& host() const { return m_host; }
    COrvexDoc& document() const;
    void SetFrame(QMdiSubWindow* frame) { m_frame = frame; }
    QMdiSubWindow* frame() const override { return m_frame; }

    float zoom() const { return m_zoom; }
    // The zoom as the caption and the status bar write it: 66 for 66.7 %.
    int zoomPercent() const;
    bool fitPending() const { return m_fitPending; }
    // "photo.jpg* @ 66%"
    QString Caption() const;
    // Whether the view shows a preview rendering rather than the picture.
    bool showingPreview() const;

    // First call: fits the zoom and sizes the frame. Every call: scroll sizes, caption, repaint.
    void Refresh() override;
    // Writes the caption alone (another window of the document opened or closed).
    void UpdateCaption() override;
    // The zoom steps keep the picture point at the middle of the view where it is.
    void ZoomIn();
    void ZoomOut();
    void Zoom100();
    // The largest zoom, 100 % at most, at which the whole picture shows in the window as it is,
    // without scroll bars.
    void FitInWindow();
    // The window as large as the document area allows, then FitInWindow.
    void FitOnScreen();
    // Sets the zoom (clamped to what the view can show) keeping the picture point under the view
    // position `anchor` where it is; without an anchor, the point at the middle of the view.
    void ZoomTo(float zoom, std::optional<QPoint> anchor = std::nullopt);
    // The picture position under a viewport position, in picture pixels (fractions within a pixel;
    // not clamped: outside the picture it is negative or beyond the size). Top row first.
    QPointF PicturePointAt(QPointF viewportPos) const;
    // The picture pixel under a viewport position, none outside the picture.
    std::optional<QPoint> PixelAt(QPoint viewportPos) const;
    // Scrolls so that the picture position `point` lies under `viewportPos`, as far as the bars go.
    void PlacePicturePoint(QPointF point, QPointF viewportPos);
    // The picture position at the middle of the view.
    QPointF CentrePoint() const;
    // The colour shown at picture pixel `pixel`: the preview rendering during a preview, else the
    // picture; none outside what is shown.
    std::optional<QRgb> ShownColourAt(QPoint pixel) const;

    // Sizes the window so that the view holds exactly the scaled picture, without scroll bars where
    // the picture fits the screen; the double-click on the picture.
    void FitWindowToPicture();

    // The pixels changed but not the size: drop what was scaled and repaint.
    void PictureChanged() override;
    void SelectionChanged() override;
    // Where the picture lies in the view, for converting the mouse to picture pixels.
    CPictureMapping mapping() const;
    // A copy of `region` (picture pixels, top row first) of what the view shows, one picture pixel
    // per image pixel in the colours the screen gets: the newest complete preview frame while a
    // preview runs, the picture otherwise. Whatever lies outside the picture is the surround.
    QImage ShownPixels(const QRect& region) const;
    // While frozen the view repaints the image it last showed and never reads the picture.
    void Freeze(bool frozen) override;

    // Leaves the document's list of views (the window is closing); the document may go away after.
    void Detach();

    // The painting step on a printer: the picture as large as the page allows, or as shown, one
    // picture pixel per printer pixel at 100 %.
    void PrintTo(QPrinter& printer, CPrintScale scale) const;
    // What PrintTo draws, on any page of the given size in device pixels.
    void PaintPage(QPainter& painter, const QRect& page, CPrintScale scale) const;

signals:
    // The zoom, the picture's size or where it lies in the view changed.
    void layoutChanged();
    // What is shown changed without the layout: new pixels, a preview starting or ending.
    void shownChanged();
    // The pointer moved over the view (viewport coordinates) or left it.
    void pointerMoved(QPoint viewportPos);
    void pointerLeft();

protected:
    bool viewportEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    // Runs `draw` with the image to show: the newest preview rendering or the work image while the
    // engine's preview flag is set, otherwise the picture.
    void WithSource(const std::function<void(const CImage&)>& draw) const;
    void DrawPicture(QPainter& painter, const CImage& source, const QRect& pictureRect, const QRect& exposed);
    void DrawSelection(QPainter& painter, const CRegion& selection) const;
    // "x, y: w x h" in the status bar.
    void ShowSelectionStatus(const CRegion& selection);
    void UpdateScrollBars();
    // The viewport's size once the scroll bars the picture needs at this zoom are in place.
    QSize ShownArea() const;
    QPoint scrollOffset() const;
    QRect pictureRect() const;
    // The next zoom level up or down from the present zoom, the present zoom at the ends.
    float StepZoom(bool in) const;
    // Lays out the bars and the viewport now rather than on the next turn of the event loop, so that
    // positions computed right after a zoom change see the viewport as it will be.
    void LayOutNow();
    void UpdatePanCursor();
    void EndPan();

    CDocumentHost& m_host;
    QMdiSubWindow* m_frame = nullptr;
    float m_zoom = 1.0f;
    bool m_fitPending = true;
    bool m_attached = true;

    // The reduced picture for zooms below 100 %, valid for m_cacheZoom and m_cacheRatio where
    // m_cacheDone says (cache pixels).
    QImage m_cache;
    QRegion m_cacheDone;
    bool m_cacheValid = false;
    float m_cacheZoom = 0.0f;
    qreal m_cacheRatio = 0.0;

    QPixmap m_frozen;
    bool m_isFrozen = false;

    CSelectionDrag m_drag;
    // Where the selection's outline was last painted: a change repaints only there and where it goes.
    QRegion m_outline;
    // Whether the status bar shows this view's selection, to be cleared with the selection.
    bool m_selectionStatusShown = false;

    // The picture's size as last laid out, to tell a size change from a repaint.
    QSize m_laidOutSize;
    bool m_spaceHeld = false;
    // The drag that moves the picture: where the pointer was last.
    bool m_panning = false;
    QPoint m_panFrom;
};
