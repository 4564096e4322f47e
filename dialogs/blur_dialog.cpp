#include "dialogs/blur_dialog.h"

#include "filters/convolution/convolution.h"


int AddBlurRadiusSlider(CParamDialog& dialog)
{
    return dialog.AddSlider("radius", QStringLiteral("Radius:"), 0, 2500, 0, CValueFormat::RealValue(1).WithUnit(QStringLiteral("pixels")),
                            0.0, [](int p) { return static_cast<double>(orvex_convolution::BlurRadiusFromSlider(p)); });
}

CBlurDialog::CBlurDialog(const QString& title, QWidget* parent)
    : CParamDialog(title.isEmpty() ? QStringLiteral("Gaussian Blur") : title, parent)
{
    BindOperation("GaussianBlur");
    m_radius = AddBlurRadiusSlider(*this);
}

float CBlurDialog::AskRadius(const QString& title, QWidget* parent)
{
    CBlurDialog dialog(title, parent);
    dialog.exec();
    return dialog.resultRadius();
}

void CBlurDialog::done(int result)
{
    m_result = result == QDialog::Accepted ? radius() : 0.0f;
    CParamDialog::done(result);
}
