#pragma once

#include "calibration/calibration.h"
#include "calibration/similarity_fit.h"
#include "detection/reference_selection.h"

#include <opencv2/core/types.hpp>

#include <QPointF>

#include <array>
#include <iosfwd>
#include <vector>

// Checks that the three stickers (rows `indices` of `centre_table`, top to bottom)
// lie on a line (|cos| > 0.98) and, if so, stores in entry `image_index` the
// similarity that maps them onto `reference` with the least sum of squared
// distances (see ImageAlignment). Logs the colinearity value in every case;
// never clears a flag, never stores a non-finite value, a reflection or a
// triple whose outer stickers coincide.
void estimate_alignment(Calibration& calibration, int image_index,
                        const std::array<int, 3>& indices,
                        const std::vector<cv::Point2d>& centre_table,
                        const ReferenceTriple& reference, std::ostream& log);

// Aligns from three clicked points, given in click order in image pixels (sub-pixel
// positions allowed); the points are ordered top to bottom first, then go
// through estimate_alignment. The outcome is calibration.aligned[image_index].
void align_manually(Calibration& calibration, int image_index, const std::array<QPointF, 3>& clicks,
                    const ReferenceTriple& reference, std::ostream& log);

// The similarity an entry stands for: this camera's pixels -> the reference camera's.
Similarity alignment_similarity(const ImageAlignment& alignment);
