#include "shell/orvex_app.h"

#include "dialogs/dialog_settings.h"
#include "shell/main_frame.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QGuiApplication>
#include <QScreen>
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
    if (DialogSettings() == m_recent.settings()) SetDialogSettings(nullptr);
    // Windows closing during teardown must not call back into the dying frame.
    m_template.SetFrame(nullptr);
    m_frame.reset();
}

bool COrvexApp::InitInstance(const QStringList& arguments)
{
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
