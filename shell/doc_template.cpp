#include "shell/doc_template.h"

#include "shell/child_frame.h"
#include "shell/command_sequences.h"
#include "shell/document_host.h"
#include "shell/orvex_view.h"
#include "shell/progress_bar.h"

#include <QFileInfo>
#include <QMdiArea>

CDocTemplate::CDocTemplate(IDocumentUi& ui, QObject* parent) : QObject(parent), m_ui(ui) {}

// Documents are children of the template: those still open, and those whose deletion was
// scheduled when no event loop is left to carry it out, go with it.
CDocTemplate::~CDocTemplate() = default;

CDocumentHost* CDocTemplate::OpenDocumentFile(const QString& path)
{
    const QString absolute = QFileInfo(path).absoluteFilePath();
    for (CDocumentHost* host : m_documents) {
        if (host->doc().pathName() != absolute || host->views().isEmpty()) continue;
        if (m_frame) m_frame->mdiArea()->setActiveSubWindow(host->views().front()->frame());
        return host;
    }
    // The document's own message would say only "Load failed"; the reason goes on a second line.
    auto document = std::make_unique<COrvexDoc>(nullptr);
    if (!document->Open(path)) {
        m_ui.ShowMessage(COrvexDoc::kAppTitle, QStringLiteral("Load failed\n") + document->lastError(),
                         IDocumentUi::Icon::Warning);
        return nullptr;
    }
    return AddDocument(std::move(document));
}

CDocumentHost* CDocTemplate::OpenUntitled(CImage picture, bool modified)
{
    auto document = std::make_unique<COrvexDoc>(nullptr);
    if (!document->OpenUntitled(std::move(picture), QStringLiteral("Untitled-%1").arg(m_untitledCount + 1), modified)) {
        m_ui.ShowMessage(COrvexDoc::kAppTitle, sequence::kOutOfMemory, IDocumentUi::Icon::Warning);
        return nullptr;
    }
    ++m_untitledCount;
    return AddDocument(std::move(document));
}

CDocumentHost* CDocTemplate::OpenCopy(const CDocumentHost& source)
{
    auto document = std::make_unique<COrvexDoc>(nullptr);
    if (!document->OpenCopy(source.doc())) {
        m_ui.ShowMessage(COrvexDoc::kAppTitle, sequence::kOutOfMemory, IDocumentUi::Icon::Warning);
        return nullptr;
    }
    return AddDocument(std::move(document));
}

CDocumentHost* CDocTemplate::AddDocument(std::unique_ptr<COrvexDoc> document)
{
    document->SetUi(&m_ui);
    if (m_frame) document->engine().SetProgressSink(m_frame->progressSink());
    auto* host = new CDocumentHost(std::move(document));
    host->setParent(this);
    m_documents.append(host);
    connect(host, &CDocumentHost::lastViewClosed, this, &CDocTemplate::OnLastViewClosed);
    // Undo and Redo follow the history with every change, not only when another window activates.
    connect(host, &CDocumentHost::viewsUpdated, this, [this] {
        if (m_frame) m_frame->UpdateCommandStates();
    });
    // Commands that need a selection follow it.
    connect(host, &CDocumentHost::selectionChanged, this, [this] {
        if (m_frame) m_frame->UpdateCommandStates();
    });
    CreateNewFrame(*host);
    return host;
}

CChildFrame* CDocTemplate::CreateNewFrame(CDocumentHost& host)
{
    if (!m_frame) return nullptr;
    auto* frame = new CChildFrame(host);
    m_frame->mdiArea()->addSubWindow(frame);
    frame->show();
    // The view's first refresh: fit, window size, caption.
    frame->view()->Refresh();
    m_frame->PlaceNewWindow(*frame);
    m_frame->mdiArea()->setActiveSubWindow(frame);
    m_frame->UpdateCommandStates();
    return frame;
}

bool CDocTemplate::CloseAllDocuments()
{
    for (CDocumentHost* host : m_documents) {
        if (host->closeApproved) continue;
        if (!(m_frame ? m_frame->ApproveClose(*host) : host->doc().CanClose())) {
            // Answers given so far must not let these documents close unasked later.
            for (CDocumentHost* other : m_documents) other->closeApproved = false;
            return false;
        }
        host->closeApproved = true;
    }
    if (m_frame) m_frame->mdiArea()->closeAllSubWindows();
    return true;
}

void CDocTemplate::OnLastViewClosed(CDocumentHost* host)
{
    m_documents.removeAll(host);
    host->deleteLater();
    if (m_frame) m_frame->UpdateCommandStates();
}
