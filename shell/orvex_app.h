#pragma once

#include "document/recovery_keeper.h"
#include "shell/doc_template.h"
#include "shell/document_ui.h"
#include "shell/main_frame.h"
#include "shell/recent_files.h"

#include <QHash>
#include <QObject>
#include <QSettings>
#include <QStringList>

#include <memory>

class CDocumentHost;

// The application: settings and recent-file list, the document template, the main window and the
// command line. One for the program's whole life.
class COrvexApp : public QObject, public IFrameApp
{
    Q_OBJECT

public:
    // `settings` null: the per-user store of the platform.
    explicit COrvexApp(std::unique_ptr<QSettings> settings = nullptr);
    ~COrvexApp() override;

    // Builds the main window and opens the picture files named in `arguments` (program name
    // excluded). Without a file there is no document. The window is shown maximized. With recovery
    // enabled, documents that an editor which ended abnormally left unsaved are offered first.
    bool InitInstance(const QStringList& arguments);

    // Keeps a recovery file of every modified document under `root`, in a folder of this editor's
    // own, written after `timing`'s quiet period or count of changes. Before InitInstance.
    void EnableRecovery(const QString& root, CRecoveryTiming timing = {});
    // Where the editor keeps recovery files: the per-user application data folder's "recovery".
    static QString DefaultRecoveryRoot();
    CRecoveryKeeper* recoveryKeeper() const { return m_keeper.get(); }
    CRecoveryFolder* recoveryFolder() const { return m_recoveryFolder.get(); }
    // The recovery file a document has while it is modified (empty without recovery).
    QString RecoveryFileOf(const CDocumentHost& host) const;

    // Opens a picture in a document window and records it in the recent-file list; a file that
    // cannot be opened leaves the list.
    CDocumentHost* OpenDocumentFile(const QString& path) override;

    CMainFrame* mainFrame() const { return m_frame.get(); }
    CDocTemplate& docTemplate() override { return m_template; }
    CRecentFileList& recentFiles() override { return m_recent; }

    // The folder the Open dialog starts in: where the last file opened through it was.
    QString lastOpenFolder() const override;
    void SetLastOpenFolder(const QString& folder) override;

private:
    void FollowForRecovery(CDocumentHost& host);
    // The recovery dialog, when an editor that ended abnormally left documents behind.
    void RecoverAtStart();

    CDocumentUi m_ui;
    CRecentFileList m_recent;
    // Declared before the frame so that every window has gone when the documents are deleted.
    CDocTemplate m_template;
    std::unique_ptr<CMainFrame> m_frame;

    QString m_recoveryRoot;
    CRecoveryTiming m_recoveryTiming;
    std::unique_ptr<CRecoveryFolder> m_recoveryFolder;
    std::unique_ptr<CRecoveryKeeper> m_keeper;
    QHash<const CDocumentHost*, int> m_recoveryIds;
};
