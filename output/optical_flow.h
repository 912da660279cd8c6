#pragma once

#include <opencv2/core.hpp>

#include <algorithm>

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

// A way from one picture to another through one flow, or through two (the
// first picture to the third by way of the second) without a flow of their own.
struct FlowPath
{
    const cv::Mat* first = nullptr; // CV_32FC2
    const cv::Mat* then = nullptr;  // CV_32FC2 of the same size, or none
};

// The flow at `point`, bilinear between its four pixels; false when any of
// them lies outside the flow, where no motion was found.
inline bool flow_at(const cv::Mat& flow, cv::Point2f point, cv::Vec2f& motion)
{
    if (!(point.x >= 0.0f && point.y >= 0.0f && point.x <= static_cast<float>(flow.cols - 1) &&
          point.y <= static_cast<float>(flow.rows - 1)) ||
        flow.cols < 2 || flow.rows < 2)
        return false;
    const int x = std::min(static_cast<int>(point.x), flow.cols - 2);
    const int y = std::min(static_cast<int>(point.y), flow.rows - 2);
    const float fx = point.x - static_cast<float>(x);
    const float fy = point.y - static_cast<float>(y);
    const cv::Vec2f* top = flow.ptr<cv::Vec2f>(y) + x;
    const cv::Vec2f* bottom = flow.ptr<cv::Vec2f>(y + 1) + x;
    const cv::Vec2f upper = top[0] + fx * (top[1] - top[0]);
    const cv::Vec2f lower = bottom[0] + fx * (bottom[1] - bottom[0]);
    motion = upper + fy * (lower - upper);
    return true;
}

// Moves `point` along `path` to where it shows in the last picture; false
// when the way leaves a picture.
inline bool follow_path(const FlowPath& path, cv::Point2f& point)
{
    cv::Vec2f motion;
    if (!flow_at(*path.first, point, motion))
        return false;
    point += cv::Point2f(motion[0], motion[1]);
    if (!path.then)
        return true;
    if (!flow_at(*path.then, point, motion))
        return false;
    point += cv::Point2f(motion[0], motion[1]);
    return true;
}
