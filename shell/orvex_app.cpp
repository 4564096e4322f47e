#include "shell/orvex_app.h"

#include "dialogs/dialog_settings.h"
#include "document/recovery_file.h"
#include "shell/document_host.h"
#include "shell/main_frame.h"
#include "shell/recovery_dlg.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QScreen>
#include <QStandardPaths>
#include <QWindow>

#include <unistd.h>

namespace {
const QString kLastFolderKey = QStringLiteral("Settings/Open Folder");
// Megabytes each document's undo history may hold in memory; beyond it the oldest states go to a
// temporary file. Absent: a quarter of the machine's memory.
const QString kHistoryLimitKey = QStringLiteral("History/MemoryLimitMB");

std::size_t HistoryLimit(const QSettings* settings)
{
    bool ok = false;
    const qlonglong megabytes = settings ? settings->value(kHistoryLimitKey).toLongLong(&ok) : 0;
    if (ok && megabytes > 0) return std::size_t(megabytes) << 20;
    if (ok && megabytes == 0) return 0;
    const long pages = sysconf(_SC_PHYS_PAGES), pageSize = sysconf(_SC_PAGESIZE);
    return pages > 0 && pageSize > 0 ? std::size_t(pages) * std::size_t(pageSize) / 4 : 0;
}

std::unique_ptr<QSettings> DefaultSettings(std::unique_ptr<QSettings> settings)
{
    if (settings) return settings;
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Orvex"),
                                       QStringLiteral("Orvex"));
}
} // namespace

COrvexApp::COrvexApp(std::unique_ptr<QSettings> settings)
    : m_recent(DefaultSettings(std::move(settings))), m_template(m_ui)
{
    // Dialogs remember their choices where the application keeps its settings.
    SetDialogSettings(m_recent.settings());
    m_template.SetHistoryLimit(HistoryLimit(m_recent.settings()));
}

COrvexApp::~COrvexApp()
{
    // Documents still unsaved here (the program is ending some way other than through its closing
    // prompts) stay recoverable: their files are brought up to date and kept.
    bool unsaved = false;
    for (CDocumentHost* host : m_template.documents()) {
        if (!host->doc().modified()) continue;
        unsaved = true;
        if (m_keeper && m_recoveryIds.contains(host)) m_keeper->WriteNow(m_recoveryIds.value(host));
    }
    // Gone before the windows, so that closing them during teardown removes no file.
    m_keeper.reset();
    if (DialogSettings() == m_recent.settings()) SetDialogSettings(nullptr);
    // Windows closing during teardown must not call back into the dying frame.
    m_template.SetFrame(nullptr);
    m_frame.reset();
    // The clean exit: nothing of this editor's is left to recover.
    if (m_recoveryFolder && !unsaved) m_recoveryFolder->Finish();
    m_recoveryFolder.reset();
}

void COrvexApp::EnableRecovery(const QString& root, CRecoveryTiming timing)
{
    m_recoveryRoot = root;
    m_recoveryTiming = timing;
}

QString COrvexApp::DefaultRecoveryRoot()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + QStringLiteral("/recovery");
}

QString COrvexApp::RecoveryFileOf(const CDocumentHost& host) const
{
    return m_keeper && m_recoveryIds.contains(&host) ? m_keeper->FileOf(m_recoveryIds.value(&host)) : QString();
}

void COrvexApp::FollowForRecovery(CDocumentHost& host)
{
    const COrvexDoc* doc = &host.doc();
    const int id = m_keeper->Track(*doc);
    m_recoveryIds.insert(&host, id);
    // Commits, Undo and Redo all end in a refresh of the views; what changed the picture tells
    // itself apart from a mere refresh by the commit count and the history's place.
    auto seen = std::make_shared<std::pair<int, int>>(host.commits, doc->history().currentIndex());
    connect(&host, &CDocumentHost::viewsUpdated, m_keeper.get(), [this, host = &host, doc, id, seen] {
        const std::pair now{host->commits, doc->history().currentIndex()};
        if (doc->modified() && now == *seen) return;
        *seen = now;
        m_keeper->Changed(id);
    });
    connect(&host, &CDocumentHost::lastViewClosed, m_keeper.get(), [this, id] { m_keeper->Forget(id); });
    connect(&host, &QObject::destroyed, m_keeper.get(), [this, id, host = &host] {
        m_keeper->Forget(id);
        m_recoveryIds.remove(host);
    });
}

namespace {
// A thumbnail by nearest sampling: the picture may be a few hundred megapixels, of which a
// thumbnail needs a few thousand.
QImage Thumbnail(const CImage& picture, int side)
{
    const double scale = std::min(1.0, double(side) / std::max(picture.width(), picture.height()));
    const int width = std::max(1, int(picture.width() * scale)), height = std::max(1, int(picture.height() * scale));
    QImage thumbnail(width, height, QImage::Format_RGB888);
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* row =
            picture.bits() + std::ptrdiff_t(std::int64_t(y) * picture.height() / height) * picture.pitch();
        uchar* out = thumbnail.scanLine(y);
        for (int x = 0; x < width; ++x) {
            const std::uint8_t* pixel = row + 3 * (std::int64_t(x) * picture.width() / width);
            out[3 * x] = pixel[2];
            out[3 * x + 1] = pixel[1];
            out[3 * x + 2] = pixel[0];
        }
    }
    return thumbnail;
}
} // namespace

