#include "dialogs/posterize_dlg.h"

CPosterizeDlg::CPosterizeDlg(QWidget* parent, CStartValues start)
    : CParamDialog(QStringLiteral("Posterize"), parent, std::move(start))
{
    BindOperation("Posterize");
    AddSlider("levels", QStringLiteral("Levels:"), CValueFormat::Plain());
    // Renders on every notification, so the dialog opens on a preview of its start levels.
    SetActsOnEveryNotification(true);
    AddPreviewBox(true);
}

void CPosterizeDlg::Render(CImageProcessor& engine, const std::vector<double>& values)
{
    RenderByTable("Posterize", engine, values);
}
