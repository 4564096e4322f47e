#pragma once

#include <QMainWindow>
#include <QMap>
#include <QPointer>
#include <QWindow>

#include <memory>

class CDocumentHost;
class CHelpDialog;
class COrvexApp;
class COrvexView;
class CProgressBar;
class QAction;
class QLabel;
class QMdiArea;
class QMdiSubWindow;
class QMenu;
class QPrinter;
class QToolBar;

// The main window: the document area, the menus (one set while no document is open, one while a
// document window is active), the toolbar and the status bar, all built from the command table.
class CMainFrame : public QMainWindow
{
    Q_OBJECT

public:
    explicit CMainFrame(COrvexApp& app);
    ~CMainFrame() override;

    QMdiArea* mdiArea() const { return m_mdi; }
    COrvexView* activeView() const;
    QAction* action(int id) const { return m_actions.value(id); }
    QToolBar* toolbar() const { return m_toolbar; }
    QLabel* messagePane() const { return m_messagePane; }
    CProgressBar* progressSink() const { return m_progress; }
    // The top-level menus currently in the menu bar.
    QList<QMenu*> currentMenus() const;
    // The actions of the recent-file entries, in menu order.
    QList<QAction*> recentFileActions() const { return m_recentActions; }

    // Runs a command of the table as its menu item would.
    void Execute(int id);
    // Menus, enabled states and title follow the active document window.
    void UpdateCommandStates();
    void RebuildRecentFiles();

    // Commands of the frame and the application.
    void OnFileOpen();
    void CloseDocument(COrvexView& view);
    // The document's close prompt; a save made from it is recorded like any other save (recent
    // files). True when the document may close.
    bool ApproveClose(CDocumentHost& host);
    bool Save(COrvexView& view);
    bool SaveAs(COrvexView& view);
    void Print(COrvexView& view);
    void PrintPreview(COrvexView& view);
    void PrintSetup();
    void ToggleToolbar();
    void ToggleStatusBar();
    void NewWindow(COrvexView& view);
    void Cascade();
    void Tile();
    // A new document window, already at the size its view asked for: the next cascade position,
    // widened to show its whole caption, kept inside the work area.
    void PlaceNewWindow(QMdiSubWindow& window);
    void ArrangeIcons();
    // The help page, at one command's description when `id` is not 0.
    void ShowHelp(int id = 0);
    void ShowAbout();
    // Context help: the next command chosen, by click, menu or key, shows its description
    // instead of running. Escape, or a click outside the menus and buttons, ends it.
    void EnterContextHelp();
    bool inContextHelp() const { return m_contextHelp; }

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void CreateActions();
    QList<QMenu*> BuildMenus(bool documentMenu);
    void CreateToolbar();
    void CreateStatusBar();
    void AfterSave(COrvexView& view);
    void ListWindows(QMenu& menu);
    QPrinter& printer();
    void LeaveContextHelp();
    // In context help: ends it and shows the description of `id`; true when it did.
    bool HelpInstead(int id);
    // The command behind a menu item or toolbar button, 0 when there is none.
    int CommandAt(QObject* watched, const QPoint& position) const;
    // How far each cascaded window sits below and right of the one before.
    int CascadeStep() const;
    // Narrowest window whose title bar shows `caption` whole with its buttons.
    int CaptionWidth(const QMdiSubWindow& window) const;
    // `wanted` at `position` where it fits the work area, shrunk to fit when that costs at most
    // half of it, otherwise at the area's top left corner.
    QRect FitInWorkArea(QPoint position, QSize wanted) const;

    COrvexApp& m_app;
    QMdiArea* m_mdi;
    QToolBar* m_toolbar = nullptr;
    QLabel* m_messagePane = nullptr;
    QLabel* m_indicators[3] = {nullptr, nullptr, nullptr};
    bool m_lockState[3] = {false, false, false};
    CProgressBar* m_progress = nullptr;
    QMap<int, QAction*> m_actions;
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
};
