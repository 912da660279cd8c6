#pragma once

#include "detection/color_thresholds.h"
#include "detection/sticker_colour.h"

#include <opencv2/core.hpp>

#include <QByteArray>
#include <QString>

#include <iosfwd>
#include <vector>

// Half the side of the square that joins nearby sticker fragments: 5 gives 11 x 11.
constexpr int dilation_radius = 5;

// The filled (2 * dilation_radius + 1)-square structuring element, built once per process.
extern const cv::Mat sticker_kernel;

// One blob of the dilated sticker mask. Statistics describe the dilated blob;
// the centre is its centroid in pixels of the full image.
struct ComponentRecord
{
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    int area = 0;
    double centre_x = 0.0;
    double centre_y = 0.0;
};

// The blobs of one thresholded photo, in label order (component index i is label i + 1).
struct StickerComponents
{
    int image_width = 0;
    int image_height = 0;
    std::vector<ComponentRecord> components;
};

// Masks an already decoded 8-bit BGR image (see colour_mask), dilates the mask with
// sticker_kernel and labels it with 4-connectivity.
StickerComponents find_sticker_components(const cv::Mat& bgr_image,
                                          const StickerMatch& match);

// Reads the photo at `path` (orientation applied, see read_bgr_image) and finds its
// components. An unreadable file yields an empty result (no components, size 0 x 0)
// and one line on `log` naming the file.
StickerComponents find_sticker_components(const QString& path, const StickerMatch& match,
                                          std::ostream& log);

// Memory one thread reuses from photo to photo: at 24 megapixels a fresh photo
// costs tens of milliseconds in first-touch page faults alone. `mask` holds a
// band of rows, then the box around the stickers.
struct ComponentScratch
{
    QByteArray file_bytes;
    cv::Mat image;
    cv::Mat mask;
};

// The same as the form above, with its buffers taken from `scratch`.
StickerComponents find_sticker_components(const QString& path, const StickerMatch& match,
                                          std::ostream& log, ComponentScratch& scratch);
