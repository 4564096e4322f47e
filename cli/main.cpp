#include "cli/cli.h"

#include <QCoreApplication>
#include <QLoggingCategory>

#include <iostream>
#include <unistd.h>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv); // image format plugins are found through the application
    // Decoders' own chatter would interleave with the tool's messages; the load error says enough.
    QLoggingCategory::setFilterRules(QStringLiteral("qt.gui.imageio*=false"));
    std::vector<std::string> args(argv + 1, argv + argc);
    return RunCli(args, std::cout, std::cerr, isatty(STDERR_FILENO) != 0);
}
