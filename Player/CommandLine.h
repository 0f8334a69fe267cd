#pragma once

#include <QString>

// The programs take no arguments but --help and --version, answered before
// any window, display or network is touched. Returns the exit status when
// the program is to end here (0 after help or version, 2 for anything
// else, with a usage line on stderr), or -1 to run on.
int AnswerCommandLine(int argc, char** argv, const QString& name, const QString& version, const QString& description);
