#pragma once

#include "core/image.h"
#include "document/orvex_doc.h"

#include <QList>
#include <QObject>
#include <QPair>
#include <QString>

#include <memory>

class CChildFrame;
class CDocumentHost;
class CProgressBar;
class IDocumentUi;
class QMdiArea;
class QMdiSubWindow;

// The window the document windows open in, as the template drives it. The main frame implements
// it, so that the template does not depend on the main frame.
class IDocumentFrame
{
public:
    virtual QMdiArea* mdiArea() const = 0;
    virtual CProgressBar* progressSink() const = 0;
    // Menus, enabled states and title follow the active document window.
    virtual void UpdateCommandStates() = 0;
    virtual void PlaceNewWindow(QMdiSubWindow& window) = 0;
    // The document's close prompt, offering "Discard All" when `offerDiscardAll` holds.
    virtual COrvexDoc::CloseVerdict ApproveClose(CDocumentHost& host, bool offerDiscardAll) = 0;

protected:
    ~IDocumentFrame() = default;
};

// Ties the three classes of a document window together: opening a file makes a COrvexDoc, a
// CChildFrame and its COrvexView; New Window adds a frame and view to an open document; the last
// window of a document takes the document with it.
class CDocTemplate : public QObject
{
    Q_OBJECT

public:
    explicit CDocTemplate(IDocumentUi& ui, QObject* parent = nullptr);
    ~CDocTemplate() override;

    void SetFrame(IDocumentFrame* frame) { m_frame = frame; }
    // Memory each document's undo history may hold before its oldest states go to a temporary
    // file; 0 for no limit. Applies to documents opened from now on.
    void SetHistoryLimit(std::size_t bytes) { m_historyLimit = bytes; }

    // Opens the file in a new document window; a file that is already open has its window
    // activated instead. Null when the file could not be opened (the document said why).
    CDocumentHost* OpenDocumentFile(const QString& path);
    // Opens `picture`, which has no file, in a new document window named "Untitled-1", "Untitled-2"
    // and so on through the session; modified from the start unless `modified` is false. Null, after
    // saying so, when there is not memory enough for it.
    CDocumentHost* OpenUntitled(CImage picture, bool modified = true);
    // Opens a copy of `source`'s document as it is now in a new window (COrvexDoc::OpenCopy). Null,
    // after saying so, when there is not memory enough for it.
    CDocumentHost* OpenCopy(const CDocumentHost& source);
    // Opens a document recovered after a crash (COrvexDoc::OpenRecovered) in a new window. An
    // untitled one keeps its name, and later untitled documents are numbered past it. Null, after
    // saying so, when there is not memory enough for it.
    CDocumentHost* OpenRecovered(CImage picture, const QString& path, const QString& name);
    CChildFrame* CreateNewFrame(CDocumentHost& host);
    const QList<CDocumentHost*>& documents() const { return m_documents; }

    // The close prompt for every modified document, then every window closes. Each prompt first
    // brings its document's window to the front (restored if minimised), so that the user sees the
    // picture asked about. The order is the windows': the active one first, then the others from the
    // most recently active back. While more than one modified document is still to be asked, the
    // prompt offers "Discard All", which closes all of them unsaved without asking further. False,
    // with every document left open (those saved so far stay saved), as soon as a prompt is
    // cancelled or its save fails or is cancelled.
    bool CloseAllDocuments();
    // The documents in the order CloseAllDocuments asks about them, each with its most recently
    // active window.
    QList<QPair<CDocumentHost*, QMdiSubWindow*>> DocumentsInWindowOrder() const;

signals:
    // A document was opened, before its first window.
    void documentAdded(CDocumentHost* host);

private:
    CDocumentHost* AddDocument(std::unique_ptr<COrvexDoc> document);
    void OnLastViewClosed(CDocumentHost* host);
    void BringToFront(QMdiSubWindow* window);

    IDocumentUi& m_ui;
    std::size_t m_historyLimit = 0;
    IDocumentFrame* m_frame = nullptr;
    QList<CDocumentHost*> m_documents;
    int m_untitledCount = 0;
};
