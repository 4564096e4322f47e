#include "shell/recent_files.h"

#include <QDir>
#include <QFileInfo>

namespace {
const QString kSection = QStringLiteral("Recent File List");
}

CRecentFileList::CRecentFileList(std::unique_ptr<QSettings> settings) : m_settings(std::move(settings))
{
    Load();
}

void CRecentFileList::Load()
{
    m_entries.clear();
    if (!m_settings) return;
    m_settings->beginGroup(kSection);
    for (int i = 1; i <= kMaxEntries; ++i) {
        const QString path = m_settings->value(QStringLiteral("File%1").arg(i)).toString();
        if (!path.isEmpty() && !m_entries.contains(path)) m_entries.append(path);
    }
    m_settings->endGroup();
}

void CRecentFileList::Save()
{
    if (!m_settings) return;
    m_settings->beginGroup(kSection);
    for (int i = 1; i <= kMaxEntries; ++i) {
        const QString key = QStringLiteral("File%1").arg(i);
        if (i <= m_entries.size()) m_settings->setValue(key, m_entries[i - 1]);
        else m_settings->remove(key);
    }
    m_settings->endGroup();
    m_settings->sync();
}

void CRecentFileList::Add(const QString& path)
{
    const QString absolute = QFileInfo(path).absoluteFilePath();
    m_entries.removeAll(absolute);
    m_entries.prepend(absolute);
    while (m_entries.size() > kMaxEntries) m_entries.removeLast();
    Save();
}

void CRecentFileList::Remove(const QString& path)
{
    if (m_entries.removeAll(path) > 0) Save();
}

QString CRecentFileList::MenuText(int index) const
{
    QString shown = QDir::toNativeSeparators(m_entries.value(index));
    if (shown.size() > kMaxMenuChars) shown = QFileInfo(m_entries.value(index)).fileName();
    shown.replace(QLatin1Char('&'), QStringLiteral("&&"));
    return QStringLiteral("&%1 %2").arg(index + 1).arg(shown);
}
