#include "pipeline/processing_run.h"

#include "output/output_folder.h"
#include "output/run_files.h"
#include "support/file_lock.h"
#include "support/process_runner.h"

#include <QFileInfo>

#include <thread>

namespace {

VideoRequest video_request_for(const ProcessingRequest& request, const AlignedImages& frames)
{
    VideoRequest video;
    video.folder = request.folder;
    video.fps = request.fps;
    video.boomerang = request.boomerang;
    video.long_side = request.long_side;
    video.gif = request.gif;
    video.overlay = request.overlay;
    video.length = request.length;
    video.still = request.still;
    video.between = request.between;
    video.frame_size = frames.common_size;
    video.frame_count = frames.frame_count;
    return video;
}

QString video_step_label(VideoStep step)
{
    switch (step) {
    case VideoStep::InBetween:
        return QStringLiteral("Images intermédiaires");
    case VideoStep::Video:
        return QStringLiteral("Encodage de la vidéo");
    case VideoStep::Boomerang:
        return QStringLiteral("Effet boomerang");
    case VideoStep::Gif:
    case VideoStep::GifBoomerang:
        return QStringLiteral("GIF animé");
    case VideoStep::Still:
        return QStringLiteral("Image fixe");
    }
    return QString();
}

} // namespace

ProcessingFailure ProcessingOutcome::failure() const
{
    if (wrong_shot_count)
        return ProcessingFailure::WrongShotCount;
    if (!folder_problem.isEmpty())
        return ProcessingFailure::OutputFolder;
    if (!frames.unreadable_input.isEmpty())
        return ProcessingFailure::UnreadableShot;
    if (frames.refused_camera >= 0)
        return ProcessingFailure::ShotRefused;
    if (!frames.input_among_frames.isEmpty())
        return ProcessingFailure::ShotAmongFrames;
    if (!frames.unwritable_output.isEmpty())
        return ProcessingFailure::UnwritableFrame;
    if (frames.stopped)
        return ProcessingFailure::FramesStopped;
    if (frames.common_size.isEmpty())
        return ProcessingFailure::EmptyFrames;
    if (video.stopped)
        return ProcessingFailure::VideoStopped;
    if (!video.succeeded)
        return ProcessingFailure::VideoFailed;
    return ProcessingFailure::None;
}

QString ProcessingOutcome::failed_file() const
{
    if (!frames.unreadable_input.isEmpty())
        return frames.unreadable_input;
    if (!frames.input_among_frames.isEmpty())
        return frames.input_among_frames;
    if (!frames.unwritable_output.isEmpty())
        return frames.unwritable_output;
    if (failure() == ProcessingFailure::VideoFailed && !video.unfinished.isEmpty())
        return folder + QLatin1Char('/') + video.unfinished;
    return QString();
}

ProcessingProgress::ProcessingProgress(const ProcessingRequest& request)
    : shot_count(request.shots.size())
{
    // The frame count is only known once the frames are written; until then the
    // video steps read against one frame per shot.
    AlignedImages frames;
    frames.frame_count = shot_count;
    video_request = video_request_for(request, frames);
}

RunStep ProcessingProgress::step() const
{
    if (!encoding)
        return {QStringLiteral("Écriture des images"), frames.done(), shot_count};
    const VideoProgressStep step = video_progress_step(video_request, video.done());
    return {video_step_label(step.step), step.done, step.total};
}

void ProcessingProgress::request_stop()
{
    frames.request_stop();
    video.request_stop();
}

namespace {

// A path the staged run reported, as it will stand in the folder.
QString in_folder(const QString& folder, const QString& staged)
{
    return staged.isEmpty() ? staged : folder + QLatin1Char('/') + QFileInfo(staged).fileName();
}

// The files of `outcome` complete in the staging folder.
QStringList run_names(const ProcessingOutcome& outcome)
{
    QStringList names;
    for (int k = 0; k < outcome.frames.frame_count; ++k)
        names << frame_file_name(k);
    return names + outcome.video.written;
}

} // namespace

