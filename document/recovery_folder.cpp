#include "document/recovery_folder.h"

#include "document/recovery_file.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>

namespace {

const QString kLockSuffix = QStringLiteral(".lock");

std::unique_ptr<QLockFile> MakeLock(const QString& path)
{
    auto lock = std::make_unique<QLockFile>(path);
    // Only a lock whose process is gone is stale: a long-running editor's lock is not, however old.
    lock->setStaleLockTime(0);
    return lock;
}

} // namespace

CRecoveryFolder::CRecoveryFolder(QString root) : m_root(std::move(root)) {}

CRecoveryFolder::~CRecoveryFolder() = default;

bool CRecoveryFolder::Open(QString* reason)
{
    if (m_lock) return true;
    if (!QDir().mkpath(m_root)) {
        if (reason) *reason = QStringLiteral("Can not make %1").arg(m_root);
        return false;
    }
    for (int attempt = 0; attempt < 8; ++attempt) {
        const QString id = QStringLiteral("%1-%2")
                               .arg(QCoreApplication::applicationPid())
                               .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0'));
        if (QFileInfo::exists(QDir(m_root).filePath(id))) continue;
        auto lock = MakeLock(QDir(m_root).filePath(id + kLockSuffix));
        if (!lock->tryLock(0)) continue;
        if (!QDir(m_root).mkdir(id)) {
            if (reason) *reason = QStringLiteral("Can not make %1").arg(QDir(m_root).filePath(id));
            return false;
        }
        m_id = id;
        m_lock = std::move(lock);
        return true;
    }
    if (reason) *reason = QStringLiteral("Can not lock a folder in %1").arg(m_root);
    return false;
}

void CRecoveryFolder::Finish()
{
    if (!m_lock) return;
    QDir(path()).removeRecursively();
    m_lock->unlock();
    m_lock.reset();
}

QString CRecoveryFolder::path() const
{
    return QDir(m_root).filePath(m_id);
}

QString CRecoveryFolder::FileFor(int id) const
{
    return QDir(path()).filePath(QStringLiteral("document-%1").arg(id) + kRecoverySuffix);
}

std::vector<std::unique_ptr<CRecoveryFolder::CClaimed>> CRecoveryFolder::ClaimStale() const
{
    std::vector<std::unique_ptr<CClaimed>> claimed;
    const QDir root(m_root);
    for (const QFileInfo& entry : root.entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) {
        const QString id = entry.fileName();
        if (id == m_id) continue;
        auto lock = MakeLock(root.filePath(id + kLockSuffix));
        // A live editor holds its lock; tryLock takes it only from a process that is gone.
        if (!lock->tryLock(0)) continue;
        claimed.push_back(std::make_unique<CClaimed>(m_root, id, std::move(lock)));
    }
    // A lock without its folder: an editor killed between the two.
    for (const QFileInfo& entry : root.entryInfoList({QStringLiteral("*") + kLockSuffix}, QDir::Files)) {
        const QString id = entry.completeBaseName();
        if (id == m_id || QFileInfo::exists(root.filePath(id))) continue;
        auto lock = MakeLock(entry.filePath());
        if (lock->tryLock(0) && !QFileInfo::exists(root.filePath(id))) lock->unlock();
    }
    return claimed;
}

QString CRecoveryFolder::MoveAside(const QString& root, const QString& file)
{
    const QFileInfo info(file);
    const QString aside =
        QDir(root).filePath(info.dir().dirName() + QLatin1Char('-') + info.fileName() + QStringLiteral(".damaged"));
    QFile::remove(aside);
    return QFile::rename(file, aside) ? aside : QString();
}

CRecoveryFolder::CClaimed::CClaimed(QString root, QString id, std::unique_ptr<QLockFile> lock)
    : m_root(std::move(root)), m_id(std::move(id)), m_lock(std::move(lock))
{
}

CRecoveryFolder::CClaimed::~CClaimed()
{
    // A folder whose documents were all recovered or discarded has served its purpose; the lock
    // goes after it, as an editor's own does.
    if (Files().isEmpty()) QDir(path()).removeRecursively();
    m_lock->unlock();
}

QString CRecoveryFolder::CClaimed::path() const
{
    return QDir(m_root).filePath(m_id);
}

QStringList CRecoveryFolder::CClaimed::Files() const
{
    const QDir folder(path());
    QStringList files;
    for (const QString& name : folder.entryList({QStringLiteral("*") + kRecoverySuffix}, QDir::Files, QDir::Name))
        files.append(folder.filePath(name));
    return files;
}
