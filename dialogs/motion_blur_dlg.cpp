#include "dialogs/motion_blur_dlg.h"

#include "dialogs/blur_dialog.h"

CMotionBlurDlg::CMotionBlurDlg(QWidget* parent, CStartValues start)
    : CParamDialog(QStringLiteral("Motion Blur"), parent, std::move(start))
{
    BindOperation("MotionBlur");
    AddSlider("angle", QStringLiteral("Angle:"), CValueFormat::Angle());

    AddBlurRadiusSlider(*this);
}
