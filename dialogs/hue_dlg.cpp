#include "dialogs/hue_dlg.h"

CHueDlg::CHueDlg(QWidget* parent, CStartValues start)
    : CParamDialog(QStringLiteral("Hue/Saturation"), parent, std::move(start))
{
    BindOperation("HueSaturation");
    AddSlider("hue", QStringLiteral("Hue:"), CValueFormat::Signed(180), CSliderScale::Centred(180));
    AddSlider("saturation", QStringLiteral("Saturation:"), CValueFormat::Signed(100),
              CSliderScale::Curve(0, 200,
                                  [](int position) { return static_cast<double>(SaturationFromPosition(position)); }));
    // Hundredths of the push, worked in single precision as the engine's colour model is.
    AddSlider("lightness", QStringLiteral("Lightness:"), CValueFormat::Signed(100),
              CSliderScale::Curve(0, 200, [](int position) {
                  return static_cast<double>(static_cast<float>(position - 100) / 100.0f);
              }));
    AddPreviewBox(true);
}

float CHueDlg::SaturationFromPosition(int position)
{
    const float s = static_cast<float>(position) / 100.0f;
    if (s <= 1.0f) return s;
    const float above = s - 1.0f;
    return 10.0f * above * above + 1.0f;
}

void CHueDlg::Render(CImageProcessor& engine, const std::vector<double>& values)
{
    RenderByTable("HueSaturation", engine, values);
}
