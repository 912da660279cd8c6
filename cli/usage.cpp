#include "cli/usage.h"

#include "cli/console.h"
#include "cli/exit_status.h"

#include <QDir>

ParseOutcome parse_options(QCommandLineParser& parser, const QStringList& arguments,
                           const QStringList& repeatable)
{
    parser.addOption({{QStringLiteral("h"), QStringLiteral("help")}, QString()});
    // The command's name is not one of its arguments.
    QStringList own = arguments;
    if (own.size() > 1)
        own.removeAt(1);
    ParseOutcome outcome;
    if (!parser.parse(own)) {
        // QCommandLineParser speaks English; its errors, in French.
        const QStringList unknown = parser.unknownOptionNames();
        const QString option = parser.errorText().section(QLatin1Char('\''), 1, 1);
        if (!unknown.isEmpty())
            outcome.error = QStringLiteral("option inconnue : %1%2")
                                .arg(unknown.front().size() == 1 ? "-" : "--")
                                .arg(unknown.front());
        else if (parser.errorText().startsWith(QLatin1String("Unexpected value")))
            outcome.error = QStringLiteral("%1 ne prend pas de valeur").arg(option);
        else
            outcome.error = QStringLiteral("valeur manquante après %1").arg(option);
        return outcome;
    }
    // A value given twice is a mistake to point out, not a choice to make
    // quietly: which of two --output folders was meant?
    QStringList seen;
    for (const QString& name : parser.optionNames()) {
        if (seen.contains(name) && !repeatable.contains(name) && !parser.values(name).isEmpty()) {
            outcome.error = QStringLiteral("--%1 donné deux fois").arg(name);
            return outcome;
        }
        seen << name;
    }
    outcome.help = parser.isSet(QStringLiteral("help"));
    return outcome;
}

ParseOutcome usage_problem(const QString& error)
{
    ParseOutcome outcome;
    outcome.error = error;
    return outcome;
}

int end_parsed(const ParseOutcome& outcome, const QString& command, const QString& help)
{
    if (!outcome.error.isEmpty())
        return usage_error(command, outcome.error);
    print_text(help);
    return ExitDone;
}

int usage_error(const QString& command, const QString& message)
{
    print_error(command + QStringLiteral(" : ") + message);
    print_error(QStringLiteral("essayez « quorvane %1 --help »").arg(command));
    return ExitBadUsage;
}

QString path_argument(const QString& name)
{
    if (name.isEmpty() || name.startsWith(QLatin1Char('/')))
        return name;
    return QDir::cleanPath(QDir::currentPath() + QLatin1Char('/') + name);
}

QStringList path_arguments(const QStringList& names)
{
    QStringList paths;
    for (const QString& name : names)
        paths << path_argument(name);
    return paths;
}
