#include "output/in_between_pictures.h"

#include "output/in_between_frames.h"

#include <opencv2/imgproc.hpp>

namespace {

// The flow works on BGR; the video's pictures are kept as yuv420p, half the bytes.
cv::Mat bgr_of(const cv::Mat& picture, RawLayout layout)
{
    if (layout == RawLayout::Bgr24)
        return picture;
    cv::Mat bgr;
    cv::cvtColor(picture, bgr, cv::COLOR_YUV2BGR_I420);
    return bgr;
}

bool all_kept(const KeptFrames& frames, int frame_count)
{
    if (!frames.kept() || frames.pictures.size() < std::size_t(frame_count))
        return false;
    for (int k = 0; k < frame_count; ++k)
        if (frames.pictures[std::size_t(k)].empty())
            return false;
    return true;
}

} // namespace

namespace {

InBetweenEnding make_pictures(const VideoFrames& kept, int frame_count, int between,
                              InBetweenPictures& made, BatchProgress* progress)
{
    made.between = between;
    if (between <= 0 || frame_count < 2)
        return InBetweenEnding::Made;
    if (!all_kept(kept.video, frame_count))
        return InBetweenEnding::NoFrames;
    const int pairs = frame_count - 1;
    const std::size_t count = std::size_t(pairs) * std::size_t(between);
    made.video = KeptFrames{kept.video.size, kept.video.layout, std::vector<cv::Mat>(count)};
    if (kept.gif_frames.kept())
        made.gif = KeptFrames{kept.gif_frames.size, kept.gif_frames.layout,
                              std::vector<cv::Mat>(count)};

    // Each frame is converted once: the second of a pair is the first of the next.
    cv::Mat first = bgr_of(kept.video.pictures[0], kept.video.layout);
    for (int pair = 0; pair < pairs; ++pair) {
        if (progress && progress->stop_requested()) {
            made = InBetweenPictures{};
            return InBetweenEnding::Stopped;
        }
        cv::Mat second = bgr_of(kept.video.pictures[std::size_t(pair) + 1], kept.video.layout);
        const std::vector<cv::Mat> frames = in_between_frames(first, second, between);
        for (int j = 0; j < between; ++j) {
            const int index = pair * between + j;
            keep_picture(made.video, index, frames[std::size_t(j)]);
            // The GIF's pictures come from the video's, as its frames do.
            if (made.gif.kept())
                keep_picture(made.gif, index, frames[std::size_t(j)]);
            if (progress)
                progress->image_done();
        }
        first = second;
    }
    return InBetweenEnding::Made;
}

} // namespace

InBetweenEnding make_in_between_pictures(const VideoFrames& kept, int frame_count, int between,
                                         InBetweenPictures& made, BatchProgress* progress)
{
    made = InBetweenPictures{};
    // The step runs on a worker thread whose caller expects an ending, not an
    // exception: a frame too large for memory fails the run with its reason.
    try {
        return make_pictures(kept, frame_count, between, made, progress);
    } catch (const std::exception& error) {
        made = InBetweenPictures{};
        made.failure = error.what();
        return InBetweenEnding::Failed;
    }
}

const cv::Mat& played_picture(const KeptFrames& frames, const KeptFrames& in_betweens,
                              int between, PlayedPicture picture)
{
    if (picture.between == 0)
        return frames.pictures[std::size_t(picture.frame)];
    return in_betweens
        .pictures[std::size_t(picture.frame) * std::size_t(between) + std::size_t(picture.between) - 1];
}
