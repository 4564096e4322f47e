#include "dialogs/mosaic_dlg.h"

CMosaicDlg::CMosaicDlg(QWidget* parent) : CParamDialog(QStringLiteral("Mosaic"), parent)
{
    BindOperation("Mosaic");
    m_size = AddSlider("size", QStringLiteral("Size:"), 1, 100, 1, CValueFormat::Plain(), 1);
    // Renders on every notification, so the dialog opens on a size-1 preview.
    SetActsOnEveryNotification(true);
    AddPreviewBox(true);
    // Cells of one pixel reproduce the picture.
    SetIdentityValues({1});
}

void CMosaicDlg::Render(CImageProcessor& engine, const std::vector<double>& values)
{
    engine.Mosaic(static_cast<int>(values.at(0)));
}
