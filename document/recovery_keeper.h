#pragma once

#include "document/recovery_folder.h"

#include <QObject>
#include <QString>

#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

class COrvexDoc;
class QTimer;

// When a modified document's recovery file is written.
struct CRecoveryTiming
{
    int quietMs = 30000; // this long after its last change
    int changes = 10;    // or after this many changes since its last write, whichever comes first
};

// Keeps a recovery file for every modified document it is told about, in the editor's own
// recovery folder. The interface thread only takes the document's current state (shared with the
// history, never copied) and hands it to a worker thread of its own, which compresses and writes
// it; file removals go through the same worker, in order, so a removal is never overtaken by a
// write still under way. A failed write is logged and tried again after the next quiet period;
// nothing of it reaches the user mid-edit.
class CRecoveryKeeper : public QObject
{
public:
    CRecoveryKeeper(CRecoveryFolder& folder, CRecoveryTiming timing = {});
    // Finishes the jobs already handed to the worker (removals included) and stops it.
    ~CRecoveryKeeper() override;

    // Starts following `doc`; returns its number (its file is FileOf). A document that is modified
    // from the start (a pasted picture) counts as changed.
    int Track(const COrvexDoc& doc);
    // The document changed (a commit, Undo, Redo) or was saved: counts a change and arms the quiet
    // period, or, when it is no longer modified, removes its file.
    void Changed(int id);
    // The document closes: its file goes.
    void Forget(int id);
    // Writes the document's file now (at the end of a write under way, if there is one).
    void WriteNow(int id);
    // Makes the recovery file `file` (of a document recovered from it) the document's own, so
    // that it stays recoverable with nothing written. False when it cannot be moved.
    bool Adopt(int id, const QString& file);

    QString FileOf(int id) const { return m_folder.FileFor(id); }
    // Writes finished successfully / jobs not yet finished by the worker; for tests and benchmarks.
    int writesDone() const { return m_writesDone; }
    bool busy() const;
    // Called on the interface thread after each finished write, with its time on the worker.
    std::function<void(int id, bool ok, double seconds)> onWritten;

private:
    struct CTracked
    {
        const COrvexDoc* doc = nullptr;
        QTimer* quiet = nullptr;
        int changes = 0;
        bool writing = false;
        bool writeAgain = false; // changed meanwhile and due again when the write ends
        bool dropResult = false; // removed meanwhile: the finished write's file is already gone
        bool onDisk = false;
    };
    void Write(int id);
    void Remove(CTracked& tracked, int id);
    void Finished(int id, bool ok, const QString& reason, double seconds);
    void Post(std::function<void()> job);
    void Work();

    CRecoveryFolder& m_folder;
    CRecoveryTiming m_timing;
    std::map<int, CTracked> m_tracked;
    int m_nextId = 1;
    int m_writesDone = 0;

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_jobs;
    bool m_stop = false;
    int m_unfinished = 0; // jobs posted and not yet run to their end
    std::thread m_worker;
};
