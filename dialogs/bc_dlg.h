#pragma once

#include "dialogs/param_dialog.h"

// "Brightness/Contrast...": brightness -100..+100 and a contrast factor 0..4 about the channel
// means.
class CBCDlg : public CParamDialog
{
    Q_OBJECT

public:
    explicit CBCDlg(QWidget* parent = nullptr);

    float brightness() const { return static_cast<float>(value(kBrightness)); }
    float contrast() const { return static_cast<float>(value(kContrast)); }
    QSlider* brightnessSlider() const { return slider(kBrightness); }
    QSlider* contrastSlider() const { return slider(kContrast); }
    QLineEdit* brightnessBox() const { return valueBox(kBrightness); }
    QLineEdit* contrastBox() const { return valueBox(kContrast); }

    // Positions 0..100 scale linearly to 0..1, positions above the middle square their ratio, so
    // the right half reaches 4.
    static float ContrastFromPosition(int position);

    // The preview and the final call: values() holds brightness, then contrast.
    static void Render(CImageProcessor& engine, const std::vector<double>& values);

private:
    static constexpr int kBrightness = 0;
    static constexpr int kContrast = 1;
};
