#include "cli/process_command.h"

#include "cli/console.h"
#include "cli/drift_option.h"
#include "cli/exit_status.h"
#include "cli/rig_file.h"
#include "cli/stop_signals.h"
#include "cli/terminal_progress.h"
#include "cli/video_options.h"
#include "output/ffmpeg_check.h"
#include "output/output_folder.h"
#include "output/run_files.h"
#include "pipeline/pass_drift_check.h"
#include "pipeline/processing_plan.h"
#include "pipeline/written_files.h"
#include "support/process_runner.h"

#include <QDir>
#include <QFile>
#include <QLocale>

#include <iostream>
#include <memory>

namespace {

const QString command = QStringLiteral("process");

// The files a finished run wrote, with the pictures each video plays and how
// long (repeats and holds included), as the window's closing box lists them.
void print_written_files(const ProcessingRequest& request, const ProcessingOutcome& outcome)
{
    const WrittenFiles written = written_files(request, outcome);
    std::cout << QStringLiteral("%1 images de %2 × %3 pixels (%4 à %5)")
                     .arg(written.frame_count)
                     .arg(written.frame_size.width())
                     .arg(written.frame_size.height())
                     .arg(frame_file_name(0), frame_file_name(written.frame_count - 1))
                     .toStdString()
              << '\n';
    for (const WrittenVideo& video : written.videos)
        std::cout << QStringLiteral("%1 : %2 images, %3 s")
                         .arg(video.file_name)
                         .arg(video.pictures)
                         .arg(QLocale(QLocale::French).toString(video.seconds, 'f', 2))
                         .toStdString()
                  << '\n';
    if (!written.still.isEmpty())
        std::cout << QStringLiteral("%1 : image fixe").arg(written.still).toStdString() << '\n';
    std::cout << std::flush;
}

QString help()
{
    return QStringLiteral(
               "Utilisation : quorvane process --calibration RIG.qvcal --output DOSSIER "
               "[OPTIONS VIDÉO] PHOTO...\n"
               "\n"
               "Aligne et recadre une photo par caméra, données dans l'ordre des caméras, en\n"
               "images output_img_<k>.jpg de même taille dans DOSSIER (créé s'il manque), puis\n"
               "en fait la vidéo output_video.mp4 (et, sur demande, le boomerang et les GIF),\n"
               "comme un traitement lancé depuis la fenêtre.\n"
               "\n"
               "Options :\n"
               "  --calibration RIG.qvcal fichier de calibrage (quorvane calibrate)\n"
               "  --output DOSSIER        dossier de sortie\n"
               "  -h, --help              affiche cette aide\n") +
           drift_option_help(DriftMode::Warn) + video_options_help() +
           QStringLiteral(
               "\n"
               "Statut de sortie : 0 terminé ; 1 échec (photo illisible ou incomplète, nombre\n"
               "ou taille des photos, ffmpeg, dossier de sortie) : rien n'est laissé dans le\n"
               "dossier de sortie ; 2 mauvaise utilisation ; 3 calibrage incomplet.\n");
}

// Says which cameras moved since the calibration, one line each, and which
// could not be compared, as the frames pass found them (a correction asked was
// made in the pass).
void say_cameras_in_place(const std::vector<CameraDrift>& drift, DriftMode mode)
{
    for (int camera = 0; camera < static_cast<int>(drift.size()); ++camera) {
        // Not a fault of the run: a note among the diagnostic lines.
        if (drift[camera].state == DriftState::CannotCompare)
            std::cout << cannot_compare_text(camera).toStdString() << std::endl;
        else if (drift[camera].state == DriftState::Moved)
            print_error(drift_text(camera, drift[camera]) +
                        (mode == DriftMode::Correct ? QStringLiteral(" ; corrigée") : QString()));
    }
}

// Why a run refused for a moved camera (--on-drift fail) wrote nothing.
void say_refused(const std::vector<CameraDrift>& drift)
{
    const std::size_t moved = moved_cameras(drift).size();
    const QString who = moved == 1 ? QStringLiteral("1 caméra a bougé")
                                   : QStringLiteral("%1 caméras ont bougé").arg(moved);
    print_error(who + QStringLiteral(" depuis le calibrage, rien n'a été écrit (--on-drift "
                                     "fail) ; recalibrez le banc ou choisissez --on-drift "
                                     "correct"));
}

} // namespace

