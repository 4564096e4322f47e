#pragma once

#include "dialogs/histogram_view.h"
#include "dialogs/param_dialog.h"

class CImage;

// The histogram of the Threshold dialog: the luminance columns with a line at the level; a click
// or a drag on it picks the level under the pointer.
class CThresholdHistogram : public CHistogramView
{
    Q_OBJECT

public:
    explicit CThresholdHistogram(QWidget* parent = nullptr);

    void SetLevel(int level);
    int level() const { return m_level; }
    // The value (0..255) drawn at x.
    int ValueAt(double x) const;
    // Where the marker line is drawn.
    double MarkerX() const { return ValueX(m_level); }

signals:
    void levelPicked(int level);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    int m_level = 128;
};

// "Threshold": the picture's luminance histogram with the level marked, and the level's slider.
// Pixels whose luminance reaches the level turn white, the rest black, previewed live.
class CThresholdDlg : public CParamDialog
{
    Q_OBJECT

public:
    // The histogram is counted once, here, from `picture`.
    CThresholdDlg(const CImage& picture, QWidget* parent = nullptr, CStartValues start = {});

    // The preview: the picture thresholded at values[0], or the picture itself for a level below 0
    // (the dialog's "Preview" unchecked).
    static void Render(CImageProcessor& engine, const std::vector<double>& values);

    int level() const { return static_cast<int>(value("level")); }
    QSlider* levelSlider() const { return slider("level"); }
    CThresholdHistogram* histogramView() const { return m_histogram; }

private:
    CThresholdHistogram* m_histogram;
};
