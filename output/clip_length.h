#pragma once

#include "output/video_sequence.h"

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

// How the videos of `pictures` pictures played once (the frames with their
// in-between frames, see played_picture_count) play at `fps`. The forward pass
// (the video's stream, and the first half of the boomerang) is the pictures with
// the hold before and after; the backward pass (the boomerang's second half) the
// pictures last first, no hold: the forward pass's hold on the first frame
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
ClipPlay clip_play(int pictures, int fps, const ClipLength& length);

// The forward pass in play order: the first frame `hold` times more, then every
// picture of forward_pictures, then the last frame `hold` times more. The
// backward pass is backward_pictures.
PictureOrder forward_order(int frame_count, int between, int hold);
// A GIF loops on its own: one pass, forwards, then with the boomerang backwards.
PictureOrder gif_order(int frame_count, int between, int hold, bool boomerang);
