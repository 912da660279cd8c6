#include "app/processing_launcher.h"

#include "app/delivery_form.h"
#include "app/drift_correction_view.h"

#include "app/main_window_ui.h"
#include "app/progress_view.h"
#include "app/user_dialogs.h"
#include "app/window_settings.h"
#include "output/run_files.h"
#include "photo/photo_problem.h"
#include "pipeline/camera_drift.h"
#include "pipeline/processing_plan.h"
#include "pipeline/written_files.h"
#include "support/natural_order.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QLocale>
#include <QSlider>
#include <QSpinBox>
#include <QUrl>

#include <iostream>
#include <memory>
#include <sstream>

namespace {

const QString image_filter = QStringLiteral("Images (*.jpg *.png)");

// What a step of the export is called in the window.
QString video_kind(VideoStep step)
{
    switch (step) {
    case VideoStep::InBetween:
        return QStringLiteral("Images intermédiaires");
    case VideoStep::Video:
        return QStringLiteral("Vidéo");
    case VideoStep::Boomerang:
        return QStringLiteral("Effet boomerang");
    case VideoStep::Gif:
        return QStringLiteral("GIF animé");
    case VideoStep::GifBoomerang:
        return QStringLiteral("GIF boomerang");
    case VideoStep::Still:
        return QStringLiteral("Image fixe");
    }
    return QString();
}

const QString input_error_title = QStringLiteral("Erreur de fichiers d'entrée");

// What the window says of a run that cannot start (photos are checked as the
// run reads them): the plan's wording, then that nothing was written.
QString refused_run_text(const PlanProblem& problem)
{
    return plan_problem_text(problem) + QStringLiteral(". Aucune image n'a été écrite.");
}

QString shot_count_text(int shots, int cameras)
{
    PlanProblem problem;
    problem.check = PlanCheck::ShotCount;
    problem.shot_count = shots;
    problem.camera_count = cameras;
    return refused_run_text(problem);
}

QString shot_among_frames_text(const QString& shot)
{
    PlanProblem problem;
    problem.check = PlanCheck::ShotAmongEarlierRun;
    problem.shot = shot;
    return refused_run_text(problem);
}

} // namespace

// Seconds as a French reader writes them: "0,21 s".
QString seconds_text(double seconds)
{
    return QLocale(QLocale::French).toString(seconds, 'f', 2) + QStringLiteral(" s");
}

QStringList in_camera_order(QWidget* parent, UserDialogs& dialogs, QStringList paths)
{
    if (!is_natural_order(paths) &&
        dialogs.question(parent, QStringLiteral("Ordre des images"),
                         QStringLiteral("Les images ne sont pas dans l'ordre de leurs noms de "
                                        "fichiers. Utiliser l'ordre des noms ?")))
        paths = natural_sorted(paths);
    log_camera_order(std::cout, paths);
    return paths;
}

ProcessingLauncher::ProcessingLauncher(QWidget& window, const MainWindowUi& ui,
                                       UserDialogs& dialogs, ProcessRunner& runner,
                                       WindowSettings& settings, RunWithProgress run_with_progress)
    : window(window), ui(ui), dialogs(dialogs), runner(runner), settings(settings),
      run_with_progress(std::move(run_with_progress))
{
}

void ProcessingLauncher::run(const RigCalibration& rig)
{
    // Said before any dialog, so that no choice is made for a run that cannot be.
    const QString refused = between_refusal(ui.comboBox_video_size->currentData().toInt(),
                                            ui.spinBox_between->value());
    if (!refused.isEmpty()) {
        dialogs.critical(&window, QStringLiteral("Images intermédiaires"),
                         refused.left(1).toUpper() + refused.mid(1) +
                             QStringLiteral(" : choisissez 3840, 1920 ou 1280 px."));
        return;
    }
    QStringList inputs =
        dialogs.get_open_file_names(&window, QStringLiteral("Sélectionnez des images à recadrer"),
                                    settings.last_folder("shots"), image_filter);
    if (inputs.isEmpty())
        return;
    settings.remember_folder("shots", inputs.front());
    // The shots' count and sizes are checked before the folder is asked for,
    // so that a wrong choice is not found after a second dialog.
    std::ostringstream unlogged; // the scaling is logged once the folder is chosen
    ProcessingRequest form;
    read_delivery_form(ui, form);
    const PlanProblem checked =
        plan_processing(rig, inputs, QString(), form, false, unlogged).problem;
    if (checked.check == PlanCheck::Overlay || checked.check == PlanCheck::ShotCount ||
        checked.check == PlanCheck::ShotSize) {
        dialogs.critical(&window, input_error_title, refused_run_text(checked));
        return;
    }
    inputs = in_camera_order(&window, dialogs, inputs);
    RigCalibration for_run;
    if (!checked_for_drift(rig, inputs, for_run))
        return;
    QStringList earlier_run;
    const QString folder = choose_output_folder(inputs, earlier_run);
    if (folder.isEmpty())
        return;

    // The run replaces the earlier one itself, once its own files are complete.
    // The options are read now: the window is blocked by the progress window
    // until the run ends. The worker gets its own copies of everything it reads.
    ProcessingRequest options;
    options.quality = quality_for_compression(ui.slider_compression->value());
    options.fps = ui.slider_fps->value();
    options.boomerang = ui.checkBox_boomerang->checkState() != Qt::Unchecked;
    options.long_side = ui.comboBox_video_size->currentData().toInt();
    options.gif = ui.checkBox_gif->isChecked();
    options.colour_match = ui.checkBox_colour_match->isChecked();
    options.between = ui.spinBox_between->value();
    read_delivery_form(ui, options);
    const ProcessingPlan plan = plan_processing(for_run, inputs, folder, options, false, std::cout);
    if (!plan.ready()) {
        dialogs.critical(&window, input_error_title, refused_run_text(plan.problem));
        return;
    }
    ProcessingRequest request = plan.request;

    ProcessingProgress progress(request);
    ProcessingOutcome outcome;
    run_with_progress(
        QStringLiteral("Traitement d'images"),
        [&] { outcome = run_processing(runner, request, std::cout, &progress); },
        [&](ProgressView& shown) {
            const RunStep step = progress.step();
            shown.set_progress(step.text(), step.done, step.total);
            if (shown.cancelled())
                progress.request_stop();
        });
    report_processing_run(request, outcome);
}

