#include "calibration/manual_alignment.h"

#include "calibration/alignment.h"

#include <algorithm>

std::optional<CameraCalibration> align_camera_manually(const CameraCalibration& entry,
                                                       const std::array<QPointF, 3>& clicks,
                                                       const ReferenceTriple& reference,
                                                       QSize photo_size, std::ostream& log)
{
    // Without a reference configuration every scale would be 0 and every frame empty.
    if (!reference.selected)
        return std::nullopt;
    Calibration single = Calibration::with_count(1);
    align_manually(single, 0, clicks, reference, log);
    if (!single.aligned[0])
        return std::nullopt;
    CameraCalibration aligned = entry;
    aligned.method = AlignmentMethod::Manual;
    aligned.transform = single.alignment(0);
    for (int i = 0; i < 3; ++i)
        aligned.stickers[i] = {clicks[i].x(), clicks[i].y()};
    std::stable_sort(aligned.stickers.begin(), aligned.stickers.end(),
                     [](const cv::Point2d& a, const cv::Point2d& b) { return a.y < b.y; });
    if (aligned.reference_size.isEmpty())
        aligned.reference_size = photo_size;
    return aligned;
}
