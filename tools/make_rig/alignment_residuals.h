#pragma once

#include <opencv2/core.hpp>

#include <vector>

// How far the shot markers of aligned frames lie from where the reference
// frame shows them, in pixels.
struct AlignmentResiduals
{
    std::vector<double> distances; // one per matched marker, over every other frame
    double median = 0.0;
    double maximum = 0.0;
};

// Compares every frame with frames[reference]: each marker of the reference
// frame inside the central `central_fraction` of the frame (0.6: the middle
// 60 % of each side) is matched to the nearest marker of the other frame.
// A marker with no partner within `search_radius` pixels counts as that radius.
AlignmentResiduals measure_alignment(const std::vector<cv::Mat>& frames, int reference,
                                     double central_fraction, double search_radius);
