#include "dialogs/posterize_dlg.h"

CPosterizeDlg::CPosterizeDlg(QWidget* parent) : CParamDialog(QStringLiteral("Posterize"), parent)
{
    BindOperation("Posterize");
    m_levels = AddSlider("levels", QStringLiteral("Levels:"), 2, 256, kStartLevels, CValueFormat::Plain(), kStartLevels);
    // Renders on every notification, so the dialog opens on a 10-level preview.
    SetActsOnEveryNotification(true);
    AddPreviewBox(true);
}

void CPosterizeDlg::Render(CImageProcessor& engine, const std::vector<double>& values)
{
    RenderByTable("Posterize", engine, values);
}
