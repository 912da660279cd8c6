#include "tools/make_rig/rig_options.h"

#include <cmath>

namespace {

std::string flat_error(const RigOptions& options)
{
    const RigOptions flat;
    if (options.arc_deg != flat.arc_deg || options.colour_spread != 0.0 ||
        options.vignetting != 0.0 || options.between != 0 || options.takes != 1 ||
        options.moved_camera != -1)
        return "--arc, --colour-spread, --vignetting, --between, --takes and --move need "
               "--parallax";
    if (!(options.exposure_ev >= -2.0 && options.exposure_ev <= 1.0))
        return "the exposure must be between -2 and +1 EV";
    if (!(options.light_kelvin >= 2500.0 && options.light_kelvin <= 10000.0))
        return "the light must be between 2500 and 10000 K";
    if (!(options.noise >= 0.0 && options.noise <= 12.0))
        return "the noise must be between 0 and 12 levels";
    if (!(options.exposure_spread >= 0.0 && options.exposure_spread <= 0.5))
        return "the exposure spread must be between 0 and 0.5 EV";
    return {};
}

std::string parallax_error(const RigOptions& options)
{
    if (options.clutter || options.distractor || options.sticker_offset != cv::Point2d() ||
        options.middle_shift != 0.0 || options.sticker_tilt_deg != 0.0)
        return "--clutter, --distractor, --offset, --middle-shift and --tilt are not available "
               "with --parallax";
    const RigOptions flat;
    if (options.exposure_ev != 0.0 || options.light_kelvin != flat.light_kelvin ||
        options.noise != 0.0 || options.colourful)
        return "--exposure, --light, --noise and --colourful are not available with --parallax";
    if (!(options.arc_deg >= 0.0 && options.arc_deg <= 90.0))
        return "the arc must be between 0 and 90 degrees";
    // Beyond these the sticker colours could leave their presets.
    if (!(options.colour_spread >= 0.0 && options.colour_spread <= 0.15))
        return "the colour spread must be between 0 and 0.15";
    if (!(options.exposure_spread >= 0.0 && options.exposure_spread <= 0.4))
        return "the exposure spread must be between 0 and 0.4 EV";
    if (!(options.vignetting >= 0.0 && options.vignetting <= 0.6))
        return "the vignetting must be between 0 and 0.6";
    if (options.between < 0 || options.between > max_rig_between)
        return "the number of views between neighbouring cameras must be between 0 and " +
               std::to_string(max_rig_between);
    if (options.takes < 1 || options.takes > max_rig_takes)
        return "the number of takes must be between 1 and " + std::to_string(max_rig_takes);
    if (options.moved_camera < -1 || options.moved_camera >= options.cameras)
        return "the moved camera must be one of the cameras (0 to " +
               std::to_string(options.cameras - 1) + ")";
    const CameraPose& move = options.move;
    if (!(std::abs(move.shift.x) <= 0.1 * options.width) ||
        !(std::abs(move.shift.y) <= 0.1 * options.height) ||
        !(std::abs(move.rotation_deg) <= 5.0) || !(std::abs(move.scale - 1.0) <= 0.1))
        return "a camera may move at most a tenth of the photo size, 5 degrees and 10 % of zoom";
    return {};
}

} // namespace

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
    return options.parallax ? parallax_error(options) : flat_error(options);
}

const char* color_name(RigStickerColor color)
{
    switch (color) {
    case RigStickerColor::Pink:
        return "pink";
    case RigStickerColor::Green:
        return "green";
    case RigStickerColor::Blue:
        return "blue";
    case RigStickerColor::Orange:
        return "orange";
    case RigStickerColor::Yellow:
        break;
    }
    return "yellow";
}

std::optional<RigStickerColor> color_from_name(const std::string& name)
{
    for (const RigStickerColor color : {RigStickerColor::Yellow, RigStickerColor::Pink,
                                        RigStickerColor::Green, RigStickerColor::Blue,
                                        RigStickerColor::Orange}) {
        if (name == color_name(color))
            return color;
    }
    return std::nullopt;
}

bool flat_light_changed(const RigOptions& options)
{
    const RigOptions flat;
    return !options.parallax &&
           (options.exposure_ev != 0.0 || options.light_kelvin != flat.light_kelvin ||
            options.noise != 0.0 || options.exposure_spread != 0.0 || options.colourful);
}

cv::Scalar sticker_bgr(RigStickerColor color)
{
    // Yellow and pink sit near the middle of their presets on every channel, so
    // compression noise and the blending at the disc edge keep the interior inside.
    switch (color) {
    case RigStickerColor::Pink:
        return cv::Scalar(110, 45, 230);
    case RigStickerColor::Green:
        return cv::Scalar(60, 170, 40);
    case RigStickerColor::Blue:
        return cv::Scalar(200, 110, 30);
    case RigStickerColor::Orange:
        return cv::Scalar(30, 120, 235);
    case RigStickerColor::Yellow:
        break;
    }
    return cv::Scalar(45, 210, 225);
}
