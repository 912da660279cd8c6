#pragma once

#include <QCommandLineParser>
#include <QString>
#include <QStringList>

// How the parsing of a command's arguments ended when the command should not
// run: --help was asked, or the arguments are wrong. Parsing only reads its
// arguments; the caller prints and chooses the exit status (see end_parsed).
struct ParseOutcome
{
    bool help = false;
    QString error; // a usage error, in French, without the command's name

    bool runs() const { return !help && error.isEmpty(); }
};

// Parses `arguments` (the program, the command's name, then its options) with
// `parser`, which holds the command's options; adds --help. An option with a
// value given twice is an error, unless it is one of `repeatable`. Reads nothing
// else, writes nothing, prints nothing.
ParseOutcome parse_options(QCommandLineParser& parser, const QStringList& arguments,
                           const QStringList& repeatable = {});

// A file or folder named on the command line, made absolute against the current
// folder by hand: Qt would take a relative name starting with ':' for one of its
// built-in resources. An empty name stays empty, for the checks to report.
QString path_argument(const QString& name);

// The same for each name.
QStringList path_arguments(const QStringList& names);

// A usage error of the command's own checks.
ParseOutcome usage_problem(const QString& error);

// For an outcome that does not run: prints `help`, or the usage error of
// `command` ("quorvane : process : <message>") and the hint to its help.
// Returns the exit status to end with.
int end_parsed(const ParseOutcome& outcome, const QString& command, const QString& help);

// Prints a usage error of `command` and the hint to its help; returns the
// bad-usage exit status.
int usage_error(const QString& command, const QString& message);
