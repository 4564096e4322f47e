#pragma once

#include "document/orvex_doc.h"

class QWidget;

#include <QPointer>
#include <QWidget>

// The document's message boxes and Save As dialog as real windows, over the main window once there
// is one.
class CDocumentUi : public IDocumentUi
{
public:
    void SetOwner(QWidget* owner) { m_owner = owner; }
    void ShowMessage(const QString& caption, const QString& text, Icon icon) override;
    Answer AskYesNoCancel(const QString& caption, const QString& text) override;
    Answer AskYesNoCancelDiscardAll(const QString& caption, const QString& text) override;
    QString AskSavePath(const QString& suggestedPath) override;
    bool AskSaveOptions(const QString& path, const CImage& picture, const CPictureMetadata& metadata,
                        CSaveOptions& options) override;
    bool RunSave(const std::function<bool(IProgress*)>& save, IProgress* here) override;

    // The open dialog of File > Open, with the same filters, showing `folder` first; empty when
    // cancelled.
    static QStringList AskOpenPaths(QWidget* parent, const QString& folder = QString());
    // "Supported Files (*.jpg; *.bmp; *.gif; *.png)", "TIFF (*.tif *.tiff)", "WebP (*.webp)" and
    // "All Files (*.*)".
    static QStringList Filters();

    static inline const QString kDiscardAll = QStringLiteral("Discard All");

private:
    Answer AskToClose(const QString& caption, const QString& text, bool offerDiscardAll);

    QPointer<QWidget> m_owner;
};
