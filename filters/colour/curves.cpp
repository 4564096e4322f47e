#include "filters/colour/curves.h"

#include "core/image_processor.h"
#include "filters/colour/colour_tables.h"

#include <algorithm>
#include <cmath>

namespace orvex_colour {

CMonotoneCurve::CMonotoneCurve(const std::vector<CCurvePoint>& points)
{
    for (const CCurvePoint& p : points) {
        if (p.x < 0 || p.y < 0) continue;
        const CCurvePoint held{std::min(p.x, 255), std::min(p.y, 255)};
        // A later point of the same x replaces the earlier one.
        const auto same =
            std::find_if(m_points.begin(), m_points.end(), [&](const CCurvePoint& q) { return q.x == held.x; });
        if (same != m_points.end()) *same = held;
        else m_points.push_back(held);
    }
    std::sort(m_points.begin(), m_points.end(), [](const CCurvePoint& a, const CCurvePoint& b) { return a.x < b.x; });

    const std::size_t n = m_points.size();
    if (n < 2) return;
    std::vector<double> secants(n - 1);
    for (std::size_t k = 0; k + 1 < n; ++k)
        secants[k] = static_cast<double>(m_points[k + 1].y - m_points[k].y) / (m_points[k + 1].x - m_points[k].x);
    m_slopes.assign(n, 0.0);
    m_slopes.front() = secants.front();
    m_slopes.back() = secants.back();
    for (std::size_t k = 1; k + 1 < n; ++k)
        m_slopes[k] = secants[k - 1] * secants[k] > 0 ? (secants[k - 1] + secants[k]) / 2 : 0.0;
    for (std::size_t k = 0; k + 1 < n; ++k) {
        if (secants[k] == 0) {
            m_slopes[k] = 0;
            m_slopes[k + 1] = 0;
            continue;
        }
        const double alpha = m_slopes[k] / secants[k];
        const double beta = m_slopes[k + 1] / secants[k];
        const double length = alpha * alpha + beta * beta;
        if (length > 9) {
            const double tau = 3 / std::sqrt(length);
            m_slopes[k] = tau * alpha * secants[k];
            m_slopes[k + 1] = tau * beta * secants[k];
        }
    }
}

double CMonotoneCurve::operator()(double x) const
{
    if (m_points.empty()) return x;
    if (x <= m_points.front().x) return m_points.front().y;
    if (x >= m_points.back().x) return m_points.back().y;
    const auto after =
        std::upper_bound(m_points.begin(), m_points.end(), x, [](double v, const CCurvePoint& p) { return v < p.x; });
    const std::size_t k = static_cast<std::size_t>(after - m_points.begin()) - 1;
    const CCurvePoint& p0 = m_points[k];
    const CCurvePoint& p1 = m_points[k + 1];
    const double h = p1.x - p0.x;
    const double t = (x - p0.x) / h;
    const double t2 = t * t, t3 = t2 * t;
    return (2 * t3 - 3 * t2 + 1) * p0.y + (t3 - 2 * t2 + t) * h * m_slopes[k] + (-2 * t3 + 3 * t2) * p1.y +
           (t3 - t2) * h * m_slopes[k + 1];
}

CByteTable CMonotoneCurve::Table() const
{
    CByteTable table{};
    for (int v = 0; v < 256; ++v)
        table[static_cast<std::size_t>(v)] = static_cast<std::uint8_t>(std::clamp(std::round((*this)(v)), 0.0, 255.0));
    return table;
}

std::vector<CCurvePoint> CurvePointsFromPairs(const std::vector<double>& pairs)
{
    std::vector<CCurvePoint> points;
    for (std::size_t i = 0; i + 1 < pairs.size(); i += 2) {
        const double x = pairs[i], y = pairs[i + 1];
        // Not-a-number and negative coordinates both mean an unused point.
        if (!(x >= 0) || !(y >= 0)) continue;
        points.push_back({static_cast<int>(std::min(x, 255.0)), static_cast<int>(std::min(y, 255.0))});
    }
    return points;
}

} // namespace orvex_colour

void Curves(CImageProcessor& engine, char channel, const std::vector<orvex_colour::CCurvePoint>& points)
{
    orvex_colour::CCurvesSettings curves;
    switch (channel) {
    case 'a': curves.all = points; break;
    case 'r': curves.red = points; break;
    case 'g': curves.green = points; break;
    case 'b': curves.blue = points; break;
    default: return;
    }
    Curves(engine, curves);
}

void Curves(CImageProcessor& engine, const orvex_colour::CCurvesSettings& curves)
{
    CImage& picture = *engine.image();
    if (!orvex_colour::HasPixels(picture)) return;
    std::uint8_t* const target = engine.OutputBits();
    if (!target) return;
    const orvex_colour::CByteTable all = orvex_colour::CMonotoneCurve(curves.all).Table();
    const auto composed = [&](const std::vector<orvex_colour::CCurvePoint>& own) {
        const orvex_colour::CByteTable inner = orvex_colour::CMonotoneCurve(own).Table();
        orvex_colour::CByteTable table{};
        for (std::size_t v = 0; v < 256; ++v) table[v] = all[inner[v]];
        return table;
    };
    const orvex_colour::CByteTable blue = composed(curves.blue), green = composed(curves.green),
                                   red = composed(curves.red);
    orvex_colour::ApplyChannelTables(picture, target, blue.data(), green.data(), red.data());
}
