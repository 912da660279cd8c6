#pragma once

#include "detection/color_thresholds.h"
#include "detection/sticker_components.h"

#include <opencv2/core/types.hpp>

#include <QStringList>

#include <array>
#include <iosfwd>

// The sticker centres of the middle reference photo (top, middle, bottom), in its
// pixels. Every camera is aligned onto these. `selected` stays false until a
// selection has succeeded; the points are then (0, 0).
struct ReferenceTriple
{
    std::array<cv::Point2d, 3> points{};
    bool selected = false;
};

// Finds the three stickers of reference_paths[n / 2] and, on success only,
// writes them into `reference` and logs the "Reference chosen :" block.
// Returns false for an empty list, an unreadable photo or fewer than three blobs.
bool select_reference(const QStringList& reference_paths, const StickerMatch& match,
                      ReferenceTriple& reference, std::ostream& log);

// The same selection on the components already found in the middle photo (the
// caller logs what finding them logged): identification and, on success, the
// write and the "Reference chosen :" block.
bool select_reference(const StickerComponents& middle_components, ReferenceTriple& reference,
                      std::ostream& log);
