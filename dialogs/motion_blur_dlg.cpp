#include "dialogs/motion_blur_dlg.h"

#include "dialogs/blur_dialog.h"

CMotionBlurDlg::CMotionBlurDlg(QWidget* parent, CStartValues start)
    : CParamDialog(QStringLiteral("Motion Blur"), parent, std::move(start))
{
    BindOperation("MotionBlur");
    AddSlider("angle", QStringLiteral("Angle:"), CValueFormat::Angle());

    AddBlurRadiusSlider(*this);
}

CMotionBlurDlg::CResult CMotionBlurDlg::Ask(QWidget* parent, CStartValues start)
{
    CMotionBlurDlg dialog(parent, std::move(start));
    dialog.exec();
    return dialog.result();
}

void CMotionBlurDlg::done(int result)
{
    m_result = result == QDialog::Accepted ? CResult{angle(), radius()} : CResult{};
    CParamDialog::done(result);
}
