#include "pipeline/pass_drift_check.h"

#include "calibration/drift_check.h"
#include "output/frame_geometry.h"

PassDriftCheck::PassDriftCheck(RigCalibration rig_, DriftMode mode_,
                               std::vector<std::optional<Similarity>> in_force_)
    : rig(std::move(rig_)), mode(mode_), in_force(std::move(in_force_)),
      drift(static_cast<std::size_t>(rig.camera_count())),
      reached(static_cast<std::size_t>(rig.camera_count()), 0), frame_rect(drift_frame_rect(rig))
{
    in_force.resize(static_cast<std::size_t>(rig.camera_count()));
}

std::optional<ImageAlignment> PassDriftCheck::check_shot(int camera, const QImage& stored,
                                                         QImageIOHandler::Transformations turn,
                                                         const ImageAlignment& planned)
{
    if (!drift_checkable(rig, camera))
        return planned;
    const CameraCalibration& entry = rig.cameras[camera];
    reached[camera] = 1;
    CameraDrift& found = drift[camera];
    found = measure_camera_drift(rig, camera, stored, turn, frame_rect);
    if (found.state != DriftState::Moved && found.state != DriftState::Still)
        return planned;
    if (mode == DriftMode::Fail)
        return found.state == DriftState::Moved ? std::nullopt
                                                : std::optional<ImageAlignment>(planned);
    if (mode == DriftMode::Warn)
        return planned;
    const Similarity current = in_force[camera] ? *in_force[camera] : Similarity();
    if (drift_between(rig, camera, found.motion, current, frame_rect) < drift_threshold_px)
        return planned;
    const ImageAlignment aligned = found.state == DriftState::Moved
                                       ? composed_alignment(entry.transform, found.motion)
                                       : entry.transform;
    // Fitted to the shot's size as the run's calibration was (fit_calibration_to_shots).
    const QSize upright =
        (turn & QImageIOHandler::TransformationRotate90) ? stored.size().transposed() : stored.size();
    if (upright == entry.reference_size)
        return aligned;
    const double kx = double(upright.width()) / entry.reference_size.width();
    const double ky = double(upright.height()) / entry.reference_size.height();
    return alignment_for_resized_input(aligned, (kx + ky) / 2);
}

void PassDriftCheck::check_rest(const QStringList& shots)
{
    for (int camera = 0; camera < rig.camera_count() && camera < shots.size(); ++camera) {
        if (reached[camera] || !drift_checkable(rig, camera))
            continue;
        const DriftPicture shot =
            read_drift_picture(shots[camera], rig.cameras[camera].reference_size);
        // A shot that cannot be read is the run's own error to tell, once it
        // reaches it: it is not one with too little in common to compare.
        if (!shot.grey.empty())
            drift[camera] = measure_camera_drift(rig, camera, shot, frame_rect);
    }
}
