#include "shell/doc_template.h"

#include "shell/child_frame.h"
#include "shell/command_sequences.h"
#include "shell/document_host.h"
#include "shell/orvex_view.h"
#include "shell/progress_bar.h"

#include <QFileInfo>
#include <QMdiArea>
#include <QRegularExpression>

#include <algorithm>

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

CDocumentHost* CDocTemplate::OpenRecovered(CImage picture, const QString& path, const QString& name)
{
    auto document = std::make_unique<COrvexDoc>(nullptr);
    if (!document->OpenRecovered(std::move(picture), path, name)) {
        m_ui.ShowMessage(COrvexDoc::kAppTitle, sequence::kOutOfMemory, IDocumentUi::Icon::Warning);
        return nullptr;
    }
    // A second "Untitled-2" beside the recovered one would be ambiguous.
    static const QRegularExpression untitled(QStringLiteral("^Untitled-(\\d+)$"));
    if (const QRegularExpressionMatch match = untitled.match(name); path.isEmpty() && match.hasMatch())
        m_untitledCount = std::max(m_untitledCount, match.captured(1).toInt());
    return AddDocument(std::move(document));
}

CDocumentHost* CDocTemplate::AddDocument(std::unique_ptr<COrvexDoc> document)
{
    document->SetUi(&m_ui);
    document->history().SetMemoryLimit(m_historyLimit);
    if (m_frame) document->engine().SetProgressSink(m_frame->progressSink());
    auto* host = new CDocumentHost(std::move(document));
    host->setParent(this);
    m_documents.append(host);
    connect(host, &CDocumentHost::lastViewClosed, this, &CDocTemplate::OnLastViewClosed);
    emit documentAdded(host);
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

QList<QPair<CDocumentHost*, QMdiSubWindow*>> CDocTemplate::DocumentsInWindowOrder() const
{
    QList<QPair<CDocumentHost*, QMdiSubWindow*>> order;
    auto add = [&order](CDocumentHost* host, QMdiSubWindow* window) {
        for (const auto& entry : order)
            if (entry.first == host) return;
        order.append({host, window});
    };
    if (m_frame) {
        QMdiArea* area = m_frame->mdiArea();
        // The history lists the windows from the least recently active on.
        QList<QMdiSubWindow*> windows = area->subWindowList(QMdiArea::ActivationHistoryOrder);
        std::reverse(windows.begin(), windows.end());
        if (QMdiSubWindow* current = area->currentSubWindow()) {
            windows.removeAll(current);
            windows.prepend(current);
        }
        for (QMdiSubWindow* window : windows)
            if (auto* frame = qobject_cast<CChildFrame*>(window); frame && m_documents.contains(&frame->host()))
                add(&frame->host(), window);
    }
    for (CDocumentHost* host : m_documents) add(host, nullptr);
    return order;
}

bool CDocTemplate::CloseAllDocuments()
{
    // Windows activated for the prompts must not reorder the ones still to come.
    const auto order = DocumentsInWindowOrder();
    bool discardAll = false;
    for (qsizetype i = 0; i < order.size() && !discardAll; ++i) {
        CDocumentHost* host = order[i].first;
        if (!m_documents.contains(host) || host->closeApproved) continue;
        qsizetype waiting = 0;
        for (qsizetype j = i; j < order.size(); ++j)
            if (m_documents.contains(order[j].first) && !order[j].first->closeApproved &&
                order[j].first->doc().modified())
                ++waiting;
        if (host->doc().modified()) BringToFront(order[i].second);
        const bool offer = waiting > 1;
        const COrvexDoc::CloseVerdict verdict =
            m_frame ? m_frame->ApproveClose(*host, offer) : host->doc().AskToClose(offer);
        if (verdict == COrvexDoc::CloseVerdict::Keep) {
            // Answers given so far must not let these documents close unasked later.
            for (CDocumentHost* other : m_documents) other->closeApproved = false;
            return false;
        }
        host->closeApproved = true;
        discardAll = verdict == COrvexDoc::CloseVerdict::DiscardAll;
    }
    if (discardAll)
        for (CDocumentHost* host : m_documents) host->closeApproved = true;
    if (m_frame) m_frame->mdiArea()->closeAllSubWindows();
    return true;
}

void CDocTemplate::BringToFront(QMdiSubWindow* window)
{
    if (!window || !m_frame) return;
    if (QWidget* top = m_frame->mdiArea()->window(); top && top->isMinimized())
        top->setWindowState(top->windowState() & ~Qt::WindowMinimized);
    if (window->isMinimized()) window->showNormal();
    m_frame->mdiArea()->setActiveSubWindow(window);
}

void CDocTemplate::OnLastViewClosed(CDocumentHost* host)
{
    m_documents.removeAll(host);
    host->deleteLater();
    if (m_frame) m_frame->UpdateCommandStates();
}
