#include "dialogs/blur_dialog.h"

#include "filters/convolution/convolution.h"

QSlider* AddBlurRadiusSlider(CParamDialog& dialog)
{
    return dialog.AddSlider("radius", QStringLiteral("Radius:"),
                            CValueFormat::RealValue(1).WithUnit(QStringLiteral("pixels")),
                            CSliderScale::Curve(0, 2500, [](int p) {
                                return static_cast<double>(orvex_convolution::BlurRadiusFromSlider(p));
                            }));
}

CBlurDialog::CBlurDialog(const QString& title, QWidget* parent, CStartValues start)
    : CParamDialog(title.isEmpty() ? QStringLiteral("Gaussian Blur") : title, parent, std::move(start))
{
    BindOperation("GaussianBlur");
    AddBlurRadiusSlider(*this);
}
