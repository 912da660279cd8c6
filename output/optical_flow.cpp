#include "output/optical_flow.h"

#include <opencv2/imgproc.hpp>
#include <opencv2/video/tracking.hpp>

namespace {

// The same mean and spread for every picture: the flow's patch matching then
// sees structure, not one camera being brighter than the next.
cv::Mat normalised(const cv::Mat& grey)
{
    cv::Scalar mean;
    cv::Scalar spread;
    cv::meanStdDev(grey, mean, spread);
    cv::Mat result;
    const double scale = spread[0] > 1e-3 ? 48.0 / spread[0] : 1.0;
    grey.convertTo(result, CV_8U, scale, 128.0 - scale * mean[0]);
    return result;
}

// Per pixel x: x + flow(x), as the maps cv::remap reads.
cv::Mat flow_map(const cv::Mat& flow)
{
    cv::Mat map(flow.size(), CV_32FC2);
    for (int y = 0; y < flow.rows; ++y) {
        const cv::Vec2f* in = flow.ptr<cv::Vec2f>(y);
        cv::Vec2f* out = map.ptr<cv::Vec2f>(y);
        for (int x = 0; x < flow.cols; ++x)
            out[x] = cv::Vec2f(x + in[x][0], y + in[x][1]);
    }
    return map;
}

} // namespace

cv::Mat dense_flow(const cv::Mat& from, const cv::Mat& to, FlowMethod method, int finest_scale)
{
    CV_Assert(from.type() == CV_8UC1 && to.type() == CV_8UC1 && from.size() == to.size());
    cv::Mat flow;
    // Too small a picture for the coarsest pyramid level: no motion found.
    if (from.cols < 16 || from.rows < 16)
        return cv::Mat::zeros(from.size(), CV_32FC2);
    const cv::Mat a = normalised(from), b = normalised(to);
    if (method == FlowMethod::Farneback) {
        // Enough levels for motion of tens of pixels at 1920 px.
        cv::calcOpticalFlowFarneback(a, b, flow, 0.5, 6, 21, 3, 7, 1.5, 0);
        return flow;
    }
    const int preset = method == FlowMethod::DisUltrafast ? cv::DISOpticalFlow::PRESET_ULTRAFAST
                       : method == FlowMethod::DisFast    ? cv::DISOpticalFlow::PRESET_FAST
                                                          : cv::DISOpticalFlow::PRESET_MEDIUM;
    const cv::Ptr<cv::DISOpticalFlow> dis = cv::DISOpticalFlow::create(preset);
    // Down to half pixels: a flow left at the fastest preset's coarser scale
    // is too blocky to come back to where it started.
    if (method == FlowMethod::DisUltrafast)
        dis->setFinestScale(finest_scale);
    dis->calc(a, b, flow);
    return flow;
}

cv::Mat consistent_flow_mask(const cv::Mat& forward, const cv::Mat& backward, float tolerance)
{
    CV_Assert(forward.type() == CV_32FC2 && backward.type() == CV_32FC2 &&
              forward.size() == backward.size());
    // Out-of-picture samples read as a huge flow, so they fail the check.
    cv::Mat back_at_target;
    cv::remap(backward, back_at_target, flow_map(forward), cv::Mat(), cv::INTER_LINEAR,
              cv::BORDER_CONSTANT, cv::Scalar(1e6f, 1e6f));
    cv::Mat mask(forward.size(), CV_8U);
    const float limit = tolerance * tolerance;
    for (int y = 0; y < forward.rows; ++y) {
        const cv::Vec2f* f = forward.ptr<cv::Vec2f>(y);
        const cv::Vec2f* b = back_at_target.ptr<cv::Vec2f>(y);
        uchar* m = mask.ptr<uchar>(y);
        for (int x = 0; x < forward.cols; ++x) {
            const float dx = f[x][0] + b[x][0];
            const float dy = f[x][1] + b[x][1];
            m[x] = dx * dx + dy * dy <= limit ? 255 : 0;
        }
    }
    return mask;
}

cv::Mat compose_flows(const cv::Mat& first, const cv::Mat& then)
{
    CV_Assert(first.type() == CV_32FC2 && then.type() == CV_32FC2 && first.size() == then.size());
    cv::Mat then_at_target;
    cv::remap(then, then_at_target, flow_map(first), cv::Mat(), cv::INTER_LINEAR,
              cv::BORDER_CONSTANT, cv::Scalar(1e6f, 1e6f));
    return first + then_at_target;
}

cv::Mat follow_flow(const cv::Mat& picture, const cv::Mat& flow)
{
    cv::Mat result;
    cv::remap(picture, result, flow_map(flow), cv::Mat(), cv::INTER_LINEAR, cv::BORDER_REPLICATE);
    return result;
}
