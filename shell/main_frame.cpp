#include "shell/main_frame.h"

#include "shell/about_dialog.h"
#include "shell/child_frame.h"
#include "shell/command_sequences.h"
#include "shell/command_table.h"
#include "shell/doc_template.h"
#include "shell/document_host.h"
#include "shell/document_ui.h"
#include "shell/histogram_panel.h"
#include "shell/new_picture_dlg.h"
#include "shell/orvex_view.h"
#include "shell/progress_bar.h"
#include "shell/recent_files.h"
#include "shell/status_fields.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QFileInfo>
#include <QGuiApplication>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QMouseEvent>
#include <QPrinter>
#include <QSettings>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QStyle>
#include <QToolBar>
#include <QToolButton>

#include <algorithm>

// The icons live in a static library, whose resources are only linked in when asked for by name.
static void InitResources()
{
    Q_INIT_RESOURCE(orvex);
}

namespace {
const QString kHistogramShownKey = QStringLiteral("Settings/Histogram Panel");
const char* const kIndicatorTexts[3] = {"CAP", "NUM", "SCRL"};
const Qt::Key kIndicatorKeys[3] = {Qt::Key_CapsLock, Qt::Key_NumLock, Qt::Key_ScrollLock};
} // namespace

CMainFrame::CMainFrame(IFrameApp& app) : m_app(app), m_mdi(new QMdiArea(this))
{
    InitResources();
    setWindowTitle(QStringLiteral("Orvex"));
    setWindowIcon(QIcon(QStringLiteral(":/orvex.svg")));
    setCentralWidget(m_mdi);
    setAcceptDrops(true);
    m_mdi->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_mdi->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);

    CreateActions();
    m_documentMenus = BuildMenus(true);
    m_noDocumentMenus = BuildMenus(false);
    for (QMenu* menu : m_documentMenus) {
        if (menu->title() == QStringLiteral("&Window"))
            connect(menu, &QMenu::aboutToShow, this, [this, menu] { ListWindows(*menu); });
        // While the Edit menu is open the status bar says what Undo and Redo have to go on.
        if (menu->title() == QStringLiteral("&Edit")) {
            connect(menu, &QMenu::aboutToShow, this, [this] {
                m_editMenuOpen = true;
                UpdateHistoryCaptions(activeView());
                ShowPrompt(QString());
            });
            connect(menu, &QMenu::aboutToHide, this, [this] {
                m_editMenuOpen = false;
                ShowPrompt(QString());
            });
        }
    }
    CreateToolbar();
    CreateStatusBar();
    CreateHistogramPanel();
    RebuildRecentFiles();

    connect(m_mdi, &QMdiArea::subWindowActivated, this, [this] { UpdateCommandStates(); });
    connect(QGuiApplication::clipboard(), &QClipboard::dataChanged, this, &CMainFrame::OnClipboardChanged);
    qApp->installEventFilter(this);
    OnClipboardChanged();
}

CMainFrame::~CMainFrame()
{
    LeaveContextHelp();
    qApp->removeEventFilter(this);
    // No count may outlive the documents the frame's windows are about to close.
    m_histogram->Follow(nullptr);
    m_statusFields->Follow(nullptr);
    // The document area closes its windows while this frame is being torn down.
    disconnect(m_mdi, nullptr, this, nullptr);
}

void CMainFrame::CreateActions()
{
    for (const CCommand& command : CommandTable()) {
        if (command.kind != CCommand::Kind::Command) continue;
        auto* action = new QAction(command.caption, this);
        QList<QKeySequence> keys;
        for (const QString& key : command.keys) keys.append(QKeySequence(key, QKeySequence::PortableText));
        action->setShortcuts(keys);
        if (!command.prompt.isEmpty()) action->setStatusTip(command.prompt);
        action->setToolTip(command.tooltip.isEmpty() ? PlainCaption(command.caption) : command.tooltip);
        if (!command.icon.isEmpty()) {
            action->setIcon(QIcon(command.icon));
            action->setIconVisibleInMenu(false);
        }
        action->setCheckable(command.checkable);
        const CommandId id = command.id;
        connect(action, &QAction::triggered, this, [this, id] { Execute(id); });
        // Keys work whichever menu is shown.
        addAction(action);
        m_actions.insert(id, action);
    }
    m_actions.value(CommandId::ViewToolbar)->setChecked(true);
    m_actions.value(CommandId::ViewStatusBar)->setChecked(true);
}