ParseOutcome parse_process_arguments(const QStringList& arguments, ProcessArguments& parsed)
{
    QCommandLineParser parser;
    const QString folder_name = QStringLiteral("DOSSIER");
    add_run_options(parser, folder_name);
    add_drift_option(parser);
    const ParseOutcome outcome = parse_options(parser, arguments);
    if (!outcome.runs())
        return outcome;
    ProcessingRequest& request = parsed.request;
    const QString error =
        read_run_options(parser, folder_name, parsed.calibration, request.folder, request);
    if (!error.isEmpty())
        return usage_problem(error);
    const QString drift_error = read_drift_option(parser, parsed.on_drift);
    if (!drift_error.isEmpty())
        return usage_problem(drift_error);
    request.shots = path_arguments(parser.positionalArguments());
    if (request.shots.isEmpty())
        return usage_problem(QStringLiteral("il faut une photo par caméra"));
    return outcome;
}

int run_process_command(const QStringList& arguments)
{
    ProcessArguments parsed;
    const ParseOutcome parse = parse_process_arguments(arguments, parsed);
    if (!parse.runs())
        return end_parsed(parse, command, help());
    ProcessingRequest& request = parsed.request;

    const RigFile file = read_rig_for_processing(parsed.calibration);
    if (file.exit_status)
        return *file.exit_status;
    const ProcessingPlan plan =
        plan_processing(file.rig, request.shots, request.folder, request, true, std::cout);
    const PlanProblem& problem = plan.problem;
    switch (problem.check) {
    case PlanCheck::None:
        break;
    case PlanCheck::ShotCount:
        print_error(QStringLiteral("%1 dans '%2'").arg(plan_problem_text(problem), parsed.calibration));
        return ExitFailed;
    case PlanCheck::UnusablePhotos:
        for (const UnusablePhoto& photo : problem.unusable)
            print_unusable_photo(photo.path, photo.camera, photo.reason);
        return ExitFailed;
    case PlanCheck::Overlay:
    case PlanCheck::ShotSize:
    case PlanCheck::ShotAmongEarlierRun:
        print_error(plan_problem_text(problem));
        return ExitFailed;
    }
    request = plan.request;
    // Each shot is checked as the frames pass decodes it.
    PassDriftCheck drift_check(file.rig, parsed.on_drift);
    request.shot_check = &drift_check;

    ChildProcessRunner runner;
    const FfmpegProblem ffmpeg = ffmpeg_problem(runner);
    if (!ffmpeg.none()) {
        print_error(QStringLiteral("la vidéo ne pourrait pas être créée, rien n'a été écrit. "
                                   "ffmpeg : ") +
                    ffmpeg.line());
        return ExitFailed;
    }

    QStringList created;
    const QString folder_problem = make_folder(request.folder, &created);
    if (!folder_problem.isEmpty()) {
        print_error(QStringLiteral("'%1' : impossible de créer le dossier de sortie (%2)")
                        .arg(request.folder, folder_problem));
        return ExitFailed;
    }

    StopSignals stop_signals;
    ProcessingProgress progress(request);
    ProcessingOutcome outcome;
    run_with_progress([&] { outcome = run_processing(runner, request, std::cout, &progress); },
                      [&] { return progress.step(); }, [&] { progress.request_stop(); },
                      stop_signals);
    const bool refused = outcome.failure() == ProcessingFailure::ShotRefused;
    if (refused)
        drift_check.check_rest(request.shots);
    say_cameras_in_place(drift_check.found(), parsed.on_drift);
    if (outcome.failure() == ProcessingFailure::None) {
        print_written_files(request, outcome);
        return ExitDone;
    }

    // The run took back what it wrote; the folders made for it go too.
    if (refused)
        say_refused(drift_check.found());
    else
        print_error(failure_message(outcome));
    for (const QString& folder : created)
        QDir().rmdir(folder);
    return ExitFailed;
}
