#pragma once

#include "core/orvex_doc.h"

class QWidget;

// The document's message boxes and Save As dialog as real windows. Boxes have no owner window, as
// the document's messages always had.
class CDocumentUi : public IDocumentUi
{
public:
    void ShowMessage(const QString& caption, const QString& text, Icon icon) override;
    Answer AskYesNoCancel(const QString& caption, const QString& text) override;
    QString AskSavePath(const QString& suggestedPath) override;
    bool AskSaveOptions(const QString& path, const CImage& picture, const CPictureMetadata& metadata,
                        CSaveOptions& options) override;

    // The open dialog of File > Open, with the same filters; empty when cancelled.
    static QStringList AskOpenPaths(QWidget* parent);
    // "Supported Files (*.jpg; *.bmp; *.gif; *.png)", "TIFF (*.tif *.tiff)", "WebP (*.webp)" and
    // "All Files (*.*)".
    static QStringList Filters();
};
