#include "dialogs/histogram_view.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <array>

namespace {

using Counts = std::array<std::uint64_t, 256>;

// The count that fills the height: the largest, unless it is more than twice the next largest, in
// which case that one (a lone spike would otherwise leave every other column a line).
double ScaleCount(const Counts& counts)
{
    std::uint64_t first = 0;
    std::uint64_t second = 0;
    for (std::uint64_t c : counts) {
        if (c > first) {
            second = first;
            first = c;
        } else if (c > second) {
            second = c;
        }
    }
    if (second > 0 && first > 2 * second) return static_cast<double>(second);
    return static_cast<double>(std::max<std::uint64_t>(first, 1));
}

} // namespace

CHistogramView::CHistogramView(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
}

void CHistogramView::SetHistogram(const orvex_colour::CHistogram& histogram)
{
    m_histogram = histogram;
    update();
}

void CHistogramView::SetChannel(Channel channel)
{
    m_channel = channel;
    update();
}

QSize CHistogramView::sizeHint() const
{
    return {258, 102};
}

QSize CHistogramView::minimumSizeHint() const
{
    return {130, 50};
}

double CHistogramView::ValueX(double v) const
{
    return 1.0 + (v + 0.5) * (width() - 2) / 256.0;
}

void CHistogramView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), palette().base());
    painter.setPen(palette().mid().color());
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
    if (m_histogram.pixels == 0) return;

    const double bottom = height() - 1.0;
    const double top = 1.0;
    const auto draw = [&](const Counts& counts, QColor colour) {
        const double scale = ScaleCount(counts);
        QPainterPath path;
        path.moveTo(ValueX(-0.5), bottom);
        for (int v = 0; v < 256; ++v) {
            const double h = std::min(1.0, counts[v] / scale) * (bottom - top);
            path.lineTo(ValueX(v - 0.5), bottom - h);
            path.lineTo(ValueX(v + 0.5), bottom - h);
        }
        path.lineTo(ValueX(255.5), bottom);
        path.closeSubpath();
        painter.fillPath(path, colour);
    };
    painter.setRenderHint(QPainter::Antialiasing, false);
    switch (m_channel) {
    case Channel::Luminance: draw(m_histogram.luminance, palette().text().color()); break;
    case Channel::Red: draw(m_histogram.red, QColor(200, 40, 40)); break;
    case Channel::Green: draw(m_histogram.green, QColor(40, 160, 40)); break;
    case Channel::Blue: draw(m_histogram.blue, QColor(40, 60, 210)); break;
    case Channel::Colours:
        painter.setCompositionMode(QPainter::CompositionMode_Multiply);
        draw(m_histogram.red, QColor(255, 120, 120));
        draw(m_histogram.green, QColor(120, 220, 120));
        draw(m_histogram.blue, QColor(120, 140, 255));
        break;
    }
}
