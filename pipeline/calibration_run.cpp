#include "pipeline/calibration_run.h"

#include "calibration/alignment.h"
#include "calibration/calibration_construction.h"
#include "calibration/manual_alignment.h"

#include <QPointF>

#include <algorithm>
#include <optional>

std::vector<int> CalibrationOutcome::unaligned() const
{
    std::vector<int> cameras;
    for (int i = 0; i < rig.camera_count(); ++i) {
        if (rig.cameras[i].method == AlignmentMethod::NotAligned)
            cameras.push_back(i);
    }
    return cameras;
}

RunStep CalibrationProgress::step() const
{
    return {QStringLiteral("Alignement des images"), photos.done(), photo_count};
}

CalibrationOutcome run_calibration(const CalibrationRequest& request, std::ostream& log,
                                   CalibrationProgress* progress)
{
    CalibrationOutcome outcome;
    outcome.reference = request.reference;
    outcome.rig = construct_rig_calibration(request.references, request.color, outcome.reference,
                                            log, progress ? &progress->photos : nullptr);
    outcome.calibration = outcome.rig.calibration();
    outcome.stopped = progress && progress->stop_requested();
    return outcome;
}

bool align_camera_by_hand(RigCalibration& rig, int camera, const std::array<cv::Point2d, 3>& points,
                          const ReferenceTriple& reference, std::ostream& log)
{
    CameraCalibration& entry = rig.cameras.at(camera);
    const std::optional<CameraCalibration> aligned =
        align_camera_manually(entry,
                              {QPointF(points[0].x, points[0].y), QPointF(points[1].x, points[1].y),
                               QPointF(points[2].x, points[2].y)},
                              reference, entry.reference_size, log);
    if (!aligned) {
        entry.method = AlignmentMethod::NotAligned;
        entry.transform = ImageAlignment();
        entry.stickers = {};
        return false;
    }
    entry = *aligned;
    return true;
}
