#include "output/video_sequence.h"

#include <algorithm>

int played_picture_count(int frame_count, int between)
{
    return frame_count <= 0 ? 0 : frame_count + (frame_count - 1) * std::max(between, 0);
}

PictureOrder forward_pictures(int frame_count, int between)
{
    PictureOrder order;
    order.reserve(std::size_t(played_picture_count(frame_count, between)));
    for (int frame = 0; frame < frame_count; ++frame) {
        order.push_back({frame, 0});
        for (int j = 1; frame + 1 < frame_count && j <= between; ++j)
            order.push_back({frame, j});
    }
    return order;
}

PictureOrder backward_pictures(int frame_count, int between)
{
    PictureOrder order = forward_pictures(frame_count, between);
    std::reverse(order.begin(), order.end());
    return order;
}
