#pragma once

#include <vector>

// The order of the pictures a video plays: the cameras' frames, with the
// in-between frames made for each pair of neighbouring cameras in their place.
// Built once per export and shared by every video and GIF, so that what one
// plays the others play too; clip_length holds and repeats them.

// One picture of a video: camera frame `frame` itself when `between` is 0, else
// the `between`-th (from 1) of the frames made between `frame` and `frame + 1`.
struct PlayedPicture
{
    int frame = 0;
    int between = 0;

    bool operator==(const PlayedPicture& other) const
    {
        return frame == other.frame && between == other.between;
    }
};

using PictureOrder = std::vector<PlayedPicture>;

// How many pictures `frame_count` frames with `between` in-between frames per
// pair play once: N + (N - 1) * M.
int played_picture_count(int frame_count, int between);

// The frames in camera order, each pair's in-betweens after its first frame.
PictureOrder forward_pictures(int frame_count, int between);

// forward_pictures played from the last picture to the first, in-betweens too.
PictureOrder backward_pictures(int frame_count, int between);
