#include "dialogs/motion_blur_dlg.h"

#include "dialogs/blur_dialog.h"


CMotionBlurDlg::CMotionBlurDlg(QWidget* parent) : CParamDialog(QStringLiteral("Motion Blur"), parent)
{
    BindOperation("MotionBlur");
    m_angle = AddSlider("angle", QStringLiteral("Angle:"), 0, 180, 0, CValueFormat::Angle(), 0.0);

    m_radius = AddBlurRadiusSlider(*this);
}

CMotionBlurDlg::CResult CMotionBlurDlg::Ask(QWidget* parent)
{
    CMotionBlurDlg dialog(parent);
    dialog.exec();
    return dialog.result();
}

void CMotionBlurDlg::done(int result)
{
    m_result = result == QDialog::Accepted ? CResult{angle(), radius()} : CResult{};
    CParamDialog::done(result);
}
