#include "pipeline/processing_run.h"

#include "output/process_runner.h"

namespace {

VideoRequest video_request_for(const ProcessingRequest& request, const AlignedImages& frames)
{
    VideoRequest video;
    video.folder = request.folder;
    video.fps = request.fps;
    video.boomerang = request.boomerang;
    video.long_side = request.long_side;
    video.gif = request.gif;
    video.frame_size = frames.common_size;
    video.frame_count = frames.frame_count;
    return video;
}

QString video_step_label(VideoStep step)
{
    switch (step) {
    case VideoStep::Video:
        return QStringLiteral("Encodage de la vidéo");
    case VideoStep::Boomerang:
        return QStringLiteral("Effet boomerang");
    case VideoStep::Gif:
    case VideoStep::GifBoomerang:
        return QStringLiteral("GIF animé");
    }
    return QString();
}

} // namespace

ProcessingFailure ProcessingOutcome::failure() const
{
    if (wrong_shot_count)
        return ProcessingFailure::WrongShotCount;
    if (!frames.unreadable_input.isEmpty())
        return ProcessingFailure::UnreadableShot;
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

ProcessingOutcome run_processing(ProcessRunner& runner, const ProcessingRequest& request,
                                 std::ostream& log, ProcessingProgress* progress)
{
    ProcessingOutcome outcome;
    outcome.folder = request.folder;
    if (request.shots.size() != request.calibration.image_count) {
        outcome.wrong_shot_count = true;
        return outcome;
    }
    outcome.frames = write_aligned_images(request.shots, request.calibration, request.folder,
                                          request.quality, progress ? &progress->frames : nullptr);
    const AlignedImages& frames = outcome.frames;
    const bool frames_complete =
        frames.unreadable_input.isEmpty() && frames.input_among_frames.isEmpty() &&
        frames.unwritable_output.isEmpty() && !frames.stopped && !frames.common_size.isEmpty();
    if (!frames_complete)
        return outcome;

    if (progress)
        progress->encoding = true;
    outcome.video = export_videos(runner, video_request_for(request, outcome.frames), log,
                                  progress ? &progress->video : nullptr);
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
    case ProcessingFailure::UnreadableShot:
        return QStringLiteral("%1 (caméra %2) : photo illisible, incomplète ou endommagée")
            .arg(file, QString::number(outcome.frames.unreadable_camera + 1));
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
               QStringLiteral("la vidéo n'a pas pu être créée. ffmpeg : ") +
               outcome.video.error_line;
    }
    return QString();
}
