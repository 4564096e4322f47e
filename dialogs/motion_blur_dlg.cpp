#include "dialogs/motion_blur_dlg.h"

#include "dialogs/blur_dialog.h"

#include <QLineEdit>
#include <QSlider>

namespace {

QString DegreesText(int angle)
{
    return QString::number(angle) + QChar(0x00B0);
}

} // namespace

CMotionBlurDlg::CMotionBlurDlg(QWidget* parent) : CParamDialog(QStringLiteral("Motion Blur"), parent)
{
    m_angle = AddSlider(QStringLiteral("Angle:"), 0, 180, 0, CValueFormat::Plain(), 0.0);
    // The shared formats have no degree sign; this connection runs after the base's own, so the
    // box ends up with "%d°" whatever the base wrote.
    QSlider* angle = slider(m_angle);
    QLineEdit* box = valueBox(m_angle);
    box->setText(DegreesText(angle->value()));
    connect(angle, &QSlider::valueChanged, box, [box](int position) { box->setText(DegreesText(position)); });

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
