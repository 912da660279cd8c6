#include "pipeline/hand_points.h"

#include "output/calibration_check.h"
#include "photo/image_reading.h"
#include "pipeline/calibration_run.h"

#include <QFileInfo>

#include <cstdio>
#include <ostream>

StickerMatch rig_sticker_match(const RigCalibration& rig)
{
    if (rig.learned_colour)
        return StickerMatch(*rig.learned_colour);
    return StickerMatch(thresholds_for(rig.sticker_color));
}

HandAlignment align_camera_from_points(RigCalibration& rig, int camera, const QString& photo,
                                       const std::array<cv::Point2d, 3>& points,
                                       const ReferenceTriple& reference, std::ostream& log)
{
    HandAlignment result;
    const cv::Mat image = read_bgr_image(photo);
    result.photo_read = !image.empty();
    std::array<cv::Point2d, 3> centres;
    std::array<double, 3> uncertainty;
    for (int i = 0; i < 3; ++i) {
        StickerSnap& snap = result.snaps[i];
        if (result.photo_read) {
            snap = snap_to_sticker(image, points[i], rig_sticker_match(rig));
        } else {
            snap.point = points[i];
            snap.uncertainty = unsnapped_click_uncertainty;
        }
        centres[i] = snap.point;
        uncertainty[i] = snap.uncertainty;
        if (snap.snapped()) {
            char line[160];
            std::snprintf(line, sizeof line,
                          "Camera %d: point %d moved from (%.1f, %.1f) to the sticker at "
                          "(%.2f, %.2f)",
                          camera + 1, i + 1, points[i].x, points[i].y, snap.point.x, snap.point.y);
            log << line << std::endl;
        }
    }
    result.aligned = align_camera_by_hand(rig, camera, centres, reference, log, uncertainty);
    return result;
}

double log_corner_uncertainty(const RigCalibration& rig, int camera, std::ostream& log)
{
    const double uncertainty = check_camera(rig, camera, check_frame_rect(rig)).corner_uncertainty;
    if (uncertainty < 0.0)
        return uncertainty;
    char line[200];
    std::snprintf(line, sizeof line, "Camera %d (%s): frame corners uncertain by %.2f px",
                  camera + 1,
                  QFileInfo(rig.cameras[camera].reference_photo).fileName().toUtf8().constData(),
                  uncertainty);
    log << line << std::endl;
    return uncertainty;
}
