#include "cli/watch_command.h"

#include "cli/console.h"
#include "cli/drift_option.h"
#include "cli/exit_status.h"
#include "cli/rig_file.h"
#include "cli/serve_command.h"
#include "cli/stop_signals.h"
#include "cli/terminal_progress.h"
#include "cli/video_options.h"
#include "output/ffmpeg_check.h"
#include "output/output_folder.h"
#include "support/process_runner.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>

#include <cmath>
#include <iostream>

namespace {

const QString command = QStringLiteral("watch");

// How often the inbox is looked at while nothing is ready.
constexpr int look_interval_ms = 500;

QString help()
{
    return QStringLiteral(
               "Utilisation : quorvane watch --calibration RIG.qvcal --output RACINE "
               "[--settle SECONDES] [--incomplete-after SECONDES] [--once] [--on-drift MODE] "
               "[--serve ADRESSE:PORT] [OPTIONS VIDÉO] ARRIVÉE\n"
               "\n"
               "Mode borne : chaque sous-dossier d'ARRIVÉE est une prise, une photo par caméra\n"
               "(JPEG ou PNG, dans l'ordre naturel des noms : cam2 avant cam10). Dès qu'une prise\n"
               "est complète et n'a plus changé depuis --settle secondes, ses images et ses\n"
               "vidéos sont écrites dans RACINE/<prise>/, puis le fichier .termine en dernier.\n"
               "Une prise à laquelle il manque des photos (une caméra qui ne s'est pas\n"
               "déclenchée) échoue après --incomplete-after secondes sans changement, avec le\n"
               "compte et le nom probable de la photo manquante.\n"
               "Une prise en échec reçoit RACINE/<prise>/erreur.txt et n'est retentée que si\n"
               "ses photos changent ; en panne de la machine (ffmpeg, disque plein), elle est\n"
               "retentée plus tard. Seul ce que la borne a écrit est effacé : un dossier de\n"
               "RACINE qui contient d'autres fichiers, un fichier ou un lien à la place d'une\n"
               "prise la bloque. S'arrête proprement sur SIGINT ou SIGTERM.\n"
               "\n"
               "Options :\n"
               "  --calibration RIG.qvcal fichier de calibrage (quorvane calibrate)\n"
               "  --output RACINE         dossier des prises traitées\n"
               "  --settle SECONDES       temps sans changement avant de traiter une prise (2)\n"
               "  --incomplete-after SECONDES\n"
               "                          attente d'une prise incomplète avant son échec (30)\n"
               "  --once                  traite ce qui est prêt, puis s'arrête\n"
               "  --serve ADRESSE:PORT    sert aussi la page de partage des prises de RACINE\n"
               "                          (comme quorvane serve), dans le même processus\n"
               "  -h, --help              affiche cette aide\n") +
           drift_option_help(DriftMode::Correct) + video_options_help() +
           QStringLiteral("\n"
                          "Statut de sortie : 0 arrêté proprement ; 1 calibrage illisible, "
                          "dossier inutilisable, ffmpeg absent\n"
                          "ou, avec --once, une prise bloquée ;\n"
                          "2 mauvaise utilisation ; 3 calibrage incomplet.\n");
}

// `path` with its links resolved, for a path that may not exist yet: the part
// that exists is resolved, the rest kept as written.
QString resolved_path(const QString& path)
{
    QString existing = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    QString rest;
    while (!QFileInfo::exists(existing)) {
        const int slash = existing.lastIndexOf(QLatin1Char('/'));
        if (slash <= 0)
            return QDir::cleanPath(path);
        rest.prepend(existing.mid(slash));
        existing.truncate(slash);
    }
    return QFileInfo(existing).canonicalFilePath() + rest;
}

bool inside(const QString& path, const QString& folder)
{
    const QString resolved = resolved_path(path);
    const QString base = QFileInfo(folder).canonicalFilePath();
    return !base.isEmpty() && (resolved == base || resolved.startsWith(base + QLatin1Char('/')));
}

} // namespace

ParseOutcome parse_watch_arguments(const QStringList& arguments, WatchArguments& parsed)
{
    QCommandLineParser parser;
    const QString root_name = QStringLiteral("RACINE");
    add_run_options(parser, root_name);
    parser.addOption({QStringLiteral("settle"), QString(), QStringLiteral("SECONDES")});
    parser.addOption({QStringLiteral("once"), QString()});
    parser.addOption({QStringLiteral("incomplete-after"), QString(), QStringLiteral("SECONDES")});
    parser.addOption({QStringLiteral("serve"), QString(), QStringLiteral("ADRESSE:PORT")});
    add_drift_option(parser);
    const ParseOutcome outcome = parse_options(parser, arguments);
    if (!outcome.runs())
        return outcome;

    BoothSettings& settings = parsed.settings;
    const QString error =
        read_run_options(parser, root_name, parsed.calibration, settings.root, settings.run);
    if (!error.isEmpty())
        return usage_problem(error);
    const QStringList inboxes = parser.positionalArguments();
    if (inboxes.size() != 1)
        return usage_problem(QStringLiteral("il faut un seul dossier d'arrivée"));
    settings.inbox = path_argument(inboxes.front());
    if (parser.isSet(QStringLiteral("settle"))) {
        bool ok = false;
        const double seconds = parser.value(QStringLiteral("settle")).toDouble(&ok);
        if (!ok || !std::isfinite(seconds) || seconds < 0 || seconds > 3600)
            return usage_problem(
                QStringLiteral("--settle attend un nombre de secondes de 0 à 3600"));
        settings.settle_ms = std::llround(seconds * 1000);
    }
    if (parser.isSet(QStringLiteral("incomplete-after"))) {
        bool ok = false;
        const double seconds = parser.value(QStringLiteral("incomplete-after")).toDouble(&ok);
        if (!ok || !std::isfinite(seconds) || seconds < 0 || seconds > 3600)
            return usage_problem(
                QStringLiteral("--incomplete-after attend un nombre de secondes de 0 à 3600"));
        settings.incomplete_after_ms = std::llround(seconds * 1000);
    }
    parsed.once = parser.isSet(QStringLiteral("once"));
    if (parser.isSet(QStringLiteral("serve"))) {
        ListenAddress address;
        const QString serve_error = read_listen_value(
            QStringLiteral("serve"), parser.value(QStringLiteral("serve")), address);
        if (!serve_error.isEmpty())
            return usage_problem(serve_error);
        parsed.serve = address;
    }
    const QString drift_error = read_drift_option(parser, settings.on_drift);
    if (!drift_error.isEmpty())
        return usage_problem(drift_error);
    return outcome;
}

