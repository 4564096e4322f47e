// Paste and File > New from Clipboard, and their enabled state, which follows the clipboard.
#include "shell/main_frame.h"

#include "document/orvex_doc.h"
#include "io/picture_codec.h"
#include "shell/clipboard.h"
#include "shell/command_sequences.h"
#include "shell/doc_template.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMessageBox>

void CMainFrame::OnClipboardChanged()
{
    m_canPaste = clipboard::HasOffer(QGuiApplication::clipboard()->mimeData());
    UpdateCommandStates();
}

void CMainFrame::Paste()
{
    const clipboard::COffer offer = clipboard::ReadOffer(QGuiApplication::clipboard()->mimeData());
    for (const QString& path : offer.paths) m_app.OpenDocumentFile(path);
    if (offer.image.isNull()) return;
    CImage picture;
    if (!PictureFromQImage(offer.image, picture)) {
        QMessageBox box(QMessageBox::Warning, COrvexDoc::kAppTitle, sequence::kOutOfMemory, QMessageBox::Ok, this);
        box.exec();
        return;
    }
    m_app.docTemplate().OpenUntitled(std::move(picture));
}