ProcessingOutcome run_processing(ProcessRunner& runner, const ProcessingRequest& request,
                                 std::ostream& log, ProcessingProgress* progress)
{
    ProcessingOutcome outcome;
    outcome.folder = request.folder;
    if (request.shots.size() != request.calibration.image_count) {
        outcome.wrong_shot_count = true;
        return outcome;
    }
    // Shots among the earlier run's files would be lost when it is replaced.
    const QString shot =
        path_among(request.shots, request.folder, earlier_run_files(request.folder));
    if (!shot.isEmpty()) {
        outcome.frames.input_among_frames = shot;
        return outcome;
    }
    // Held until the run returns: another run into this folder, from another
    // window, the command line or a second booth, is refused rather than let
    // clear this one's staged files. A lock that cannot be made (a folder that
    // cannot be written to) is left to the checks below, which say why.
    ExclusiveFileLock lock(request.folder + QLatin1Char('/') + run_lock_file_name);
    if (lock.try_lock() == ExclusiveFileLock::Outcome::HeldElsewhere) {
        outcome.folder_busy = true;
        outcome.folder_problem =
            QStringLiteral("'%1' : un autre traitement écrit déjà dans ce dossier ; attendez "
                           "qu'il finisse ou choisissez un autre dossier")
                .arg(request.folder);
        return outcome;
    }
    outcome.folder_problem = clear_run_leftovers(request.folder);
    if (!outcome.folder_problem.isEmpty())
        return outcome;
    const QString staging = request.folder + QLatin1Char('/') + staging_folder_name;
    const QString made = make_folder(staging);
    if (!made.isEmpty()) {
        outcome.folder_problem =
            QStringLiteral("'%1' : impossible de créer le dossier (%2)").arg(staging, made);
        return outcome;
    }

    // The videos are fed from the frames kept as they are written: no video
    // step decodes a frame file again.
    VideoFrames kept;
    kept.long_side = request.long_side;
    kept.gif = request.gif;
    kept.aspect = request.aspect;
    kept.column_x = request.sticker_column_x;
    kept.between = request.between;
    FrameArrival arrival;
    kept.arrival = &arrival;
    const auto complete = [](const AlignedImages& frames) {
        return frames.unreadable_input.isEmpty() && frames.refused_camera < 0 &&
               frames.input_among_frames.isEmpty() &&
               frames.unwritable_output.isEmpty() && !frames.stopped &&
               !frames.common_size.isEmpty();
    };
    // With colour matching, each camera's gains are estimated in the frames
    // pass from the shot it decodes anyway, and applied as its frame is written.
    std::vector<ColourGains> colour_gains;
    std::thread frames_step([&] {
        outcome.frames = write_aligned_images(
            request.shots, request.calibration, staging, request.quality,
            progress ? &progress->frames : nullptr, &kept, {},
            request.colour_match ? &colour_gains : nullptr, request.shot_check);
        if (progress && complete(outcome.frames))
            progress->encoding = true;
    });
    const auto export_for = [&](const AlignedImages& frames, FrameArrival* arriving) {
        VideoRequest video = video_request_for(request, frames);
        video.folder = staging;
        video.kept = &kept;
        video.clip = kept.clip;
        video.arriving = arriving;
        outcome.video = export_videos(runner, video, log, progress ? &progress->video : nullptr);
        if (outcome.video.full_folder == staging)
            outcome.video.full_folder = request.folder;
    };
    // A video fed from the reduced pictures starts on the first frames while
    // the others are written; at the frames' own size, or with in-between
    // frames (made from all the frames), it waits for them all.
    AlignedImages expected;
    bool overlapped = false;
    if (request.between <= 0 &&
        arrival.wait_begun(expected.common_size, expected.frame_count) && kept.video.kept()) {
        overlapped = true;
        export_for(expected, &arrival);
    }
    frames_step.join();
    log_colour_gains(colour_gains, log);
    AlignedImages& frames = outcome.frames;
    frames.unwritable_output = in_folder(request.folder, frames.unwritable_output);
    if (!overlapped && complete(frames))
        export_for(frames, nullptr);
    const QString problem = outcome.failure() == ProcessingFailure::None
                                ? replace_run(request.folder, staging, run_names(outcome))
                                : QString();
    // What a failed or stopped run, or a failed swap, has not moved goes; the
    // run's own failure is the one worth telling.
    clear_staging(staging);
    outcome.folder_problem = problem;
    return outcome;
}

QString failure_message(const ProcessingOutcome& outcome)
{
    const QString file = QStringLiteral("'%1'").arg(outcome.failed_file());
    switch (outcome.failure()) {
    case ProcessingFailure::None:
        return QString();
    case ProcessingFailure::WrongShotCount:
        return QStringLiteral("il faut une photo par caméra du calibrage");
    case ProcessingFailure::OutputFolder:
        return outcome.folder_problem;
    case ProcessingFailure::UnreadableShot:
        return QStringLiteral("%1 (caméra %2) : photo illisible, incomplète ou endommagée")
            .arg(file, QString::number(outcome.frames.unreadable_camera + 1));
    case ProcessingFailure::ShotRefused:
        return QStringLiteral("caméra %1 : elle a bougé depuis le calibrage, rien n'a été écrit")
            .arg(outcome.frames.refused_camera + 1);
    case ProcessingFailure::ShotAmongFrames:
        return file + QStringLiteral(" : c'est une des photos d'entrée, elle serait remplacée "
                                     "par une image recadrée");
    case ProcessingFailure::UnwritableFrame:
        return file + QStringLiteral(" : impossible d'écrire le fichier (%1)")
                          .arg(outcome.frames.unwritable_reason);
    case ProcessingFailure::FramesStopped:
    case ProcessingFailure::VideoStopped:
        return QStringLiteral("traitement interrompu");
    case ProcessingFailure::EmptyFrames:
        return QStringLiteral("les images alignées sont vides : vérifiez le calibrage et la "
                              "taille des photos");
    case ProcessingFailure::VideoFailed:
        // The file ffmpeg was making, when it got as far as starting one.
        return (outcome.failed_file().isEmpty() ? QString() : file + QStringLiteral(" : ")) +
               QStringLiteral("la vidéo n'a pas pu être créée") +
               (outcome.video.full_folder.isEmpty() ? QString()
                                                    : QStringLiteral(", le dossier '%1' est plein")
                                                          .arg(outcome.video.full_folder)) +
               QStringLiteral(". ffmpeg : ") + outcome.video.error_line;
    }
    return QString();
}
