#include "dialogs/bc_dlg.h"

CBCDlg::CBCDlg(QWidget* parent, CStartValues start)
    : CParamDialog(QStringLiteral("Brightness/Contrast"), parent, std::move(start))
{
    BindOperation("BrightnessContrast");
    AddSlider("brightness", QStringLiteral("Brightness:"), CValueFormat::Signed(100), CSliderScale::Centred(100));
    AddSlider(
        "contrast", QStringLiteral("Contrast:"), CValueFormat::Signed(100),
        CSliderScale::Curve(0, 200, [](int position) { return static_cast<double>(ContrastFromPosition(position)); }));
    // Opening renders the start values, which fills the work image with the picture before the
    // user touches anything.
    RenderOnOpening("contrast");
    AddPreviewBox(true);
}

float CBCDlg::ContrastFromPosition(int position)
{
    const float ratio = static_cast<float>(position) / 100.0f;
    return ratio > 1.0f ? ratio * ratio : ratio;
}

void CBCDlg::Render(CImageProcessor& engine, const std::vector<double>& values)
{
    RenderByTable("BrightnessContrast", engine, values);
}
