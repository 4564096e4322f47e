#include "dialogs/hue_dlg.h"

CHueDlg::CHueDlg(QWidget* parent) : CParamDialog(QStringLiteral("Hue/Saturation"), parent)
{
    BindOperation("HueSaturation");
    AddSlider("hue", QStringLiteral("Hue:"), 0, 360, 180, CValueFormat::Signed(180), 0,
              [](int position) { return static_cast<double>(position - 180); });
    AddSlider("saturation", QStringLiteral("Saturation:"), 0, 200, 100, CValueFormat::Signed(100), 1.0,
              [](int position) { return static_cast<double>(SaturationFromPosition(position)); });
    AddSlider("lightness", QStringLiteral("Lightness:"), 0, 200, 100, CValueFormat::Signed(100), 0,
              [](int position) { return static_cast<double>(static_cast<float>(position - 100) / 100.0f); });
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
