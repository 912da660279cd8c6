#include "cli/command_line.h"

#include "cli/calibrate_command.h"
#include "cli/console.h"
#include "cli/exit_status.h"
#include "cli/process_command.h"
#include "cli/serve_command.h"
#include "cli/usage.h"
#include "cli/watch_command.h"

#include <QCoreApplication>
#include <QTextCodec>

#include <langinfo.h>

namespace {

const QString overview = QStringLiteral(
    "Utilisation :\n"
    "  quorvane                   ouvre la fenêtre\n"
    "  quorvane calibrate [--color yellow|pink|#RRGGBB] [--color-at X,Y] "
    "[--points K=x1,y1,x2,y2,x3,y3]... --output RIG.qvcal REFERENCE...\n"
    "  quorvane process --calibration RIG.qvcal --output DOSSIER [--on-drift MODE] "
    "[OPTIONS VIDÉO] PHOTO...\n"
    "  quorvane watch --calibration RIG.qvcal --output RACINE [--settle SECONDES] "
    "[--incomplete-after SECONDES] [--once] [--on-drift MODE] [--serve ADRESSE:PORT] "
    "[OPTIONS VIDÉO] ARRIVÉE\n"
    "  quorvane serve RACINE [--listen ADRESSE:PORT] [--title TEXTE] [--frames]\n"
    "  quorvane --help | --version\n"
    "  quorvane COMMANDE --help\n"
    "\n"
    "Commandes :\n"
    "  calibrate   calibre le banc de caméras à partir des photos étalons\n"
    "  process     aligne et recadre une série de photos, puis en fait une vidéo\n"
    "  watch       mode borne : traite chaque prise déposée dans le dossier d'arrivée\n"
    "  serve       page de partage : les invités récupèrent leur vidéo par un code QR\n"
    "\n"
    "Statut de sortie : 0 terminé, 1 échec du traitement, 2 mauvaise utilisation,\n"
    "3 calibrage incomplet.\n");

// Qt's image plugins pass on libjpeg's and libpng's own warnings ("Corrupt JPEG
// data ...", "JPEG datastream contains no image"), in English and often twice.
// A command says what went wrong in one line of its own per failure, so these
// are dropped; errors that end the program are still printed.
QtMessageHandler qt_default_handler = nullptr;

void drop_library_warnings(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    if (type == QtDebugMsg || type == QtInfoMsg || type == QtWarningMsg)
        return;
    qt_default_handler(type, context, text);
}

} // namespace

bool wants_command_line(int argc, char* argv[])
{
    if (argc < 2)
        return false;
    const QString first = QString::fromLocal8Bit(argv[1]);
    // Qt's own options (-platform, -style, ...) all start with a single dash and
    // belong to the window; a word or one of our long options is for us.
    return !first.startsWith(QLatin1Char('-')) || first == QLatin1String("--help") ||
           first == QLatin1String("-h") || first == QLatin1String("--version") ||
           first == QLatin1String("-v");
}

CommandName parse_command_name(const QStringList& arguments)
{
    const QString first = arguments.value(1);
    if (first == QLatin1String("--help") || first == QLatin1String("-h"))
        return CommandName::Help;
    if (first == QLatin1String("--version") || first == QLatin1String("-v"))
        return CommandName::Version;
    if (first == QLatin1String("calibrate"))
        return CommandName::Calibrate;
    if (first == QLatin1String("process"))
        return CommandName::Process;
    if (first == QLatin1String("watch"))
        return CommandName::Watch;
    if (first == QLatin1String("serve"))
        return CommandName::Serve;
    return CommandName::Unknown;
}

int run_command_line(int argc, char* argv[])
{
    // File names on Debian are UTF-8; a process started without a locale (a
    // service, a script) would otherwise read them, and print, as Latin-1.
    if (QLatin1String(nl_langinfo(CODESET)) == QLatin1String("ANSI_X3.4-1968"))
        QTextCodec::setCodecForLocale(QTextCodec::codecForName("UTF-8"));

    qt_default_handler = qInstallMessageHandler(drop_library_warnings);
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("quorvane"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QUORVANE_VERSION));
    const QStringList arguments = QCoreApplication::arguments();
    const QString first = arguments.value(1);

    switch (parse_command_name(arguments)) {
    case CommandName::Help:
        print_text(overview);
        return ExitDone;
    case CommandName::Version:
        print_text(QStringLiteral("quorvane %1\n").arg(QStringLiteral(QUORVANE_VERSION)));
        return ExitDone;
    case CommandName::Calibrate:
        return run_calibrate_command(arguments);
    case CommandName::Process:
        return run_process_command(arguments);
    case CommandName::Watch:
        return run_watch_command(arguments);
    case CommandName::Serve:
        return run_serve_command(arguments);
    case CommandName::Unknown:
        break;
    }
    print_error(
        QStringLiteral("commande inconnue « %1 » (calibrate, process, watch ou serve)").arg(first));
    print_error(QStringLiteral("essayez « quorvane --help »"));
    return ExitBadUsage;
}
