#pragma once

#include <QStringList>

// `quorvane process --calibration RIG.qvcal --output DIR [VIDEO OPTIONS] SHOT...`:
// the frames and videos of one set of shots (camera order), as a processing run
// of the window makes them. `arguments` are the program's.
int run_process_command(const QStringList& arguments);
