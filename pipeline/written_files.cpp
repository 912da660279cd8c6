#include "pipeline/written_files.h"

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
    const double seconds = static_cast<double>(written.frame_count) / request.fps;
    for (const PlannedVideoStep& step : video_steps(video)) {
        if (!outcome.video.written.contains(step.file_name))
            continue;
        const bool boomerang =
            step.step == VideoStep::Boomerang || step.step == VideoStep::GifBoomerang;
        written.videos.push_back({step.step, step.file_name, boomerang ? 2 * seconds : seconds});
    }
    return written;
}
