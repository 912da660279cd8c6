#include "cli/drift_option.h"

namespace {

const QString option = QStringLiteral("on-drift");

QString mode_name(DriftMode mode)
{
    switch (mode) {
    case DriftMode::Warn:
        return QStringLiteral("warn");
    case DriftMode::Correct:
        return QStringLiteral("correct");
    case DriftMode::Fail:
        break;
    }
    return QStringLiteral("fail");
}

} // namespace

void add_drift_option(QCommandLineParser& parser)
{
    parser.addOption({option, QString(), QStringLiteral("MODE")});
}

QString read_drift_option(const QCommandLineParser& parser, DriftMode& mode)
{
    if (!parser.isSet(option))
        return {};
    const QString value = parser.value(option);
    for (DriftMode known : {DriftMode::Warn, DriftMode::Correct, DriftMode::Fail}) {
        if (value == mode_name(known)) {
            mode = known;
            return {};
        }
    }
    return QStringLiteral("--on-drift attend warn, correct ou fail, pas « %1 »").arg(value);
}

QString drift_option_help(DriftMode default_mode)
{
    return QStringLiteral(
               "  --on-drift MODE         caméra qui a bougé depuis le calibrage (plus de 1 px\n"
               "                          aux coins de l'image) : warn la signale, correct la\n"
               "                          signale et corrige sa position, fail refuse (%1)\n")
        .arg(mode_name(default_mode));
}
