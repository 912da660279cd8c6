#pragma once

#include "calibration/similarity_fit.h"

#include <opencv2/core/types.hpp>

#include <array>

// Above this many frame pixels a camera's alignment shows: its frames visibly
// jump against their neighbours' in the video.
constexpr double corner_uncertainty_limit = 1.0;

// How far a camera's frame corners may lie from where they belong because its
// sticker centres are uncertain, in frame pixels (the reference camera's).
// `stickers` are the camera's centres (its photo's pixels), `uncertainty` how
// far each may lie from the true centre (pixels, >= 0), `reference` the
// configuration they are fitted onto and `corners` the frame's corners in the
// reference camera's pixels. Each sticker's worst direction counts, the
// three combined as independent errors; the largest over the corners is
// returned. Negative when the stickers give no fit.
double frame_corner_uncertainty(const std::array<cv::Point2d, 3>& stickers,
                                const std::array<double, 3>& uncertainty,
                                const std::array<cv::Point2d, 3>& reference,
                                const std::array<cv::Point2d, 4>& corners);

// How far the frame corners move when a camera aligned by `truth` is aligned
// by `fitted` instead: the largest distance, over `corners` (reference camera's
// pixels), between where `fitted` puts the camera's picture shown there and
// the corner itself.
double frame_corner_shift(const Similarity& fitted, const Similarity& truth,
                          const std::array<cv::Point2d, 4>& corners);

