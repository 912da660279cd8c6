#pragma once

#include "detection/sticker_colour.h"

#include <opencv2/core.hpp>

#include <QString>

#include <optional>

// How a click was moved onto a sticker.
enum class SnapMethod
{
    None,     // nothing round near the click: the click stands as placed
    Colour,   // the connected region of the sticker's colour
    Contrast  // a round blob darker or lighter than its surroundings (a grey cover)
};

// Where a click on a sticker ends up. Pixels of the photo, x to the right,
// y downwards, pixel centres at whole coordinates.
struct StickerSnap
{
    cv::Point2d point;      // the disc's centre, or the click when nothing was found
    SnapMethod method = SnapMethod::None;
    double radius = 0.0;      // the disc's radius (of a disc of the same area); 0 when none
    // How far the centre may lie from the true one (pixels, one standard
    // error); for a click kept as placed, unsnapped_click_uncertainty.
    double uncertainty = 0.0;

    bool snapped() const { return method != SnapMethod::None; }
    // The window's status text for this click (French).
    QString status() const;
};

// How far a careful click lies from a sticker's centre at the zoom a sticker is
// clicked at, in pixels: the uncertainty of a point that did not snap.
constexpr double unsnapped_click_uncertainty = 3.0;

// Looks around `click` in `bgr` (8-bit, 3 channels) for a sticker's disc and
// returns its sub-pixel centre. The search reaches a few sticker diameters:
// 4 * `expected_radius` when the sticker's size is known from the other
// cameras (pixels of this photo), else 8 % of the photo's shorter side,
// widened up to a quarter of it while a disc it cuts could be larger. The
// sticker's colour is tried first when `colour` is given; then any round blob
// that stands out from its surroundings. Among several round blobs the one
// holding the click wins, else the one whose edge is nearest: never a
// neighbour further off. Nothing round found: the click as placed.
StickerSnap snap_to_sticker(const cv::Mat& bgr, cv::Point2d click,
                            const std::optional<StickerMatch>& colour,
                            double expected_radius = 0.0);
