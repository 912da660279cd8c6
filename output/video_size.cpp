#include "output/video_size.h"

#include <algorithm>
#include <cmath>

QSize video_size(QSize frames, int long_side)
{
    const int longest = std::max(frames.width(), frames.height());
    if (long_side <= original_video_size || longest <= long_side || frames.isEmpty())
        return frames;
    // The short side in pairs of pixels, rounded to the nearest pair, never none.
    const auto shorter = [&](int side) {
        const double pairs = 0.5 * side * long_side / longest;
        return 2 * std::max(1, static_cast<int>(std::lround(pairs)));
    };
    const int even_long = long_side - long_side % 2;
    return frames.width() >= frames.height() ? QSize(even_long, shorter(frames.height()))
                                             : QSize(shorter(frames.width()), even_long);
}

QSize gif_size(QSize frames, int video_long_side)
{
    const int limit = video_long_side <= original_video_size
                          ? gif_long_side
                          : std::min(gif_long_side, video_long_side);
    return video_size(frames, limit);
}
