#pragma once

#include "core/operation_table.h"

#include <functional>

class CImage;
class CImageProcessor;

// A rectangle of the picture in pixels: top-left corner (x, y), x to the right, y downwards from the
// top row.
struct CRegion
{
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool IsEmpty() const { return width < 1 || height < 1; }
    bool operator==(const CRegion&) const = default;
};

// Runs `op` with `args` on the engine's picture so that only the pixels inside `region` (clamped to
// the picture) change, and each of them becomes exactly the byte that running the operation on the
// whole picture gives it: means, histograms, circular transforms and random draws are those of the
// whole picture. Pixels outside the region keep their bytes.
//
// How: an operation whose reach is bounded (COperation::reach) runs on a copy of the region widened
// by its margin (and to whole cells), clamped to the picture, and only the region is copied back.
// Any other runs on the whole picture beside one copy of it, and the result's region is then
// copied into that copy, which becomes the picture. A region that is the whole picture is a plain
// run.
//
// Refused, with false and the picture untouched, when the operation may change the picture's size
// (run those on the whole picture), when the preview flag is set (only the picture itself is
// written here), or when the region misses the picture. Otherwise returns false, with the picture
// untouched, when the run fails: the engine's failure flag is then raised where memory or a
// transform plan ran short (clear it before the call, as before the table's `call`), or the row's
// call returned false. A run stopped through the cancel flag or a progress watcher leaves the
// picture as the operation left it (untouched) and returns true.
//
// The same engine runs the operation, so its progress sink, seed, cancel and worker flags work as
// for a whole-picture run. While a bounded operation runs, the engine's picture holds the widened
// region in place of the whole picture, which is put back before the call returns (also when an
// exception passes through): nothing else may read the picture during the call, as during any
// operation that writes it.
bool RunOnRegion(CImageProcessor& engine, const COperation& op, const COpArgs& args, CRegion region);

// A call on the engine's picture that is not one table row with known arguments (several operations
// in a row, a dialog's own call): true when it ran.
using CPictureCall = std::function<bool(CImageProcessor& engine)>;

// RunOnRegion for any call, with the same guarantees, given the reach of its result: a bounded reach
// runs it on the region and its margin, an unbounded one (the default, for a call whose reach is not
// known) on the whole picture beside one copy, the original being put back outside the region. A
// call that gives the picture another size or depth is undone and the run returns false, the
// picture untouched; the preview flag is refused as for a table row.
bool RunOnRegion(CImageProcessor& engine, const CPictureCall& call, CRegion region,
                 COpReach reach = COpReach::Unbounded());

// Copies the pixels of `original` outside `region` into `result`, so that only the region shows a
// change made to the whole picture: how a preview rendered on the whole picture shows what running
// on the region will give. False, with `result` untouched, when the two differ in size or depth.
bool KeepOutsideRegion(CImage& result, const CImage& original, CRegion region);

// The part of a width x height picture that RunOnRegion works on for `region` (already within the
// picture) with `reach`: the region widened by the margin and out to whole cells, clamped to the
// picture; the whole picture when the reach is unbounded.
CRegion RegionWorkArea(const COpReach& reach, CRegion region, int width, int height);
