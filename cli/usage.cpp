#include "cli/usage.h"

#include "cli/console.h"
#include "cli/exit_status.h"

std::optional<int> parse_command(QCommandLineParser& parser, const QStringList& arguments,
                                 const QString& help)
{
    const QString command = arguments.value(1);
    parser.addOption({{QStringLiteral("h"), QStringLiteral("help")}, QString()});
    // The command's name is not one of its arguments.
    QStringList own = arguments;
    own.removeAt(1);
    if (!parser.parse(own)) {
        // QCommandLineParser speaks English; its two errors, in French.
        const QStringList unknown = parser.unknownOptionNames();
        if (!unknown.isEmpty())
            return usage_error(command, QStringLiteral("option inconnue : %1%2")
                                            .arg(unknown.front().size() == 1 ? "-" : "--")
                                            .arg(unknown.front()));
        const QString option = parser.errorText().section(QLatin1Char('\''), 1, 1);
        return usage_error(command, QStringLiteral("valeur manquante après %1").arg(option));
    }
    if (parser.isSet(QStringLiteral("help"))) {
        print_text(help);
        return ExitDone;
    }
    return std::nullopt;
}

int usage_error(const QString& command, const QString& message)
{
    print_error(command + QStringLiteral(" : ") + message);
    print_error(QStringLiteral("essayez « quorvane %1 --help »").arg(command));
    return ExitBadUsage;
}
