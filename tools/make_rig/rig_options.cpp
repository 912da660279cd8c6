#include "tools/make_rig/rig_options.h"

#include <cmath>

std::string rig_options_error(const RigOptions& options)
{
    if (options.cameras < 1 || options.cameras > max_rig_cameras)
        return "the number of cameras must be between 1 and " + std::to_string(max_rig_cameras);
    if (options.width < min_rig_side || options.height < min_rig_side ||
        options.width > max_rig_side || options.height > max_rig_side)
        return "each side of the photos must be between " + std::to_string(min_rig_side) + " and " +
               std::to_string(max_rig_side) + " pixels";
    if (static_cast<long long>(options.width) * options.height > max_rig_pixels)
        return "the photos may hold at most 6000 x 4000 pixels";
    // The shifts scale with the width; on a much narrower photo they would push
    // the stickers out of the picture.
    if (options.width > 3 * options.height || options.height > 3 * options.width)
        return "the longer side of the photos may be at most three times the shorter one";
    if (options.hidden_camera < -1 || options.hidden_camera >= options.cameras)
        return "the hidden camera must be one of the cameras (0 to " +
               std::to_string(options.cameras - 1) + ")";
    if (options.jpeg_quality < 1 || options.jpeg_quality > 100)
        return "the JPEG quality must be between 1 and 100";
    // Farther out, the stickers of a rotated, enlarged camera could leave its
    // photo even once the column is shortened.
    if (!(std::abs(options.sticker_offset.x) <= 0.25 * options.width) ||
        !(std::abs(options.sticker_offset.y) <= 0.25 * options.height))
        return "the sticker offset must stay within a quarter of the photo size";
    if (!(std::abs(options.middle_shift) <= 0.25))
        return "the middle sticker may move at most a quarter of the spacing off the midpoint";
    if (!(std::abs(options.sticker_tilt_deg) <= 15.0))
        return "the sticker column may tilt at most 15 degrees";
    return {};
}

const char* color_name(RigStickerColor color)
{
    return color == RigStickerColor::Yellow ? "yellow" : "pink";
}

cv::Scalar sticker_bgr(RigStickerColor color)
{
    // Both sit near the middle of their presets on every channel, so compression
    // noise and the blending at the disc edge keep the interior inside.
    return color == RigStickerColor::Yellow ? cv::Scalar(45, 210, 225) : cv::Scalar(110, 45, 230);
}
