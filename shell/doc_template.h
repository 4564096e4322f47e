#pragma once

#include <QList>
#include <QObject>
#include <QString>

class CChildFrame;
class CDocumentHost;
class CMainFrame;
class IDocumentUi;

// Ties the three classes of a document window together: opening a file makes a COrvexDoc, a
// CChildFrame and its COrvexView; New Window adds a frame and view to an open document; the last
// window of a document takes the document with it.
class CDocTemplate : public QObject
{
    Q_OBJECT

public:
    explicit CDocTemplate(IDocumentUi& ui, QObject* parent = nullptr);
    ~CDocTemplate() override;

    void SetFrame(CMainFrame* frame) { m_frame = frame; }

    // Opens the file in a new document window; a file that is already open has its window
    // activated instead. Null when the file could not be opened (the document said why).
    CDocumentHost* OpenDocumentFile(const QString& path);
    CChildFrame* CreateNewFrame(CDocumentHost& host);
    const QList<CDocumentHost*>& documents() const { return m_documents; }

    // The close prompt for every modified document, then every window closes. False, with every
    // document left open, as soon as one prompt is cancelled.
    bool CloseAllDocuments();

private:
    void OnLastViewClosed(CDocumentHost* host);

    IDocumentUi& m_ui;
    CMainFrame* m_frame = nullptr;
    QList<CDocumentHost*> m_documents;
};
