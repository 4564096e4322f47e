#pragma once

#include "core/region.h"

#include <QPoint>
#include <QRect>
#include <QRegion>
#include <Qt>

#include <optional>

// Where a width x height picture lies in a view: `shown` is the scaled picture in view pixels (its
// size need not be an exact multiple of the picture's). Converts between view positions and picture
// pixels; every rectangle it returns lies on whole picture pixels.
struct CPictureMapping
{
    QRect shown;
    int width = 0;
    int height = 0;

    // The picture column (row) under view x (y), not clamped.
    double ToPictureX(double x) const;
    double ToPictureY(double y) const;
    // The view rectangle that `region`'s pixels cover.
    QRect ToView(const CRegion& region) const;
};

// What the mouse grabs of a selection. Handles combine the sides they move.
enum CSelectionGrip : int {
    kGripNone = 0,
    kGripLeft = 1,
    kGripRight = 2,
    kGripTop = 4,
    kGripBottom = 8,
    kGripInside = 16,
};

// One drag of the selection with the left button: a new rectangle from the pixel under the press to
// the pixel under the pointer (both included), a handle moving the sides it grips to the nearest pixel
// boundary, or the inside moving the whole rectangle by whole pixels. Every result lies inside the
// picture and is at least 1 x 1; with `square` a new rectangle or a corner handle keeps width and
// height equal (as far as the picture allows). A press followed by a release with less movement
// than the platform's drag distance is a click, which selects nothing.
class CSelectionDrag
{
public:
    // Side of a handle's square and how far from it a press still grabs it, in view pixels.
    static constexpr int kHandleSize = 7;

    // What a press at `position` grabs of `selection` as shown through `mapping`.
    static int GripAt(const CPictureMapping& mapping, const std::optional<CRegion>& selection, QPoint position);
    static Qt::CursorShape CursorFor(int grip);
    // The view pixels an outline of `region` with its handles paints, for partial repaints.
    static QRegion OutlineArea(const CPictureMapping& mapping, const CRegion& region);

    void Begin(const CPictureMapping& mapping, const std::optional<CRegion>& selection, QPoint position);
    // The selection for the pointer at `position`; nothing while the drag is still a click.
    std::optional<CRegion> Update(QPoint position, bool square);
    bool active() const { return m_active; }
    bool dragged() const { return m_dragged; }
    void End() { m_active = false; }

private:
    CRegion Created(QPoint position, bool square) const;
    CRegion Resized(QPoint position, bool square) const;
    CRegion Moved(QPoint position) const;

    CPictureMapping m_mapping;
    QPoint m_press;
    CRegion m_start;
    int m_grip = kGripNone;
    bool m_active = false;
    bool m_dragged = false;
};
