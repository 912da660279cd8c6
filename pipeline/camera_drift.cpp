#include "pipeline/camera_drift.h"

#include "calibration/alignment.h"
#include "calibration/drift_check.h"
#include "output/frame_geometry.h"

#include <opencv2/core/utility.hpp>

#include <algorithm>
#include <array>
#include <cmath>

namespace {

// The points the drift is measured at: the frame's centre and corners, in
// camera `camera`'s photo pixels, and how many frame pixels one of them spans.
struct FramePoints
{
    std::array<cv::Point2d, 5> points;
    double frame_per_photo = 1.0;
};

FramePoints frame_points(const RigCalibration& rig, int camera, const QRect& rect)
{
    const CameraCalibration& entry = rig.cameras[camera];
    const Similarity to_frame = alignment_similarity(entry.transform);
    FramePoints frame;
    frame.frame_per_photo = to_frame.scale;
    if (rect.isEmpty()) {
        // No frame to speak of: the photo's own corners stand for it.
        const double w = entry.reference_size.width() - 1.0;
        const double h = entry.reference_size.height() - 1.0;
        frame.points = {cv::Point2d(w / 2, h / 2), cv::Point2d(0, 0), cv::Point2d(w, 0),
                        cv::Point2d(w, h), cv::Point2d(0, h)};
        return frame;
    }
    const Similarity to_photo = inverse(to_frame);
    const double l = rect.left(), t = rect.top(), r = rect.right(), b = rect.bottom();
    const std::array<cv::Point2d, 5> corners = {cv::Point2d((l + r) / 2, (t + b) / 2),
                                                cv::Point2d(l, t), cv::Point2d(r, t),
                                                cv::Point2d(r, b), cv::Point2d(l, b)};
    for (int i = 0; i < 5; ++i)
        frame.points[i] = apply(to_photo, corners[i]);
    return frame;
}

bool checkable(const CameraCalibration& entry)
{
    return entry.method != AlignmentMethod::NotAligned && !entry.drift.empty() &&
           !entry.reference_size.isEmpty();
}

QString french_number(double value)
{
    return QString::number(value, 'f', 1).replace(QLatin1Char('.'), QLatin1Char(','));
}

} // namespace

QRect drift_frame_rect(const RigCalibration& rig)
{
    std::vector<QSize> sizes;
    std::vector<ImageAlignment> alignments;
    for (const CameraCalibration& entry : rig.cameras) {
        sizes.push_back(entry.reference_size);
        alignments.push_back(entry.transform);
    }
    return common_frame_rect(sizes, alignments, rig.camera_count() / 2);
}

double drift_between(const RigCalibration& rig, int camera, const Similarity& a,
                     const Similarity& b)
{
    return drift_between(rig, camera, a, b, drift_frame_rect(rig));
}

double drift_between(const RigCalibration& rig, int camera, const Similarity& a,
                     const Similarity& b, const QRect& frame_rect)
{
    const FramePoints frame = frame_points(rig, camera, frame_rect);
    double largest = 0.0;
    for (const cv::Point2d& p : frame.points) {
        const cv::Point2d d = apply(a, p) - apply(b, p);
        largest = std::max(largest, std::hypot(d.x, d.y));
    }
    return largest * frame.frame_per_photo;
}

bool drift_checkable(const RigCalibration& rig, int camera)
{
    return camera >= 0 && camera < rig.camera_count() && checkable(rig.cameras[camera]);
}

CameraDrift measure_camera_drift(const RigCalibration& rig, int camera, const DriftPicture& shot)
{
    return measure_camera_drift(rig, camera, shot, drift_frame_rect(rig));
}

namespace {

CameraDrift drift_of(const RigCalibration& rig, int camera, const DriftMeasure& measure,
                     const QRect& frame_rect)
{
    CameraDrift result;
    if (!measure.motion) {
        result.state = DriftState::CannotCompare;
        return result;
    }
    result.motion = *measure.motion;
    result.rotation_deg = measure.motion->rotation * 180.0 / CV_PI;
    result.shift_px = drift_between(rig, camera, result.motion, Similarity(), frame_rect);
    result.state = result.shift_px >= drift_threshold_px ? DriftState::Moved : DriftState::Still;
    return result;
}

} // namespace

