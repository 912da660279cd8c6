#include "app/drift_preview.h"

#include "output/calibration_check.h"
#include "pipeline/camera_drift.h"

DriftPreview drift_preview(const RigCalibration& rig, int camera, const Similarity& motion,
                           const QRect& frame, const QImage& shot)
{
    DriftPreview preview;
    if (camera < 0 || camera >= rig.camera_count())
        return preview;
    RigCalibration corrected = rig;
    compose_drift(corrected, camera, motion);
    // The same physical stickers, where the moved camera now sees them.
    RigCalibration seen = rig;
    const Similarity back = inverse(motion);
    for (cv::Point2d& sticker : seen.cameras[camera].stickers)
        sticker = apply(back, sticker);
    const CameraCheck calibrated = check_camera(rig, camera, frame);
    const CameraCheck uncorrected = check_camera(seen, camera, frame);
    seen.cameras[camera].transform = corrected.cameras[camera].transform;
    const CameraCheck after = check_camera(seen, camera, frame);
    preview.calibrated_place = calibrated.stickers;
    preview.uncorrected = uncorrected.stickers;
    preview.corrected = after.stickers;
    if (!shot.isNull()) {
        preview.shot_uncorrected = aligned_photo(shot, rig.cameras[camera], frame);
        preview.shot_corrected = aligned_photo(shot, corrected.cameras[camera], frame);
    }
    return preview;
}
