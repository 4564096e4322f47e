#include "core/region.h"

#include "core/image_processor.h"
#include "core/parallel.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace {

CRegion Clamped(CRegion r, int width, int height)
{
    // In 64 bits: a corner far outside plus a large side must not wrap around into the picture.
    const long long left = std::max(0LL, static_cast<long long>(r.x));
    const long long top = std::max(0LL, static_cast<long long>(r.y));
    const long long right = std::min(static_cast<long long>(width), static_cast<long long>(r.x) + std::max(0, r.width));
    const long long bottom =
        std::min(static_cast<long long>(height), static_cast<long long>(r.y) + std::max(0, r.height));
    if (left >= right || top >= bottom) return {};
    return {static_cast<int>(left), static_cast<int>(top), static_cast<int>(right - left),
            static_cast<int>(bottom - top)};
}

std::uint8_t* PixelAt(CImage& image, int x, int y)
{
    return image.bits() + static_cast<std::ptrdiff_t>(y) * image.pitch() +
           static_cast<std::ptrdiff_t>(x) * (image.bitsPerPixel() / 8);
}

// Copies the width x height rectangle at (fromX, fromY) of `from` to (toX, toY) of `to`; both have
// the same depth.
void CopyRectangle(const CImage& from, int fromX, int fromY, CImage& to, int toX, int toY, int width, int height)
{
    const std::size_t bytes = static_cast<std::size_t>(width) * static_cast<std::size_t>(from.bitsPerPixel() / 8);
    const auto rows = [&](int begin, int end) {
        for (int row = begin; row < end; ++row)
            std::memcpy(PixelAt(to, toX, toY + row), PixelAt(const_cast<CImage&>(from), fromX, fromY + row), bytes);
    };
    // Small rectangles are not worth waking the other cores for.
    if (bytes * static_cast<std::size_t>(height) < (std::size_t(1) << 20)) rows(0, height);
    else ParallelFor(0, height, rows);
}

// Puts `part` in the place of the engine's picture for as long as it lives, and back again.
class CPictureInPlaceOf
{
public:
    CPictureInPlaceOf(CImage& picture, CImage& part) : m_picture(picture), m_part(part)
    {
        std::swap(m_picture, m_part);
    }
    ~CPictureInPlaceOf() { std::swap(m_picture, m_part); }
    CPictureInPlaceOf(const CPictureInPlaceOf&) = delete;
    CPictureInPlaceOf& operator=(const CPictureInPlaceOf&) = delete;

private:
    CImage& m_picture;
    CImage& m_part;
};

bool SameLayout(const CImage& a, int width, int height, int bitsPerPixel)
{
    return !a.IsNull() && a.width() == width && a.height() == height && a.bitsPerPixel() == bitsPerPixel;
}

bool RunOnArea(CImageProcessor& engine, const CPictureCall& call, CRegion inside, CRegion area)
{
    CImage& picture = *engine.image();
    // Every byte is written below, padding included: zeroing it first would cost as much as the
    // copy, which for a point operation is as much as the operation.
    CImage part;
    if (!part.CreateForOverwrite(area.width, area.height, picture.bitsPerPixel())) {
        engine.ReportFailure();
        return false;
    }
    CopyRectangle(picture, area.x, area.y, part, 0, 0, area.width, area.height);
    const std::size_t used =
        static_cast<std::size_t>(area.width) * static_cast<std::size_t>(picture.bitsPerPixel() / 8);
    for (int row = 0; row < area.height; ++row) std::memset(PixelAt(part, 0, row) + used, 0, part.rowBytes() - used);
    bool ran = false;
    {
        const CPictureInPlaceOf swapped(picture, part);
        ran = call(engine);
    }
    if (!ran || engine.Failed() || !SameLayout(part, area.width, area.height, picture.bitsPerPixel())) return false;
    CopyRectangle(part, inside.x - area.x, inside.y - area.y, picture, inside.x, inside.y, inside.width, inside.height);
    return true;
}

