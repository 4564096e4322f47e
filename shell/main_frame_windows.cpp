// Where the main frame puts document windows: new ones cascade from the last one placed, every
// window kept inside the work area, and the Window menu lists them.
#include "shell/main_frame.h"

#include <QApplication>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QStyle>

#include <algorithm>

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
