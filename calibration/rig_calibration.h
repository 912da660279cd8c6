#pragma once

#include "calibration/calibration.h"
#include "detection/color_thresholds.h"
#include "detection/reference_selection.h"
#include "detection/sticker_colour.h"

#include <opencv2/core/types.hpp>

#include <QSize>
#include <QString>

#include <array>
#include <optional>
#include <vector>

// How a camera's transform was established.
enum class AlignmentMethod
{
    NotAligned,
    Automatic, // from the stickers detection found
    Manual     // from three clicks
};

// What a rig's calibration keeps about one camera.
struct CameraCalibration
{
    // The reference photo as it was chosen (a path); it need not exist any more.
    QString reference_photo;
    // Its size in pixels once its EXIF orientation is applied; empty when the
    // photo could not be read. Shots are checked against it.
    QSize reference_size;
    AlignmentMethod method = AlignmentMethod::NotAligned;
    // The stored transform; its `aligned` flag is method != NotAligned, and an
    // entry not aligned holds zeros.
    ImageAlignment transform;
    // The three sticker centres the transform was computed from, top to bottom,
    // in the reference photo's pixels (found or clicked). Zeros when not aligned.
    std::array<cv::Point2d, 3> stickers{};
    // How far each of those centres may lie from the true one, in pixels, for
    // a camera aligned by hand (a click kept as placed counts as a few pixels,
    // one moved onto its sticker as a fraction of one). Zeros when unknown.
    std::array<double, 3> sticker_uncertainty{};
};

// A rig's calibration as it is saved and reopened: everything a processing run
// and the check view need, without the reference photos themselves.
struct RigCalibration
{
    // One entry per camera, in camera order.
    std::vector<CameraCalibration> cameras;
    // The middle camera's sticker centres, onto which every camera is aligned.
    std::array<cv::Point2d, 3> reference_stickers{};
    StickerColor sticker_color = StickerColor::Yellow;
    // The colour learned from a click or given, when the stickers were masked by
    // it rather than by the preset; a later calibration starts from it.
    std::optional<LearnedColour> learned_colour;

    int camera_count() const { return static_cast<int>(cameras.size()); }

    // The per-camera alignments as the output layer reads them.
    Calibration calibration() const
    {
        Calibration result = Calibration::with_count(camera_count());
        for (int i = 0; i < camera_count(); ++i) {
            const ImageAlignment& entry = cameras[i].transform;
            if (cameras[i].method == AlignmentMethod::NotAligned)
                continue;
            result.translation_x[i] = entry.translation_x;
            result.translation_y[i] = entry.translation_y;
            result.rotation_deg[i] = entry.rotation_deg;
            result.scale[i] = entry.scale;
            result.aligned[i] = true;
        }
        return result;
    }

    // The reference configuration, selected.
    ReferenceTriple reference() const { return {reference_stickers, true}; }
};
