#include "shell/main_frame.h"

#include "shell/about_dialog.h"
#include "shell/child_frame.h"
#include "shell/command_table.h"
#include "shell/doc_template.h"
#include "shell/document_host.h"
#include "shell/document_ui.h"
#include "shell/help_dialog.h"
#include "shell/orvex_app.h"
#include "shell/orvex_view.h"
#include "shell/print_options.h"
#include "shell/progress_bar.h"
#include "shell/recent_files.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileInfo>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPageSetupDialog>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QSettings>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QStyle>
#include <QToolBar>
#include <QToolButton>
#include <QMouseEvent>

#include <algorithm>

// The icons live in a static library, whose resources are only linked in when asked for by name.
static void InitResources()
{
    Q_INIT_RESOURCE(orvex);
}

namespace {
// Help anchors for the entries that are not rows of the command table.
constexpr int kRecentFilesId = 57616;
constexpr int kWindowMenuId = 57650;
const char* const kIndicatorTexts[3] = {"CAP", "NUM", "SCRL"};
const Qt::Key kIndicatorKeys[3] = {Qt::Key_CapsLock, Qt::Key_NumLock, Qt::Key_ScrollLock};
} // namespace

CMainFrame::CMainFrame(COrvexApp& app) : m_app(app), m_mdi(new QMdiArea(this))
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
    for (QMenu* menu : m_documentMenus)
        if (menu->title() == QStringLiteral("&Window"))
            connect(menu, &QMenu::aboutToShow, this, [this, menu] { ListWindows(*menu); });
    CreateToolbar();
    CreateStatusBar();
    RebuildRecentFiles();

    connect(m_mdi, &QMdiArea::subWindowActivated, this, [this] { UpdateCommandStates(); });
    qApp->installEventFilter(this);
    UpdateCommandStates();
}

CMainFrame::~CMainFrame()
{
    LeaveContextHelp();
    qApp->removeEventFilter(this);
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
        const int id = command.id;
        connect(action, &QAction::triggered, this, [this, id] { Execute(id); });
        // Keys work whichever menu is shown.
        addAction(action);
        m_actions.insert(id, action);
    }
    m_actions.value(59392)->setChecked(true);
    m_actions.value(59393)->setChecked(true);
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

COrvexView* CMainFrame::activeView() const
{
    auto* frame = qobject_cast<CChildFrame*>(m_mdi->currentSubWindow());
    return frame ? frame->view() : nullptr;
}

QList<QMenu*> CMainFrame::currentMenus() const
{
    return m_showingDocumentMenus ? m_documentMenus : m_noDocumentMenus;
}

void CMainFrame::Execute(int id)
{
    if (HelpInstead(id)) return;
    const CCommand* command = FindCommand(id);
    if (!command || !command->handler) return;
    CCommandTarget target{*this, activeView()};
    if (command->needsView && !target.view) return;
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
        m_actions.value(command.id)->setEnabled(command.handler && (!command.needsView || view) &&
                                                (!command.enabledWhen || (view && command.enabledWhen(*view))));
    }
    setWindowTitle(view ? QStringLiteral("Orvex - ") + view->document().title() : QStringLiteral("Orvex"));
}

void CMainFrame::RebuildRecentFiles()
{
    for (QAction* action : m_recentActions) {
        for (QMenu* menu : m_recentMenus) menu->removeAction(action);
        action->deleteLater();
    }
    m_recentActions.clear();
    const CRecentFileList& recent = m_app.recentFiles();
    for (int i = 0; i < recent.entries().size(); ++i) {
        auto* action = new QAction(recent.MenuText(i), this);
        const QString path = recent.entries()[i];
        connect(action, &QAction::triggered, this, [this, path] {
            if (!HelpInstead(kRecentFilesId)) m_app.OpenDocumentFile(path);
        });
        m_recentActions.append(action);
    }
    for (int m = 0; m < m_recentMenus.size(); ++m) {
        m_recentMenus[m]->insertActions(m_recentPlaceholders[m], m_recentActions);
        m_recentPlaceholders[m]->setVisible(m_recentActions.isEmpty());
    }
}

