#pragma once

#include "tools/make_rig/camera_pose.h"

#include <opencv2/core/types.hpp>

#include <cstdint>
#include <optional>
#include <string>

// The sticker colour a synthetic rig is painted with. Yellow and pink lie well
// inside the matching detection preset even after JPEG compression; the others
// fit no preset and need a colour learned from a click.
enum class RigStickerColor
{
    Yellow,
    Pink,
    Green,
    Blue,
    Orange
};

// What to render: camera count, photo size in pixels, random seed and the
// options that exercise the detection rules.
struct RigOptions
{
    int cameras = 5;
    int width = 1600;
    int height = 1200;
    std::uint64_t seed = 1;
    RigStickerColor color = RigStickerColor::Yellow;
    // Small sticker-coloured specks, far smaller than a sticker once dilated.
    bool clutter = false;
    // One large sticker-coloured blob, away from the sticker line and the centre.
    bool distractor = false;
    // Camera whose reference shows nothing of the sticker colour, or -1 for none.
    int hidden_camera = -1;
    int jpeg_quality = 92;
    // Where the middle sticker sits relative to the middle camera's centre, in
    // pixels (at most a quarter of the width and of the height); (0, 0) keeps
    // it exactly on the centre.
    cv::Point2d sticker_offset{0.0, 0.0};
    // How far the middle sticker sits from the midpoint of the outer ones, as a
    // fraction of their half distance (at most 0.25 either way), along the
    // column: positive towards the bottom sticker.
    double middle_shift = 0.0;
    // The sticker column's turn from vertical in degrees (at most 15 either
    // way), clockwise on screen for a positive angle.
    double sticker_tilt_deg = 0.0;
    // How the flat scene's references are lit and taken (the shots keep their
    // markers as they are, to measure the alignment with): the exposure in EV
    // (-2 to +1), the light's colour temperature in kelvin against a camera
    // balanced for daylight (2500 to 10000, 5500 neutral), sensor noise as a
    // standard deviation in 8-bit levels per channel (0 to 12), and per-camera
    // exposure offsets of up to +- exposure_spread EV (below, up to 0.5 here).
    double exposure_ev = 0.0;
    double light_kelvin = 5500.0;
    double noise = 0.0;
    // Shapes of many other colours in the references' background: orange, skin
    // tones, reds, purples, cyans, never the sticker's own colour.
    bool colourful = false;

    // The 3-D scene instead of the flat one: cameras on an arc around the
    // sticker column, a wall and a floor behind it, a subject in the shots.
    // Every option below is for this scene only, but exposure_spread.
    bool parallax = false;
    double arc_deg = 40.0; // angle between the outer cameras, seen from the column
    // Per-camera colour differences, in linear light: gains per channel of up to
    // 1 +- colour_spread, exposure offsets of up to +- exposure_spread EV, and a
    // darkening towards the corners of up to `vignetting` (0.3: 30 % darker).
    double colour_spread = 0.0;
    double exposure_spread = 0.0;
    double vignetting = 0.0;
    // Views between each pair of neighbouring cameras written as ground truth.
    int between = 0;
    // Sets of shots, each with a different subject.
    int takes = 1;
    // Camera moved between the references and the shots, or -1 for none: its
    // shots show the unmoved picture under `move` (a CameraPose taking the
    // unmoved photo to the moved one).
    int moved_camera = -1;
    CameraPose move{};
};

constexpr int max_rig_cameras = 99;
constexpr int min_rig_side = 320;
constexpr int max_rig_side = 6000;
constexpr long long max_rig_pixels = 6000LL * 4000LL;
constexpr int max_rig_takes = 99;
constexpr int max_rig_between = 20;

// Why `options` cannot be rendered, or an empty string when it can.
std::string rig_options_error(const RigOptions& options);

// "yellow", "pink", "green", "blue" or "orange".
const char* color_name(RigStickerColor color);

// The colour of that name, or nothing.
std::optional<RigStickerColor> color_from_name(const std::string& name);

// True when the flat references are lit or taken otherwise than as painted.
bool flat_light_changed(const RigOptions& options);

// The sticker paint, BGR.
cv::Scalar sticker_bgr(RigStickerColor color);
