#pragma once

#include "core/progress.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>

class QEvent;

// While long work runs on a thread of its own: Escape raises `cancel` (when there is one), every
// other input event is dropped (not deferred), and windows cannot be closed under the running work.
class CBusyInputFilter : public QObject
{
public:
    explicit CBusyInputFilter(std::atomic<std::uint8_t>* cancel);
    ~CBusyInputFilter() override;
    CBusyInputFilter(const CBusyInputFilter&) = delete;
    CBusyInputFilter& operator=(const CBusyInputFilter&) = delete;

    // Work entering its own protocol may clear the cancel flag; an Escape pressed before that must
    // not be lost, so it is asserted again on every poll.
    void Reassert() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::atomic<std::uint8_t>* m_cancel;
    bool m_escape = false;
};

// Progress reported from a worker thread for the interface thread to poll: the position in percent
// (kept where the caller says) and the newest label.
class CAsideProgress : public IProgress
{
public:
    explicit CAsideProgress(std::atomic<float>& percent, const std::atomic<std::uint8_t>* cancel = nullptr)
        : m_percent(percent), m_cancel(cancel)
    {
    }
    void Begin(std::string_view label, int range) override;
    void SetPosition(int position) override;
    void End() override;
    bool StopRequested() override { return m_cancel && m_cancel->load() != 0; }

    // The newest label, when it changed since `version`.
    bool NewLabel(int& version, QString& label) const;
    // True between Begin and End.
    bool shown() const { return m_shown.load(); }

private:
    std::atomic<float>& m_percent;
    const std::atomic<std::uint8_t>* m_cancel;
    std::atomic<int> m_range{1};
    std::atomic<bool> m_shown{false};
    mutable std::mutex m_mutex;
    QString m_label;
    int m_labelVersion = 0;
};

// Runs `work` on a thread of its own and returns its result. Meanwhile the interface thread keeps
// every window painted, drops input, and shows in the status bar whatever bar the work begins.
// For work that only reads what the windows show (a save), so that a long one never leaves the
// program looking dead. An exception escaping `work` makes the result false (and is logged).
bool RunAside(const std::function<bool(IProgress&)>& work);
