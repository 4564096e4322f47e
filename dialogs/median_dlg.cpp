#include "dialogs/median_dlg.h"

#include <QSlider>

CMedianDlg::CMedianDlg(const QString& title, QWidget* parent, CStartValues start)
    : CParamDialog(title.isEmpty() ? QStringLiteral("Median") : title, parent, std::move(start))
{
    // Maximum and Minimum are the same row with another mode; the dialog asks only the radius.
    BindOperation("RankFilter");
    AddSlider("radius", QStringLiteral("Radius:"), CValueFormat::Plain().WithUnit(QStringLiteral("pixels")));
}

int CMedianDlg::AskRadius(const QString& title, QWidget* parent, CStartValues start)
{
    CMedianDlg dialog(title, parent, std::move(start));
    dialog.exec();
    return dialog.resultRadius();
}

void CMedianDlg::done(int result)
{
    m_result = result == QDialog::Accepted ? slider("radius")->value() : 0;
    CParamDialog::done(result);
}
