#pragma once

#include <QCommandLineParser>
#include <QString>
#include <QStringList>

#include <optional>

// Parses `arguments` (the program, the command's name, then its options) with
// `parser`, which holds the command's options; adds --help. Prints `help` for
// --help, or the usage error and a hint on standard error. Returns the exit
// status to end with in those cases, nothing when the command should run.
std::optional<int> parse_command(QCommandLineParser& parser, const QStringList& arguments,
                                 const QString& help);

// Prints a usage error of `command` ("quorvane : process : <message>") and the
// hint to its help; returns the bad-usage exit status.
int usage_error(const QString& command, const QString& message);