QList<QMenu*> CMainFrame::BuildMenus(bool documentMenu)
{
    QList<QMenu*> topLevel;
    QMap<QString, QMenu*> menus;
    auto menuFor = [&](const QString& path) {
        QString prefix;
        QMenu* parent = nullptr;
        for (const QString& part : path.split(QLatin1Char('/'))) {
            prefix = prefix.isEmpty() ? part : prefix + QLatin1Char('/') + part;
            QMenu* menu = menus.value(prefix);
            if (!menu) {
                menu = parent ? parent->addMenu(part) : new QMenu(part, this);
                if (!parent) topLevel.append(menu);
                menus.insert(prefix, menu);
            }
            parent = menu;
        }
        return parent;
    };
    for (const CCommand& command : CommandTable()) {
        if (command.menu.isEmpty() || (!documentMenu && !command.noDocumentMenu)) continue;
        QMenu* menu = menuFor(command.menu);
        switch (command.kind) {
        case CCommand::Kind::Separator: menu->addSeparator(); break;
        case CCommand::Kind::RecentFiles: {
            QAction* placeholder = menu->addAction(QStringLiteral("Recent File"));
            placeholder->setEnabled(false);
            m_recentMenus.append(menu);
            m_recentPlaceholders.append(placeholder);
            break;
        }
        case CCommand::Kind::Command: menu->addAction(m_actions.value(command.id)); break;
        }
    }
    return topLevel;
}

void CMainFrame::CreateToolbar()
{
    m_toolbar = new QToolBar(QStringLiteral("Toolbar"), this);
    m_toolbar->setObjectName(QStringLiteral("toolbar"));
    m_toolbar->setIconSize(QSize(16, 16));
    std::vector<const CCommand*> buttons;
    for (const CCommand& command : CommandTable())
        if (command.kind == CCommand::Kind::Command && command.toolbar > 0) buttons.push_back(&command);
    std::sort(buttons.begin(), buttons.end(), [](const CCommand* a, const CCommand* b) { return a->toolbar < b->toolbar; });
    int group = -1;
    for (const CCommand* command : buttons) {
        if (group >= 0 && command->toolbar / 10 != group) m_toolbar->addSeparator();
        group = command->toolbar / 10;
        m_toolbar->addAction(m_actions.value(command->id));
    }
    addToolBar(Qt::TopToolBarArea, m_toolbar);
}

void CMainFrame::CreateStatusBar()
{
    QStatusBar* bar = statusBar();
    bar->setObjectName(QStringLiteral("statusBar"));
    m_messagePane = new QLabel(CProgressBar::kIdleText, bar);
    m_messagePane->setObjectName(CProgressBar::kMessagePaneName);
    bar->addWidget(m_messagePane, 1);
    m_statusFields = new CStatusFields(*bar);
    for (int i = 0; i < 3; ++i) {
        m_indicators[i] = new QLabel(QString::fromLatin1(kIndicatorTexts[i]), bar);
        m_indicators[i]->setAlignment(Qt::AlignCenter);
        m_indicators[i]->setMinimumWidth(m_indicators[i]->fontMetrics().horizontalAdvance(QStringLiteral("SCRL")) + 8);
        m_indicators[i]->setEnabled(false);
        bar->addPermanentWidget(m_indicators[i]);
    }
    m_progress = new CProgressBar;
    m_progress->setParent(bar);
    m_progress->hide();
}

void CMainFrame::CreateHistogramPanel()
{
    m_histogram = new CHistogramPanel(this);
    m_histogram->setAllowedAreas(Qt::AllDockWidgetAreas);
    addDockWidget(Qt::RightDockWidgetArea, m_histogram);
    const QSettings* settings = m_app.recentFiles().settings();
    const bool shown = settings && settings->value(kHistogramShownKey, false).toBool();
    m_histogram->setVisible(shown);
    m_actions.value(CommandId::ViewHistogram)->setChecked(shown);
    connect(m_histogram, &CHistogramPanel::closedByUser, this, [this] {
        m_actions.value(CommandId::ViewHistogram)->setChecked(false);
        RememberHistogramShown(false);
    });
}

void CMainFrame::RememberHistogramShown(bool shown)
{
    if (QSettings* settings = m_app.recentFiles().settings()) settings->setValue(kHistogramShownKey, shown);
}

COrvexView* CMainFrame::activeView() const
{
    auto* frame = qobject_cast<CChildFrame*>(m_mdi->currentSubWindow());
    return frame ? frame->view() : nullptr;
}

QList<QMenu*> CMainFrame::currentMenus() const
{
    return m_showingDocumentMenus ? m_documentMenus : m_noDocumentMenus;
}

