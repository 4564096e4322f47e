#include "dialogs/median_dlg.h"

CMedianDlg::CMedianDlg(const QString& title, QWidget* parent, CStartValues start)
    : CParamDialog(title.isEmpty() ? QStringLiteral("Median") : title, parent, std::move(start))
{
    // Maximum and Minimum are the same row with another mode; the dialog asks only the radius.
    BindOperation("RankFilter");
    AddSlider("radius", QStringLiteral("Radius:"), CValueFormat::Plain().WithUnit(QStringLiteral("pixels")));
}
