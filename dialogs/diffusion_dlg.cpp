#include "dialogs/diffusion_dlg.h"

CDiffusionDlg::CDiffusionDlg(const QString& title, QWidget* parent, CStartValues start)
    : CParamDialog(title.isEmpty() ? QStringLiteral("Diffusion") : title, parent, std::move(start))
{
    // Both diffusions' rows take the same "iterations"; the total variation row stands for both.
    BindOperation("TotalVariationDiffusion");
    AddSlider("iterations", QStringLiteral("Iterations:"), CValueFormat::Plain());
}
