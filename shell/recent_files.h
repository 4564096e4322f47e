#pragma once

#include <QSettings>
#include <QStringList>

#include <memory>

// The most-recently-used file list, newest first, kept in the per-user settings under
// "Recent File List" as File1 .. File7.
class CRecentFileList
{
public:
    static constexpr int kMaxEntries = 7;
    // Menu texts longer than this show the file name only.
    static constexpr int kMaxMenuChars = 30;

    explicit CRecentFileList(std::unique_ptr<QSettings> settings);

    void Add(const QString& path);
    void Remove(const QString& path);
    const QStringList& entries() const { return m_entries; }
    // "&1 photo.jpg"
    QString MenuText(int index) const;
    // The store the list lives in, for the few other per-user settings.
    QSettings* settings() const { return m_settings.get(); }

private:
    void Load();
    void Save();

    std::unique_ptr<QSettings> m_settings;
    QStringList m_entries;
};
