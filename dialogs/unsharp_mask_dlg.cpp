#include "dialogs/unsharp_mask_dlg.h"

#include "dialogs/blur_dialog.h"

#include <QSlider>

CUnsharpMaskDlg::CUnsharpMaskDlg(QWidget* parent, CStartValues start)
    : CParamDialog(QStringLiteral("Unsharp Mask"), parent, std::move(start))
{
    BindOperation("UnsharpMask");
    // The amount is shown in percent and kept as the operation's factor.
    AddSlider("amount", QStringLiteral("Amount:"), CValueFormat::Plain().WithUnit(QStringLiteral("%")),
              CSliderScale::Percent(0, 500));
    AddBlurRadiusSlider(*this);
}

int CUnsharpMaskDlg::amount() const
{
    return slider("amount")->value();
}
