#include "core/image_processor.h"
#include "core/operation_table.h"
#include "filters/geometry/crop.h"
#include "filters/geometry/geometry_internal.h"

#include <utility>

namespace {

// Sides up to 32768 pixels can be asked for; a canvas beyond the largest picture the program
// holds is refused by the operation as out of memory.
constexpr int kMaxSide = 32768;

COperation InPlaceOnly(COperation op)
{
    op.inPlaceOnly = true;
    return op;
}

COperation SizeChanging(COperation op, CPictureSize (*resultSize)(CPictureSize, const COpArgs&))
{
    op.changesSize = true;
    op.resultSize = resultSize;
    return InPlaceOnly(std::move(op));
}

CPictureSize Turned(CPictureSize in, const COpArgs&)
{
    return {in.height, in.width};
}

// Image Size and Canvas Size: the size asked for, whatever the method or anchor.
CPictureSize AskedFor(CPictureSize, const COpArgs& a)
{
    return {a.Int(0), a.Int(1)};
}

// Crop: the rectangle clamped to the picture; a rectangle outside it leaves the picture as it is
// (the operation then reports failure).
CPictureSize Cropped(CPictureSize in, const COpArgs& a)
{
    const CRegion kept = CropRectangle(in.width, in.height, a.Int(0), a.Int(1), a.Int(2), a.Int(3));
    return kept.IsEmpty() ? in : CPictureSize{kept.width, kept.height};
}

} // namespace

// Defaults leave the picture as it is where a neutral value exists.
void AddGeometryOperations(std::vector<COperation>& table)
{
    table.push_back(InPlaceOnly({"Rotate180", "turns the picture half a turn", {},
                                 [](CImageProcessor& e, const COpArgs&) { e.Rotate180(); return true; }}));
    table.push_back(SizeChanging({"Rotate90CW", "turns the picture a quarter turn clockwise", {},
                                  [](CImageProcessor& e, const COpArgs&) { e.Rotate90CW(); return true; }},
                                 Turned));
    table.push_back(SizeChanging({"Rotate90CCW", "turns the picture a quarter turn counter-clockwise", {},
                                  [](CImageProcessor& e, const COpArgs&) { e.Rotate90CCW(); return true; }},
                                 Turned));
    table.push_back(InPlaceOnly({"FlipHorizontal", "mirrors the picture left to right", {},
                                 [](CImageProcessor& e, const COpArgs&) { e.FlipHorizontal(); return true; }}));
    table.push_back(InPlaceOnly({"FlipVertical", "mirrors the picture top to bottom", {},
                                 [](CImageProcessor& e, const COpArgs&) { e.FlipVertical(); return true; }}));
    table.push_back(SizeChanging({"RotateArbitrary",
                                  "turns by an angle in degrees (positive clockwise), bilinear, onto a canvas that "
                                  "holds the whole picture",
                                  {CParam::Float("angle", -3600, 3600, 0)},
                                  [](CImageProcessor& e, const COpArgs& a) { e.RotateArbitrary(a.Float(0)); return true; }},
                                 [](CPictureSize in, const COpArgs& a) {
                                     const auto turn = orvex_geometry::TurnedCanvas(in.width, in.height, a.Float(0));
                                     return CPictureSize{turn.width, turn.height};
                                 }));
    table.push_back(SizeChanging({"ResizeImage",
                                  "scales to a new size: n nearest neighbour, b bilinear (area average when "
                                  "reducing), l liquid (seam carving)",
                                  {CParam::Int("width", 1, kMaxSide, 1), CParam::Int("height", 1, kMaxSide, 1),
                                   CParam::Code("method", "nbl", 'b')},
                                  [](CImageProcessor& e, const COpArgs& a) {
                                      e.ResizeImage(a.Int(0), a.Int(1), a.Code(2));
                                      return true;
                                  }},
                                 AskedFor));
    table.push_back(SizeChanging({"CanvasSize",
                                  "places the picture on a canvas of a new size at an anchor (w N n / W C E / s S e); "
                                  "added area is grey",
                                  {CParam::Int("width", 1, kMaxSide, 1), CParam::Int("height", 1, kMaxSide, 1),
                                   CParam::Code("anchor", "wNnWCEsSe", 'C')},
                                  [](CImageProcessor& e, const COpArgs& a) {
                                      e.CanvasSize(a.Int(0), a.Int(1), a.Code(2));
                                      return true;
                                  }},
                                 AskedFor));
    // Corners and sides span every picture the program holds; the default keeps the whole picture.
    constexpr int kMaxPixels = static_cast<int>(CImage::kMaxPixels);
    table.push_back(SizeChanging(
        {"Crop",
         "keeps the rectangle x, y, width, height (clamped to the picture) and drops the rest",
         {CParam::Int("x", -kMaxPixels, kMaxPixels, 0), CParam::Int("y", -kMaxPixels, kMaxPixels, 0),
          CParam::Int("width", 1, kMaxPixels, kMaxPixels), CParam::Int("height", 1, kMaxPixels, kMaxPixels)},
         [](CImageProcessor& e, const COpArgs& a) { return Crop(e, a.Int(0), a.Int(1), a.Int(2), a.Int(3)); }},
        Cropped));
    table.back().failureMessage = "The crop rectangle does not overlap the picture, or there is not enough memory";
    table.push_back({"Offset",
                     "shifts by whole pixels (right, down); uncovered area: s background, r repeat edge, w wrap",
                     {CParam::Int("horizontal", -kMaxSide, kMaxSide, 0), CParam::Int("vertical", -kMaxSide, kMaxSide, 0),
                      CParam::Code("mode", "srw", 's')},
                     [](CImageProcessor& e, const COpArgs& a) {
                         e.Offset(a.Int(0), a.Int(1), a.Code(2));
                         return true;
                     }});
}
