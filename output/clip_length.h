#pragma once

#include <vector>

// How long a clip plays: a minimum length reached by playing it again, and a
// pause on its first and last frames. A bullet-time take of a dozen cameras
// lasts half a second at 24 fps: too short to post.
struct ClipLength
{
    double min_seconds = 0; // 0: played once
    double hold_seconds = 0; // on the first and on the last frame, 0: none
};

// The longest minimum and hold the options take, in seconds.
constexpr double max_clip_seconds = 60;
constexpr double max_hold_seconds = 10;

// The frames a hold lasts at `fps`, rounded to the nearest frame.
int hold_frames(const ClipLength& length, int fps);

// How the videos of `frame_count` frames play at `fps`. The forward pass (the
// video's stream, and the first half of the boomerang) is the frames with the
// hold before and after; the backward pass (the boomerang's second half) the
// frames last first, no hold: the forward pass's hold on the first frame
// follows it. Each video is its pass(es) played `repeats` times, the fewest
// that reach the minimum, at least once. Only the passes are encoded: the
// repeats join the same streams again without encoding.
struct ClipPlay
{
    int forward_frames = 0;
    int backward_frames = 0;
    int video_repeats = 1;
    int boomerang_repeats = 1;

    int video_frames() const { return video_repeats * forward_frames; }
    int boomerang_frames() const
    {
        return boomerang_repeats * (forward_frames + backward_frames);
    }
};
ClipPlay clip_play(int frame_count, int fps, const ClipLength& length);

// The frame indices of the forward pass, in play order: the first frame hold
// times more, then every frame, then the last hold times more.
std::vector<int> forward_order(int frame_count, int hold);
// The backward pass: the frames last first.
std::vector<int> backward_order(int frame_count);
// A GIF loops on its own: one pass, forwards, then with the boomerang backwards.
std::vector<int> gif_order(int frame_count, int hold, bool boomerang);
