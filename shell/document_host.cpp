#include "shell/document_host.h"

CDocumentHost::CDocumentHost(std::unique_ptr<COrvexDoc> document) : m_doc(std::move(document))
{
    // Every recorded change, however its picture was computed, refreshes the views from here.
    if (m_doc)
        m_doc->SetChangeListener([this](bool recorded) {
            pictureHasSnapshot = recorded;
            ++commits;
            UpdateAllViews();
        });
    // Every window of the document shows the one selection.
    if (m_doc)
        m_doc->SetSelectionListener([this] {
            for (IDocumentView* view : m_views) view->SelectionChanged();
            emit selectionChanged();
        });
}

CDocumentHost::~CDocumentHost()
{
    if (m_doc) {
        m_doc->SetChangeListener({});
        m_doc->SetSelectionListener({});
    }
}

void CDocumentHost::AddView(IDocumentView* view)
{
    if (m_views.contains(view)) return;
    m_views.append(view);
    UpdateCaptions();
}

void CDocumentHost::RemoveView(IDocumentView* view)
{
    if (m_views.removeAll(view) == 0) return;
    if (m_views.isEmpty()) emit lastViewClosed(this);
    else UpdateCaptions();
}

void CDocumentHost::UpdateCaptions()
{
    for (IDocumentView* view : m_views) view->UpdateCaption();
}

void CDocumentHost::UpdateAllViews()
{
    for (IDocumentView* view : m_views) view->Refresh();
    emit viewsUpdated();
}

void CDocumentHost::RepaintAllViews()
{
    for (IDocumentView* view : m_views) view->PictureChanged();
}

void CDocumentHost::SetPreviewSource(CPreviewRenderer* renderer)
{
    m_previewSource = renderer;
    RepaintAllViews();
}

void CDocumentHost::FreezeViews(bool frozen)
{
    for (IDocumentView* view : m_views) view->Freeze(frozen);
}

void CDocumentHost::SetPreviewFrameTap(std::function<void(const CImage& frame)> tap)
{
    const std::lock_guard lock(m_tapMutex);
    m_tap = std::move(tap);
}

void CDocumentHost::TapPreviewFrame(const CImage& frame)
{
    const std::lock_guard lock(m_tapMutex);
    if (m_tap) m_tap(frame);
}
