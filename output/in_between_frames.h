#pragma once

#include "output/optical_flow.h"

#include <opencv2/core.hpp>

#include <vector>

// Frames made between two neighbouring aligned frames, so that a video of a few
// cameras moves smoothly: dense optical flow both ways, each frame carried
// forward along its flow to the in-between position, and the two blended with
// weights that favour the frame in which a pixel is visible.

struct InBetweenOptions
{
    FlowMethod method = FlowMethod::DisMedium;
    // The flow is measured on the frames reduced to this long side (pixels, 0:
    // their own size) and scaled back: it is smooth, and its cost grows with area.
    // At 960 px it is as good as at 1488 px (within 0.1 dB) at less than half
    // the cost.
    int flow_long_side = 960;
    // Measure the two flows of a pair on two threads.
    bool parallel_flows = true;
};

// The dense flow between two frames of the same size, both ways: pixel p of
// `first` shows what pixel p + forward(p) of `second` shows, and the other way
// round. CV_32FC2, in pixels of the frames.
struct PairFlow
{
    cv::Mat forward;
    cv::Mat backward;
};

// Measures the two flows between `first` and `second` (8-bit BGR, same size).
PairFlow measure_pair_flow(const cv::Mat& first, const cv::Mat& second,
                           const InBetweenOptions& options = {});

// The view at `position` (strictly between 0, `first`, and 1, `second`), from the
// frames and their flow: 8-bit BGR, the frames' size.
cv::Mat frame_between(const cv::Mat& first, const cv::Mat& second, const PairFlow& flow,
                      double position);

// The `count` frames evenly spaced between `first` and `second` (8-bit BGR, same
// size): frame j (from 1) at position j / (count + 1). Empty for a count below 1.
std::vector<cv::Mat> in_between_frames(const cv::Mat& first, const cv::Mat& second, int count,
                                       const InBetweenOptions& options = {});
