#include "shell/selection_drag.h"

#include <QGuiApplication>
#include <QStyleHints>

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {

// Half a handle plus a pixel of slack on each side, so that a handle is easy to hit at any zoom.
constexpr int kReach = CSelectionDrag::kHandleSize / 2 + 2;

int Floor(double v)
{
    return static_cast<int>(std::floor(v));
}

int Round(double v)
{
    return static_cast<int>(std::lround(v));
}

} // namespace

double CPictureMapping::ToPictureX(double x) const
{
    return (x - shown.x()) * width / std::max(1, shown.width());
}

double CPictureMapping::ToPictureY(double y) const
{
    return (y - shown.y()) * height / std::max(1, shown.height());
}

QRect CPictureMapping::ToView(const CRegion& region) const
{
    if (width < 1 || height < 1) return {};
    const double sx = static_cast<double>(shown.width()) / width;
    const double sy = static_cast<double>(shown.height()) / height;
    const int x0 = shown.x() + Floor(region.x * sx);
    const int y0 = shown.y() + Floor(region.y * sy);
    const int x1 = shown.x() + Floor((static_cast<double>(region.x) + region.width) * sx);
    const int y1 = shown.y() + Floor((static_cast<double>(region.y) + region.height) * sy);
    // A selection smaller than a view pixel is still shown.
    return QRect(x0, y0, std::max(1, x1 - x0), std::max(1, y1 - y0));
}

int CSelectionDrag::GripAt(const CPictureMapping& mapping, const std::optional<CRegion>& selection, QPoint position)
{
    if (!selection) return kGripNone;
    const QRect r = mapping.ToView(*selection);
    const int left = r.x(), right = r.x() + r.width(), top = r.y(), bottom = r.y() + r.height();
    const int midX = (left + right) / 2, midY = (top + bottom) / 2;
    const auto near = [&](int x, int y) {
        return std::abs(position.x() - x) <= kReach && std::abs(position.y() - y) <= kReach;
    };
    // Corners before edges: on a small rectangle the handles overlap, and a corner does more.
    const struct
    {
        int x, y, grip;
    } handles[] = {
        {left, top, kGripLeft | kGripTop},
        {right, top, kGripRight | kGripTop},
        {left, bottom, kGripLeft | kGripBottom},
        {right, bottom, kGripRight | kGripBottom},
        {midX, top, kGripTop},
        {midX, bottom, kGripBottom},
        {left, midY, kGripLeft},
        {right, midY, kGripRight},
    };
    for (const auto& h : handles)
        if (near(h.x, h.y)) return h.grip;
    return r.contains(position) ? kGripInside : kGripNone;
}

Qt::CursorShape CSelectionDrag::CursorFor(int grip)
{
    switch (grip) {
    case kGripLeft | kGripTop:
    case kGripRight | kGripBottom: return Qt::SizeFDiagCursor;
    case kGripRight | kGripTop:
    case kGripLeft | kGripBottom: return Qt::SizeBDiagCursor;
    case kGripLeft:
    case kGripRight: return Qt::SizeHorCursor;
    case kGripTop:
    case kGripBottom: return Qt::SizeVerCursor;
    case kGripInside: return Qt::SizeAllCursor;
    default: return Qt::CrossCursor;
    }
}

QRegion CSelectionDrag::OutlineArea(const CPictureMapping& mapping, const CRegion& region)
{
    const QRect r = mapping.ToView(region);
    const int pad = kHandleSize / 2 + 1;
    const int w = r.width() + 2 * pad, h = r.height() + 2 * pad;
    QRegion area(QRect(r.x() - pad, r.y() - pad, w, 2 * pad + 1));
    area += QRect(r.x() - pad, r.y() + r.height() - pad - 1, w, 2 * pad + 1);
    area += QRect(r.x() - pad, r.y() - pad, 2 * pad + 1, h);
    area += QRect(r.x() + r.width() - pad - 1, r.y() - pad, 2 * pad + 1, h);
    return area;
}

