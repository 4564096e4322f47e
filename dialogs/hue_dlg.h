#pragma once

#include "dialogs/param_dialog.h"

// "Hue/Saturation": a hue shift in degrees, a saturation factor and a lightness push toward white
// or black.
class CHueDlg : public CParamDialog
{
    Q_OBJECT

public:
    explicit CHueDlg(QWidget* parent = nullptr, CStartValues start = {});

    float hue() const { return static_cast<float>(value("hue")); }
    float saturation() const { return static_cast<float>(value("saturation")); }
    float lightness() const { return static_cast<float>(value("lightness")); }
    QSlider* hueSlider() const { return slider("hue"); }
    QSlider* saturationSlider() const { return slider("saturation"); }
    QSlider* lightnessSlider() const { return slider("lightness"); }
    QLineEdit* hueBox() const { return valueBox("hue"); }
    QLineEdit* saturationBox() const { return valueBox("saturation"); }
    QLineEdit* lightnessBox() const { return valueBox("lightness"); }

    // 0..1 linearly up to the middle; above it the factor grows with the square of the distance,
    // reaching 11 at the right end, where nearly every colour is pushed to full saturation.
    static float SaturationFromPosition(int position);

    // The preview and the final call: values() holds hue, saturation and lightness.
    static void Render(CImageProcessor& engine, const std::vector<double>& values);
};
