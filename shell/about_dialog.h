#pragma once

#include <QDialog>

// "About Orvex": picture, version, two lines about the program, OK, and "Check for updates",
// which opens the web site in the browser without waiting for it.
class CAboutDlg : public QDialog
{
    Q_OBJECT

public:
    static inline const QString kWebSite = QStringLiteral("https://orvex.example.org/");

    explicit CAboutDlg(QWidget* parent = nullptr);

    static void CheckForUpdates();
};
