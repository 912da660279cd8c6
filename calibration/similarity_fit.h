#pragma once

#include <opencv2/core/types.hpp>

#include <array>
#include <optional>

// A similarity of the pixel plane (x to the right, y downwards):
//   q = scale * R(rotation) * p + translation,
// R turning clockwise on screen for a positive angle (radians). No reflection.
struct Similarity
{
    double scale = 1.0;
    double rotation = 0.0;
    cv::Point2d translation{0.0, 0.0};
};

// The similarity that maps each `from[i]` closest to `to[i]` in the least-squares
// sense. Empty when `from` or `to` has no extent (all points equal) or the
// result is not finite. A mirrored configuration gets the best proper
// similarity, never a reflection.
std::optional<Similarity> fit_similarity(const std::array<cv::Point2d, 3>& from,
                                         const std::array<cv::Point2d, 3>& to);

// `similarity` applied to `point`.
cv::Point2d apply(const Similarity& similarity, cv::Point2d point);

// The inverse of `similarity`.
Similarity inverse(const Similarity& similarity);
