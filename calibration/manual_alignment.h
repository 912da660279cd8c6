#pragma once

#include "calibration/rig_calibration.h"
#include "detection/reference_selection.h"
#include "detection/sticker_snap.h"

#include <QPointF>
#include <QSize>

#include <array>
#include <iosfwd>
#include <optional>

// A camera aligned by hand: `entry` (its entry before) aligned from three clicks
// on its stickers, in click order and in its photo's pixels (sub-pixel allowed).
// Nothing when the clicks give no alignment or there is no reference to align
// onto; the earlier values never pass for new ones. The photo's size fills an
// entry that had none (its photo was unreadable at calibration).
// `uncertainty` says how far each click may lie from its sticker's centre
// (pixels, in click order); by default that of clicks kept as placed.
std::optional<CameraCalibration> align_camera_manually(
    const CameraCalibration& entry, const std::array<QPointF, 3>& clicks,
    const ReferenceTriple& reference, QSize photo_size, std::ostream& log,
    const std::array<double, 3>& uncertainty = {unsnapped_click_uncertainty,
                                                unsnapped_click_uncertainty,
                                                unsnapped_click_uncertainty});
