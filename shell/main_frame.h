#pragma once

#include "shell/command_table.h"
#include "shell/doc_template.h"

#include <QMainWindow>
#include <QMap>
#include <QPointer>
#include <QWindow>

#include <memory>

class CDocumentHost;
class CHelpDialog;
class CHistogramPanel;
class CRecentFileList;
class COrvexView;
class CProgressBar;
class CStatusFields;
class QAction;
class QLabel;
class QMdiArea;
class QMdiSubWindow;
class QMenu;
class QPrinter;
class QToolBar;

// What the main window asks of the application. The application implements it, so that the
// frame does not depend on the application that owns it.
class IFrameApp
{
public:
    // Opens a picture in a document window and records it in the recent-file list.
    virtual CDocumentHost* OpenDocumentFile(const QString& path) = 0;
    virtual CDocTemplate& docTemplate() = 0;
    virtual CRecentFileList& recentFiles() = 0;
    // The folder the Open dialog starts in.
    virtual QString lastOpenFolder() const = 0;
    virtual void SetLastOpenFolder(const QString& folder) = 0;

protected:
    ~IFrameApp() = default;
};

// The main window: the document area, the menus (one set while no document is open, one while a
// document window is active), the toolbar and the status bar, all built from the command table.
class CMainFrame : public QMainWindow, public ICommandFrame, public IDocumentFrame
{
    Q_OBJECT

public:
    explicit CMainFrame(IFrameApp& app);
    ~CMainFrame() override;

    QMdiArea* mdiArea() const override { return m_mdi; }
    COrvexView* activeView() const;
    QAction* action(CommandId id) const { return m_actions.value(id); }
    QToolBar* toolbar() const { return m_toolbar; }
    CHistogramPanel* histogramPanel() const { return m_histogram; }
    QLabel* messagePane() const { return m_messagePane; }
    // The status bar's fields about the active window: position, colour, size, zoom, preview.
    CStatusFields* statusFields() const { return m_statusFields; }
    CProgressBar* progressSink() const override { return m_progress; }
    // The top-level menus currently in the menu bar.
    QList<QMenu*> currentMenus() const;
    // The actions of the recent-file entries, in menu order.
    QList<QAction*> recentFileActions() const { return m_recentActions; }

    // Runs a command of the table as its menu item would.
    void Execute(CommandId id);
    // Menus, enabled states and title follow the active document window.
    void UpdateCommandStates() override;
    void RebuildRecentFiles();

    // Commands of the frame and the application.
    void OnFileOpen() override;
    void NewDocument() override;
    void Duplicate(COrvexView& view) override;
    // Named files open as File > Open opens them (same checks and messages), a picture as a new
    // untitled document.
    void Paste() override;
    bool canPaste() const override { return m_canPaste; }
    void CloseDocument(COrvexView& view) override;
    // The document's close prompt; a save made from it is recorded like any other save (recent
    // files). True when the document may close.
    COrvexDoc::CloseVerdict ApproveClose(CDocumentHost& host, bool offerDiscardAll) override;
    bool Save(COrvexView& view) override;
    bool SaveAs(COrvexView& view) override;
    void Print(COrvexView& view) override;
    void PrintPreview(COrvexView& view) override;
    void PrintSetup() override;
    void ToggleToolbar() override;
    void ToggleStatusBar() override;
    // Shows or hides the histogram panel and remembers which.
    void ToggleHistogram() override;
    void NewWindow(COrvexView& view) override;
    void Cascade() override;
    void Tile() override;
    // A new document window, already at the size its view asked for: the next cascade position,
    // widened to show its whole caption, kept inside the work area.
    void PlaceNewWindow(QMdiSubWindow& window) override;
    void ArrangeIcons() override;
    void ShowHelp(CommandId id = CommandId::None) override;
    void Exit() override { close(); }
    void ShowAbout() override;
    // Context help: the next command chosen, by click, menu or key, shows its description
    // instead of running. Escape, or a click outside the menus and buttons, ends it.
    void EnterContextHelp() override;
    bool inContextHelp() const { return m_contextHelp; }

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    // The window list's entries share the help of the menu's arrangement commands.
    static constexpr CommandId kWindowMenuId = CommandId::WindowCascade;

    void CreateActions();
    QList<QMenu*> BuildMenus(bool documentMenu);
    void CreateToolbar();
    void CreateStatusBar();
    void CreateHistogramPanel();
    // A prompt for the message pane; empty for its resting text.
    void ShowPrompt(const QString& tip);
    // Undo and Redo name the step they would take back or bring again.
    void UpdateHistoryCaptions(COrvexView* view);
    void RememberHistogramShown(bool shown);
    void AfterSave(COrvexView& view);
    // Paste's enabled state follows the clipboard.
    void OnClipboardChanged();
    void ListWindows(QMenu& menu);
    QPrinter& printer();
    void LeaveContextHelp();
    // In context help: the event filter's part; true when it took the event.
    bool ContextHelpFilter(QObject* watched, QEvent* event);
    // In context help: ends it and shows the description of `id`; true when it did.
    bool HelpInstead(CommandId id);
    // The command behind a menu item or toolbar button, CommandId::None when there is none.
    CommandId CommandAt(QObject* watched, const QPoint& position) const;
    // How far each cascaded window sits below and right of the one before.
    int CascadeStep() const;
    // Narrowest window whose title bar shows `caption` whole with its buttons.
    int CaptionWidth(const QMdiSubWindow& window) const;
    // `wanted` at `position` where it fits the work area, shrunk to fit when that costs at most
    // half of it, otherwise at the area's top left corner.
    QRect FitInWorkArea(QPoint position, QSize wanted) const;

    IFrameApp& m_app;
    QMdiArea* m_mdi;
    QToolBar* m_toolbar = nullptr;
    CHistogramPanel* m_histogram = nullptr;
    QLabel* m_messagePane = nullptr;
    CStatusFields* m_statusFields = nullptr;
    QLabel* m_indicators[3] = {nullptr, nullptr, nullptr};
    bool m_lockState[3] = {false, false, false};
    CProgressBar* m_progress = nullptr;
    QMap<CommandId, QAction*> m_actions;
    QList<QMenu*> m_documentMenus;
    QList<QMenu*> m_noDocumentMenus;
    bool m_showingDocumentMenus = false;
    QList<QMenu*> m_recentMenus;
    QList<QAction*> m_recentPlaceholders;
    QList<QAction*> m_recentActions;
    QList<QAction*> m_windowActions;
    std::unique_ptr<QPrinter> m_printer;
    QPointer<CHelpDialog> m_help;
    QPointer<QMdiSubWindow> m_lastPlaced;
    bool m_contextHelp = false;
    bool m_canPaste = false;
    bool m_editMenuOpen = false;
};
