#include "calibration/manual_alignment.h"

#include "calibration/alignment.h"

#include <algorithm>

std::optional<CameraCalibration> align_camera_manually(const CameraCalibration& entry,
                                                       const std::array<QPointF, 3>& clicks,
                                                       const ReferenceTriple& reference,
                                                       QSize photo_size, std::ostream& log,
                                                       const std::array<double, 3>& uncertainty)
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
    // Top to bottom, each click keeping its uncertainty.
    std::array<int, 3> order{0, 1, 2};
    std::stable_sort(order.begin(), order.end(),
                     [&](int a, int b) { return clicks[a].y() < clicks[b].y(); });
    for (int i = 0; i < 3; ++i) {
        aligned.stickers[i] = {clicks[order[i]].x(), clicks[order[i]].y()};
        aligned.sticker_uncertainty[i] = uncertainty[order[i]];
    }
    if (aligned.reference_size.isEmpty())
        aligned.reference_size = photo_size;
    return aligned;
}
