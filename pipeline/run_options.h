#pragma once

#include "output/video_size.h"

#include <QString>

#include <array>

// The video options a run is made with, as the window's form, the command line
// and the booth offer them: their bounds and defaults.

// Compression of the frames in %; the JPEG quality is what is left of 100.
constexpr int min_compression = 0;
constexpr int max_compression = 100;
constexpr int default_compression = 50;
constexpr int quality_for_compression(int compression)
{
    return 100 - compression;
}

// Frames per second of the videos.
constexpr int min_fps = 1;
constexpr int max_fps = 60;
constexpr int default_fps = 24;

// The long sides a video can be asked for (see video_size), the frames' own
// size first, then 4K, Full HD and 720p.
constexpr std::array<int, 4> video_long_sides = {original_video_size, 3840, 1920, 1280};
constexpr int default_long_side = original_video_size;

// Neither the boomerang nor the GIFs unless asked for.
constexpr bool default_boomerang = false;
constexpr bool default_gif = false;

// Each camera's colours matched to the middle camera's ("Harmoniser les couleurs").
constexpr bool default_colour_match = true;

// Frames made between each pair of neighbouring cameras ("Images intermédiaires").
constexpr int min_between = 0;
constexpr int max_between = 3;
constexpr int default_between = 0;

// Why `between` in-between frames cannot be made for videos of `long_side`, in
// French, or an empty string. They are made from the video's pictures kept in
// memory, where the flow is measured: at the photos' own size that would take
// gigabytes and seconds a frame, so a reduced video size is asked for.
QString between_refusal(int long_side, int between);

// Whether `long_side` is one of video_long_sides.
bool is_video_long_side(int long_side);
