#include "shell/about_dialog.h"

#include <QGridLayout>
#include <QIcon>
#include <QLabel>
#include <QProcess>
#include <QPushButton>

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("About Orvex"));
    auto* layout = new QGridLayout(this);

    auto* picture = new QLabel(this);
    picture->setPixmap(QIcon(QStringLiteral(":/orvex.svg")).pixmap(QSize(98, 98)));
    picture->setFixedSize(107, 98);
    layout->addWidget(picture, 0, 0, 4, 1, Qt::AlignTop);

    layout->addWidget(new QLabel(QStringLiteral("Orvex Version 1.0.30d"), this), 0, 1);
    layout->addWidget(new QLabel(QStringLiteral("A raster image editor with live previews."), this), 1, 1);
    auto* link = new QLabel(QStringLiteral("<a href=\"%1\">%1</a>").arg(kWebSite.toHtmlEscaped()), this);
    link->setObjectName(QStringLiteral("webLink"));
    link->setTextFormat(Qt::RichText);
    link->setTextInteractionFlags(Qt::TextBrowserInteraction);
    link->setOpenExternalLinks(true);
    link->setCursor(Qt::PointingHandCursor);
    layout->addWidget(link, 2, 1);

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    layout->addWidget(ok, 0, 2, Qt::AlignTop);

    auto* updates = new QPushButton(QStringLiteral("Check for updates"), this);
    updates->setObjectName(QStringLiteral("checkForUpdates"));
    updates->setFlat(true);
    connect(updates, &QPushButton::clicked, this, &CAboutDlg::CheckForUpdates);
    layout->addWidget(updates, 3, 1, Qt::AlignRight);
}

void CAboutDlg::CheckForUpdates()
{
    // Fire and forget: a missing browser is not worth a message.
    QProcess::startDetached(QStringLiteral("xdg-open"), {kWebSite});
}
