#include "detection/sticker_components.h"

#include "photo/image_reading.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <ostream>

const cv::Mat sticker_kernel = cv::getStructuringElement(
    cv::MORPH_RECT, cv::Size(2 * dilation_radius + 1, 2 * dilation_radius + 1),
    cv::Point(dilation_radius, dilation_radius));

namespace {

// Rows thresholded at a time while looking for the kept pixels: a band of mask
// stays in the cache, and no full-size mask is ever made.
constexpr int band_rows = 32;

// The box around the pixels of `bgr_image` the match keeps; empty if none.
cv::Rect kept_box(const cv::Mat& bgr_image, const StickerMatch& match, cv::Mat& band)
{
    cv::Rect kept;
    for (int y = 0; y < bgr_image.rows; y += band_rows) {
        const int rows = std::min(band_rows, bgr_image.rows - y);
        colour_mask(bgr_image.rowRange(y, y + rows), match, band);
        const cv::Rect found = cv::boundingRect(band) + cv::Point(0, y);
        if (!found.empty())
            kept = kept.empty() ? found : (kept | found);
    }
    return kept;
}

StickerComponents find_components(const cv::Mat& bgr_image, const StickerMatch& match,
                                  cv::Mat& mask)
{
    StickerComponents result;
    result.image_width = bgr_image.cols;
    result.image_height = bgr_image.rows;
    if (bgr_image.empty() || bgr_image.type() != CV_8UC3)
        return result;

    // Stickers cover a small part of a photo, so only the box around the kept
    // pixels, grown by the dilation, is masked, dilated and labelled: beyond it
    // the whole-photo mask is empty, before and after dilation, so the blobs are
    // the same. Its origin is made even because OpenCV's labelling scans blocks of
    // two rows and columns; aligned the same way, it numbers the blobs in the same
    // order as on the whole mask.
    const cv::Rect kept = kept_box(bgr_image, match, mask);
    if (kept.empty())
        return result;
    cv::Rect region =
        cv::Rect(kept.x - dilation_radius, kept.y - dilation_radius,
                 kept.width + 2 * dilation_radius, kept.height + 2 * dilation_radius) &
        cv::Rect(0, 0, bgr_image.cols, bgr_image.rows);
    region.width += region.x % 2;
    region.height += region.y % 2;
    region.x -= region.x % 2;
    region.y -= region.y % 2;
    colour_mask(bgr_image(region), match, mask);
    cv::dilate(mask, mask, sticker_kernel, cv::Point(-1, -1), 1, cv::BORDER_CONSTANT,
               cv::morphologyDefaultBorderValue());

    cv::Rect box = cv::boundingRect(mask);
    box.width += box.x % 2;
    box.height += box.y % 2;
    box.x -= box.x % 2;
    box.y -= box.y % 2;

    cv::Mat labels, stats, centroids;
    const int label_count =
        cv::connectedComponentsWithStats(mask(box), labels, stats, centroids, 4, CV_32S);
    box += region.tl();

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

} // namespace

StickerComponents find_sticker_components(const cv::Mat& bgr_image,
                                          const StickerMatch& match)
{
    cv::Mat mask;
    return find_components(bgr_image, match, mask);
}

StickerComponents find_sticker_components(const QString& path, const StickerMatch& match,
                                          std::ostream& log)
{
    ComponentScratch scratch;
    return find_sticker_components(path, match, log, scratch);
}

StickerComponents find_sticker_components(const QString& path, const StickerMatch& match,
                                          std::ostream& log, ComponentScratch& scratch)
{
    if (!read_bgr_image(path, scratch.image, scratch.file_bytes)) {
        log << "could not read image '" << path.toStdString() << "'" << std::endl;
        return {};
    }
    return find_components(scratch.image, match, scratch.mask);
}
