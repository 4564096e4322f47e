#include "shell/orvex_app.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Orvex"));
    QApplication::setApplicationName(QStringLiteral("Orvex"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/orvex.svg")));

    COrvexApp app;
    app.EnableRecovery(COrvexApp::DefaultRecoveryRoot());
    if (!app.InitInstance(QApplication::arguments().mid(1))) return 1;
    return application.exec();
}
