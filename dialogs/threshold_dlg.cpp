#include "dialogs/threshold_dlg.h"

#include "core/image.h"
#include "core/image_processor.h"
#include "filters/colour/histogram.h"
#include "filters/colour/threshold.h"

#include <QMouseEvent>
#include <QPainter>
#include <QSlider>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

CThresholdHistogram::CThresholdHistogram(QWidget* parent) : CHistogramView(parent)
{
    setCursor(Qt::CrossCursor);
}

void CThresholdHistogram::SetLevel(int level)
{
    level = std::clamp(level, 0, 255);
    if (level == m_level) return;
    m_level = level;
    update();
}

int CThresholdHistogram::ValueAt(double x) const
{
    // The inverse of ValueX: column v spans ValueX(v - 0.5) .. ValueX(v + 0.5).
    const double span = std::max(1, width() - 2);
    return std::clamp(static_cast<int>(std::floor((x - 1.0) * 256.0 / span)), 0, 255);
}

void CThresholdHistogram::paintEvent(QPaintEvent* event)
{
    CHistogramView::paintEvent(event);
    QPainter painter(this);
    painter.setPen(QPen(QColor(220, 30, 30), 1));
    const int x = static_cast<int>(std::lround(MarkerX()));
    painter.drawLine(x, 1, x, height() - 2);
}

void CThresholdHistogram::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) return CHistogramView::mousePressEvent(event);
    emit levelPicked(ValueAt(event->position().x()));
}

void CThresholdHistogram::mouseMoveEvent(QMouseEvent* event)
{
    if (!(event->buttons() & Qt::LeftButton)) return CHistogramView::mouseMoveEvent(event);
    emit levelPicked(ValueAt(event->position().x()));
}

CThresholdDlg::CThresholdDlg(const CImage& picture, QWidget* parent, CStartValues start)
    : CParamDialog(QStringLiteral("Threshold"), parent, std::move(start))
{
    BindOperation("Threshold");
    m_histogram = new CThresholdHistogram(this);
    // One pass over the picture, well under a tenth of a second even for large photographs.
    m_histogram->SetHistogram(orvex_colour::ComputeHistogram(picture));
    m_histogram->SetChannel(CHistogramView::Channel::Luminance);
    // Above the slider, as the level's scale.
    if (auto* box = qobject_cast<QVBoxLayout*>(layout())) box->insertWidget(0, m_histogram);
    else extraArea()->addWidget(m_histogram);
    QSlider* slider = AddSlider("level", QStringLiteral("Threshold Level:"), CValueFormat::Plain());
    m_histogram->SetLevel(level());
    if (slider) {
        connect(slider, &QSlider::valueChanged, m_histogram, &CThresholdHistogram::SetLevel);
        connect(m_histogram, &CThresholdHistogram::levelPicked, slider, &QSlider::setValue);
    }
    // The picture turns black and white as soon as the dialog opens, at the start level.
    RenderOnOpening("level");
    // No level gives the picture back, so "Preview" unchecked asks for a level below the range,
    // which Render answers with the picture itself.
    SetIdentityValues({-1.0});
    AddPreviewBox(true);
}

void CThresholdDlg::Render(CImageProcessor& engine, const std::vector<double>& values)
{
    if (values.empty() || values.front() < 0) engine.ShowOriginal();
    else Threshold(engine, static_cast<int>(values.front()));
}
