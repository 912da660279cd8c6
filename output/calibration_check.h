#pragma once

#include "calibration/rig_calibration.h"

#include <opencv2/core/types.hpp>

#include <QImage>
#include <QPointF>
#include <QRect>
#include <QSize>

#include <array>

// How well one camera of a rig is aligned, in the frames the output writes.
struct CameraCheck
{
    // The camera's three sticker centres and the reference configuration's,
    // where they land in a frame (pixels), top to bottom.
    std::array<QPointF, 3> stickers{};
    std::array<QPointF, 3> reference{};
    // The largest distance between a sticker and its reference, in frame
    // pixels; negative when the camera is not aligned.
    double fit_error = -1.0;
    // How far the frame's corners may lie from where they belong because the
    // camera's sticker centres are uncertain (frame_corner_uncertainty), in
    // frame pixels; negative when their uncertainty is not known (found by
    // detection, or not aligned). Above corner_uncertainty_limit the camera
    // is worth recalibrating.
    double corner_uncertainty = -1.0;
};

// The rectangle of the reference frame the rig's aligned cameras' frames are
// cut from (common_frame_rect), from their reference sizes; empty when none.
QRect check_frame_rect(const RigCalibration& rig);

// Checks `camera` of `rig` in frames cut from `frame`. The reference
// configuration is carried by the middle camera's own transform.
CameraCheck check_camera(const RigCalibration& rig, int camera, const QRect& frame);

// The corners of `frame` (reference pixels), at the centres of its corner pixels.
std::array<cv::Point2d, 4> frame_corners(const QRect& frame);

// The camera's reference photo aligned and cut to `frame`, as the output would
// write it (RGB32); null when the camera is not aligned or the photo is null.
QImage aligned_photo(const QImage& photo, const CameraCalibration& camera, const QRect& frame);
