#include "shell/progress_bar.h"

#include <QApplication>
#include <QEvent>
#include <QLabel>
#include <QMainWindow>
#include <QStatusBar>

namespace {

QStatusBar* FindStatusBar()
{
    for (QWidget* top : QApplication::topLevelWidgets()) {
        auto* frame = qobject_cast<QMainWindow*>(top);
        if (!frame) continue;
        if (auto* bar = frame->findChild<QStatusBar*>()) return bar;
    }
    return nullptr;
}

} // namespace

CProgressBar::CProgressBar()
{
    setTextVisible(false);
    hide();
}

CProgressBar::~CProgressBar()
{
    Release();
}

bool CProgressBar::Create(const QString& label, int range)
{
    Release();
    QStatusBar* bar = FindStatusBar();
    if (!bar) return false;
    auto* pane = bar->findChild<QLabel*>(kMessagePaneName);
    if (!pane) return false;
    m_statusBar = bar;
    m_pane = pane;
    setParent(bar);
    setRange(0, range);
    setValue(0);
    m_label = label;
    m_size = 50;
    m_paneIndex = 0;
    m_savedText = pane->text();
    m_placed = QRect();
    bar->installEventFilter(this);
    show();
    Place();
    return true;
}

void CProgressBar::SetBarColor()
{
    if (!created()) return;
    setStyleSheet(QStringLiteral("QProgressBar::chunk { background-color: #8282A0; }"));
}

void CProgressBar::ShowAndSet(int position)
{
    if (!created()) return;
    if (!isVisible()) show();
    setValue(position);
    // The interface thread is busy with the operation: paint now rather than when it returns.
    repaint();
}

void CProgressBar::ShowAndStep()
{
    ShowAndSet(value() + 1);
}

void CProgressBar::Release()
{
    if (!created()) return;
    hide();
    if (m_statusBar) m_statusBar->removeEventFilter(this);
    if (m_pane) {
        m_pane->setText(m_paneIndex != 0 ? m_savedText : kIdleText);
        m_pane->repaint();
    }
    if (m_statusBar) m_statusBar->repaint();
    m_pane = nullptr;
    m_statusBar = nullptr;
}

void CProgressBar::Place()
{
    QStatusBar* const bar = m_statusBar.data();
    QLabel* const pane = m_pane.data();
    if (!bar || !pane) return;
    if (isVisible()) {
        pane->setText(m_label);
        pane->repaint();
    }
    const QFontMetrics metrics(bar->font());
    QRect r = pane->geometry();
    if (!m_label.isEmpty())
        r.setLeft(r.left() + metrics.horizontalAdvance(m_label) + 4 * metrics.horizontalAdvance(QLatin1Char(' ')));
    int right = r.right() + 1 - (100 - m_size) * (r.right() + 1 - r.left()) / 100;
    if (right < r.left()) right = r.left();
    const int d = r.height() / 10;
    const QRect placed(QPoint(r.left(), r.top() + d), QPoint(right - 1, r.bottom() - d));
    if (placed != m_placed) {
        setGeometry(placed);
        raise();
        repaint();
        m_placed = placed;
    }
}

bool CProgressBar::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_statusBar && (event->type() == QEvent::Resize || event->type() == QEvent::LayoutRequest))
        Place();
    return QProgressBar::eventFilter(watched, event);
}

void CProgressBar::Begin(std::string_view label, int range)
{
    if (Create(QString::fromUtf8(label.data(), static_cast<qsizetype>(label.size())), range)) SetBarColor();
}

void CProgressBar::SetPosition(int position)
{
    ShowAndSet(position);
}

void CProgressBar::End()
{
    Release();
}
