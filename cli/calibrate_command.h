#pragma once

#include <QStringList>

// `quorvane calibrate [--color yellow|pink] [--points K=x1,y1,x2,y2,x3,y3]...
// --output RIG.qvcal REFERENCE...`: calibrates the rig from its reference photos
// (camera order) and writes the calibration file. `arguments` are the program's.
int run_calibrate_command(const QStringList& arguments);
