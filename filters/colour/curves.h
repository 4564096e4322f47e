#pragma once

#include "filters/colour/levels.h"

#include <vector>

class CImageProcessor;

namespace orvex_colour {

struct CCurvePoint
{
    int x = 0;
    int y = 0;
    bool operator==(const CCurvePoint&) const = default;
};

// A tone curve through control points (input x, output y, both 0..255).
//
// The points are taken sorted by x; of points with the same x the last given counts; a point with
// a negative x or y is unused, coordinates above 255 are held to 255. With no points the curve is
// the identity, with one it is flat at its y. Left of the first point and right of the last the
// curve is flat; between two points it is the monotone cubic of Fritsch and Carlson: Hermite
// segments whose end slopes start as the mean of the neighbouring secants (the secant itself at
// the two ends, 0 where the secants differ in sign or one is 0) and are scaled down wherever
// alpha^2 + beta^2 > 9, so no segment leaves the range of its two points.
class CMonotoneCurve
{
public:
    explicit CMonotoneCurve(const std::vector<CCurvePoint>& points);

    // The curve's value at input `x` (any real), unrounded.
    double operator()(double x) const;
    // The used points, sorted by x.
    const std::vector<CCurvePoint>& points() const { return m_points; }
    // The curve at 0..255, rounded and held to 0..255.
    CByteTable Table() const;

private:
    std::vector<CCurvePoint> m_points;
    std::vector<double> m_slopes;
};

// The curves a curves dialog holds at once: `all` acts on every channel after the channel's own.
struct CCurvesSettings
{
    std::vector<CCurvePoint> all;
    std::vector<CCurvePoint> red;
    std::vector<CCurvePoint> green;
    std::vector<CCurvePoint> blue;
};

// Points from the pairs x1, y1, x2, y2, ... of a flat list (an odd last value is ignored).
std::vector<CCurvePoint> CurvePointsFromPairs(const std::vector<double>& pairs);

} // namespace orvex_colour

// One curve on the channel `channel` names ('a' all three, 'r', 'g' or 'b'; anything else leaves
// the picture alone), in one pass. Writes the work image while the engine's preview flag is set,
// the picture otherwise.
void Curves(CImageProcessor& engine, char channel, const std::vector<orvex_colour::CCurvePoint>& points);
// All four curves in one pass: channel c's byte v becomes all(c's own(v)).
void Curves(CImageProcessor& engine, const orvex_colour::CCurvesSettings& curves);
