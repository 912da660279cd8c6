#include "tools/make_rig/alignment_residuals.h"

#include "tools/make_rig/marker_locator.h"

#include <algorithm>
#include <cmath>

namespace {

double median_of(std::vector<double> values)
{
    if (values.empty())
        return 0.0;
    const auto middle = values.begin() + values.size() / 2;
    std::nth_element(values.begin(), middle, values.end());
    if (values.size() % 2 == 1)
        return *middle;
    const double upper = *middle;
    const double lower = *std::max_element(values.begin(), middle);
    return (lower + upper) / 2.0;
}

} // namespace

AlignmentResiduals measure_alignment(const std::vector<cv::Mat>& frames, int reference,
                                     double central_fraction, double search_radius)
{
    AlignmentResiduals result;
    const cv::Mat& base = frames.at(reference);
    const double margin_x = base.cols * (1.0 - central_fraction) / 2.0;
    const double margin_y = base.rows * (1.0 - central_fraction) / 2.0;
    std::vector<cv::Point2d> anchors;
    for (const cv::Point2d& marker : locate_markers(base)) {
        if (marker.x >= margin_x && marker.x <= base.cols - margin_x && marker.y >= margin_y &&
            marker.y <= base.rows - margin_y)
            anchors.push_back(marker);
    }

    for (int k = 0; k < static_cast<int>(frames.size()); ++k) {
        if (k == reference)
            continue;
        const std::vector<cv::Point2d> markers = locate_markers(frames[k]);
        for (const cv::Point2d& anchor : anchors) {
            double nearest = search_radius;
            for (const cv::Point2d& marker : markers)
                nearest = std::min(nearest, std::hypot(marker.x - anchor.x, marker.y - anchor.y));
            result.distances.push_back(nearest);
        }
    }
    result.median = median_of(result.distances);
    result.maximum = result.distances.empty()
                         ? 0.0
                         : *std::max_element(result.distances.begin(), result.distances.end());
    return result;
}
