#pragma once

#include "calibration/rig_calibration.h"
#include "output/shot_sizes.h"
#include "pipeline/processing_run.h"

#include <QString>
#include <QStringList>

#include <iosfwd>
#include <vector>

// A shot that cannot be used, found before anything is written.
struct UnusablePhoto
{
    int camera = 0; // counted from 0
    QString path;   // as given
    QString reason; // photo_problem's French reason
};

// The checks of a run's preparation, in the order plan_processing makes them.
enum class PlanCheck
{
    None,
    Overlay,             // the overlay's file is not a PNG it can use
    ShotCount,           // not one shot per camera
    UnusablePhotos,      // a shot missing, empty or not a readable photo (when asked)
    ShotSize,            // a shot of other proportions than its camera's reference
    ShotAmongEarlierRun, // a shot is one of the earlier run's files the run replaces
};

// Which check failed, with what its message names.
struct PlanProblem
{
    PlanCheck check = PlanCheck::None;
    int shot_count = 0;                 // ShotCount: the shots given
    int camera_count = 0;               // ShotCount: the rig's cameras
    std::vector<UnusablePhoto> unusable; // UnusablePhotos: every one, in camera order
    ShotSizeMismatch mismatch;          // ShotSize: the first one, in camera order
    QString shot;                       // ShotAmongEarlierRun: the shot; Overlay: its file
    QString overlay_reason;             // Overlay: overlay_problem's reason
};

// What an earlier run left in a folder, and the first shot among those files
// (it would be lost with them), or an empty string.
struct EarlierRun
{
    QStringList files;
    QString shot;
};
EarlierRun earlier_run_in(const QString& folder, const QStringList& shots);

// A processing run ready to go, or why it cannot be.
struct ProcessingPlan
{
    // The shots in the order given (camera order), the calibration fitted to
    // their sizes, the folder and the options: ready to run once no check failed.
    ProcessingRequest request;
    // The files an earlier run left in the folder, which the run replaces.
    QStringList earlier_run;
    PlanProblem problem;

    bool ready() const { return problem.check == PlanCheck::None; }
};

// Prepares the run of `shots` (one per camera, in camera order) into `folder`
// with the video options of `options` (its shots, folder and calibration are
// not read). The overlay's file is checked first, then the checks go in PlanCheck's order and stop at the first that
// fails; the photos are checked only with `check_photos` (from their headers
// and a JPEG's structure, see photo_problem), every one of them. A shot of the
// same proportions as its reference but another size gets the calibration
// scaled, with one line on `log`. An empty `folder` skips the earlier run.
ProcessingPlan plan_processing(const RigCalibration& rig, const QStringList& shots,
                               const QString& folder, const ProcessingRequest& options,
                               bool check_photos, std::ostream& log);

// The one French wording of a problem of the plan, which the window, the
// command line and the booth each put in their own frame: "3 photos pour
// 4 caméras", the overlay's file and why, the shot and both sizes, the shot among the earlier run's files.
// The unusable photos are listed by each face; for them this words the first.
QString plan_problem_text(const PlanProblem& problem);
