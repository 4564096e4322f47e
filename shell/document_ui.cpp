#include "shell/document_ui.h"

#include "shell/busy_run.h"
#include "shell/open_dialog.h"
#include "shell/save_options_dlg.h"

#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QFontMetrics>
#include <QGridLayout>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QSpacerItem>

#include <algorithm>

namespace {

// Every name the picture formats go by; files open by their content whatever they are called.
const QString kFileFilter =
    QStringLiteral("Supported Files (*.jpg; *.jpeg; *.jpe; *.jfif; *.bmp; *.dib; *.gif; *.png; *.tif; *.tiff; *.webp)");
const QString kTiffFilter = QStringLiteral("TIFF (*.tif *.tiff)");
const QString kWebpFilter = QStringLiteral("WebP (*.webp)");
const QString kAllFilesFilter = QStringLiteral("All Files (*.*)");

// "Name (*.a; *.b)" -> {"*.a", "*.b"}: the patterns of a filter written with "; " between them.
QStringList FilterPatterns(const QString& filter)
{
    const qsizetype open = filter.indexOf(QLatin1Char('('));
    const qsizetype close = filter.lastIndexOf(QLatin1Char(')'));
    if (open < 0 || close <= open) return {};
    QStringList patterns;
    for (const QString& part : filter.mid(open + 1, close - open - 1).split(QLatin1Char(';'), Qt::SkipEmptyParts))
        patterns << part.trimmed();
    return patterns;
}

// The filter is shown as written, with "; " between its patterns, but the file dialog takes the
// text inside the parentheses apart at spaces only and would then look for names ending in ";".
// The list of the dialog's own file view gets the clean patterns whenever that filter is chosen.
void UseFilters(QFileDialog& dialog)
{
    dialog.setNameFilters(CDocumentUi::Filters());
    auto* model = dialog.findChild<QFileSystemModel*>();
    if (!model) return; // a platform dialog reads the filters itself
    auto apply = [&dialog, model] {
        if (dialog.selectedNameFilter() == kFileFilter) model->setNameFilters(FilterPatterns(kFileFilter));
    };
    apply();
    if (auto* combo = dialog.findChild<QComboBox*>(QStringLiteral("fileTypeCombo")))
        QObject::connect(combo, &QComboBox::activated, &dialog, apply);
}

// A box sized to its text alone can be narrower than its title bar needs ("O..." for "Orvex").
void WideEnoughForCaption(QMessageBox& box)
{
    auto* grid = qobject_cast<QGridLayout*>(box.layout());
    if (!grid) return;
    QFont titleFont = box.font();
    titleFont.setBold(true);
    const int width = std::max(320, QFontMetrics(titleFont).horizontalAdvance(box.windowTitle()) + 160);
    grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Minimum), grid->rowCount(), 0, 1,
                  grid->columnCount());
}

} // namespace

QStringList CDocumentUi::Filters()
{
    return {kFileFilter, kTiffFilter, kWebpFilter, kAllFilesFilter};
}

void CDocumentUi::ShowMessage(const QString& caption, const QString& text, Icon icon)
{
    QMessageBox box(icon == Icon::Warning ? QMessageBox::Warning : QMessageBox::Information, caption, text,
                    QMessageBox::Ok, m_owner);
    WideEnoughForCaption(box);
    box.exec();
}

IDocumentUi::Answer CDocumentUi::AskYesNoCancel(const QString& caption, const QString& text)
{
    return AskToClose(caption, text, false);
}

IDocumentUi::Answer CDocumentUi::AskYesNoCancelDiscardAll(const QString& caption, const QString& text)
{
    return AskToClose(caption, text, true);
}

IDocumentUi::Answer CDocumentUi::AskToClose(const QString& caption, const QString& text, bool offerDiscardAll)
{
    QMessageBox box(QMessageBox::Warning, caption, text, QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel,
                    m_owner);
    QPushButton* discardAll = offerDiscardAll ? box.addButton(kDiscardAll, QMessageBox::DestructiveRole) : nullptr;
    WideEnoughForCaption(box);
    box.setEscapeButton(QMessageBox::Cancel);
    const int result = box.exec();
    if (discardAll && box.clickedButton() == discardAll) return Answer::DiscardAll;
    switch (result) {
    case QMessageBox::Yes: return Answer::Yes;
    case QMessageBox::No: return Answer::No;
    default: return Answer::Cancel;
    }
}

QString CDocumentUi::AskSavePath(const QString& suggestedPath)
{
    QFileDialog dialog(nullptr, QStringLiteral("Save As"), suggestedPath);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    UseFilters(dialog);
    dialog.setDefaultSuffix(QStringLiteral("jpg"));
    if (!suggestedPath.isEmpty()) dialog.selectFile(suggestedPath);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    return dialog.selectedFiles().front();
}

bool CDocumentUi::AskSaveOptions(const QString& path, const CImage& picture, const CPictureMetadata& metadata,
                                 CSaveOptions& options)
{
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Orvex"), QStringLiteral("Orvex"));
    return CSaveOptionsDlg::Ask(path, picture, metadata, options, settings);
}

bool CDocumentUi::RunSave(const std::function<bool(IProgress*)>& save, IProgress*)
{
    return RunAside([&save](IProgress& progress) { return save(&progress); });
}

QStringList CDocumentUi::AskOpenPaths(QWidget* parent, const QString& folder)
{
    COpenDialog dialog(parent, folder);
    UseFilters(dialog);
    if (dialog.exec() != QDialog::Accepted) return {};
    return dialog.selectedFiles();
}
