#include "dialogs/tone_widgets.h"

#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace {

// How near a press must come to a marker or a point to take it.
constexpr double kReach = 6.0;

} // namespace

double XOfValue(double value, int width)
{
    return 1.0 + (value + 0.5) * (width - 2) / 256.0;
}

double ValueAtX(double x, int width)
{
    if (width <= 2) return 0;
    return (x - 1.0) * 256.0 / (width - 2) - 0.5;
}

// ---------------------------------------------------------------------------------------------

CLevelMarkers::CLevelMarkers(int markers, bool gradient, QWidget* parent)
    : QWidget(parent), m_values(static_cast<std::size_t>(std::max(markers, 0)), 0.0), m_gradient(gradient)
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    // Values are typed in the number boxes; the strip is for the mouse and stays out of the Tab chain.
    setFocusPolicy(Qt::NoFocus);
}

void CLevelMarkers::SetValue(int marker, double value)
{
    if (marker < 0 || marker >= static_cast<int>(m_values.size())) return;
    m_values[static_cast<std::size_t>(marker)] = std::clamp(value, 0.0, 255.0);
    update();
}

double CLevelMarkers::MarkerX(int marker) const
{
    return XOfValue(value(marker), width());
}

int CLevelMarkers::MarkerAt(double x) const
{
    int best = -1;
    double bestDistance = kReach + 1;
    // Of markers drawn on top of one another, the one that can still move away from the end they
    // sit at: the later one in the left half, the earlier one in the right half.
    for (int i = 0; i < static_cast<int>(m_values.size()); ++i) {
        const double distance = std::abs(MarkerX(i) - x);
        const bool better = distance < bestDistance || (distance == bestDistance && value(i) < 128);
        if (distance <= kReach && better) {
            best = i;
            bestDistance = distance;
        }
    }
    return best;
}

QSize CLevelMarkers::sizeHint() const
{
    return {258, m_gradient ? 22 : 12};
}

QSize CLevelMarkers::minimumSizeHint() const
{
    return {130, m_gradient ? 22 : 12};
}

void CLevelMarkers::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, true);
    const double h = height();
    if (m_gradient) {
        QLinearGradient ramp(XOfValue(0, width()), 0, XOfValue(255, width()), 0);
        ramp.setColorAt(0, Qt::black);
        ramp.setColorAt(1, Qt::white);
        painter.fillRect(QRectF(1, 0, width() - 2, h - 11), ramp);
        painter.setPen(palette().mid().color());
        painter.drawRect(QRectF(0.5, 0.5, width() - 1, h - 11));
    }
    const std::size_t n = m_values.size();
    for (std::size_t i = 0; i < n; ++i) {
        const double x = MarkerX(static_cast<int>(i));
        QPainterPath triangle;
        triangle.moveTo(x, h - 10);
        triangle.lineTo(x - 5, h - 1);
        triangle.lineTo(x + 5, h - 1);
        triangle.closeSubpath();
        // Black, grey, white from left to right as the points they stand for; two markers: black and white.
        const int shade = n <= 1 ? 0 : static_cast<int>(255 * i / (n - 1));
        painter.fillPath(triangle, QColor(shade, shade, shade));
        painter.setPen(palette().text().color());
        painter.drawPath(triangle);
    }
}

void CLevelMarkers::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) return;
    m_dragged = MarkerAt(event->position().x());
}

void CLevelMarkers::mouseMoveEvent(QMouseEvent* event)
{
    if (m_dragged < 0) return;
    emit markerMoved(m_dragged, std::clamp(ValueAtX(event->position().x(), width()), 0.0, 255.0));
}

void CLevelMarkers::mouseReleaseEvent(QMouseEvent*)
{
    m_dragged = -1;
}

// ---------------------------------------------------------------------------------------------

void CLevelsHistogram::SetMarks(double black, double middle, double white)
{
    m_marks[0] = black;
    m_marks[1] = middle;
    m_marks[2] = white;
    update();
}