void CMainFrame::Execute(CommandId id)
{
    if (HelpInstead(id)) return;
    const CCommand* command = FindCommand(id);
    if (!command || !command->handler) return;
    CCommandTarget target{*this, activeView()};
    if (command->needsView && !target.view) return;
    // The histogram panel counts the picture off this thread; no count may read it while the
    // command writes it.
    const CHistogramPanel::CHold hold(*m_histogram);
    command->handler(target);
}

void CMainFrame::UpdateCommandStates()
{
    COrvexView* view = activeView();
    const bool documentMenus = view != nullptr;
    if (documentMenus != m_showingDocumentMenus || menuBar()->actions().isEmpty()) {
        menuBar()->clear();
        for (QMenu* menu : documentMenus ? m_documentMenus : m_noDocumentMenus) menuBar()->addMenu(menu);
        m_showingDocumentMenus = documentMenus;
    }
    for (const CCommand& command : CommandTable()) {
        if (command.kind != CCommand::Kind::Command) continue;
        m_actions.value(command.id)
            ->setEnabled(command.handler && (!command.needsView || view) &&
                         (!command.enabledWhen || (view && command.enabledWhen(*view))) &&
                         (!command.availableWhen || command.availableWhen(*this)));
    }
    UpdateHistoryCaptions(view);
    if (m_histogram) m_histogram->Follow(view ? &view->host() : nullptr);
    if (m_statusFields) m_statusFields->Follow(view);
    setWindowTitle(view ? QStringLiteral("Orvex - ") + view->document().title() : QStringLiteral("Orvex"));
}

void CMainFrame::OnFileOpen()
{
    const QStringList paths = CDocumentUi::AskOpenPaths(this, m_app.lastOpenFolder());
    if (!paths.isEmpty()) m_app.SetLastOpenFolder(QFileInfo(paths.front()).absolutePath());
    for (const QString& path : paths) m_app.OpenDocumentFile(path);
}

void CMainFrame::NewDocument()
{
    CNewPictureDlg dialog(m_app.recentFiles().settings(), this);
    if (dialog.exec() != QDialog::Accepted) return;
    CImage picture;
    if (!picture.CreateGrey(dialog.pictureWidth(), dialog.pictureHeight(), dialog.fillLevel())) {
        QMessageBox box(QMessageBox::Warning, COrvexDoc::kAppTitle, sequence::kOutOfMemory, QMessageBox::Ok, this);
        box.exec();
        return;
    }
    // Nothing is lost by closing a blank picture that was never changed.
    m_app.docTemplate().OpenUntitled(std::move(picture), false);
}

void CMainFrame::Duplicate(COrvexView& view)
{
    m_app.docTemplate().OpenCopy(view.host());
}

void CMainFrame::CloseDocument(COrvexView& view)
{
    CDocumentHost& host = view.host();
    if (!host.closeApproved) {
        if (ApproveClose(host, false) != COrvexDoc::CloseVerdict::Close) return;
        host.closeApproved = true;
    }
    const QList<IDocumentView*> views = host.views();
    for (IDocumentView* v : views)
        if (v->frame()) v->frame()->close();
}

COrvexDoc::CloseVerdict CMainFrame::ApproveClose(CDocumentHost& host, bool offerDiscardAll)
{
    const bool wasModified = host.doc().modified();
    const COrvexDoc::CloseVerdict verdict = host.doc().AskToClose(offerDiscardAll);
    if (wasModified && !host.doc().modified()) {
        m_app.recentFiles().Add(host.doc().pathName());
        RebuildRecentFiles();
    }
    return verdict;
}

void CMainFrame::AfterSave(COrvexView& view)
{
    m_app.recentFiles().Add(view.document().pathName());
    RebuildRecentFiles();
    view.host().UpdateAllViews();
    UpdateCommandStates();
}

bool CMainFrame::Save(COrvexView& view)
{
    if (!view.document().SaveToCurrentPath()) return false;
    AfterSave(view);
    return true;
}

bool CMainFrame::SaveAs(COrvexView& view)
{
    if (!view.document().SaveAs()) return false;
    AfterSave(view);
    return true;
}

void CMainFrame::ToggleToolbar()
{
    m_toolbar->setVisible(!m_toolbar->isVisible());
    m_actions.value(CommandId::ViewToolbar)->setChecked(m_toolbar->isVisible());
}

void CMainFrame::ToggleStatusBar()
{
    statusBar()->setVisible(!statusBar()->isVisible());
    m_actions.value(CommandId::ViewStatusBar)->setChecked(statusBar()->isVisible());
}

