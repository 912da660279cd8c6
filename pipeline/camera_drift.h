#pragma once

#include "calibration/drift_check.h"
#include "calibration/rig_calibration.h"
#include "calibration/similarity_fit.h"
#include "photo/reduced_photo.h"

#include <QRect>
#include <QString>
#include <QStringList>

#include <vector>

// Cameras that moved since the rig was calibrated: each shot is compared with
// what its camera's reference photo showed (see drift_check), and the motion
// found is said in frame pixels and, where chosen, composed into the camera's
// transform for the run. The window, `process` and the booth share these.

// What a run does about a camera that moved: say it, correct it, or refuse.
enum class DriftMode
{
    Warn,
    Correct,
    Fail,
};

// A camera counts as moved from this displacement, in frame pixels, at the
// frame's centre or one of its corners.
constexpr double drift_threshold_px = 1.0;

enum class DriftState
{
    NotChecked,    // nothing to compare with: the calibration keeps no data for it
    CannotCompare, // its shot has too little in common with its reference photo
    Still,
    Moved,
};

// One camera's motion since its calibration.
struct CameraDrift
{
    DriftState state = DriftState::NotChecked;
    // Shot pixels -> where that point was in the reference photo (reference
    // photo pixels); the identity unless Still or Moved.
    Similarity motion;
    // The largest displacement the motion makes at the frame's centre and
    // corners, in frame pixels, and its turn in degrees (clockwise on screen).
    double shift_px = 0.0;
    double rotation_deg = 0.0;
};

// Compares each shot (one per camera, in camera order) with its camera's
// reference; a camera not aligned, or without reference data, is NotChecked.
// Reads the shots at a reduced size, on every core; with `reduced`, keeps
// those copies there for whoever else looks at them reduced.
std::vector<CameraDrift> check_drift(const RigCalibration& rig, const QStringList& shots,
                                     ReducedShots* reduced = nullptr);

// Camera `camera`'s motion from its shot as the check sees it (see
// drift_picture); NotChecked when the camera is not aligned or has no
// reference data.
CameraDrift measure_camera_drift(const RigCalibration& rig, int camera, const DriftPicture& shot);
// The same with the rig's drift_frame_rect worked out already.
CameraDrift measure_camera_drift(const RigCalibration& rig, int camera, const DriftPicture& shot,
                                 const QRect& frame_rect);
// The same from the shot decoded in full (as stored, before `turn`).
CameraDrift measure_camera_drift(const RigCalibration& rig, int camera, const QImage& stored,
                                 QImageIOHandler::Transformations turn, const QRect& frame_rect);

// Whether camera `camera` of `rig` has what the check compares its shots with.
bool drift_checkable(const RigCalibration& rig, int camera);

// The largest distance between where motions `a` and `b` put camera `camera`'s
// pixels, at the frame's centre and corners, in frame pixels.
double drift_between(const RigCalibration& rig, int camera, const Similarity& a,
                     const Similarity& b);
// The same with the rig's drift_frame_rect worked out already.
double drift_between(const RigCalibration& rig, int camera, const Similarity& a,
                     const Similarity& b, const QRect& frame_rect);

// The frame rectangle (in the middle camera's pixels) whose centre and corners
// the drift is measured at: the rig's common frame. A search over every
// camera, worth making once for all the cameras of a take.
QRect drift_frame_rect(const RigCalibration& rig);

// `rig` with each Moved camera's motion composed into its transform, so that
// its shots land where its reference photo did.
RigCalibration corrected_for_drift(const RigCalibration& rig, const std::vector<CameraDrift>& drift);

// `motion` composed into camera `camera`'s transform of `rig`.
void compose_drift(RigCalibration& rig, int camera, const Similarity& motion);

// The same for one transform.
ImageAlignment composed_alignment(const ImageAlignment& transform, const Similarity& motion);

// "Caméra 7 : décalée de 3,4 px, tournée de 0,3° depuis le calibrage"
// (`camera` counted from 0, said from 1).
QString drift_text(int camera, const CameraDrift& drift);

// "Caméra 7 : sa photo ne peut pas être comparée à celle du calibrage (trop
// peu de détails en commun), elle n'est pas vérifiée"
QString cannot_compare_text(int camera);

// The cameras in `drift` that are Moved.
std::vector<int> moved_cameras(const std::vector<CameraDrift>& drift);
