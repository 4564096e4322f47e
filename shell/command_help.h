#pragma once

#include <QString>

// What a command does, in a sentence or two, for the help page: every command of the table has
// one, including those that are not available yet.
QString CommandHelp(int id);
