#include "output/calibration_check.h"

#include "calibration/alignment.h"
#include "calibration/alignment_uncertainty.h"
#include "output/frame_geometry.h"
#include "output/frame_render.h"

#include <QLineF>

#include <algorithm>
#include <vector>

namespace {

// Where `point` of a camera's photo lands in a frame cut from `frame`.
QPointF in_frame(const ImageAlignment& alignment, const cv::Point2d& point, const QRect& frame)
{
    const cv::Point2d at = apply(alignment_similarity(alignment), point);
    return QPointF(at.x - frame.x(), at.y - frame.y());
}

} // namespace

QRect check_frame_rect(const RigCalibration& rig)
{
    std::vector<QSize> sizes;
    std::vector<ImageAlignment> alignments;
    int reference = -1;
    for (int k = 0; k < rig.camera_count(); ++k) {
        const CameraCalibration& camera = rig.cameras[k];
        if (camera.method == AlignmentMethod::NotAligned || camera.reference_size.isEmpty())
            continue;
        if (k <= rig.camera_count() / 2)
            reference = static_cast<int>(sizes.size());
        sizes.push_back(camera.reference_size);
        alignments.push_back(camera.transform);
    }
    return sizes.empty() ? QRect() : common_frame_rect(sizes, alignments, std::max(reference, 0));
}

CameraCheck check_camera(const RigCalibration& rig, int camera, const QRect& frame)
{
    CameraCheck check;
    if (camera < 0 || camera >= rig.camera_count())
        return check;
    const CameraCalibration& middle = rig.cameras[rig.camera_count() / 2];
    const CameraCalibration& checked = rig.cameras[camera];
    if (checked.method == AlignmentMethod::NotAligned ||
        middle.method == AlignmentMethod::NotAligned)
        return check;
    check.fit_error = 0.0;
    for (int i = 0; i < 3; ++i) {
        const cv::Point2d& own = checked.stickers[i];
        const cv::Point2d& reference = rig.reference_stickers[i];
        check.stickers[i] = in_frame(checked.transform, own, frame);
        check.reference[i] = in_frame(middle.transform, reference, frame);
        check.fit_error =
            std::max(check.fit_error, QLineF(check.stickers[i], check.reference[i]).length());
    }
    const std::array<double, 3>& uncertainty = checked.sticker_uncertainty;
    if ((uncertainty[0] > 0.0 || uncertainty[1] > 0.0 || uncertainty[2] > 0.0) && !frame.isEmpty())
        check.corner_uncertainty = frame_corner_uncertainty(
            checked.stickers, uncertainty, rig.reference_stickers, frame_corners(frame));
    return check;
}

std::array<cv::Point2d, 4> frame_corners(const QRect& frame)
{
    const double left = frame.left(), top = frame.top();
    const double right = frame.right(), bottom = frame.bottom();
    return {{{left, top}, {right, top}, {right, bottom}, {left, bottom}}};
}

QImage aligned_photo(const QImage& photo, const CameraCalibration& camera, const QRect& frame)
{
    if (photo.isNull() || camera.method == AlignmentMethod::NotAligned || frame.isEmpty())
        return {};
    return render_frame(photo, camera.transform, frame);
}
