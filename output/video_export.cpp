#include "output/video_export.h"

#include "output/ffmpeg_command.h"

#include <QFile>

#include <algorithm>
#include <ostream>

namespace {

enum class Ending
{
    Succeeded,
    Failed,
    Stopped,
};

bool stop_requested(const BatchProgress* progress)
{
    return progress && progress->stop_requested();
}

// Runs one command after logging it, counting the frames it reports into
// `progress` up to `frames`. On failure, why, in one line.
Ending run_logged(ProcessRunner& runner, const FfmpegCommand& command, int frames,
                  BatchProgress* progress, std::ostream& log, QString& error_line)
{
    if (stop_requested(progress))
        return Ending::Stopped;
    log << "Running: " << command.display_line().toStdString() << std::endl;

    int counted = 0;
    const auto on_line = [&](const QString& line) {
        const int encoded = std::min(encoded_frames(line), frames);
        for (; progress && counted < encoded; ++counted)
            progress->image_done();
    };
    const ProcessResult result = runner.run(command.program, command.arguments, on_line,
                                            [progress] { return stop_requested(progress); });
    if (result.stopped) {
        // Only the file this command was writing: it is cut short.
        QFile::remove(command.output_file);
        return Ending::Stopped;
    }
    if (result.succeeded())
        return Ending::Succeeded;

    const QString last_line = result.error_tail.section('\n', -1);
    if (!result.started)
        error_line = command.program + " could not be started: " + result.start_error;
    else if (result.crashed)
        error_line =
            command.program + " crashed" + (last_line.isEmpty() ? QString() : ": " + last_line);
    else if (!last_line.isEmpty())
        error_line = last_line;
    else
        error_line = command.program + " ended with exit code " + QString::number(result.exit_code);
    return Ending::Failed;
}

} // namespace

VideoExport export_videos(ProcessRunner& runner, const VideoRequest& request, std::ostream& log,
                          BatchProgress* progress)
{
    VideoExport result;
    if (request.frame_count <= 0 || request.frame_size.isEmpty() || request.fps <= 0) {
        result.error_line = QStringLiteral("no frames to encode");
        return result;
    }
    const FfmpegCommand video =
        video_command(request.fps, request.frame_size, request.folder, request.frame_count);
    Ending ending =
        run_logged(runner, video, request.frame_count, progress, log, result.error_line);
    result.video_written = ending == Ending::Succeeded;
    // Only after a good encode: otherwise it would reverse an older video.
    if (ending == Ending::Succeeded && request.boomerang) {
        ending = run_logged(runner, boomerang_command(request.folder), 2 * request.frame_count,
                            progress, log, result.error_line);
    }
    result.succeeded = ending == Ending::Succeeded;
    result.stopped = ending == Ending::Stopped;
    return result;
}

VideoProgressStep video_progress_step(const VideoRequest& request, int frames_done)
{
    VideoProgressStep step;
    const int video_frames = std::max(request.frame_count, 0);
    step.boomerang = request.boomerang && frames_done > video_frames;
    step.total = step.boomerang ? 2 * video_frames : video_frames;
    step.done =
        std::clamp(step.boomerang ? frames_done - video_frames : frames_done, 0, step.total);
    return step;
}

int encoded_frames(const QString& line)
{
    const QString prefix = QStringLiteral("frame=");
    if (!line.startsWith(prefix))
        return -1;
    int at = prefix.size();
    while (at < line.size() && line[at] == ' ')
        ++at;
    int digits = 0;
    long long value = 0;
    for (; at < line.size() && line[at] >= '0' && line[at] <= '9'; ++at, ++digits) {
        value = 10 * value + (line[at].unicode() - '0');
        if (value > 1000000000)
            return -1;
    }
    return digits > 0 ? static_cast<int>(value) : -1;
}
