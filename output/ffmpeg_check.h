#pragma once

#include "support/process_runner.h"

#include <QString>

// Why ffmpeg cannot run here, found by running "ffmpeg -version" before anything
// is written: without it every frame would be written only to be taken back.
struct FfmpegProblem
{
    ProcessResult result; // of "ffmpeg -version"

    bool none() const { return result.succeeded(); }
    // Why, in short ("not found on PATH", "crashed", "exit code 3"); empty when it runs.
    QString reason() const;
    // Why, as the video export says it of ffmpeg ("ffmpeg could not be started:
    // not found on PATH", "ffmpeg crashed", "ffmpeg ended with exit code 3").
    QString line() const;
};

FfmpegProblem ffmpeg_problem(ProcessRunner& runner);