void CLevelsHistogram::paintEvent(QPaintEvent* event)
{
    CHistogramView::paintEvent(event);
    QPainter painter(this);
    const QColor colours[3] = {palette().text().color(), palette().mid().color(), palette().text().color()};
    for (int i = 0; i < 3; ++i) {
        painter.setPen(QPen(colours[i], 1, i == 1 ? Qt::DashLine : Qt::SolidLine));
        const double x = ValueX(m_marks[i]);
        painter.drawLine(QPointF(x, 1), QPointF(x, height() - 2));
    }
}

// ---------------------------------------------------------------------------------------------

CCurveEditor::CCurveEditor(QWidget* parent) : CHistogramView(parent)
{
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setMouseTracking(true);
    setFocusPolicy(Qt::NoFocus);
    SetPoints({});
}

void CCurveEditor::SetPoints(std::vector<orvex_colour::CCurvePoint> points)
{
    // The curve's own reading: sorted, one point per x, unused ones dropped.
    m_points = orvex_colour::CMonotoneCurve(points).points();
    if (m_points.size() > static_cast<std::size_t>(kMaxPoints)) m_points.resize(kMaxPoints);
    if (m_points.empty()) m_points = {{0, 0}, {255, 255}};
    else if (m_points.size() == 1) {
        // One point is a flat curve; a second at the far end keeps it so and gives the editor its two ends.
        const orvex_colour::CCurvePoint only = m_points.front();
        if (only.x < 255) m_points.push_back({255, only.y});
        else m_points.insert(m_points.begin(), {0, only.y});
    }
    m_dragged = -1;
    update();
}

QSize CCurveEditor::sizeHint() const
{
    return {258, 258};
}

QSize CCurveEditor::minimumSizeHint() const
{
    return {258, 258};
}

double CCurveEditor::ValueY(double v) const
{
    return (height() - 1.0) - (v + 0.5) * (height() - 2) / 256.0;
}

QPointF CCurveEditor::PointPosition(const orvex_colour::CCurvePoint& p) const
{
    return {ValueX(p.x), ValueY(p.y)};
}

orvex_colour::CCurvePoint CCurveEditor::ValueAt(QPointF position) const
{
    const double x = ValueAtX(position.x(), width());
    const double y = height() <= 2 ? 0 : ((height() - 1.0) - position.y()) * 256.0 / (height() - 2) - 0.5;
    return {static_cast<int>(std::lround(std::clamp(x, 0.0, 255.0))),
            static_cast<int>(std::lround(std::clamp(y, 0.0, 255.0)))};
}

int CCurveEditor::PointAt(QPointF position) const
{
    int best = -1;
    double bestDistance = kReach + 1;
    for (int i = 0; i < static_cast<int>(m_points.size()); ++i) {
        const QPointF d = PointPosition(m_points[static_cast<std::size_t>(i)]) - position;
        const double distance = std::hypot(d.x(), d.y());
        if (distance <= kReach && distance < bestDistance) {
            best = i;
            bestDistance = distance;
        }
    }
    return best;
}

void CCurveEditor::Remove(int index)
{
    // The two ends stay, so the curve always spans the square.
    if (index <= 0 || index + 1 >= static_cast<int>(m_points.size())) return;
    m_points.erase(m_points.begin() + index);
    m_dragged = -1;
    update();
    emit pointsChanged();
}

void CCurveEditor::ReportPointer(QPointF position)
{
    const int under = m_dragged >= 0 ? m_dragged : PointAt(position);
    if (under >= 0) {
        const orvex_colour::CCurvePoint& p = m_points[static_cast<std::size_t>(under)];
        emit pointerValues(p.x, p.y);
        return;
    }
    if (!rect().contains(position.toPoint())) {
        emit pointerValues(-1, -1);
        return;
    }
    const int input = ValueAt(position).x;
    const double output = orvex_colour::CMonotoneCurve(m_points)(input);
    emit pointerValues(input, static_cast<int>(std::clamp(std::round(output), 0.0, 255.0)));
}

