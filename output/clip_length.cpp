#include "output/clip_length.h"

#include <algorithm>
#include <cmath>

int hold_frames(const ClipLength& length, int fps)
{
    if (!(length.hold_seconds > 0) || fps <= 0)
        return 0;
    return static_cast<int>(std::lround(std::min(length.hold_seconds, max_hold_seconds) * fps));
}

namespace {

// The fewest plays of `period` frames that last at least the minimum.
int repeats_for(int period, int fps, const ClipLength& length)
{
    if (period <= 0 || fps <= 0 || !(length.min_seconds > 0))
        return 1;
    const double wanted = std::min(length.min_seconds, max_clip_seconds) * fps;
    // A minimum met to within a rounding error needs no extra play.
    return std::max(1, static_cast<int>(std::ceil(wanted / period - 1e-9)));
}

} // namespace

ClipPlay clip_play(int pictures, int fps, const ClipLength& length)
{
    ClipPlay play;
    if (pictures <= 0)
        return play;
    play.forward_frames = pictures + 2 * hold_frames(length, fps);
    play.backward_frames = pictures;
    play.video_repeats = repeats_for(play.forward_frames, fps, length);
    play.boomerang_repeats = repeats_for(play.forward_frames + play.backward_frames, fps, length);
    return play;
}

PictureOrder forward_order(int frame_count, int between, int hold)
{
    const PictureOrder once = forward_pictures(frame_count, between);
    if (once.empty())
        return once;
    PictureOrder order(std::size_t(std::max(hold, 0)), once.front());
    order.insert(order.end(), once.begin(), once.end());
    order.insert(order.end(), std::size_t(std::max(hold, 0)), once.back());
    return order;
}

PictureOrder gif_order(int frame_count, int between, int hold, bool boomerang)
{
    PictureOrder order = forward_order(frame_count, between, hold);
    if (boomerang) {
        const PictureOrder back = backward_pictures(frame_count, between);
        order.insert(order.end(), back.begin(), back.end());
    }
    return order;
}
