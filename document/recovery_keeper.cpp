#include "document/recovery_keeper.h"

#include "document/orvex_doc.h"
#include "document/recovery_file.h"
#include "io/picture_codec.h"

#include <QDateTime>
#include <QFile>
#include <QTimer>
#include <QtDebug>

#include <chrono>
#include <memory>

CRecoveryKeeper::CRecoveryKeeper(CRecoveryFolder& folder, CRecoveryTiming timing)
    : m_folder(folder), m_timing(timing), m_worker([this] { Work(); })
{
}

CRecoveryKeeper::~CRecoveryKeeper()
{
    {
        const std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
    m_worker.join();
}

bool CRecoveryKeeper::busy() const
{
    const std::lock_guard lock(m_mutex);
    return m_unfinished > 0;
}

void CRecoveryKeeper::Post(std::function<void()> job)
{
    {
        const std::lock_guard lock(m_mutex);
        m_jobs.push_back(std::move(job));
        ++m_unfinished;
    }
    m_wake.notify_one();
}

void CRecoveryKeeper::Work()
{
    for (;;) {
        std::function<void()> job;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stop || !m_jobs.empty(); });
            // Jobs already handed over still run at the end: a removal must not be skipped.
            if (m_jobs.empty()) return;
            job = std::move(m_jobs.front());
            m_jobs.pop_front();
        }
        try {
            job();
        } catch (...) {
            qWarning("Recovery: a background job failed");
        }
        // The job's captures (a shared picture among them) go before it counts as finished.
        job = nullptr;
        const std::lock_guard lock(m_mutex);
        --m_unfinished;
    }
}

int CRecoveryKeeper::Track(const COrvexDoc& doc)
{
    const int id = m_nextId++;
    CTracked& tracked = m_tracked[id];
    tracked.doc = &doc;
    tracked.quiet = new QTimer(this);
    tracked.quiet->setSingleShot(true);
    tracked.quiet->setInterval(m_timing.quietMs);
    connect(tracked.quiet, &QTimer::timeout, this, [this, id] { Write(id); });
    if (doc.modified()) Changed(id);
    return id;
}

void CRecoveryKeeper::Changed(int id)
{
    const auto found = m_tracked.find(id);
    if (found == m_tracked.end()) return;
    CTracked& tracked = found->second;
    if (!tracked.doc->modified()) {
        Remove(tracked, id);
        return;
    }
    if (++tracked.changes >= m_timing.changes) Write(id);
    else tracked.quiet->start();
}

void CRecoveryKeeper::Forget(int id)
{
    const auto found = m_tracked.find(id);
    if (found == m_tracked.end()) return;
    Remove(found->second, id);
    delete found->second.quiet;
    m_tracked.erase(found);
}

void CRecoveryKeeper::WriteNow(int id)
{
    Write(id);
}

void CRecoveryKeeper::Remove(CTracked& tracked, int id)
{
    tracked.quiet->stop();
    tracked.changes = 0;
    tracked.writeAgain = false;
    if (tracked.writing) tracked.dropResult = true;
    if (!tracked.onDisk && !tracked.writing) return;
    tracked.onDisk = false;
    const QString file = FileOf(id);
    Post([file] { QFile::remove(file); });
}

bool CRecoveryKeeper::Adopt(int id, const QString& file)
{
    const auto found = m_tracked.find(id);
    if (found == m_tracked.end()) return false;
    const QString own = FileOf(id);
    QFile::remove(own);
    if (!QFile::rename(file, own)) return false;
    found->second.onDisk = true;
    // The file already holds the document as it is: nothing is due until it changes.
    found->second.quiet->stop();
    found->second.changes = 0;
    return true;
}

void CRecoveryKeeper::Write(int id)
{
    const auto found = m_tracked.find(id);
    if (found == m_tracked.end()) return;
    CTracked& tracked = found->second;
    tracked.quiet->stop();
    if (!tracked.doc->modified()) return;
    if (tracked.writing) {
        tracked.writeAgain = true;
        return;
    }
    std::shared_ptr<const CImage> picture = tracked.doc->history().SharedCurrent();
    if (!picture) return;
    tracked.changes = 0;
    tracked.writing = true;
    tracked.dropResult = false;
    CRecoveryInfo info;
    info.path = tracked.doc->pathName();
    info.name = tracked.doc->title();
    if (const CEncoder* encoder = info.path.isEmpty() ? nullptr : EncoderForPath(info.path))
        info.format = QString::fromLatin1(encoder->format);
    info.time = QDateTime::currentDateTimeUtc();
    Post([this, id, file = FileOf(id), info = std::move(info), picture = std::move(picture)] {
        const auto start = std::chrono::steady_clock::now();
        QString reason;
        const bool ok = WriteRecoveryFile(file, info, *picture, &reason);
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        QMetaObject::invokeMethod(
            this, [this, id, ok, reason, seconds] { Finished(id, ok, reason, seconds); }, Qt::QueuedConnection);
    });
}

void CRecoveryKeeper::Finished(int id, bool ok, const QString& reason, double seconds)
{
    if (ok) ++m_writesDone;
    const auto found = m_tracked.find(id);
    if (found != m_tracked.end()) {
        CTracked& tracked = found->second;
        tracked.writing = false;
        if (tracked.dropResult) tracked.dropResult = false;
        else if (ok) tracked.onDisk = true;
        if (!ok) {
            qWarning("Recovery: could not write %s: %s", qPrintable(FileOf(id)), qPrintable(reason));
            // Tried again after the next quiet period; the document's changes are still in memory.
            if (tracked.doc->modified()) tracked.quiet->start();
        } else if (tracked.writeAgain) {
            tracked.writeAgain = false;
            Write(id);
        }
    }
    if (onWritten) onWritten(id, ok, seconds);
}
