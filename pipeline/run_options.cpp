#include "pipeline/run_options.h"

#include <algorithm>

bool is_video_long_side(int long_side)
{
    return std::find(video_long_sides.begin(), video_long_sides.end(), long_side) !=
           video_long_sides.end();
}