void CMainFrame::OnFileOpen()
{
    const QStringList paths = CDocumentUi::AskOpenPaths(this, m_app.lastOpenFolder());
    if (!paths.isEmpty()) m_app.SetLastOpenFolder(QFileInfo(paths.front()).absolutePath());
    for (const QString& path : paths) m_app.OpenDocumentFile(path);
}

void CMainFrame::CloseDocument(COrvexView& view)
{
    CDocumentHost& host = view.host();
    if (!host.closeApproved) {
        if (!ApproveClose(host)) return;
        host.closeApproved = true;
    }
    const QList<COrvexView*> views = host.views();
    for (COrvexView* v : views)
        if (v->frame()) v->frame()->close();
}

bool CMainFrame::ApproveClose(CDocumentHost& host)
{
    const bool wasModified = host.doc().modified();
    if (!host.doc().CanClose()) return false;
    if (wasModified && !host.doc().modified()) {
        m_app.recentFiles().Add(host.doc().pathName());
        RebuildRecentFiles();
    }
    return true;
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

QPrinter& CMainFrame::printer()
{
    if (!m_printer) m_printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    return *m_printer;
}

void CMainFrame::Print(COrvexView& view)
{
    QSettings* settings = m_app.recentFiles().settings();
    const CPrintScale remembered = RememberedPrintScale(settings);
    const CImage& picture = view.document().picture();
    const QPageLayout::Orientation shape = OrientationFor(picture.width(), picture.height());
    if (remembered == CPrintScale::FitToPage) printer().setPageOrientation(shape);
    QPrintDialog dialog(&printer(), this);
    QComboBox* scaleBox = AddPrintScaleTab(dialog, remembered);
    if (dialog.exec() != QDialog::Accepted) return;
    const CPrintScale scale = PrintScaleOf(*scaleBox);
    RememberPrintScale(settings, scale);
    // The page was turned when the dialog opened only if fitting was already the choice.
    if (scale == CPrintScale::FitToPage && remembered != scale) printer().setPageOrientation(shape);
    view.PrintTo(printer(), scale);
}

void CMainFrame::PrintPreview(COrvexView& view)
{
    QSettings* settings = m_app.recentFiles().settings();
    CPrintScale scale = RememberedPrintScale(settings);
    const CImage& picture = view.document().picture();
    const QPageLayout::Orientation shape = OrientationFor(picture.width(), picture.height());
    if (scale == CPrintScale::FitToPage) printer().setPageOrientation(shape);
    QPrintPreviewDialog preview(&printer(), this);
    QComboBox* scaleBox = AddPrintScaleTool(preview, scale);
    auto* pages = preview.findChild<QPrintPreviewWidget*>();
    connect(scaleBox, &QComboBox::currentIndexChanged, &preview, [&] {
        scale = PrintScaleOf(*scaleBox);
        RememberPrintScale(settings, scale);
        if (!pages) return;
        if (scale == CPrintScale::FitToPage && printer().pageLayout().orientation() != shape) {
            // Through the preview's own orientation button where there is one, so that it shows the
            // turn; either way the pages are painted again.
            const QString caption = shape == QPageLayout::Landscape ? QStringLiteral("Landscape") : QStringLiteral("Portrait");
            for (QAction* action : preview.findChildren<QAction*>())
                if (action->isCheckable() && action->text() == caption) {
                    action->trigger();
                    return;
                }
            pages->setOrientation(shape);
            return;
        }
        pages->updatePreview();
    });
    connect(&preview, &QPrintPreviewDialog::paintRequested, this,
            [&view, &scale](QPrinter* target) { view.PrintTo(*target, scale); });
    preview.exec();
}

void CMainFrame::PrintSetup()
{
    QPageSetupDialog dialog(&printer(), this);
    dialog.exec();
}

void CMainFrame::ToggleToolbar()
{
    m_toolbar->setVisible(!m_toolbar->isVisible());
    m_actions.value(59392)->setChecked(m_toolbar->isVisible());
}

void CMainFrame::ToggleStatusBar()
{
    statusBar()->setVisible(!statusBar()->isVisible());
    m_actions.value(59393)->setChecked(statusBar()->isVisible());
}

void CMainFrame::NewWindow(COrvexView& view)
{
    m_app.docTemplate().CreateNewFrame(view.host());
}

int CMainFrame::CascadeStep() const
{
    return style()->pixelMetric(QStyle::PM_TitleBarHeight) + style()->pixelMetric(QStyle::PM_MdiSubWindowFrameWidth);
}

int CMainFrame::CaptionWidth(const QMdiSubWindow& window) const
{
    QFont font = QApplication::font("QMdiSubWindowTitleBar");
    font.setBold(true);
    const int titleBar = style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, &window);
    const int border = style()->pixelMetric(QStyle::PM_MdiSubWindowFrameWidth, nullptr, &window);
    // The icon, the minimize and close buttons, and some air around the text.
    return QFontMetrics(font).horizontalAdvance(window.windowTitle()) + 4 * titleBar + 2 * border + 12;
}

