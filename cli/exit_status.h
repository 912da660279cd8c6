#pragma once

// What the program's exit status tells a script.
enum ExitStatus
{
    ExitDone = 0,
    ExitFailed = 1,                // the work failed: a photo, the output, ffmpeg
    ExitBadUsage = 2,              // the command line is wrong
    ExitCalibrationIncomplete = 3, // some cameras are not aligned
};
