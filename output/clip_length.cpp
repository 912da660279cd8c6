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

ClipPlay clip_play(int frame_count, int fps, const ClipLength& length)
{
    ClipPlay play;
    if (frame_count <= 0)
        return play;
    play.forward_frames = frame_count + 2 * hold_frames(length, fps);
    play.backward_frames = frame_count;
    play.video_repeats = repeats_for(play.forward_frames, fps, length);
    play.boomerang_repeats = repeats_for(play.forward_frames + play.backward_frames, fps, length);
    return play;
}

std::vector<int> forward_order(int frame_count, int hold)
{
    std::vector<int> order;
    if (frame_count <= 0)
        return order;
    order.assign(std::max(hold, 0), 0);
    for (int k = 0; k < frame_count; ++k)
        order.push_back(k);
    order.insert(order.end(), std::max(hold, 0), frame_count - 1);
    return order;
}

std::vector<int> backward_order(int frame_count)
{
    std::vector<int> order;
    for (int k = frame_count - 1; k >= 0; --k)
        order.push_back(k);
    return order;
}

std::vector<int> gif_order(int frame_count, int hold, bool boomerang)
{
    std::vector<int> order = forward_order(frame_count, hold);
    if (boomerang) {
        const std::vector<int> back = backward_order(frame_count);
        order.insert(order.end(), back.begin(), back.end());
    }
    return order;
}