// The result is made in the picture itself; the copy keeps the original and takes the region of the
// result, and then it becomes the picture: one copy of the picture, and the region copied once.
bool RunOnWholeAndKeep(CImageProcessor& engine, const CPictureCall& call, CRegion inside)
{
    CImage& picture = *engine.image();
    CImage original;
    if (!original.CopyFrom(picture)) {
        engine.ReportFailure();
        return false;
    }
    bool ran = false;
    try {
        ran = call(engine);
    } catch (...) {
        picture = std::move(original);
        throw;
    }
    if (!ran || engine.Failed() || !SameLayout(picture, original.width(), original.height(), original.bitsPerPixel())) {
        picture = std::move(original);
        return false;
    }
    CopyRectangle(picture, inside.x, inside.y, original, inside.x, inside.y, inside.width, inside.height);
    picture = std::move(original);
    return true;
}

} // namespace

CRegion RegionWorkArea(const COpReach& reach, CRegion region, int width, int height)
{
    if (!reach.Bounded()) return {0, 0, width, height};
    const long long margin = reach.margin;
    const long long cell = std::max(1, reach.cell);
    const auto down = [cell](long long v) { return v / cell * cell; };
    const auto up = [cell](long long v) { return (v + cell - 1) / cell * cell; };
    const long long left = down(std::max(0LL, region.x - margin));
    const long long top = down(std::max(0LL, region.y - margin));
    const long long right = std::min<long long>(width, up(static_cast<long long>(region.x) + region.width + margin));
    const long long bottom = std::min<long long>(height, up(static_cast<long long>(region.y) + region.height + margin));
    return {static_cast<int>(left), static_cast<int>(top), static_cast<int>(right - left),
            static_cast<int>(bottom - top)};
}

bool RunOnRegion(CImageProcessor& engine, const COperation& op, const COpArgs& args, CRegion region)
{
    CImage* const target = engine.image();
    if (!target || target->IsNull() || !op.call || op.changesSize || engine.preview.load()) return false;
    const CRegion whole{0, 0, target->width(), target->height()};
    if (Clamped(region, whole.width, whole.height) == whole) return op.call(engine, args) && !engine.Failed();
    return RunOnRegion(
        engine, [&op, &args](CImageProcessor& e) { return op.call(e, args); }, region, Reach(op, args));
}

bool RunOnRegion(CImageProcessor& engine, const CPictureCall& call, CRegion region, COpReach reach)
{
    CImage* const target = engine.image();
    if (!target || target->IsNull() || !call || engine.preview.load()) return false;
    CImage& picture = *target;
    const int width = picture.width();
    const int height = picture.height();
    const CRegion inside = Clamped(region, width, height);
    if (inside.IsEmpty()) return false;
    const CRegion whole{0, 0, width, height};

    const CRegion area = RegionWorkArea(reach, inside, width, height);
    if (area == whole && inside != whole) return RunOnWholeAndKeep(engine, call, inside);
    if (area != whole) return RunOnArea(engine, call, inside, area);
    // The whole picture: a plain run, except that a call of unknown effect may not change the size.
    const int depth = picture.bitsPerPixel();
    CImage original;
    if (!original.CopyFrom(picture)) {
        engine.ReportFailure();
        return false;
    }
    const bool ran = call(engine) && !engine.Failed();
    if (!SameLayout(picture, width, height, depth)) {
        picture = std::move(original);
        return false;
    }
    return ran;
}

bool KeepOutsideRegion(CImage& result, const CImage& original, CRegion region)
{
    if (result.IsNull() || !SameLayout(original, result.width(), result.height(), result.bitsPerPixel())) return false;
    const int width = result.width();
    const int height = result.height();
    const CRegion inside = Clamped(region, width, height);
    const CImage& from = original;
    if (inside.IsEmpty()) {
        CopyRectangle(from, 0, 0, result, 0, 0, width, height);
        return true;
    }
    // Above, below, then left and right of the region.
    CopyRectangle(from, 0, 0, result, 0, 0, width, inside.y);
    const int below = inside.y + inside.height;
    CopyRectangle(from, 0, below, result, 0, below, width, height - below);
    CopyRectangle(from, 0, inside.y, result, 0, inside.y, inside.x, inside.height);
    const int right = inside.x + inside.width;
    CopyRectangle(from, right, inside.y, result, right, inside.y, width - right, inside.height);
    return true;
}
