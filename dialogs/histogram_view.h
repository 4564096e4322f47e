#pragma once

#include "filters/colour/histogram.h"

#include <QWidget>

// A histogram drawn as 256 columns, for the tonal dialogs and the histogram panel. Columns are
// scaled so that the tallest one, leaving out a single spike that would flatten the rest (a
// background of one colour), fills the height; a taller spike is cut off at the top.
class CHistogramView : public QWidget
{
    Q_OBJECT
public:
    enum class Channel { Luminance, Red, Green, Blue, Colours };

    explicit CHistogramView(QWidget* parent = nullptr);

    void SetHistogram(const orvex_colour::CHistogram& histogram);
    const orvex_colour::CHistogram& histogram() const { return m_histogram; }
    // Which counts are drawn; Colours draws red, green and blue over one another.
    void SetChannel(Channel channel);
    Channel channel() const { return m_channel; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    // Where value v (0..255) is drawn, for subclasses that mark values over the columns.
    double ValueX(double v) const;

private:
    orvex_colour::CHistogram m_histogram;
    Channel m_channel = Channel::Luminance;
};
