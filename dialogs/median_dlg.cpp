#include "dialogs/median_dlg.h"

#include <QSlider>

CMedianDlg::CMedianDlg(const QString& title, QWidget* parent)
    : CParamDialog(title.isEmpty() ? QStringLiteral("Median") : title, parent)
{
    m_radius = AddSlider(QStringLiteral("Radius:"), 1, 100, 1, CValueFormat::Plain().WithUnit(QStringLiteral("pixels")), 1);
}

int CMedianDlg::AskRadius(const QString& title, QWidget* parent)
{
    CMedianDlg dialog(title, parent);
    dialog.exec();
    return dialog.resultRadius();
}

void CMedianDlg::done(int result)
{
    m_result = result == QDialog::Accepted ? slider(m_radius)->value() : 0;
    CParamDialog::done(result);
}
