#pragma once

#include "output/clip_shape.h"

#include <QPoint>
#include <QRect>
#include <QSize>

#include <opencv2/core/mat.hpp>

#include <condition_variable>
#include <limits>
#include <mutex>
#include <vector>

// The frames of a run reduced to the size of its videos and kept in memory while
// the full frames are written, so that no encoder decodes a frame file again.

// How a kept picture lays out its bytes, as ffmpeg's rawvideo reader names it.
enum class RawLayout
{
    Yuv420p, // planar Y, then U and V at half size: what the H.264 encoder takes
    Bgr24,   // what the GIF's palette is computed from, without chroma loss
};

// Pictures of one size and layout, by frame index; empty when not kept.
struct KeptFrames
{
    QSize size;
    RawLayout layout = RawLayout::Yuv420p;
    std::vector<cv::Mat> pictures; // each continuous, raw_frame_bytes long

    bool kept() const { return !size.isEmpty(); }
};

// Which kept pictures are ready while the frames are still being written, so
// that the video's encoder can start on the first frames while the last ones
// are written. Frames finish in any order on the worker threads; a reader waits
// for the one it needs next. Safe to use from any thread.
class FrameArrival
{
public:
    enum class Wait
    {
        Ready, // the picture is kept
        Later, // not yet: ask again
        Never, // the frames step ended without it (a failure or a stop)
    };

    // The frames' size is known and `count` frames are being written.
    void begin(QSize frame_size, int count);
    // Frame `index` is kept, in every kept size.
    void ready(int index);
    // No further frame comes: all were written, or the frames step failed or
    // stopped. Wakes every reader.
    void end();

    // Waits at most `milliseconds` for frame `index`.
    Wait wait_for(int index, int milliseconds);
    // Waits until the frames' size is known (true) or the step ended before.
    bool wait_begun(QSize& frame_size, int& count);
    // Waits for the step's end; true when every frame became ready.
    bool wait_end();

private:
    std::mutex lock;
    std::condition_variable changed;
    bool begun = false;
    bool ended = false;
    QSize size;
    std::vector<bool> done;
};

// What a run keeps for its videos.
struct VideoFrames
{
    // The long side of the videos and whether GIFs are made, as the request asks.
    int long_side = 0;
    bool gif = false;
    // The videos' shape, centred on the sticker column at `column_x` in the
    // reference camera's pixels (not a number: the frame's centre).
    ClipAspect aspect = ClipAspect::Original;
    double column_x = std::numeric_limits<double>::quiet_NaN();
    // Where the frames' top left corner lies in the reference camera's pixels.
    QPoint frame_origin;
    // In-between frames per pair of neighbouring frames: they are made from the
    // video's pictures, which are then kept even at the frames' own size.
    int between = 0;
    // Set by prepare_video_frames once the frames' size is known: the part of
    // a frame the videos show (clip_rect), in frame pixels.
    QRect clip;
    KeptFrames video; // kept only when the video is smaller than the frames
    KeptFrames gif_frames;
    // Told of each frame as it is kept (may be null).
    FrameArrival* arrival = nullptr;
};

// Sizes the kept frames for `count` frames of `frame_size`, cut to the shape:
// the video's pictures when the video is cut or scaled or in-between frames are
// asked for (otherwise, at the frames' own size a copy of every frame would cost
// more memory than the videos save by not decoding them), the GIF's when one is
// asked for.
void prepare_video_frames(VideoFrames& frames, QSize frame_size, int count);

// Bytes of one picture of `size` in `layout`.
std::size_t raw_frame_bytes(QSize size, RawLayout layout);

// Keeps `picture` (8-bit BGR or BGRA, no smaller than `frames`) as picture
// `index` of `frames`, reduced to their size and layout.
void keep_picture(KeptFrames& frames, int index, const cv::Mat& picture);

// How the bytes of a frame handed to keep_video_frame are laid out.
enum class FramePixels
{
    Bgra, // blue, green, red, alpha: an RGB32 frame
    Rgb,  // red, green, blue: an RGB888 frame, as colour-matched frames are made
};

// Keeps frame `index`, a warped frame, reduced to each kept size, and tells the
// arrival. Safe to call from several threads for different indices.
void keep_video_frame(VideoFrames& frames, int index, const cv::Mat& frame,
                      FramePixels pixels = FramePixels::Bgra);
