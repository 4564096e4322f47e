#include "dialogs/diffusion_dlg.h"

#include <QSlider>

CDiffusionDlg::CDiffusionDlg(const QString& title, QWidget* parent)
    : CParamDialog(title.isEmpty() ? QStringLiteral("Diffusion") : title, parent)
{
    m_iterations = AddSlider(QStringLiteral("Iterations:"), 0, 100, 0, CValueFormat::Plain(), 0);
}

int CDiffusionDlg::AskIterations(const QString& title, QWidget* parent)
{
    CDiffusionDlg dialog(title, parent);
    dialog.exec();
    return dialog.resultIterations();
}

void CDiffusionDlg::done(int result)
{
    m_result = result == QDialog::Accepted ? slider(m_iterations)->value() : 0;
    CParamDialog::done(result);
}
