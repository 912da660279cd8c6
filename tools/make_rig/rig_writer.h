#pragma once

#include "tools/make_rig/rig_scene.h"

#include <QString>

#include <iosfwd>
#include <string>

// What write_rig produced: the ground truth, or why nothing (or not everything)
// could be written.
struct RigWriteResult
{
    std::string error; // empty on success
    RigGroundTruth truth;

    bool ok() const { return error.empty(); }
};

// File names inside a rig folder, index zero-padded so that listings sort by camera.
QString reference_file_name(int camera); // "references/ref_00.jpg"
QString shot_file_name(int camera);      // "shots/shot_00.jpg"
constexpr const char* ground_truth_file_name = "ground_truth.txt";

// A parallax rig's files for camera `camera` and take `take` (from 0) of `takes`:
// with one take "shots/shot_00.jpg", "truth/shot_00.png" (the shot without colour
// differences) and "truth/between_00_01.png" (view `step` between this camera and
// the next); with several, each in its take's folder ("shots/take_01/shot_00.jpg").
QString parallax_shot_file_name(int camera, int take, int takes);
QString truth_shot_file_name(int camera, int take, int takes);
QString between_file_name(int camera, int step, int take, int takes);

// Renders the rig of `options` into `folder`: ground_truth.txt first, then one
// reference and one shot photo per camera (a parallax rig: per take, with the
// truth pictures). The folder is created when missing.
// An existing folder must be empty or hold an earlier rig, whose photos are
// removed first so that none of a larger rig is left behind; any other folder is
// refused untouched. Writes one line per file to `log`.
RigWriteResult write_rig(const RigOptions& options, const QString& folder, std::ostream& log);
