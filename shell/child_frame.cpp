#include "shell/child_frame.h"

#include "shell/document_host.h"
#include "shell/orvex_view.h"

#include <QAction>
#include <QCloseEvent>
#include <QMenu>

CChildFrame::CChildFrame(CDocumentHost& host, QWidget* parent)
    : QMdiSubWindow(parent,
                    Qt::SubWindow | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                        Qt::WindowCloseButtonHint),
      m_host(host), m_view(new COrvexView(host))
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWidget(m_view);
    m_view->SetFrame(this);
    setWindowIcon(QIcon(QStringLiteral(":/orvex.svg")));
    // The window menu's own Close key (Ctrl+W here) would make File > Close's key ambiguous, and
    // neither would run.
    if (QMenu* menu = systemMenu())
        for (QAction* action : menu->actions())
            if (action->shortcut() == QKeySequence(QKeySequence::Close)) action->setShortcut(QKeySequence());
}

void CChildFrame::closeEvent(QCloseEvent* event)
{
    const bool lastView = m_host.views().size() == 1 && m_host.views().front() == static_cast<IDocumentView*>(m_view);
    if (lastView && !m_host.closeApproved) {
        if (!m_host.doc().CanClose()) {
            event->ignore();
            return;
        }
        m_host.closeApproved = true;
    }
    QMdiSubWindow::closeEvent(event);
    if (event->isAccepted()) m_view->Detach();
}
