#include "shell/busy_run.h"

#include "shell/progress_bar.h"

#include <QApplication>
#include <QKeyEvent>
#include <QWidget>
#include <QtGlobal>
#include <chrono>
#include <condition_variable>
#include <thread>

CBusyInputFilter::CBusyInputFilter(std::atomic<std::uint8_t>* cancel) : m_cancel(cancel)
{
    qApp->installEventFilter(this);
}

CBusyInputFilter::~CBusyInputFilter()
{
    qApp->removeEventFilter(this);
}

void CBusyInputFilter::Reassert() const
{
    if (m_escape && m_cancel) m_cancel->store(1);
}

bool CBusyInputFilter::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::KeyPress:
        if (static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
            m_escape = true;
            Reassert();
        }
        return true;
    case QEvent::Close:
        // Tips and popups close by themselves.
        if (const auto* widget = qobject_cast<const QWidget*>(watched);
            widget && (widget->windowType() == Qt::ToolTip || widget->windowType() == Qt::Popup))
            return false;
        // A close event arrives accepted; dropped as it is, the window would close all the same.
        event->ignore();
        return true;
    case QEvent::Shortcut:
    case QEvent::ShortcutOverride:
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop:
    case QEvent::ContextMenu: return true;
    default: return event->isInputEvent();
    }
}

void CAsideProgress::Begin(std::string_view label, int range)
{
    m_range.store(range > 0 ? range : 1);
    m_percent.store(0.0f);
    {
        const std::lock_guard lock(m_mutex);
        m_label = QString::fromUtf8(label.data(), static_cast<qsizetype>(label.size()));
        ++m_labelVersion;
    }
    m_shown.store(true);
}

void CAsideProgress::SetPosition(int position)
{
    m_percent.store(static_cast<float>(100.0 * position / m_range.load()));
}

void CAsideProgress::End()
{
    m_shown.store(false);
}

bool CAsideProgress::NewLabel(int& version, QString& label) const
{
    const std::lock_guard lock(m_mutex);
    if (m_labelVersion == version) return false;
    version = m_labelVersion;
    label = m_label;
    return true;
}

bool RunAside(const std::function<bool(IProgress&)>& work)
{
    std::atomic<float> percent{0.0f};
    CAsideProgress progress(percent);
    std::atomic<bool> done{false};
    std::mutex doneMutex;
    std::condition_variable doneSignal;
    bool result = false;
    std::thread worker([&] {
        // Whatever escapes the work fails it; on this thread it would end the whole program.
        try {
            result = work(progress);
        } catch (const std::exception& e) {
            qWarning("Work on a separate thread failed: %s", e.what());
            result = false;
        } catch (...) {
            qWarning("Work on a separate thread failed");
            result = false;
        }
        const std::lock_guard lock(doneMutex);
        done.store(true);
        doneSignal.notify_one();
    });

    CProgressBar bar;
    int labelVersion = 0;
    {
        CBusyInputFilter filter(nullptr);
        while (!done.load()) {
            QString label;
            if (progress.NewLabel(labelVersion, label)) {
                bar.Release();
                if (bar.Create(label, 100)) bar.SetBarColor();
            }
            if (!progress.shown()) bar.Release();
            else if (bar.created()) bar.ShowAndSet(static_cast<int>(percent.load()));
            QCoreApplication::processEvents(QEventLoop::AllEvents);
            // A quick save ends the wait at once rather than at the next poll.
            std::unique_lock lock(doneMutex);
            doneSignal.wait_for(lock, std::chrono::milliseconds(10), [&] { return done.load(); });
        }
        // Input that arrived during the last poll goes the same way as the rest.
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
    worker.join();
    bar.Release();
    return result;
}