CameraDrift measure_camera_drift(const RigCalibration& rig, int camera, const DriftPicture& shot,
                                 const QRect& frame_rect)
{
    if (!drift_checkable(rig, camera))
        return {};
    return drift_of(rig, camera, measure_drift(rig.cameras[camera].drift, shot), frame_rect);
}

CameraDrift measure_camera_drift(const RigCalibration& rig, int camera, const QImage& stored,
                                 QImageIOHandler::Transformations turn, const QRect& frame_rect)
{
    if (!drift_checkable(rig, camera))
        return {};
    const CameraCalibration& entry = rig.cameras[camera];
    return drift_of(rig, camera, measure_drift(entry.drift, stored, turn, entry.reference_size),
                    frame_rect);
}

std::vector<CameraDrift> check_drift(const RigCalibration& rig, const QStringList& shots,
                                     ReducedShots* reduced)
{
    const int count = std::min(rig.camera_count(), static_cast<int>(shots.size()));
    std::vector<CameraDrift> drift(rig.camera_count());
    if (reduced)
        reduced->shots.assign(static_cast<std::size_t>(count), ReducedPhoto());
    const QRect frame_rect = drift_frame_rect(rig);
    cv::parallel_for_(cv::Range(0, count), [&](const cv::Range& range) {
        for (int camera = range.start; camera < range.end; ++camera) {
            const CameraCalibration& entry = rig.cameras[camera];
            if (!checkable(entry))
                continue;
            ReducedPhoto shot = read_drift_copy(shots[camera], entry.reference_size);
            drift[camera] = measure_camera_drift(
                rig, camera, drift_picture(shot, entry.reference_size), frame_rect);
            if (reduced)
                reduced->shots[static_cast<std::size_t>(camera)] = std::move(shot);
        }
    });
    return drift;
}

ImageAlignment composed_alignment(const ImageAlignment& transform, const Similarity& motion)
{
    // The camera's transform after the motion: a shot's pixel goes where the
    // same point of the reference photo went.
    ImageAlignment t = transform;
    const Similarity before = alignment_similarity(t);
    const cv::Point2d moved_origin = apply(before, motion.translation);
    t.scale = before.scale * motion.scale;
    t.rotation_deg += motion.rotation * 180.0 / CV_PI;
    t.translation_x = moved_origin.x;
    t.translation_y = moved_origin.y;
    return t;
}

void compose_drift(RigCalibration& rig, int camera, const Similarity& motion)
{
    ImageAlignment& t = rig.cameras[camera].transform;
    t = composed_alignment(t, motion);
}

RigCalibration corrected_for_drift(const RigCalibration& rig, const std::vector<CameraDrift>& drift)
{
    RigCalibration corrected = rig;
    for (int camera : moved_cameras(drift))
        if (camera < corrected.camera_count())
            compose_drift(corrected, camera, drift[camera].motion);
    return corrected;
}

QString drift_text(int camera, const CameraDrift& drift)
{
    return QStringLiteral("Caméra %1 : décalée de %2 px, tournée de %3° depuis le calibrage")
        .arg(camera + 1)
        .arg(french_number(drift.shift_px), french_number(std::abs(drift.rotation_deg)));
}

QString cannot_compare_text(int camera)
{
    return QStringLiteral("Caméra %1 : sa photo ne peut pas être comparée à celle du calibrage "
                          "(trop peu de détails en commun), elle n'est pas vérifiée")
        .arg(camera + 1);
}

std::vector<int> moved_cameras(const std::vector<CameraDrift>& drift)
{
    std::vector<int> moved;
    for (int camera = 0; camera < static_cast<int>(drift.size()); ++camera)
        if (drift[camera].state == DriftState::Moved)
            moved.push_back(camera);
    return moved;
}
