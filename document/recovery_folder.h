#pragma once

#include <QLockFile>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

// The recovery files of one running editor live in a folder of its own under the recovery root,
// guarded by a lock file beside it (`<root>/<id>.lock`, `<root>/<id>/`) that the editor holds for
// its whole life. The lock is made before the folder and removed after it, so that a folder seen
// without a live lock belongs to an editor that is gone: its files are there to be recovered. A
// live editor's folder is never touched by another one.
class CRecoveryFolder
{
public:
    explicit CRecoveryFolder(QString root);
    // Releases the lock and leaves the files: a process that ends without Finish (a crash in
    // teardown) leaves them recoverable.
    ~CRecoveryFolder();
    CRecoveryFolder(const CRecoveryFolder&) = delete;
    CRecoveryFolder& operator=(const CRecoveryFolder&) = delete;

    // Takes the lock and makes the folder. False with the reason when either cannot be had.
    bool Open(QString* reason = nullptr);
    bool isOpen() const { return m_lock != nullptr; }
    // The clean exit: removes this editor's files, its folder and its lock.
    void Finish();

    const QString& root() const { return m_root; }
    QString path() const;
    // The recovery file of the document numbered `id`.
    QString FileFor(int id) const;

    // The folder of an editor that ended without cleaning up, held (locked) by this one while its
    // files are dealt with: no other editor takes it meanwhile.
    class CClaimed
    {
    public:
        CClaimed(QString root, QString id, std::unique_ptr<QLockFile> lock);
        // Releases the folder as it is ("Later"): its remaining files stay for a later start. An empty
        // folder is removed.
        ~CClaimed();
        QString path() const;
        // Its recovery files, oldest name first.
        QStringList Files() const;

    private:
        QString m_root;
        QString m_id;
        std::unique_ptr<QLockFile> m_lock;
    };
    // Every folder under the root whose editor is gone (its lock stale or missing), claimed. Stale
    // locks without a folder are removed on the way.
    std::vector<std::unique_ptr<CClaimed>> ClaimStale() const;

    // Where a damaged recovery file is moved so that it is never offered again but kept for a
    // look: `<root>/<folder id>-<name>.damaged`. Returns the new path, empty when the move failed
    // (the file then stays where it was, to be found damaged again).
    static QString MoveAside(const QString& root, const QString& file);

private:
    QString m_root;
    QString m_id;
    std::unique_ptr<QLockFile> m_lock;
};
