#include "tools/make_rig/marker_locator.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>

std::vector<cv::Point2d> locate_markers(const cv::Mat& image)
{
    std::vector<cv::Point2d> centres;
    if (image.empty() || image.depth() != CV_8U)
        return centres;
    cv::Mat grey;
    if (image.channels() == 3)
        cv::cvtColor(image, grey, cv::COLOR_BGR2GRAY);
    else if (image.channels() == 1)
        grey = image;
    else
        return centres;

    // Markers are near 240 and the shot background stays below 80: halfway splits
    // them, and the weights start above anything the background reaches.
    const int split = 160;
    const int floor = 100;
    const int min_area = 12; // smaller blobs are compression speckle, not markers
    cv::Mat mask = grey >= split;
    cv::Mat labels, stats, centroids;
    const int count = cv::connectedComponentsWithStats(mask, labels, stats, centroids, 8, CV_32S);
    for (int label = 1; label < count; ++label) {
        const int* s = stats.ptr<int>(label);
        const int left = s[cv::CC_STAT_LEFT], top = s[cv::CC_STAT_TOP];
        const int right = left + s[cv::CC_STAT_WIDTH], bottom = top + s[cv::CC_STAT_HEIGHT];
        if (s[cv::CC_STAT_AREA] < min_area || left == 0 || top == 0 || right == grey.cols ||
            bottom == grey.rows)
            continue;
        // The anti-aliased rim carries sub-pixel position: weigh every pixel of a
        // slightly widened box by its brightness above the background.
        const int x0 = std::max(0, left - 2), y0 = std::max(0, top - 2);
        const int x1 = std::min(grey.cols, right + 2), y1 = std::min(grey.rows, bottom + 2);
        double sum = 0.0, sum_x = 0.0, sum_y = 0.0;
        for (int y = y0; y < y1; ++y) {
            const uchar* row = grey.ptr<uchar>(y);
            for (int x = x0; x < x1; ++x) {
                const int w = row[x] - floor;
                if (w <= 0)
                    continue;
                sum += w;
                sum_x += static_cast<double>(w) * x;
                sum_y += static_cast<double>(w) * y;
            }
        }
        if (sum > 0.0)
            centres.emplace_back(sum_x / sum, sum_y / sum);
    }
    return centres;
}
