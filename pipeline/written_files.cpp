#include "pipeline/written_files.h"

#include "output/ffmpeg_command.h"

#include <algorithm>

WrittenFiles written_files(const ProcessingRequest& request, const ProcessingOutcome& outcome)
{
    WrittenFiles written;
    written.frame_count = outcome.frames.frame_count;
    if (written.frame_count > 0)
        written.frame_size = outcome.frames.common_size;

    VideoRequest video;
    video.frame_count = written.frame_count;
    video.fps = request.fps;
    video.boomerang = request.boomerang;
    video.gif = request.gif;
    video.length = request.length;
    video.still = request.still;
    video.between = request.between;
    for (const PlannedVideoStep& step : video_steps(video)) {
        if (step.file_name.isEmpty() || !outcome.video.written.contains(step.file_name))
            continue;
        if (step.step == VideoStep::Still) {
            written.still = step.file_name;
            continue;
        }
        // A GIF plays at its own rate.
        const bool gif = step.step == VideoStep::Gif || step.step == VideoStep::GifBoomerang;
        const int fps = gif ? std::min(request.fps, gif_max_fps) : request.fps;
        written.videos.push_back(
            {step.step, step.file_name, step.played, static_cast<double>(step.played) / fps});
    }
    return written;
}
