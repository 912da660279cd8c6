#pragma once

#include "cli/usage.h"
#include "pipeline/camera_drift.h"
#include "pipeline/processing_run.h"

#include <QString>
#include <QStringList>

// What `quorvane process` is asked to do.
struct ProcessArguments
{
    QString calibration; // the calibration file to read
    // Shots in camera order (at least one), the output folder and the video
    // options within the window's bounds; the calibration comes from the file.
    ProcessingRequest request;
    // What to do about a camera that moved since the calibration.
    DriftMode on_drift = DriftMode::Warn;
};

// Reads `process --calibration RIG.qvcal --output DIR [VIDEO OPTIONS] SHOT...`
// from `arguments` (the program's) into `parsed`, which is complete when the
// outcome runs. No side effect.
ParseOutcome parse_process_arguments(const QStringList& arguments, ProcessArguments& parsed);

// `quorvane process ...`: the frames and videos of one set of shots (camera
// order), as a processing run of the window makes them. `arguments` are the program's.
int run_process_command(const QStringList& arguments);
