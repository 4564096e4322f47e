#include "dialogs/bc_dlg.h"

CBCDlg::CBCDlg(QWidget* parent) : CParamDialog(QStringLiteral("Brightness/Contrast"), parent)
{
    BindOperation("BrightnessContrast");
    AddSlider("brightness", QStringLiteral("Brightness:"), 0, 200, 100, CValueFormat::Signed(100), 0,
              [](int position) { return static_cast<double>(position - 100); });
    // The stored contrast starts at 0, not at the slider's 1.0: the first notification after
    // opening is then a change and renders the identity, which fills the work image with the
    // picture before the user touches anything.
    AddSlider("contrast", QStringLiteral("Contrast:"), 0, 200, 100, CValueFormat::Signed(100), 0,
              [](int position) { return static_cast<double>(ContrastFromPosition(position)); });
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
