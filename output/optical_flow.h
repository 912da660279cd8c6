#pragma once

#include <opencv2/core.hpp>

// Dense motion between two pictures of one scene (neighbouring cameras of the
// rig, or two frames), found by OpenCV's DIS optical flow.

// How the flow is found: cv::DISOpticalFlow's presets (the fastest one down to
// half pixels rather than its usual quarter size), or Farneback's method.
enum class FlowMethod
{
    DisUltrafast,
    DisFast,
    DisMedium,
    Farneback,
};

// Per pixel of `from`, where it moved to in `to`: `from`(x) shows what `to`(x +
// flow(x)) shows. Both 8-bit single-channel pictures of one size; the result is
// CV_32FC2 of that size, in pixels. Each picture is brought to a common mean and
// contrast first, so a camera's exposure does not read as motion.
// `finest_scale`: the finest pyramid level the fastest preset refines down to
// (1: half size; 2, a quarter, the preset's own, for a coarser and cheaper flow).
cv::Mat dense_flow(const cv::Mat& from, const cv::Mat& to,
                   FlowMethod method = FlowMethod::DisUltrafast, int finest_scale = 1);

// 255 where following `forward` and then `backward` (the flow found the other
// way) comes back within `tolerance` pixels and lands inside the picture, 0
// elsewhere: occlusions and mismatches fail it. CV_8U of the flows' size.
cv::Mat consistent_flow_mask(const cv::Mat& forward, const cv::Mat& backward, float tolerance);

// The flow of following `first`, then `then` from where it led: from the first
// picture to the third through the second, without a flow of their own. Where
// `first` leaves the picture the result is huge, so no check passes there.
cv::Mat compose_flows(const cv::Mat& first, const cv::Mat& then);

// `picture` sampled bilinearly at x + flow(x) for every pixel x: `to` brought
// onto `from`'s pixels. Same type as `picture`, the flow's size.
cv::Mat follow_flow(const cv::Mat& picture, const cv::Mat& flow);
