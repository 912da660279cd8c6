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
    video.between = request.between;
    for (const PlannedVideoStep& step : video_steps(video)) {
        if (step.file_name.isEmpty() || !outcome.video.written.contains(step.file_name))
            continue;
        const int pictures = step.step == VideoStep::Boomerang ? 2 * step.frames : step.frames;
        written.videos.push_back(
            {step.step, step.file_name, pictures, static_cast<double>(pictures) / request.fps});
    }
    return written;
}
