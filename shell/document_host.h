#pragma once

#include "document/orvex_doc.h"

#include <QList>
#include <QObject>

#include <functional>
#include <memory>
#include <mutex>

class CPreviewRenderer;
class QMdiSubWindow;

// A window on a document as its host drives it. The view implements it, so that the host does not
// depend on the view.
class IDocumentView
{
public:
    // The picture changed (or the title did): scroll sizes, caption, repaint.
    virtual void Refresh() = 0;
    virtual void UpdateCaption() = 0;
    // Only the pixels changed.
    virtual void PictureChanged() = 0;
    // The document's selection changed: repaint the outline where it was and where it is.
    virtual void SelectionChanged() = 0;
    virtual void Freeze(bool frozen) = 0;
    // The document window the view sits in, null before it has one.
    virtual QMdiSubWindow* frame() const = 0;

protected:
    ~IDocumentView() = default;
};

// One open document as the frames see it: the COrvexDoc and every view that shows it (File > New
// Window adds views). Changes reach all of them through UpdateAllViews.
class CDocumentHost : public QObject
{
    Q_OBJECT

public:
    explicit CDocumentHost(std::unique_ptr<COrvexDoc> document);
    ~CDocumentHost() override;

    COrvexDoc& doc() { return *m_doc; }
    const COrvexDoc& doc() const { return *m_doc; }

    const QList<IDocumentView*>& views() const { return m_views; }
    void AddView(IDocumentView* view);
    // Emits lastViewClosed when the document has no view left.
    void RemoveView(IDocumentView* view);

    // The picture changed (or the title did): refresh every view (caption, scroll sizes, repaint),
    // then tell whoever enables commands by the document's state (viewsUpdated).
    void UpdateAllViews();
    // Only the pixels changed (a preview rendering): repaint every view.
    void RepaintAllViews();

    // While a preview dialog is open, views paint the renderer's newest complete rendering.
    void SetPreviewSource(CPreviewRenderer* renderer);
    CPreviewRenderer* previewSource() const { return m_previewSource; }

    // Who wants every complete preview frame of this document (the histogram panel): `tap` is
    // called on the rendering thread, with a frame nothing writes during the call. Setting waits
    // for a running call to end, so once it returns the old tap is never called again.
    void SetPreviewFrameTap(std::function<void(const CImage& frame)> tap);
    // Any thread: hands a complete preview frame to the tap, if there is one.
    void TapPreviewFrame(const CImage& frame);

    // While a worker thread writes the picture, views keep showing what they showed.
    void FreezeViews(bool frozen);

    // Set once the close prompt has been answered for this document, so that closing its windows
    // one after another does not ask again.
    bool closeApproved = false;
    // False while the picture shows a change whose undo snapshot could not be made, so that the
    // history's current snapshot is not the picture on screen. Every commit of the document sets it.
    bool pictureHasSnapshot = true;
    // Counts the document's recorded changes, so that a command can tell whether it changed anything.
    int commits = 0;
    // The name of the command running on the document, given to the history step it records.
    QString stepName;

signals:
    void lastViewClosed(CDocumentHost* host);
    void viewsUpdated();
    // After every view has been told of a new selection.
    void selectionChanged();

private:
    // Window numbers in the captions follow the number of windows.
    void UpdateCaptions();

    std::unique_ptr<COrvexDoc> m_doc;
    QList<IDocumentView*> m_views;
    CPreviewRenderer* m_previewSource = nullptr;
    std::mutex m_tapMutex;
    std::function<void(const CImage&)> m_tap;
};
