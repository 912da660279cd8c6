#pragma once

#include "calibration/calibration.h"
#include "detection/reference_selection.h"

#include <opencv2/core/types.hpp>

#include <array>
#include <iosfwd>
#include <vector>

// Checks that the three stickers (rows `indices` of `centre_table`, top to bottom)
// lie on a line (|cos| > 0.98) and, if so, stores in entry `image_index` the
// shift, rotation and scale that bring them onto `reference`. Logs the
// colinearity value in every case; never clears a flag, never stores a
// non-finite value.
void estimate_alignment(Calibration& calibration, int image_index,
                        const std::array<int, 3>& indices,
                        const std::vector<cv::Point2d>& centre_table,
                        const ReferenceTriple& reference, std::ostream& log);

// Aligns from three clicked points, given in click order in image pixels; the
// points are ordered top to bottom first. The outcome is calibration.aligned[image_index].
void align_manually(Calibration& calibration, int image_index, double x1, double y1, double x2,
                    double y2, double x3, double y3, const ReferenceTriple& reference,
                    std::ostream& log);
