#pragma once

#include <opencv2/core.hpp>

#include <vector>

// Centres of the bright shot markers in an 8-bit BGR (or grey) image, in pixels
// with pixel centres on whole numbers, to a small fraction of a pixel. A marker
// touching the image border is left out, since its centre cannot be measured.
// The order is unspecified; match by nearest neighbour.
std::vector<cv::Point2d> locate_markers(const cv::Mat& image);
