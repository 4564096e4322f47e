#include "shell/orvex_app.h"

#include "shell/main_frame.h"

#include <QFileInfo>

namespace {
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
}

COrvexApp::~COrvexApp()
{
    // Windows closing during teardown must not call back into the dying frame.
    m_template.SetFrame(nullptr);
    m_frame.reset();
}

bool COrvexApp::InitInstance(const QStringList& arguments)
{
    m_frame = std::make_unique<CMainFrame>(*this);
    m_template.SetFrame(m_frame.get());
    for (const QString& argument : arguments)
        if (!argument.startsWith(QLatin1Char('-'))) OpenDocumentFile(argument);
    m_frame->showMaximized();
    return true;
}

CDocumentHost* COrvexApp::OpenDocumentFile(const QString& path)
{
    CDocumentHost* host = m_template.OpenDocumentFile(path);
    if (host) m_recent.Add(path);
    else m_recent.Remove(QFileInfo(path).absoluteFilePath());
    if (m_frame) m_frame->RebuildRecentFiles();
    return host;
}
