#pragma once

#include "core/image.h"
#include "core/image_history.h"
#include "core/image_processor.h"
#include "core/region.h"
#include "io/picture_metadata.h"
#include "io/picture_save.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <optional>

// What the document needs from whoever shows it: message boxes and the save dialog. The editor
// implements it with real dialogs; the batch tool and the tests answer without a screen.
class IDocumentUi
{
public:
    enum class Answer { Yes, No, Cancel, DiscardAll };
    enum class Icon { Information, Warning };

    virtual ~IDocumentUi() = default;
    // A message box with an OK button.
    virtual void ShowMessage(const QString& caption, const QString& text, Icon icon) = 0;
    // The close prompt: Yes, No or Cancel.
    virtual Answer AskYesNoCancel(const QString& caption, const QString& text) = 0;
    // The same prompt while other modified documents still wait to be asked (Exit), with "Discard
    // All" beside the three. Whoever has no such box asks the plain prompt.
    virtual Answer AskYesNoCancelDiscardAll(const QString& caption, const QString& text)
    {
        return AskYesNoCancel(caption, text);
    }
    // The Save As dialog; an empty result means the user cancelled.
    virtual QString AskSavePath(const QString& suggestedPath) = 0;
    // The options step of Save As, after the path: quality and subsampling for JPEG, whether to
    // remove the metadata. `options` comes in with the document's last choice; false cancels the
    // save. Without a screen nothing is asked.
    virtual bool AskSaveOptions(const QString& path, const CImage& picture, const CPictureMetadata& metadata,
                                CSaveOptions& options)
    {
        (void)path, (void)picture, (void)metadata, (void)options;
        return true;
    }
    // Runs a save. The editor runs it aside so that its windows keep painting, with the save's bar
    // in the status bar; without a screen it runs here, reporting to `here`.
    virtual bool RunSave(const std::function<bool(IProgress*)>& save, IProgress* here) { return save(here); }
};

// One open picture file: the picture, the engine bound to it, the undo history and the program's own
// record of unsaved changes.
class COrvexDoc
{
public:
    static inline const QString kAppTitle = QStringLiteral("Orvex");

    explicit COrvexDoc(IDocumentUi* ui = nullptr);
    COrvexDoc(const COrvexDoc&) = delete;
    COrvexDoc& operator=(const COrvexDoc&) = delete;

    // Decodes the file into the picture and records it as the history's first snapshot. On failure
    // shows "Load failed" and returns false; the document is then to be discarded. `lastError()`
    // holds the reason.
    bool Open(const QString& path);
    // A document of a picture that has no file yet (a pasted one), shown as `title`: File > Save goes
    // to Save As. It starts modified, so that closing asks, unless `modified` is false (a blank new
    // picture, which loses nothing when closed untouched). False, with the document to be discarded,
    // when the history's first snapshot cannot be made.
    bool OpenUntitled(CImage picture, const QString& title, bool modified = true);
    // A document holding a copy of `source`'s picture as it is now, with its metadata and save
    // options, named "<name> copy" and without a file: modified, its history starting at the copy,
    // Save As proposing "<name> copy.<ext>" beside the original. False, with the document to be
    // discarded, when there is no memory for the copy.
    bool OpenCopy(const COrvexDoc& source);
    // A document brought back from its recovery file after the editor ended without saving it:
    // modified, its picture the history's first state, under its original `path` (Save goes there,
    // and what that file carries besides its pixels is kept for it) or, without one, untitled as
    // `name`. False, with the document to be discarded, when the snapshot cannot be made.
    bool OpenRecovered(CImage picture, const QString& path, const QString& name);

    // Writes the picture at `path` in the format its extension selects. On failure shows
    // "Can not save <path>" (caption "Save Error") and leaves the document, its path and its
    // modified flag as they were. After a save that had to leave metadata out, names what.
    bool Save(const QString& path);
    // Asks for a path (the Save As dialog) and saves there; false if cancelled or failed.
    bool SaveAs();
    // File > Save: the document's own path when it has one and it is writable, otherwise Save As.
    bool SaveToCurrentPath();

