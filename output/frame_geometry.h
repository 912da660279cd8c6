#pragma once

#include "calibration/calibration.h"

#include <opencv2/core/types.hpp>

#include <QRect>
#include <QSize>

#include <array>
#include <optional>
#include <vector>

// The frames of a run all show one rectangle of the reference camera's pixel
// frame: frame pixel (x, y) is reference pixel (left + x, top + y), so a scene
// point lands on the same frame pixel in every camera.

// The quadrilateral an upright picture of `input` size covers once aligned,
// in reference pixels: the outer edges of its pixels (from -0.5 to size - 0.5)
// through the alignment, corners in order around it. Empty for an entry that
// stands for no usable similarity (never aligned, scale not above 0, values
// not finite, or a picture moved or enlarged far beyond any photo).
std::optional<std::array<cv::Point2d, 4>> aligned_footprint(QSize input,
                                                            const ImageAlignment& alignment);

// The rectangle every frame is cut from: the largest one, by area and with
// even width and height, whose pixel centres all lie on every aligned picture
// (so no frame shows anything from outside its shot), placed as close as that
// allows to the centre of the reference camera's picture (entry
// `reference_index`). Found by maximising the area over real-valued rectangles
// (a concave problem in the log, solved by nested ternary searches), then
// rounding the sides down to even and searching every row for the nearest
// placement, a few pixels less when the rounded size does not fit. An empty
// rectangle when the pictures share no such area or an entry is unusable;
// `inputs` and `alignments` have one entry per camera.
QRect common_frame_rect(const std::vector<QSize>& inputs,
                        const std::vector<ImageAlignment>& alignments, int reference_index);

// The alignment for an input `factor` times the size of the photo `alignment`
// was computed on (the same picture, proportions kept): it takes the input's
// pixels to the same reference pixels the photo's went to, so cameras of
// different sizes still agree and the frames keep the reference's size.
ImageAlignment alignment_for_resized_input(const ImageAlignment& alignment, double factor);
