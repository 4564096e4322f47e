// The help page and context help: while context help is on, the next command chosen shows its
// description instead of running.
#include "shell/main_frame.h"

#include "shell/help_dialog.h"

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QToolButton>

void CMainFrame::ShowHelp(CommandId id)
{
    if (!m_help) m_help = new CHelpDialog(this);
    m_help->show();
    m_help->raise();
    m_help->activateWindow();
    if (id != CommandId::None) m_help->ShowCommand(id);
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

bool CMainFrame::HelpInstead(CommandId id)
{
    if (!m_contextHelp) return false;
    LeaveContextHelp();
    ShowHelp(id);
    return true;
}

CommandId CMainFrame::CommandAt(QObject* watched, const QPoint& position) const
{
    QAction* action = nullptr;
    if (auto* menu = qobject_cast<QMenu*>(watched)) action = menu->actionAt(position);
    else if (auto* button = qobject_cast<QToolButton*>(watched)) action = button->defaultAction();
    if (!action) return CommandId::None;
    if (m_recentActions.contains(action)) return CommandId::RecentFiles;
    if (m_windowActions.contains(action)) return kWindowMenuId;
    for (auto it = m_actions.cbegin(); it != m_actions.cend(); ++it)
        if (it.value() == action) return it.key();
    return CommandId::None;
}

bool CMainFrame::ContextHelpFilter(QObject* watched, QEvent* event)
{
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
            const CommandId id = CommandAt(watched, position);
            QAction* action = qobject_cast<QMenu*>(watched) ? static_cast<QMenu*>(watched)->actionAt(position)
                                                            : static_cast<QToolButton*>(watched)->defaultAction();
            if (id != CommandId::None && action && !action->isEnabled()) {
                if (auto* menu = qobject_cast<QMenu*>(watched)) menu->close();
                HelpInstead(id);
                return true;
            }
            break;
        }
        if (qobject_cast<QMenuBar*>(watched)) break;
        // Anything else clicked (a picture, a window's frame, the status bar): the page itself.
        if (event->type() != QEvent::MouseButtonRelease) HelpInstead(CommandId::None);
        return true;
    }
    default: break;
    }
    return false;
}
