#include "output/calibration_check.h"

#include "output/frame_geometry.h"
#include "output/frame_render.h"

#include <QLineF>

#include <algorithm>
#include <vector>

QSize check_frame_size(const RigCalibration& rig)
{
    std::vector<QSize> inner;
    for (const CameraCalibration& camera : rig.cameras) {
        if (camera.method != AlignmentMethod::NotAligned && !camera.reference_size.isEmpty())
            inner.push_back(frame_geometry(camera.reference_size, camera.transform).inner);
    }
    return inner.empty() ? QSize() : common_frame_size(inner);
}

CameraCheck check_camera(const RigCalibration& rig, int camera, QSize frame)
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
        check.stickers[i] =
            frame_point(checked.reference_size, checked.transform, frame, QPointF(own.x, own.y));
        check.reference[i] = frame_point(middle.reference_size, middle.transform, frame,
                                         QPointF(reference.x, reference.y));
        check.fit_error =
            std::max(check.fit_error, QLineF(check.stickers[i], check.reference[i]).length());
    }
    return check;
}

QImage aligned_photo(const QImage& photo, const CameraCalibration& camera, QSize frame)
{
    if (photo.isNull() || camera.method == AlignmentMethod::NotAligned || frame.isEmpty())
        return {};
    const FrameGeometry geometry = frame_geometry(photo.size(), camera.transform);
    if (geometry.inner.isEmpty())
        return {};
    QImage cut(frame, QImage::Format_RGB888);
    const QImage pixels = renderable(photo);
    render_frame_into(upright_pixels(pixels), geometry, camera.transform, cut);
    return cut;
}
