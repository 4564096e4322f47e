// The main frame's printing: one printer for the session, the picture's size chosen on the
// dialog and remembered between runs.
#include "shell/main_frame.h"

#include "core/image.h"
#include "document/orvex_doc.h"
#include "shell/orvex_view.h"
#include "shell/print_options.h"
#include "shell/recent_files.h"

#include <QAction>
#include <QComboBox>
#include <QPageSetupDialog>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QPrinter>

QPrinter& CMainFrame::printer()
{
    if (!m_printer) m_printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    return *m_printer;
}

void CMainFrame::Print(COrvexView& view)
{
    QSettings* settings = m_app.recentFiles().settings();
    const CPrintScale remembered = RememberedPrintScale(settings);
    const CImage& picture = view.document().picture();
    const QPageLayout::Orientation shape = OrientationFor(picture.width(), picture.height());
    if (remembered == CPrintScale::FitToPage) printer().setPageOrientation(shape);
    QPrintDialog dialog(&printer(), this);
    QComboBox* scaleBox = AddPrintScaleTab(dialog, remembered);
    if (dialog.exec() != QDialog::Accepted) return;
    const CPrintScale scale = PrintScaleOf(*scaleBox);
    RememberPrintScale(settings, scale);
    // The page was turned when the dialog opened only if fitting was already the choice.
    if (scale == CPrintScale::FitToPage && remembered != scale) printer().setPageOrientation(shape);
    view.PrintTo(printer(), scale);
}

void CMainFrame::PrintPreview(COrvexView& view)
{
    QSettings* settings = m_app.recentFiles().settings();
    CPrintScale scale = RememberedPrintScale(settings);
    const CImage& picture = view.document().picture();
    const QPageLayout::Orientation shape = OrientationFor(picture.width(), picture.height());
    if (scale == CPrintScale::FitToPage) printer().setPageOrientation(shape);
    QPrintPreviewDialog preview(&printer(), this);
    QComboBox* scaleBox = AddPrintScaleTool(preview, scale);
    auto* pages = preview.findChild<QPrintPreviewWidget*>();
    connect(scaleBox, &QComboBox::currentIndexChanged, &preview, [&] {
        scale = PrintScaleOf(*scaleBox);
        RememberPrintScale(settings, scale);
        if (!pages) return;
        if (scale == CPrintScale::FitToPage && printer().pageLayout().orientation() != shape) {
            // Through the preview's own orientation button where there is one, so that it shows the
            // turn; either way the pages are painted again.
            const QString caption =
                shape == QPageLayout::Landscape ? QStringLiteral("Landscape") : QStringLiteral("Portrait");
            for (QAction* action : preview.findChildren<QAction*>())
                if (action->isCheckable() && action->text() == caption) {
                    action->trigger();
                    return;
                }
            pages->setOrientation(shape);
            return;
        }
        pages->updatePreview();
    });
    connect(&preview, &QPrintPreviewDialog::paintRequested, this,
            [&view, &scale](QPrinter* target) { view.PrintTo(*target, scale); });
    preview.exec();
}

void CMainFrame::PrintSetup()
{
    QPageSetupDialog dialog(&printer(), this);
    dialog.exec();
}