int run_watch_command(const QStringList& arguments)
{
    WatchArguments parsed;
    const ParseOutcome parse = parse_watch_arguments(arguments, parsed);
    if (!parse.runs())
        return end_parsed(parse, command, help());
    BoothSettings& settings = parsed.settings;

    const RigFile file = read_rig_for_processing(parsed.calibration);
    if (file.exit_status)
        return *file.exit_status;
    settings.rig = file.rig;
    if (!QFileInfo(settings.inbox).isDir()) {
        print_error(QStringLiteral("'%1' : dossier d'arrivée introuvable").arg(settings.inbox));
        return ExitFailed;
    }
    // Output folders inside the inbox would be taken for takes. Refused before
    // RACINE is made, so that no empty folder is left in the inbox.
    if (inside(settings.root, settings.inbox))
        return usage_error(command, QStringLiteral("RACINE ne peut pas être dans le dossier "
                                                   "d'arrivée"));
    // The output folder of a take named like the inbox would be the inbox itself.
    if (inside(settings.inbox, settings.root))
        return usage_error(command, QStringLiteral("le dossier d'arrivée ne peut pas être dans "
                                                   "RACINE"));
    ChildProcessRunner runner;
    const FfmpegProblem ffmpeg = ffmpeg_problem(runner);
    if (!ffmpeg.none()) {
        print_error(QStringLiteral("ffmpeg ne peut pas être lancé (%1)").arg(ffmpeg.reason()));
        return ExitFailed;
    }
    const QString root_problem = make_folder(settings.root);
    if (!root_problem.isEmpty()) {
        print_error(QStringLiteral("'%1' : impossible de créer le dossier de sortie (%2)")
                        .arg(settings.root, root_problem));
        return ExitFailed;
    }

    StopSignals stop_signals;
    // The sharing page runs on threads of its own and stops with the booth.
    std::optional<ShareServer> server;
    if (parsed.serve) {
        const ShareSettings sharing{settings.root, *parsed.serve, default_share_title(),
                                    booth_take_file_rules(false)};
        server.emplace(sharing, stdout);
        if (!start_sharing(*server, sharing))
            return ExitFailed;
    }
    Booth booth(settings, runner, std::cout);
    // With --once, a take held back by its folder in RACINE or by the machine
    // makes the exit status say that not everything was done.
    bool held_back = false;
    bool machine_failed = false;
    while (!stop_signals.stop_requested()) {
        for (const TakeFolder& take : booth.ready_takes(QDateTime::currentDateTime())) {
            if (stop_signals.stop_requested())
                break;
            ProcessingProgress progress(booth.run_for(take));
            TakeReport report;
            QElapsedTimer clock;
            clock.start();
            run_with_progress([&] { report = booth.process(take, progress); },
                              [&] { return progress.step(); }, [&] { progress.request_stop(); },
                              stop_signals);
            for (const QString& line : report.drift_lines)
                print_error(QStringLiteral("prise « %1 » : %2").arg(take.name, line));
            if (report.done) {
                std::cout << "Take done: " << take.name.toStdString() << " ("
                          << clock.elapsed() / 1000.0 << " s)" << std::endl;
                continue;
            }
            // Said, so that the owner who stopped the booth knows which take
            // the next start does again.
            if (report.abandoned) {
                std::cout << "Take stopped: " << take.name.toStdString()
                          << " (done again at the next start)" << std::endl;
                continue;
            }
            const bool machine = report.fault == TakeFault::Machine;
            held_back = held_back || report.fault != TakeFault::Take;
            if (!report.already_said)
                print_error(QStringLiteral("prise « %1 » : %2%3")
                                .arg(take.name, report.error,
                                     machine && !parsed.once
                                         ? QStringLiteral(" ; nouvel essai dans %1 s")
                                               .arg(machine_retry_ms / 1000)
                                         : QString()));
            // The next take would meet the same machine.
            machine_failed = machine_failed || machine;
            if (machine)
                break;
        }
        // --once waits for the takes that are only settling, and no longer once
        // the machine failed.
        if (parsed.once && (machine_failed || booth.settling_takes() == 0)) {
            // Left for a later run: said, so that an exit with nothing done is
            // never silent about why.
            for (const auto& [take, why] : booth.waiting_takes())
                std::cout << "Take waiting: " << take.toStdString() << " (" << why.toStdString()
                          << ")" << std::endl;
            break;
        }
        stop_signals.wait_for_stop(look_interval_ms);
    }
    return parsed.once && held_back ? ExitFailed : ExitDone;
}
