#include "dialogs/diffusion_dlg.h"

#include <QSlider>

CDiffusionDlg::CDiffusionDlg(const QString& title, QWidget* parent, CStartValues start)
    : CParamDialog(title.isEmpty() ? QStringLiteral("Diffusion") : title, parent, std::move(start))
{
    // Both diffusions' rows take the same "iterations"; the total variation row stands for both.
    BindOperation("TotalVariationDiffusion");
    AddSlider("iterations", QStringLiteral("Iterations:"), CValueFormat::Plain());
}

int CDiffusionDlg::AskIterations(const QString& title, QWidget* parent, CStartValues start)
{
    CDiffusionDlg dialog(title, parent, std::move(start));
    dialog.exec();
    return dialog.resultIterations();
}

void CDiffusionDlg::done(int result)
{
    m_result = result == QDialog::Accepted ? slider("iterations")->value() : 0;
    CParamDialog::done(result);
}