void CSelectionDrag::Begin(const CPictureMapping& mapping, const std::optional<CRegion>& selection, QPoint position)
{
    m_mapping = mapping;
    m_press = position;
    m_grip = GripAt(mapping, selection, position);
    m_start = selection.value_or(CRegion{});
    m_active = true;
    m_dragged = false;
}

std::optional<CRegion> CSelectionDrag::Update(QPoint position, bool square)
{
    if (!m_active || m_mapping.width < 1 || m_mapping.height < 1) return std::nullopt;
    if (!m_dragged) {
        if ((position - m_press).manhattanLength() < QGuiApplication::styleHints()->startDragDistance())
            return std::nullopt;
        m_dragged = true;
    }
    if (m_grip == kGripNone) return Created(position, square);
    if (m_grip == kGripInside) return Moved(position);
    return Resized(position, square);
}

CRegion CSelectionDrag::Created(QPoint position, bool square) const
{
    const int w = m_mapping.width, h = m_mapping.height;
    const int ax = std::clamp(Floor(m_mapping.ToPictureX(m_press.x())), 0, w - 1);
    const int ay = std::clamp(Floor(m_mapping.ToPictureY(m_press.y())), 0, h - 1);
    const int cx = std::clamp(Floor(m_mapping.ToPictureX(position.x())), 0, w - 1);
    const int cy = std::clamp(Floor(m_mapping.ToPictureY(position.y())), 0, h - 1);
    if (!square) return {std::min(ax, cx), std::min(ay, cy), std::abs(cx - ax) + 1, std::abs(cy - ay) + 1};
    // The square grows from the pressed pixel toward the pointer, as far as the picture allows.
    const bool right = cx >= ax, down = cy >= ay;
    const int side =
        std::min({std::max(std::abs(cx - ax), std::abs(cy - ay)) + 1, right ? w - ax : ax + 1, down ? h - ay : ay + 1});
    return {right ? ax : ax - side + 1, down ? ay : ay - side + 1, side, side};
}

CRegion CSelectionDrag::Resized(QPoint position, bool square) const
{
    const int w = m_mapping.width, h = m_mapping.height;
    int left = m_start.x, right = m_start.x + m_start.width;
    int top = m_start.y, bottom = m_start.y + m_start.height;
    const int px = Round(m_mapping.ToPictureX(position.x()));
    const int py = Round(m_mapping.ToPictureY(position.y()));
    if (m_grip & kGripLeft) left = std::clamp(px, 0, right - 1);
    if (m_grip & kGripRight) right = std::clamp(px, left + 1, w);
    if (m_grip & kGripTop) top = std::clamp(py, 0, bottom - 1);
    if (m_grip & kGripBottom) bottom = std::clamp(py, top + 1, h);
    const bool corner = (m_grip & (kGripLeft | kGripRight)) && (m_grip & (kGripTop | kGripBottom));
    if (square && corner) {
        // The opposite corner stays; the gripped one goes out to the longer side.
        const int side = std::min({std::max(right - left, bottom - top), (m_grip & kGripRight) ? w - left : right,
                                   (m_grip & kGripBottom) ? h - top : bottom});
        if (m_grip & kGripRight) right = left + side;
        else left = right - side;
        if (m_grip & kGripBottom) bottom = top + side;
        else top = bottom - side;
    }
    return {left, top, right - left, bottom - top};
}

CRegion CSelectionDrag::Moved(QPoint position) const
{
    const int dx = Round(m_mapping.ToPictureX(position.x()) - m_mapping.ToPictureX(m_press.x()));
    const int dy = Round(m_mapping.ToPictureY(position.y()) - m_mapping.ToPictureY(m_press.y()));
    return {std::clamp(m_start.x + dx, 0, std::max(0, m_mapping.width - m_start.width)),
            std::clamp(m_start.y + dy, 0, std::max(0, m_mapping.height - m_start.height)), m_start.width,
            m_start.height};
}
