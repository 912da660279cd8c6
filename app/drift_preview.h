#pragma once

#include "calibration/rig_calibration.h"
#include "calibration/similarity_fit.h"

#include <QImage>
#include <QPointF>
#include <QRect>

#include <array>

// What the correction of a moved camera does, as the window draws it: the
// camera's shot aligned with its calibrated transform and with the motion
// composed into it, and where its stickers land in the frame either way.
struct DriftPreview
{
    // Where the camera's stickers belong in the frame (its reference photo,
    // aligned), top to bottom.
    std::array<QPointF, 3> calibrated_place{};
    // Where the shot puts them: moved by the motion with the calibrated
    // transform, back on calibrated_place once corrected.
    std::array<QPointF, 3> uncorrected{};
    std::array<QPointF, 3> corrected{};
    // The shot cut to the frame either way (RGB32); null without a shot.
    QImage shot_uncorrected;
    QImage shot_corrected;
};

// Camera `camera` of `rig` whose shot `shot` moved by `motion` (shot pixels ->
// reference photo pixels), in frames cut from `frame`.
DriftPreview drift_preview(const RigCalibration& rig, int camera, const Similarity& motion,
                           const QRect& frame, const QImage& shot);
