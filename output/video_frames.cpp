#include "output/video_frames.h"

#include "output/video_size.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <chrono>

namespace {

// Halved by averaging 2 x 2 pixels while that stays at least twice the size,
// then bilinear over the last factor below 2: close to a full area average
// (under half a grey level apart) at a sixth of its cost, and what the frame
// files' decoder halving followed by a scale gave the videos before.
cv::Mat reduced(const cv::Mat& bgra, QSize size)
{
    cv::Mat picture = bgra;
    while (picture.cols >= 2 * size.width() && picture.rows >= 2 * size.height() &&
           picture.cols % 2 == 0 && picture.rows % 2 == 0) {
        cv::Mat half;
        cv::resize(picture, half, cv::Size(picture.cols / 2, picture.rows / 2), 0, 0,
                   cv::INTER_AREA);
        picture = half;
    }
    if (picture.cols == size.width() && picture.rows == size.height())
        return picture;
    cv::Mat small;
    cv::resize(picture, small, cv::Size(size.width(), size.height()), 0, 0,
               picture.cols >= 2 * size.width() || picture.rows >= 2 * size.height()
                   ? cv::INTER_AREA
                   : cv::INTER_LINEAR);
    return small;
}

// OpenCV's I420 conversion is BT.601 at limited range with each chroma sample
// at the centre of its 2 x 2 pixels: the colour description the videos carry.
cv::Mat in_layout(const cv::Mat& bgra, RawLayout layout)
{
    cv::Mat picture;
    if (bgra.channels() == 3) {
        if (layout == RawLayout::Yuv420p)
            cv::cvtColor(bgra, picture, cv::COLOR_BGR2YUV_I420);
        else
            picture = bgra.isContinuous() ? bgra : bgra.clone();
        return picture;
    }
    cv::cvtColor(bgra, picture,
                 layout == RawLayout::Yuv420p ? cv::COLOR_BGRA2YUV_I420 : cv::COLOR_BGRA2BGR);
    return picture;
}

// The same for a picture of red, green, blue bytes.
cv::Mat rgb_in_layout(const cv::Mat& rgb, RawLayout layout)
{
    cv::Mat picture;
    cv::cvtColor(rgb, picture,
                 layout == RawLayout::Yuv420p ? cv::COLOR_RGB2YUV_I420 : cv::COLOR_RGB2BGR);
    return picture;
}

} // namespace

void FrameArrival::begin(QSize frame_size, int count)
{
    {
        const std::lock_guard<std::mutex> guard(lock);
        begun = true;
        size = frame_size;
        done.assign(std::size_t(std::max(count, 0)), false);
    }
    changed.notify_all();
}

void FrameArrival::ready(int index)
{
    {
        const std::lock_guard<std::mutex> guard(lock);
        if (index >= 0 && std::size_t(index) < done.size())
            done[std::size_t(index)] = true;
    }
    changed.notify_all();
}

void FrameArrival::end()
{
    {
        const std::lock_guard<std::mutex> guard(lock);
        ended = true;
    }
    changed.notify_all();
}

FrameArrival::Wait FrameArrival::wait_for(int index, int milliseconds)
{
    std::unique_lock<std::mutex> guard(lock);
    const auto is_ready = [&] {
        return index >= 0 && std::size_t(index) < done.size() && done[std::size_t(index)];
    };
    changed.wait_for(guard, std::chrono::milliseconds(milliseconds),
                     [&] { return is_ready() || ended; });
    if (is_ready())
        return Wait::Ready;
    return ended ? Wait::Never : Wait::Later;
}

bool FrameArrival::wait_begun(QSize& frame_size, int& count)
{
    std::unique_lock<std::mutex> guard(lock);
    changed.wait(guard, [&] { return begun || ended; });
    frame_size = size;
    count = int(done.size());
    return begun;
}

bool FrameArrival::wait_end()
{
    std::unique_lock<std::mutex> guard(lock);
    changed.wait(guard, [&] { return ended; });
    return begun && std::all_of(done.begin(), done.end(), [](bool frame) { return frame; });
}

void prepare_video_frames(VideoFrames& frames, QSize frame_size, int count)
{
    frames.clip = clip_rect(frame_size, frames.aspect, frames.column_x - frames.frame_origin.x());
    const QSize shown = frames.clip.size();
    const QSize video = video_size(shown, frames.long_side);
    frames.video = KeptFrames{};
    frames.gif_frames = KeptFrames{};
    if (video != frame_size || frames.between > 0)
        frames.video = KeptFrames{video, RawLayout::Yuv420p, std::vector<cv::Mat>(count)};
    if (frames.gif) {
        frames.gif_frames = KeptFrames{gif_size(shown, frames.long_side), RawLayout::Bgr24,
                                       std::vector<cv::Mat>(count)};
    }
}

std::size_t raw_frame_bytes(QSize size, RawLayout layout)
{
    const std::size_t pixels = std::size_t(size.width()) * std::size_t(size.height());
    return layout == RawLayout::Yuv420p ? pixels * 3 / 2 : pixels * 3;
}

void keep_picture(KeptFrames& frames, int index, const cv::Mat& picture)
{
    frames.pictures.at(index) = in_layout(reduced(picture, frames.size), frames.layout);
}

void keep_video_frame(VideoFrames& frames, int index, const cv::Mat& whole_frame,
                      FramePixels pixels)
{
    const auto laid_out = [pixels](const cv::Mat& picture, RawLayout layout) {
        return pixels == FramePixels::Rgb ? rgb_in_layout(picture, layout)
                                          : in_layout(picture, layout);
    };
    const QRect& clip = frames.clip;
    const cv::Mat shown =
        clip.isEmpty() || (clip.width() == whole_frame.cols && clip.height() == whole_frame.rows)
            ? whole_frame
            : whole_frame(cv::Rect(clip.x(), clip.y(), clip.width(), clip.height()));
    cv::Mat video_picture;
    if (frames.video.kept()) {
        video_picture = reduced(shown, frames.video.size);
        frames.video.pictures.at(index) = laid_out(video_picture, frames.video.layout);
    }
    if (frames.gif_frames.kept()) {
        // The GIF is never larger than the video: reducing the video's picture
        // costs a fraction of reducing the whole frame again.
        const cv::Mat& source = video_picture.empty() ? shown : video_picture;
        frames.gif_frames.pictures.at(index) =
            laid_out(reduced(source, frames.gif_frames.size), frames.gif_frames.layout);
    }
    if (frames.arrival)
        frames.arrival->ready(index);
}