void CMainFrame::ToggleHistogram()
{
    const bool shown = !m_histogram->isVisible();
    m_histogram->setVisible(shown);
    m_actions.value(CommandId::ViewHistogram)->setChecked(shown);
    RememberHistogramShown(shown);
}

void CMainFrame::NewWindow(COrvexView& view)
{
    m_app.docTemplate().CreateNewFrame(view.host());
}

void CMainFrame::ShowAbout()
{
    CAboutDlg about(this);
    about.exec();
}

void CMainFrame::ShowPrompt(const QString& tip)
{
    if (m_progress->created()) return;
    // The message pane falls back to its idle text, or, while the Edit menu is open, to what the
    // history holds.
    COrvexView* view = m_editMenuOpen ? activeView() : nullptr;
    m_messagePane->setText(!tip.isEmpty() ? tip : view ? sequence::HistoryMemoryText(*view) : CProgressBar::kIdleText);
}

void CMainFrame::UpdateHistoryCaptions(COrvexView* view)
{
    // "Undo Gaussian Blur" / "Redo Rotate 90° CW", plain "Undo" / "Redo" when there is no named step.
    const auto caption = [this](CommandId id, const QString& verb, QString step, int stepsLeft) {
        const QString plain = FindCommand(id)->caption;
        if (step.isEmpty()) return plain;
        QString text = verb + QLatin1Char(' ') + step.replace(QLatin1Char('&'), QStringLiteral("&&"));
        // After states were given up for want of memory, say how far back Undo still goes.
        if (stepsLeft >= 0)
            text +=
                stepsLeft == 1 ? QStringLiteral(" (1 step left)") : QStringLiteral(" (%1 steps left)").arg(stepsLeft);
        const QString keys = plain.section(QLatin1Char('\t'), 1);
        return keys.isEmpty() ? text : text + QLatin1Char('\t') + keys;
    };
    const CImageHistory* history = view ? &view->document().history() : nullptr;
    const int left = history && history->droppedForMemory() ? history->currentIndex() : -1;
    m_actions.value(CommandId::EditUndo)
        ->setText(
            caption(CommandId::EditUndo, QStringLiteral("&Undo"), view ? sequence::UndoName(*view) : QString(), left));
    m_actions.value(CommandId::EditRedo)
        ->setText(
            caption(CommandId::EditRedo, QStringLiteral("&Redo"), view ? sequence::RedoName(*view) : QString(), -1));
}

bool CMainFrame::event(QEvent* event)
{
    if (event->type() == QEvent::StatusTip) {
        ShowPrompt(static_cast<QStatusTipEvent*>(event)->tip());
        return true;
    }
    return QMainWindow::event(event);
}

bool CMainFrame::eventFilter(QObject* watched, QEvent* event)
{
    if (m_contextHelp && ContextHelpFilter(watched, event)) return true;
    // The lock indicators follow the lock keys pressed while Orvex has the keyboard.
    // Key events reach the window first, once, before they travel through its widgets.
    if (event->type() == QEvent::KeyPress && watched == static_cast<QObject*>(windowHandle()) &&
        !static_cast<QKeyEvent*>(event)->isAutoRepeat()) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        for (int i = 0; i < 3; ++i)
            if (key == kIndicatorKeys[i]) {
                m_lockState[i] = !m_lockState[i];
                m_indicators[i]->setEnabled(m_lockState[i]);
            }
    }
    return QMainWindow::eventFilter(watched, event);
}

void CMainFrame::closeEvent(QCloseEvent* event)
{
    if (!m_app.docTemplate().CloseAllDocuments()) {
        event->ignore();
        return;
    }
    QMainWindow::closeEvent(event);
}

namespace {
// Opening a dropped file only reads it. A drop taken as a Move would tell a file manager that
// honours it to delete the original, so only Copy is ever accepted.
bool AcceptAsCopy(QDropEvent& event)
{
    if (!event.mimeData()->hasUrls() || !(event.possibleActions() & Qt::CopyAction)) {
        event.ignore();
        return false;
    }
    event.setDropAction(Qt::CopyAction);
    event.accept();
    return true;
}
} // namespace

void CMainFrame::dragEnterEvent(QDragEnterEvent* event)
{
    AcceptAsCopy(*event);
}

void CMainFrame::dragMoveEvent(QDragMoveEvent* event)
{
    AcceptAsCopy(*event);
}

void CMainFrame::dropEvent(QDropEvent* event)
{
    if (!AcceptAsCopy(*event)) return;
    const QList<QUrl> urls = event->mimeData()->urls();
    activateWindow();
    for (const QUrl& url : urls)
        if (url.isLocalFile()) m_app.OpenDocumentFile(url.toLocalFile());
}
