#include "detection/sticker_components.h"

#include "detection/image_reading.h"

#include <opencv2/imgproc.hpp>

#include <cmath>
#include <ostream>

const cv::Mat sticker_kernel = cv::getStructuringElement(
    cv::MORPH_RECT, cv::Size(2 * dilation_radius + 1, 2 * dilation_radius + 1),
    cv::Point(dilation_radius, dilation_radius));

StickerComponents find_sticker_components(const cv::Mat& bgr_image,
                                          const ColorThresholds& thresholds)
{
    StickerComponents result;
    result.image_width = bgr_image.cols;
    result.image_height = bgr_image.rows;
    if (bgr_image.empty() || bgr_image.type() != CV_8UC3)
        return result;

    const cv::Scalar lower(thresholds.lower_blue, thresholds.lower_green, thresholds.lower_red, 0);
    const cv::Scalar upper(thresholds.upper_blue, thresholds.upper_green, thresholds.upper_red, 0);
    cv::Mat mask;
    cv::inRange(bgr_image, lower, upper, mask);

    // Dilating in place saves a second full-size buffer.
    cv::dilate(mask, mask, sticker_kernel, cv::Point(-1, -1), 1, cv::BORDER_CONSTANT,
               cv::morphologyDefaultBorderValue());

    // Stickers cover a small part of a photo, so only the box around the kept
    // pixels is labelled instead of a full-size label image. An even origin keeps
    // OpenCV's block scan aligned, so the labels come in the same order.
    cv::Rect box = cv::boundingRect(mask);
    if (box.empty())
        return result;
    box.width += box.x % 2;
    box.height += box.y % 2;
    box.x -= box.x % 2;
    box.y -= box.y % 2;

    cv::Mat labels, stats, centroids;
    const int label_count =
        cv::connectedComponentsWithStats(mask(box), labels, stats, centroids, 4, CV_32S);

    result.components.reserve(label_count > 0 ? label_count - 1 : 0);
    for (int label = 1; label < label_count; ++label) {
        const int* row = stats.ptr<int>(label);
        const double* centre = centroids.ptr<double>(label);
        // The centroid is an integer coordinate sum over the area; recovering the
        // sum and dividing once more gives exactly the whole-image value.
        const double area = row[cv::CC_STAT_AREA];
        const double sum_x = std::round(centre[0] * area) + area * box.x;
        const double sum_y = std::round(centre[1] * area) + area * box.y;
        result.components.push_back({row[cv::CC_STAT_LEFT] + box.x, row[cv::CC_STAT_TOP] + box.y,
                                     row[cv::CC_STAT_WIDTH], row[cv::CC_STAT_HEIGHT],
                                     row[cv::CC_STAT_AREA], sum_x / area, sum_y / area});
    }
    return result;
}

StickerComponents find_sticker_components(const QString& path, const ColorThresholds& thresholds,
                                          std::ostream& log)
{
    const cv::Mat image = read_bgr_image(path);
    if (image.empty()) {
        log << "could not read image '" << path.toStdString() << "'" << std::endl;
        return {};
    }
    return find_sticker_components(image, thresholds);
}
