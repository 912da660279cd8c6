#pragma once

#include <QStringList>

// The command-line face: `quorvane calibrate | process | watch | serve ...`, --help and
// --version. Without a command the program opens its window instead.

// True when the arguments ask for a command, or for the program's help or
// version, rather than the window (no argument, or only Qt's own options).
bool wants_command_line(int argc, char* argv[]);

// What the first argument after the program's name asks for.
enum class CommandName
{
    Help,
    Version,
    Calibrate,
    Process,
    Watch,
    Serve,
    Unknown, // a usage error naming the word
};
CommandName parse_command_name(const QStringList& arguments);

// Runs the command with a QCoreApplication (no display needed) and returns the
// exit status (see exit_status.h).
int run_command_line(int argc, char* argv[]);
