#include "pipeline/hand_points.h"

#include "calibration/alignment.h"
#include "calibration/alignment_uncertainty.h"
#include "output/calibration_check.h"
#include "photo/image_reading.h"
#include "pipeline/calibration_run.h"

#include <QFileInfo>

#include <cstdio>
#include <ostream>
#include <vector>

StickerMatch rig_sticker_match(const RigCalibration& rig)
{
    if (rig.learned_colour)
        return StickerMatch(*rig.learned_colour);
    return StickerMatch(thresholds_for(rig.sticker_color));
}

StickerSnap snap_hand_point(const RigCalibration& rig, const cv::Mat& bgr, cv::Point2d click)
{
    return snap_to_sticker(bgr, click, rig_sticker_match(rig));
}

void log_snapped_point(int camera, int point, cv::Point2d click, const StickerSnap& snap,
                       std::ostream& log)
{
    if (!snap.snapped())
        return;
    char line[160];
    std::snprintf(line, sizeof line,
                  "Camera %d: point %d moved from (%.1f, %.1f) to the sticker at (%.2f, %.2f)",
                  camera + 1, point + 1, click.x, click.y, snap.point.x, snap.point.y);
    log << line << std::endl;
}

std::optional<std::array<cv::Point2d, 3>> expected_stickers(const RigCalibration& rig, int camera)
{
    const auto aligned = [&rig](int k) {
        return k >= 0 && k < rig.camera_count() &&
               rig.cameras[k].method != AlignmentMethod::NotAligned;
    };
    std::vector<int> neighbours;
    for (int step : {-1, 1}) {
        int k = camera + step;
        while (k >= 0 && k < rig.camera_count() && !aligned(k))
            k += step;
        if (aligned(k))
            neighbours.push_back(k);
    }
    if (neighbours.empty())
        return std::nullopt;
    std::array<cv::Point2d, 3> expected{};
    for (int k : neighbours) {
        const Similarity back = inverse(alignment_similarity(rig.cameras[k].transform));
        for (int i = 0; i < 3; ++i)
            expected[i] += apply(back, rig.reference_stickers[i]) / double(neighbours.size());
    }
    return expected;
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
            snap = snap_hand_point(rig, image, points[i]);
        } else {
            snap.point = points[i];
            snap.uncertainty = unsnapped_click_uncertainty;
        }
        centres[i] = snap.point;
        uncertainty[i] = snap.uncertainty;
        log_snapped_point(camera, i, points[i], snap, log);
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
