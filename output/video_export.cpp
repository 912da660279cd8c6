#include "output/video_export.h"

#include "output/ffmpeg_command.h"

#include <ostream>

namespace {

// Runs one command after logging it; on failure, why, in one line.
bool run_logged(ProcessRunner& runner, const FfmpegCommand& command, std::ostream& log,
                QString& error_line)
{
    log << "Running: " << command.display_line().toStdString() << std::endl;
    const ProcessResult result = runner.run(command.program, command.arguments, {});
    if (result.succeeded())
        return true;

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
    return false;
}

} // namespace

VideoExport export_videos(ProcessRunner& runner, const VideoRequest& request, std::ostream& log)
{
    VideoExport result;
    if (request.frame_count <= 0 || request.frame_size.isEmpty() || request.fps <= 0) {
        result.error_line = QStringLiteral("no frames to encode");
        return result;
    }
    const FfmpegCommand video =
        video_command(request.fps, request.frame_size, request.folder, request.frame_count);
    if (!run_logged(runner, video, log, result.error_line))
        return result;
    // Only after a good encode: otherwise it would reverse an older video.
    if (request.boomerang &&
        !run_logged(runner, boomerang_command(request.folder), log, result.error_line))
        return result;
    result.succeeded = true;
    return result;
}
