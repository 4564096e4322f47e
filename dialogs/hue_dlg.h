#pragma once

#include "dialogs/param_dialog.h"

// "Hue/Saturation": a hue shift in degrees, a saturation factor and a lightness push toward white
// or black.
class CHueDlg : public CParamDialog
{
    Q_OBJECT

public:
    explicit CHueDlg(QWidget* parent = nullptr);

    float hue() const { return static_cast<float>(value(kHue)); }
    float saturation() const { return static_cast<float>(value(kSaturation)); }
    float lightness() const { return static_cast<float>(value(kLightness)); }
    QSlider* hueSlider() const { return slider(kHue); }
    QSlider* saturationSlider() const { return slider(kSaturation); }
    QSlider* lightnessSlider() const { return slider(kLightness); }
    QLineEdit* hueBox() const { return valueBox(kHue); }
    QLineEdit* saturationBox() const { return valueBox(kSaturation); }
    QLineEdit* lightnessBox() const { return valueBox(kLightness); }

    // 0..1 linearly up to the middle; above it the factor grows with the square of the distance,
    // reaching 11 at the right end, where nearly every colour is pushed to full saturation.
    static float SaturationFromPosition(int position);

    // The preview and the final call: values() holds hue, saturation and lightness.
    static void Render(CImageProcessor& engine, const std::vector<double>& values);

private:
    // Slots of the operation's parameters hue, saturation, lightness.
    static constexpr int kHue = 0;
    static constexpr int kSaturation = 1;
    static constexpr int kLightness = 2;
};