void CCurveEditor::paintEvent(QPaintEvent* event)
{
    CHistogramView::paintEvent(event);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setPen(QPen(palette().mid().color(), 1, Qt::DotLine));
    for (int q = 1; q < 4; ++q) {
        const double v = q * 255.0 / 4;
        painter.drawLine(QPointF(ValueX(v), ValueY(0)), QPointF(ValueX(v), ValueY(255)));
        painter.drawLine(QPointF(ValueX(0), ValueY(v)), QPointF(ValueX(255), ValueY(v)));
    }
    painter.setPen(QPen(palette().mid().color(), 1));
    painter.drawLine(QPointF(ValueX(0), ValueY(0)), QPointF(ValueX(255), ValueY(255)));

    // The curve drawn from the same cubic the engine tabulates, one segment per half value.
    const orvex_colour::CMonotoneCurve curve(m_points);
    QPainterPath path;
    for (int i = 0; i <= 510; ++i) {
        const double x = i / 2.0;
        const QPointF at(ValueX(x), ValueY(std::clamp(curve(x), 0.0, 255.0)));
        if (i == 0) path.moveTo(at);
        else path.lineTo(at);
    }
    painter.setPen(QPen(palette().text().color(), 1.5));
    painter.drawPath(path);
    for (std::size_t i = 0; i < m_points.size(); ++i) {
        const QPointF at = PointPosition(m_points[i]);
        painter.setBrush(static_cast<int>(i) == m_dragged ? palette().text() : palette().base());
        painter.drawRect(QRectF(at.x() - 3, at.y() - 3, 6, 6));
    }
}

void CCurveEditor::mousePressEvent(QMouseEvent* event)
{
    const QPointF position = event->position();
    const int under = PointAt(position);
    if (event->button() == Qt::RightButton) {
        Remove(under);
        ReportPointer(position);
        return;
    }
    if (event->button() != Qt::LeftButton) return;
    if (under >= 0) {
        m_dragged = under;
        update();
        return;
    }
    if (static_cast<int>(m_points.size()) >= kMaxPoints) return;
    const orvex_colour::CCurvePoint added = ValueAt(position);
    // A new point goes between the two ends and never onto the x of another.
    if (added.x <= m_points.front().x || added.x >= m_points.back().x) return;
    const auto after = std::upper_bound(m_points.begin(), m_points.end(), added.x,
                                        [](int x, const orvex_colour::CCurvePoint& p) { return x < p.x; });
    if ((after - 1)->x == added.x) return;
    const auto index = after - m_points.begin();
    m_points.insert(after, added);
    m_dragged = static_cast<int>(index);
    update();
    emit pointsChanged();
    ReportPointer(position);
}

void CCurveEditor::mouseMoveEvent(QMouseEvent* event)
{
    const QPointF position = event->position();
    if (m_dragged >= 0) {
        const int last = static_cast<int>(m_points.size()) - 1;
        const bool outside = position.x() < -kRemoveDistance || position.y() < -kRemoveDistance ||
                             position.x() > width() + kRemoveDistance || position.y() > height() + kRemoveDistance;
        if (outside && m_dragged > 0 && m_dragged < last) {
            Remove(m_dragged);
            ReportPointer(position);
            return;
        }
        orvex_colour::CCurvePoint moved = ValueAt(position);
        const int low = m_dragged > 0 ? m_points[static_cast<std::size_t>(m_dragged - 1)].x + 1 : 0;
        const int high = m_dragged < last ? m_points[static_cast<std::size_t>(m_dragged + 1)].x - 1 : 255;
        moved.x = std::clamp(moved.x, low, high);
        orvex_colour::CCurvePoint& stored = m_points[static_cast<std::size_t>(m_dragged)];
        if (moved != stored) {
            stored = moved;
            update();
            emit pointsChanged();
        }
    }
    ReportPointer(position);
}

void CCurveEditor::mouseReleaseEvent(QMouseEvent*)
{
    if (m_dragged < 0) return;
    m_dragged = -1;
    update();
}

void CCurveEditor::leaveEvent(QEvent*)
{
    if (m_dragged < 0) emit pointerValues(-1, -1);
}