QRect CMainFrame::FitInWorkArea(QPoint position, QSize wanted) const
{
    const QSize area = m_mdi->viewport()->size();
    if (area.isEmpty()) return {position, wanted};
    QSize size = wanted.boundedTo(area);
    if (position.x() + size.width() > area.width() || position.y() + size.height() > area.height()) {
        const QSize shrunk(std::min(size.width(), area.width() - position.x()),
                           std::min(size.height(), area.height() - position.y()));
        if (shrunk.width() * 2 >= size.width() && shrunk.height() * 2 >= size.height()) size = shrunk;
        else position = QPoint(0, 0);
    }
    return {position, size};
}

void CMainFrame::PlaceNewWindow(QMdiSubWindow& window)
{
    QPoint position(0, 0);
    const QMdiSubWindow* const last = m_lastPlaced.data();
    if (last != nullptr && last != &window && last->isVisible() && !last->isMinimized())
        position = last->pos() + QPoint(CascadeStep(), CascadeStep());
    const QSize wanted(std::max(window.width(), CaptionWidth(window)), window.height());
    window.setGeometry(FitInWorkArea(position, wanted));
    m_lastPlaced = &window;
}

void CMainFrame::Cascade()
{
    // Each window keeps its size where the work area allows, the topmost ending up last.
    const int step = CascadeStep();
    QPoint position(0, 0);
    QMdiSubWindow* last = nullptr;
    for (QMdiSubWindow* window : m_mdi->subWindowList(QMdiArea::StackingOrder)) {
        if (window->isMinimized() || !window->isVisible()) continue;
        if (window->isMaximized()) window->showNormal();
        QRect placed = FitInWorkArea(position, window->size());
        window->setGeometry(placed);
        window->raise();
        position = placed.topLeft() + QPoint(step, step);
        last = window;
    }
    if (last) m_lastPlaced = last;
}

void CMainFrame::Tile()
{
    m_mdi->tileSubWindows();
}

void CMainFrame::ArrangeIcons()
{
    // Minimized windows in a row along the bottom edge of the document area.
    int x = 0;
    const int bottom = m_mdi->viewport()->height();
    for (QMdiSubWindow* window : m_mdi->subWindowList()) {
        if (!window->isMinimized()) continue;
        window->move(x, bottom - window->height());
        x += window->width();
    }
}

void CMainFrame::ListWindows(QMenu& menu)
{
    // The open document windows follow the fixed items, the active one checked.
    for (QAction* action : m_windowActions) {
        menu.removeAction(action);
        action->deleteLater();
    }
    m_windowActions.clear();
    const QList<QMdiSubWindow*> windows = m_mdi->subWindowList();
    if (windows.isEmpty()) return;
    m_windowActions.append(menu.addSeparator());
    for (int i = 0; i < windows.size(); ++i) {
        QMdiSubWindow* window = windows[i];
        QAction* action = menu.addAction(QStringLiteral("&%1 %2").arg(i + 1).arg(window->windowTitle()));
        action->setCheckable(true);
        action->setChecked(window == m_mdi->currentSubWindow());
        connect(action, &QAction::triggered, this, [this, window = QPointer<QMdiSubWindow>(window)] {
            if (!HelpInstead(kWindowMenuId) && window) m_mdi->setActiveSubWindow(window);
        });
        m_windowActions.append(action);
    }
}

