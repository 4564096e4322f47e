#pragma once

#include "dialogs/param_dialog.h"

// "Brightness/Contrast...": brightness -100..+100 and a contrast factor 0..4 about the channel
// means.
class CBCDlg : public CParamDialog
{
    Q_OBJECT

public:
    explicit CBCDlg(QWidget* parent = nullptr, CStartValues start = {});

    float brightness() const { return static_cast<float>(value("brightness")); }
    float contrast() const { return static_cast<float>(value("contrast")); }
    QSlider* brightnessSlider() const { return slider("brightness"); }
    QSlider* contrastSlider() const { return slider("contrast"); }
    QLineEdit* brightnessBox() const { return valueBox("brightness"); }
    QLineEdit* contrastBox() const { return valueBox("contrast"); }

    // Positions 0..100 scale linearly to 0..1, positions above the middle square their ratio, so
    // the right half reaches 4.
    static float ContrastFromPosition(int position);

    // The preview and the final call: values() holds contrast, then brightness.
    static void Render(CImageProcessor& engine, const std::vector<double>& values);
};
