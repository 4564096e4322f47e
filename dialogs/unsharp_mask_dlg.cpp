#include "dialogs/unsharp_mask_dlg.h"

#include "dialogs/blur_dialog.h"

#include <QSlider>

CUnsharpMaskDlg::CUnsharpMaskDlg(QWidget* parent) : CParamDialog(QStringLiteral("Unsharp Mask"), parent)
{
    BindOperation("UnsharpMask");
    // The amount is shown in percent and kept as the operation's factor.
    m_amount = AddSlider("amount", QStringLiteral("Amount:"), 0, 500, 100, CValueFormat::Plain().WithUnit(QStringLiteral("%")), 1.0,
                         [](int percent) { return percent / 100.0; });
    m_radius = AddBlurRadiusSlider(*this);
}

std::optional<CUnsharpMaskDlg::CResult> CUnsharpMaskDlg::Ask(QWidget* parent)
{
    CUnsharpMaskDlg dialog(parent);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return CResult{dialog.radius(), dialog.amount()};
}

int CUnsharpMaskDlg::amount() const
{
    return slider(m_amount)->value();
}
