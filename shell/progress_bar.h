#pragma once

#include "core/progress.h"

#include <QPointer>
#include <QProgressBar>
#include <QString>

#include <QLabel>
class QStatusBar;

// The status-bar progress control of long operations. It sits in the message pane right of a
// short label written into that pane, takes `size` percent of the space left after the label, and
// puts the idle text back when it goes away.
//
// Two ways to drive it: a command keeps one on its stack (Create, SetBarColor, ShowAndSet) for the
// worker-thread commands; or it serves as the engine's IProgress sink, where every operation's
// Begin/End creates and removes the bar.
class CProgressBar : public QProgressBar, public IProgress
{
    Q_OBJECT

public:
    static inline const QString kIdleText = QStringLiteral("For Help, press F1");
    // Object name of the message pane label the bar finds in the main window's status bar.
    static inline const QString kMessagePaneName = QStringLiteral("messagePane");

    CProgressBar();
    ~CProgressBar() override;

    // Finds the main window's status bar and appears in its message pane. False when there is none;
    // every later call then does nothing.
    bool Create(const QString& label, int range);
    void SetBarColor();
    void ShowAndSet(int position);
    void ShowAndStep();
    // Hides the bar and restores the pane's idle text; Create may follow again.
    void Release();
    bool created() const { return m_pane != nullptr; }
    QRect placedRect() const { return m_placed; }

    // IProgress, for operations on the interface thread.
    void Begin(std::string_view label, int range) override;
    void SetPosition(int position) override;
    void End() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Place();

    QPointer<QStatusBar> m_statusBar;
    QPointer<QLabel> m_pane;
    QString m_label;
    QString m_savedText;
    QRect m_placed;
    int m_size = 50;
    int m_paneIndex = 0;
};
