#include "dialogs/mosaic_dlg.h"

CMosaicDlg::CMosaicDlg(QWidget* parent, CStartValues start)
    : CParamDialog(QStringLiteral("Mosaic"), parent, std::move(start))
{
    BindOperation("Mosaic");
    AddSlider("size", QStringLiteral("Size:"), CValueFormat::Plain());
    // Renders on every notification, so the dialog opens on a preview of its start size.
    SetActsOnEveryNotification(true);
    AddPreviewBox(true);
    // Cells of one pixel reproduce the picture.
    SetIdentityValues({1});
}

void CMosaicDlg::Render(CImageProcessor& engine, const std::vector<double>& values)
{
    engine.Mosaic(static_cast<int>(values.at(0)));
}
