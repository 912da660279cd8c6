#include "output/optical_flow.h"

#include <opencv2/imgproc.hpp>
#include <opencv2/video/tracking.hpp>

#include <algorithm>

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
    // The fastest preset's, one per thread and finest scale, kept: the colour
    // estimate's small pictures spent much of their time making it and its
    // buffers. The others, on whole frames, would keep large buffers alive.
    thread_local cv::Ptr<cv::DISOpticalFlow> fastest[4];
    cv::Ptr<cv::DISOpticalFlow> made;
    cv::Ptr<cv::DISOpticalFlow>& dis =
        method == FlowMethod::DisUltrafast ? fastest[std::clamp(finest_scale, 0, 3)] : made;
    if (!dis || dis->getFinestScale() != finest_scale) {
        dis = cv::DISOpticalFlow::create(preset);
        // Down to half pixels: a flow left at the fastest preset's coarser
        // scale is too blocky to come back to where it started.
        if (method == FlowMethod::DisUltrafast)
            dis->setFinestScale(finest_scale);
    }
    dis->calc(a, b, flow);
    return flow;
}
