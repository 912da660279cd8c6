#pragma once

#include "output/decoded_shot_check.h"
#include "pipeline/camera_drift.h"

#include <QStringList>

#include <optional>
#include <vector>

// The drift check made in the frames pass (see DecodedShotCheck): each camera's
// shot is compared with its reference as it is decoded for its frame, so that
// a run decodes its shots once. As `mode` says, the run goes on, goes on with
// the moved camera's frame corrected, or is refused at the first moved camera.
// The frames keep the rectangle planned from the calibration: a correction of a
// few pixels would move its edges by as much.
class PassDriftCheck : public DecodedShotCheck
{
public:
    // `in_force`, by camera (missing entries: none), is the motion the planned
    // alignment of a camera is already corrected by (the booth keeps one from
    // take to take). A camera is aligned anew only when what its shot shows is
    // at least drift_threshold_px away from that: corrected by what was found
    // when it moved, back to its calibration when it is in place again.
    PassDriftCheck(RigCalibration rig, DriftMode mode,
                   std::vector<std::optional<Similarity>> in_force = {});

    std::optional<ImageAlignment> check_shot(int camera, const QImage& stored,
                                             QImageIOHandler::Transformations turn,
                                             const ImageAlignment& planned) override;

    // Each camera's finding; NotChecked for a camera whose shot the pass did
    // not reach. Read once the pass is over.
    const std::vector<CameraDrift>& found() const { return drift; }

    // Checks, with a reduced decode of their own, the cameras the pass did not
    // reach (it stops at a refusal), so that a refused run names every camera
    // that moved. A shot that cannot be read stays NotChecked.
    void check_rest(const QStringList& shots);

private:
    RigCalibration rig;
    DriftMode mode;
    std::vector<std::optional<Similarity>> in_force;
    std::vector<CameraDrift> drift;
    std::vector<char> reached; // by camera, each written by its own worker only
    QRect frame_rect;          // drift_frame_rect(rig)
};
