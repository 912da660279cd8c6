#pragma once

#include "calibration/rig_calibration.h"

#include <QString>

#include <optional>

// Reads the calibration file named by --calibration for `process` and `watch`.
// Prints why it cannot be used (unreadable, damaged, some cameras not aligned)
// and gives the exit status to end with in that case.
struct RigFile
{
    RigCalibration rig;
    std::optional<int> exit_status;
};
RigFile read_rig_for_processing(const QString& path);
