#pragma once

#include "calibration/calibration.h"

#include <QString>

#include <optional>

// The calibration of a benchmark's generated rig, kept beside the rig so that
// later runs (of this benchmark or of another sharing the folder) skip it: one
// line per camera, every number written so that it reads back exactly.
bool save_cached_calibration(const Calibration& calibration, const QString& path);
std::optional<Calibration> load_cached_calibration(const QString& path);