void COrvexApp::RecoverAtStart()
{
    const auto claimed = m_recoveryFolder->ClaimStale();
    struct CFound
    {
        QString file;
        CRecoveryInfo info;
        CImage picture;
    };
    std::vector<CFound> found;
    QStringList damaged;
    for (const auto& folder : claimed)
        for (const QString& file : folder->Files()) {
            CFound entry;
            QString reason;
            if (ReadRecoveryFile(file, entry.info, entry.picture, &reason)) {
                entry.file = file;
                found.push_back(std::move(entry));
                continue;
            }
            const QString aside = CRecoveryFolder::MoveAside(m_recoveryRoot, file);
            damaged.append(QStringLiteral("%1: %2").arg(aside.isEmpty() ? file : aside, reason));
        }
    if (!damaged.isEmpty())
        m_ui.ShowMessage(COrvexDoc::kAppTitle,
                         QStringLiteral("A recovery file is damaged and was not opened. It was kept aside:\n%1")
                             .arg(damaged.join(QLatin1Char('\n'))),
                         IDocumentUi::Icon::Warning);
    if (found.empty()) return;

    QList<CRecoveryDlg::CEntry> entries;
    for (const CFound& entry : found)
        entries.append({entry.info.name, entry.info.path, entry.info.time,
                        Thumbnail(entry.picture, CRecoveryDlg::kThumbnailSize)});
    CRecoveryDlg dialog(entries, m_frame.get());
    dialog.exec();
    if (dialog.choice() == CRecoveryDlg::Choice::Later) return;
    for (int i = 0; i < int(found.size()); ++i) {
        if (!dialog.IsChosen(i)) continue;
        CFound& entry = found[std::size_t(i)];
        if (dialog.choice() == CRecoveryDlg::Choice::Discard) {
            QFile::remove(entry.file);
            continue;
        }
        CDocumentHost* host = m_template.OpenRecovered(std::move(entry.picture), entry.info.path, entry.info.name);
        if (!host) continue;
        const int id = m_recoveryIds.value(host);
        if (m_keeper->Adopt(id, entry.file)) continue;
        m_keeper->WriteNow(id);
        QFile::remove(entry.file);
    }
}

bool COrvexApp::InitInstance(const QStringList& arguments)
{
    if (!m_recoveryRoot.isEmpty()) {
        m_recoveryFolder = std::make_unique<CRecoveryFolder>(m_recoveryRoot);
        QString reason;
        if (m_recoveryFolder->Open(&reason)) {
            m_keeper = std::make_unique<CRecoveryKeeper>(*m_recoveryFolder, m_recoveryTiming);
            connect(&m_template, &CDocTemplate::documentAdded, m_keeper.get(),
                    [this](CDocumentHost* host) { FollowForRecovery(*host); });
        } else {
            qWarning("Recovery: %s", qPrintable(reason));
            m_recoveryFolder.reset();
        }
    }
    m_frame = std::make_unique<CMainFrame>(*this);
    m_template.SetFrame(m_frame.get());
    m_ui.SetOwner(m_frame.get());
    // The window comes first, at its final size, so that the files named below open inside its
    // work area and a message about one of them appears over it rather than on an empty screen.
    if (QScreen* screen = QGuiApplication::primaryScreen()) m_frame->setGeometry(screen->availableGeometry());
    m_frame->showMaximized();
    QElapsedTimer clock;
    clock.start();
    while (m_frame->windowHandle() && !m_frame->windowHandle()->isExposed() && clock.elapsed() < 500)
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 10);
    if (m_keeper) RecoverAtStart();
    for (const QString& argument : arguments)
        if (!argument.startsWith(QLatin1Char('-'))) OpenDocumentFile(argument);
    return true;
}

QString COrvexApp::lastOpenFolder() const
{
    QSettings* settings = m_recent.settings();
    return settings ? settings->value(kLastFolderKey).toString() : QString();
}

void COrvexApp::SetLastOpenFolder(const QString& folder)
{
    if (QSettings* settings = m_recent.settings()) settings->setValue(kLastFolderKey, folder);
}

CDocumentHost* COrvexApp::OpenDocumentFile(const QString& path)
{
    CDocumentHost* host = m_template.OpenDocumentFile(path);
    if (host) m_recent.Add(path);
    else m_recent.Remove(QFileInfo(path).absoluteFilePath());
    if (m_frame) m_frame->RebuildRecentFiles();
    return host;
}
