#include "dialogs/posterize_dlg.h"

CPosterizeDlg::CPosterizeDlg(QWidget* parent) : CParamDialog(QStringLiteral("Posterize"), parent)
{
    m_levels = AddSlider(QStringLiteral("Levels:"), 2, 256, kStartLevels, CValueFormat::Plain(), kStartLevels);
    // Renders on every notification, so the dialog opens on a 10-level preview.
    SetActsOnEveryNotification(true);
    AddPreviewBox(true);
    // 256 levels map every byte to itself.
    SetIdentityValues({256});
}

void CPosterizeDlg::Render(CImageProcessor& engine, const std::vector<double>& values)
{
    engine.Posterize(static_cast<int>(values.at(0)));
}
