#pragma once

#include "cli/usage.h"
#include "pipeline/calibration_run.h"

#include <QMap>
#include <QString>
#include <QStringList>

#include <array>

// What `quorvane calibrate` is asked to do.
struct CalibrateArguments
{
    // References as absolute paths, in camera order, and the sticker colour.
    CalibrationRequest request;
    QString output; // the calibration file to write
    // Sticker centres given by hand (--points), by camera (0-based, below the
    // number of references), in pixels of that camera's reference: finite.
    QMap<int, std::array<cv::Point2d, 3>> by_hand;
};

// Reads `calibrate [--color yellow|pink|#RRGGBB] [--color-at X,Y] [--points K=x1,y1,x2,y2,x3,y3]...
// --output RIG.qvcal REFERENCE...` from `arguments` (the program's) into
// `parsed`, which is complete when the outcome runs. No side effect.
ParseOutcome parse_calibrate_arguments(const QStringList& arguments, CalibrateArguments& parsed);

// `quorvane calibrate ...`: calibrates the rig from its reference photos
// (camera order) and writes the calibration file. `arguments` are the program's.
int run_calibrate_command(const QStringList& arguments);
