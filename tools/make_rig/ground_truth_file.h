#pragma once

#include "tools/make_rig/rig_scene.h"

#include <QString>

#include <optional>
#include <string>

// The text of ground_truth.txt: a commented header, one "key values" line per
// setting and one "camera" line per camera (pose, then sticker centres), with
// doubles written to full precision so that reading gives back the same values.
std::string ground_truth_text(const RigGroundTruth& truth);

// Parses what ground_truth_text wrote; nothing on any malformed or missing line.
std::optional<RigGroundTruth> parse_ground_truth(const std::string& text);

// Reads a ground_truth.txt file; nothing when it is unreadable or malformed.
std::optional<RigGroundTruth> read_ground_truth(const QString& path);
