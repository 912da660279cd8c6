#pragma once

#include "calibration/calibration.h"
#include "calibration/rig_calibration.h"

#include <QSize>
#include <QString>
#include <QStringList>

#include <iosfwd>
#include <optional>

// A shot whose picture has other proportions than its camera's reference photo:
// the calibration cannot be carried over to it.
struct ShotSizeMismatch
{
    int camera = 0;
    QString shot;
    QSize shot_size;
    QSize reference_size;
};

// The calibration a set of shots is processed with, or why it cannot be.
struct ShotCalibration
{
    Calibration calibration;
    std::optional<ShotSizeMismatch> mismatch;
};

// Fits `rig` to the shots (one per camera, in camera order) from their file
// headers: a shot of the same proportions as its camera's reference photo but
// another size (a camera switched to a smaller JPEG size) gets the camera's
// transform scaled to it, with one line on `log`; a shot of other proportions
// is a mismatch (the first one, in camera order). A shot that cannot be read,
// a camera not aligned or of unknown reference size is left as it is: the run
// reports unreadable shots itself.
ShotCalibration fit_calibration_to_shots(const RigCalibration& rig, const QStringList& shots,
                                         std::ostream& log);