    // The close prompt. True when the document may close: not modified, "No", or "Yes" followed by
    // a successful Save As. A Save As that is cancelled or fails keeps the document open, so that
    // answering "Yes" can never lose the changes.
    bool CanClose() { return AskToClose(false) == CloseVerdict::Close; }
    enum class CloseVerdict { Close, Keep, DiscardAll };
    // The close prompt, as CanClose asks it, with "Discard All" offered too when `offerDiscardAll`
    // holds: this document then closes unsaved, and so does every other one still to be asked.
    CloseVerdict AskToClose(bool offerDiscardAll);

    // The one way a picture change is recorded, whichever way the new picture was computed: the
    // command either changed the picture in place (`replacement` null) or hands over a finished
    // picture, which trades buffers with the picture instead of being copied (the replaced buffer
    // goes to the history, leaving `replacement` empty). Marks the document,
    // records a snapshot named `stepName` (what the Edit menu offers to undo) and tells the change
    // listener, so every view refreshes. False when the snapshot could not be made (the change
    // stays on screen, but Undo cannot come back to it).
    bool CommitChange(CImage* replacement = nullptr, const QString& stepName = {});
    // Called after every commit with whether its snapshot was made; one listener (the window side).
    void SetChangeListener(std::function<void(bool recorded)> listener) { m_changeListener = std::move(listener); }

    // Undo and Redo keep the selection while the picture keeps its size.
    bool Undo();
    bool Redo();

    // The rectangle the user selected, in picture pixels, or nothing: without a selection every
    // command works on the whole picture. Selecting is not a history step.
    const std::optional<CRegion>& selection() const { return m_selection; }
    // Clamps `region` to the picture; a region that misses it (or nothing) clears the selection.
    // Tells the selection listener when the selection changed.
    void SetSelection(std::optional<CRegion> region);
    // Called after every change of the selection; one listener (the window side).
    void SetSelectionListener(std::function<void()> listener) { m_selectionListener = std::move(listener); }

    CImage& picture() { return m_picture; }
    const CImage& picture() const { return m_picture; }
    CImageProcessor& engine() { return m_engine; }
    CImageHistory& history() { return m_history; }
    const CImageHistory& history() const { return m_history; }

    bool modified() const { return m_modified != 0; }
    void SetModified(bool modified) { m_modified = modified ? 1 : 0; }

    // What the opened file carried besides its pixels, written back on every save.
    const CPictureMetadata& metadata() const { return m_metadata; }
    // How the document is saved: the last choice of Save As, used silently by File > Save.
    const CSaveOptions& saveOptions() const { return m_saveOptions; }
    void SetSaveOptions(const CSaveOptions& options) { m_saveOptions = options; }

    QString pathName() const { return m_pathName; }
    // The file name shown in captions ("photo.jpg"), or the name of a document without a file yet.
    QString title() const;
    QString lastError() const { return m_lastError; }

    void SetUi(IDocumentUi* ui) { m_ui = ui; }

private:
    void Show(const QString& caption, const QString& text, IDocumentUi::Icon icon);

    // Order matters: the engine is bound to the picture, which must exist first.
    CImage m_picture;
    CImageProcessor m_engine{&m_picture};
    CImageHistory m_history;
    std::uint8_t m_modified = 0;

    CPictureMetadata m_metadata;
    CSaveOptions m_saveOptions;

    IDocumentUi* m_ui;
    std::function<void(bool recorded)> m_changeListener;
    std::optional<CRegion> m_selection;
    std::function<void()> m_selectionListener;
    // Drops a selection that no longer fits after the picture changed size.
    void KeepSelectionWithin(int oldWidth, int oldHeight);
    QString m_pathName;
    QString m_untitledName;
    // Where Save As starts for a document without a file, when not at its name alone.
    QString m_suggestedPath;
    QString m_lastError;
};
