#pragma once

#include "dialogs/histogram_view.h"
#include "filters/colour/curves.h"

#include <QWidget>

#include <optional>
#include <vector>

// The value (0..255, unrounded) at x in a widget of `width`, the inverse of CHistogramView's
// ValueX, so that marks under a histogram line up with its columns.
double ValueAtX(double x, int width);
double XOfValue(double value, int width);

// A strip of triangular markers under a histogram or over a gradient, each at a value 0..255. The
// user drags them; the owner decides where a moved marker may go and sets it back with SetValue.
class CLevelMarkers : public QWidget
{
    Q_OBJECT
public:
    // `gradient`: the strip shows black to white behind the markers (the output range).
    explicit CLevelMarkers(int markers, bool gradient, QWidget* parent = nullptr);

    void SetValue(int marker, double value);
    double value(int marker) const { return m_values.at(static_cast<std::size_t>(marker)); }
    // Where marker `marker` is drawn, and the marker a press at x takes (the nearest, -1 when none
    // lies within reach).
    double MarkerX(int marker) const;
    int MarkerAt(double x) const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    void markerMoved(int marker, double value);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    std::vector<double> m_values;
    bool m_gradient = false;
    int m_dragged = -1;
};

// A histogram with the input black, mid-tone and white points drawn over it as lines.
class CLevelsHistogram : public CHistogramView
{
    Q_OBJECT
public:
    using CHistogramView::CHistogramView;
    void SetMarks(double black, double middle, double white);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    double m_marks[3] = {0, 127.5, 255};
};

// A square curve editor over a histogram: a grid of quarters, the diagonal for reference and the
// curve through its points as the engine computes it. A click adds a point (at most 8), a drag
// moves one between its neighbours' x, a right click or a drag far outside removes one; the first
// and last points stay.
class CCurveEditor : public CHistogramView
{
    Q_OBJECT
public:
    static constexpr int kMaxPoints = 8;
    // How far outside the square a dragged point is dropped.
    static constexpr int kRemoveDistance = 24;

    explicit CCurveEditor(QWidget* parent = nullptr);

    // Sorted by x; fewer than two points are completed with the ends (0,0) and (255,255).
    void SetPoints(std::vector<orvex_colour::CCurvePoint> points);
    const std::vector<orvex_colour::CCurvePoint>& points() const { return m_points; }

    // Where a value is drawn and which value lies under a position.
    QPointF PointPosition(const orvex_colour::CCurvePoint& p) const;
    orvex_colour::CCurvePoint ValueAt(QPointF position) const;
    // The point drawn within reach of `position`, or -1.
    int PointAt(QPointF position) const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    void pointsChanged();
    // The input and output shown for the pointer (the point under it, else the curve there); -1
    // when the pointer left.
    void pointerValues(int input, int output);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    double ValueY(double v) const;
    void Remove(int index);
    void ReportPointer(QPointF position);

    std::vector<orvex_colour::CCurvePoint> m_points;
    int m_dragged = -1;
};