void CMainFrame::ShowHelp(int id)
{
    if (!m_help) m_help = new CHelpDialog(this);
    m_help->show();
    m_help->raise();
    m_help->activateWindow();
    if (id != 0) m_help->ShowCommand(id);
}

void CMainFrame::EnterContextHelp()
{
    if (m_contextHelp) return;
    m_contextHelp = true;
    QApplication::setOverrideCursor(Qt::WhatsThisCursor);
}

void CMainFrame::LeaveContextHelp()
{
    if (!m_contextHelp) return;
    m_contextHelp = false;
    QApplication::restoreOverrideCursor();
}

bool CMainFrame::HelpInstead(int id)
{
    if (!m_contextHelp) return false;
    LeaveContextHelp();
    ShowHelp(id);
    return true;
}

int CMainFrame::CommandAt(QObject* watched, const QPoint& position) const
{
    QAction* action = nullptr;
    if (auto* menu = qobject_cast<QMenu*>(watched)) action = menu->actionAt(position);
    else if (auto* button = qobject_cast<QToolButton*>(watched)) action = button->defaultAction();
    if (!action) return 0;
    if (m_recentActions.contains(action)) return kRecentFilesId;
    if (m_windowActions.contains(action)) return kWindowMenuId;
    for (auto it = m_actions.cbegin(); it != m_actions.cend(); ++it)
        if (it.value() == action) return it.key();
    return 0;
}

void CMainFrame::ShowAbout()
{
    CAboutDlg about(this);
    about.exec();
}

bool CMainFrame::event(QEvent* event)
{
    if (event->type() == QEvent::StatusTip) {
        // Prompts go to the message pane, which falls back to its idle text.
        if (!m_progress->created()) {
            const QString tip = static_cast<QStatusTipEvent*>(event)->tip();
            m_messagePane->setText(tip.isEmpty() ? CProgressBar::kIdleText : tip);
        }
        return true;
    }
    return QMainWindow::event(event);
}

bool CMainFrame::eventFilter(QObject* watched, QEvent* event)
{
    if (m_contextHelp) {
        switch (event->type()) {
        case QEvent::KeyPress:
            // An open menu takes its Escape itself.
            if (static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape && !QApplication::activePopupWidget()) {
                LeaveContextHelp();
                return true;
            }
            break;
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick: {
            if (!watched->isWidgetType()) break;
            const QPoint position = static_cast<QMouseEvent*>(event)->position().toPoint();
            // Enabled menu items and buttons reach Execute, which shows their help; disabled ones
            // would say nothing, so their help is shown here. Menus themselves still open.
            if (qobject_cast<QMenu*>(watched) || qobject_cast<QToolButton*>(watched)) {
                if (event->type() != QEvent::MouseButtonRelease) break;
                const int id = CommandAt(watched, position);
                QAction* action = qobject_cast<QMenu*>(watched) ? static_cast<QMenu*>(watched)->actionAt(position)
                                                                 : static_cast<QToolButton*>(watched)->defaultAction();
                if (id != 0 && action && !action->isEnabled()) {
                    if (auto* menu = qobject_cast<QMenu*>(watched)) menu->close();
                    HelpInstead(id);
                    return true;
                }
                break;
            }
            if (qobject_cast<QMenuBar*>(watched)) break;
            // Anything else clicked (a picture, a window's frame, the status bar): the page itself.
            if (event->type() != QEvent::MouseButtonRelease) HelpInstead(0);
            return true;
        }
        default: break;
        }
    }
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