bool ProcessingLauncher::checked_for_drift(const RigCalibration& rig, const QStringList& shots,
                                           RigCalibration& for_run)
{
    for_run = rig;
    // It reads every shot: off the window's thread, behind a progress window.
    std::vector<CameraDrift> drift;
    run_with_progress(
        QStringLiteral("Vérification des caméras"), [&] { drift = check_drift(rig, shots); },
        [](ProgressView& shown) {
            shown.set_progress(QStringLiteral("Vérification des caméras"), 0, 0);
        });
    for (std::size_t camera = 0; camera < drift.size(); ++camera) {
        if (drift[camera].state == DriftState::CannotCompare)
            std::cout << cannot_compare_text(int(camera)).toStdString() << '\n';
    }
    const std::vector<int> moved = moved_cameras(drift);
    if (moved.empty())
        return true;
    QStringList lines;
    for (const int camera : moved) {
        lines << drift_text(camera, drift[std::size_t(camera)]);
        std::cout << lines.back().toStdString() << '\n';
    }
    // "Voir la correction ..." shows what "Corriger" would do, then asks again.
    constexpr int show_correction = 3; // its place among the box's buttons
    int chosen = show_correction;
    while (chosen == show_correction) {
        chosen = dialogs.choice(
            &window, QStringLiteral("Caméras déplacées"),
            lines.join('\n') +
                QStringLiteral("\n\nCorriger : le déplacement est compensé pour ce traitement, "
                               "le calibrage enregistré ne change pas.\nIgnorer : traiter "
                               "comme calibré."),
            {QStringLiteral("Corriger"), QStringLiteral("Ignorer"), QStringLiteral("Annuler"),
             QStringLiteral("Voir la correction ...")});
        if (chosen == show_correction) {
            DriftCorrectionView view(rig, drift, shots, &window);
            dialogs.show_view(view);
        }
    }
    if (chosen == 0)
        for_run = corrected_for_drift(rig, drift);
    // Closing the box cancels, as "Annuler" does: nothing is written.
    return chosen == 0 || chosen == 1;
}

