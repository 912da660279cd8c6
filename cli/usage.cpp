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
    if (!parser.parse(own))
        return usage_error(command, parser.errorText());
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
