#pragma once

#include <iosfwd>
#include <string>
#include <vector>

// The batch tool: orvex-cli [options] INPUT OUTPUT [OPERATION ...]
//                 orvex-cli [options] INPUT... -o PATTERN [OPERATION ...]
//                 orvex-cli --list | --help | --version
enum CliExit {
    kExitOk = 0,
    kExitUsage = 1,
    kExitLoad = 2,
    kExitSave = 3,
    kExitOperation = 4,
    kExitSomeFailed = 5, // a batch (-o) where a picture failed or was not started
};

// Runs the tool with `args` (without the program name). `showProgress` draws a bar on `err`, which
// main() asks for only when stderr is a terminal.
int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, bool showProgress);