QString ProcessingLauncher::choose_output_folder(const QStringList& inputs, QStringList& to_replace)
{
    for (;;) {
        const QString folder = dialogs.get_existing_directory(
            &window, QStringLiteral("Sélectionnez un dossier de sortie"),
            settings.last_folder("output"), QFileDialog::ShowDirsOnly);
        if (folder.isEmpty())
            return QString();
        settings.remember_folder("output", folder);
        const EarlierRun earlier_run = earlier_run_in(folder, inputs);
        const QStringList& earlier = earlier_run.files;
        to_replace = earlier;
        if (earlier.isEmpty())
            return folder;
        // Shots taken from an earlier run's frames would be lost with them.
        if (!earlier_run.shot.isEmpty()) {
            dialogs.critical(&window, input_error_title, shot_among_frames_text(earlier_run.shot));
            return QString();
        }
        const bool replace = dialogs.question(
            &window, QStringLiteral("Dossier de sortie non vide"),
            QStringLiteral("Le dossier '%1' contient déjà %2 fichier(s) d'un traitement "
                           "précédent (%3). Les remplacer ? Les autres fichiers du dossier ne "
                           "sont pas touchés.\n\nNon : choisir un autre dossier.")
                .arg(QDir::toNativeSeparators(folder), QString::number(earlier.size()),
                     earlier.size() <= 4
                         ? earlier.join(QStringLiteral(", "))
                         : earlier.mid(0, 3).join(QStringLiteral(", ")) + QStringLiteral(", …")));
        if (replace)
            return folder;
    }
}
void ProcessingLauncher::report_processing_run(const ProcessingRequest& request,
                                               const ProcessingOutcome& outcome)
{
    const AlignedImages& frames = outcome.frames;
    const VideoExport& video = outcome.video;
    switch (outcome.failure()) {
    case ProcessingFailure::None:
        report_finished_run(written_files(request, outcome), request.folder);
        break;
    case ProcessingFailure::WrongShotCount:
        dialogs.critical(&window, input_error_title,
                         shot_count_text(request.shots.size(), request.calibration.image_count));
        break;
    case ProcessingFailure::UnreadableShot: {
        // What the file shows of itself, as the command line tells it; damaged
        // data that only the decoder finds keeps the general words.
        const QString reason = photo_problem(frames.unreadable_input, false);
        dialogs.critical(
            &window, QStringLiteral("Erreur de fichiers d'entrée"),
            QStringLiteral("La photo de la caméra %1 ('%2') ne peut pas être lue : %3. "
                           "Aucune image n'a été écrite.")
                .arg(QString::number(frames.unreadable_camera + 1), frames.unreadable_input,
                     reason.isEmpty() ? QStringLiteral("fichier abîmé, incomplet ou qui n'est "
                                                       "pas une photo JPEG ou PNG")
                                      : reason));
        break;
    }
    case ProcessingFailure::ShotRefused:
        // The window checks its cameras before the run and asks; a run it
        // starts is never refused, but says so if it were.
        dialogs.critical(&window, input_error_title, failure_message(outcome));
        break;
    case ProcessingFailure::OutputFolder:
        dialogs.critical(&window, QStringLiteral("Dossier de sortie"),
                         outcome.folder_problem + QLatin1Char('.'));
        break;
    case ProcessingFailure::ShotAmongFrames:
        dialogs.critical(&window, input_error_title,
                         shot_among_frames_text(frames.input_among_frames));
        break;
    case ProcessingFailure::UnwritableFrame:
        dialogs.critical(&window, QStringLiteral("Erreur vidéo"),
                         QStringLiteral("Impossible d'écrire le fichier '%1' (%2) : la vidéo "
                                        "n'a pas été créée, le dossier est resté tel quel.")
                             .arg(frames.unwritable_output, frames.unwritable_reason));
        break;
    case ProcessingFailure::FramesStopped:
        dialogs.information(&window, QStringLiteral("Traitement annulé"),
                            QStringLiteral("Le traitement a été annulé : aucun fichier n'a été "
                                           "écrit dans le dossier de sortie."));
        break;
    case ProcessingFailure::EmptyFrames:
        dialogs.critical(&window, QStringLiteral("Erreur vidéo"),
                         QStringLiteral("Les images alignées sont vides : la vidéo n'a pas pu "
                                        "être créée. Vérifiez le calibrage et la taille des "
                                        "images d'entrée."));
        break;
    case ProcessingFailure::VideoStopped:
        dialogs.information(
            &window, QStringLiteral("Traitement annulé"),
            QStringLiteral("Le traitement a été annulé : aucun fichier n'a été écrit dans le "
                           "dossier de sortie."));
        break;
    case ProcessingFailure::VideoFailed:
        dialogs.critical(
            &window, QStringLiteral("Erreur vidéo"),
            (video.video_written()
                 ? QStringLiteral("Le fichier %1 n'a pas pu être créé.").arg(video.unfinished)
                 : QStringLiteral("La vidéo n'a pas pu être créée.")) +
                QStringLiteral(" Le dossier de sortie est resté tel quel. ffmpeg : ") +
                video.error_line);
        break;
    }
}
void ProcessingLauncher::report_finished_run(const WrittenFiles& written, const QString& folder)
{
    const QSize size = written.frame_size;
    QStringList lines;
    lines << QStringLiteral("%1 images de %2 × %3 pixels (%4 à %5)")
                 .arg(written.frame_count)
                 .arg(size.width())
                 .arg(size.height())
                 .arg(frame_file_name(0), frame_file_name(written.frame_count - 1));
    for (const WrittenVideo& video : written.videos)
        lines << QStringLiteral("%1 %2 : %3 images, %4")
                     .arg(video_kind(video.step), video.file_name)
                     .arg(video.pictures)
                     .arg(seconds_text(video.seconds));
    if (!written.still.isEmpty())
        lines << QStringLiteral("%1 %2").arg(video_kind(VideoStep::Still), written.still);
    const QString shown_folder = QDir::toNativeSeparators(folder);

    QString summary = QStringLiteral("Dernier traitement : %1 images %2 × %3")
                          .arg(written.frame_count)
                          .arg(size.width())
                          .arg(size.height());
    if (!written.videos.empty())
        summary +=
            QStringLiteral(", vidéo de %1").arg(seconds_text(written.videos.front().seconds));
    ui.label_last_run->setText(summary + QStringLiteral(", dans ") + shown_folder);

    const bool open_folder =
        dialogs.information_with_button(&window, QStringLiteral("Traitement terminé"),
                                        QStringLiteral("Fichiers écrits :\n") + lines.join('\n') +
                                            QStringLiteral("\n\nDossier : ") + shown_folder,
                                        QStringLiteral("Ouvrir le dossier"));
    if (open_folder)
        QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
}
