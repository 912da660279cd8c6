#pragma once

#include "calibration/calibration.h"
#include "detection/color_thresholds.h"
#include "detection/reference_selection.h"

#include <QString>
#include <QStringList>

#include <iosfwd>

// Finds, aligns and stores the stickers of one reference photo (entry image_index).
// A photo whose stickers are not found or not in line is left unaligned.
void detect_stickers(Calibration& calibration, const QString& path, int image_index,
                     const ColorThresholds& thresholds, const ReferenceTriple& reference,
                     std::ostream& log);

// Calibrates a rig from its reference photos: selects the reference configuration
// from the middle photo (writing `reference`), then aligns every photo in order.
// When the selection fails, no photo is aligned and `reference` is unchanged.
Calibration construct_calibration(const QStringList& reference_paths,
                                  const ColorThresholds& thresholds, ReferenceTriple& reference,
                                  std::ostream& log);
