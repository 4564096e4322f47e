#include "dialogs/unsharp_mask_dlg.h"

#include "dialogs/blur_dialog.h"

CUnsharpMaskDlg::CUnsharpMaskDlg(QWidget* parent) : CParamDialog(QStringLiteral("Unsharp Mask"), parent)
{
    m_amount = AddSlider(QStringLiteral("Amount:"), 0, 500, 100, CValueFormat::Plain().WithUnit(QStringLiteral("%")), 100.0);
    m_radius = AddBlurRadiusSlider(*this);
}

std::optional<CUnsharpMaskDlg::CResult> CUnsharpMaskDlg::Ask(QWidget* parent)
{
    CUnsharpMaskDlg dialog(parent);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return CResult{dialog.radius(), dialog.amount()};
}
