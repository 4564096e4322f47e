// The recent-file entries of the File menus, rebuilt from the application's list.
#include "shell/main_frame.h"

#include "shell/recent_files.h"

#include <QAction>
#include <QMenu>

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
            if (!HelpInstead(CommandId::RecentFiles)) m_app.OpenDocumentFile(path);
        });
        m_recentActions.append(action);
    }
    for (int m = 0; m < m_recentMenus.size(); ++m) {
        m_recentMenus[m]->insertActions(m_recentPlaceholders[m], m_recentActions);
        m_recentPlaceholders[m]->setVisible(m_recentActions.isEmpty());
    }
}
