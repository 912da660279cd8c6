#pragma once

#include "calibration/rig_calibration.h"
#include "detection/reference_selection.h"
#include "detection/sticker_snap.h"

#include <opencv2/core/types.hpp>

#include <QString>

#include <array>
#include <iosfwd>
#include <optional>

// The mask a rig's stickers are found by: its learned colour, else its preset.
StickerMatch rig_sticker_match(const RigCalibration& rig);

// `click` on a camera's reference photo `bgr` moved onto its sticker, found by
// the rig's sticker colour or, failing that, as a round blob.
StickerSnap snap_hand_point(const RigCalibration& rig, const cv::Mat& bgr, cv::Point2d click);

// "Camera N: point P moved from (x, y) to the sticker at (x, y)" on `log` for a
// click that snapped (N and P counted from 1); nothing for one kept as placed.
void log_snapped_point(int camera, int point, cv::Point2d click, const StickerSnap& snap,
                       std::ostream& log);

// Where `camera`'s three stickers should lie in its reference photo (top to
// bottom), from the nearest aligned camera on each side: their alignments
// undone on the reference stickers, averaged. Neighbours stand in the rig much
// as this camera does, so the guess lands within a sticker or two. Nothing
// when no other camera is aligned.
std::optional<std::array<cv::Point2d, 3>> expected_stickers(const RigCalibration& rig,
                                                            int camera);

// A camera aligned from three points given by hand.
struct HandAlignment
{
    // Each point as given (same order), moved onto its sticker where one is round near it.
    std::array<StickerSnap, 3> snaps{};
    bool photo_read = false;
    bool aligned = false;
};

// Snaps `points` (pixels of the camera's reference photo at `photo`, any
// order) onto their stickers and aligns `camera` of `rig` onto `reference`
// from them, as align_camera_by_hand does; an unreadable photo leaves the
// points as given. Logs one line per point moved on `log`. The corner
// uncertainty is left for log_corner_uncertainty: it depends on the frame,
// which every camera's alignment shapes.
HandAlignment align_camera_from_points(RigCalibration& rig, int camera, const QString& photo,
                                       const std::array<cv::Point2d, 3>& points,
                                       const ReferenceTriple& reference, std::ostream& log);

// The corner uncertainty of `camera` in the frames `rig` gives (negative when
// not known), logged as "Camera N (photo): frame corners uncertain by X px",
// N counted from 1.
double log_corner_uncertainty(const RigCalibration& rig, int camera, std::ostream& log);
