#pragma once

#include "calibration/calibration.h"
#include "calibration/rig_calibration.h"
#include "detection/color_thresholds.h"
#include "detection/reference_selection.h"
#include "detection/sticker_components.h"
#include "support/batch_progress.h"

#include <QString>
#include <QStringList>

#include <array>
#include <iosfwd>
#include <optional>

// Finds, aligns and stores the stickers of one reference photo (entry image_index).
// A photo whose stickers are not found or not in line is left unaligned.
// Returns the three centres identified, top to bottom, if any.
std::optional<std::array<cv::Point2d, 3>> detect_stickers(Calibration& calibration,
                                                          const QString& path, int image_index,
                                                          const StickerMatch& match,
                                                          const ReferenceTriple& reference,
                                                          std::ostream& log);

// The same from the components already found in that photo: identification,
// the centre-rule block and the alignment, with their log lines.
std::optional<std::array<cv::Point2d, 3>>
detect_stickers(Calibration& calibration, const StickerComponents& components, int image_index,
                const ReferenceTriple& reference, std::ostream& log);

// Calibrates a rig from its reference photos: selects the reference configuration
// from the middle photo (writing `reference`), then aligns every photo. When the
// selection fails, no photo is aligned and `reference` is unchanged.
//
// Photos are read and analysed on every core, the middle one first; the record,
// `reference` and the lines on `log` (written by one thread at a time, photo by
// photo in list order) are those of aligning the photos one after the other.
// With `progress`, each finished photo is counted, in list order and from the
// worker threads one at a time (when the selection fails, only the middle photo).
// A requested stop lets the photos in hand finish: photos never started stay
// unaligned and log nothing, so the record is then incomplete.
Calibration construct_calibration(const QStringList& reference_paths,
                                  const StickerMatch& match, ReferenceTriple& reference,
                                  std::ostream& log, BatchProgress* progress = nullptr);

// The same construction, kept as a rig's calibration: each photo's path and size,
// how it was aligned (automatically, or not at all) and the stickers it was
// aligned from; the reference configuration is `reference` once it is done.
RigCalibration construct_rig_calibration(const QStringList& reference_paths, StickerColor color,
                                         ReferenceTriple& reference, std::ostream& log,
                                         BatchProgress* progress = nullptr);

// The same with the stickers masked by `learned` when there is one (the preset
// `color` is then kept only as the rig's named colour); the record keeps it.
RigCalibration construct_rig_calibration(const QStringList& reference_paths, StickerColor color,
                                         const std::optional<LearnedColour>& learned,
                                         ReferenceTriple& reference, std::ostream& log,
                                         BatchProgress* progress = nullptr);

// Keeps in each camera of `rig` what its reference photo shows for the check of
// later shots (see drift_check); a photo that cannot be read or has too little
// texture keeps none, and its camera goes unchecked.
void add_drift_references(RigCalibration& rig);
