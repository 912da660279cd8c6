#pragma once

#include "detection/color_thresholds.h"

#include <opencv2/core.hpp>

#include <QString>

#include <vector>

// Test photos drawn in code: sticker discs on a textured background, written as
// JPEG or PNG. Pixel coordinates, x to the right, y downwards; images are 8-bit BGR.

// A sticker colour well inside the preset of `color`, also after JPEG compression.
cv::Scalar sticker_bgr(StickerColor color);

// A textured picture in greys, blues and greens that lies outside both presets
// (red never above 116). The same seed gives the same picture.
cv::Mat draw_background(cv::Size size, unsigned seed = 1);

// Fills discs of `radius` pixels centred on `centres` (fractions allowed): every
// pixel within the radius of a centre. A disc on whole or half pixels is exactly
// symmetric, so its mask's centroid is the centre.
void draw_stickers(cv::Mat& bgr, const std::vector<cv::Point2d>& centres, double radius,
                   StickerColor color);

// A reference photo: draw_background with sticker discs on it.
cv::Mat draw_sticker_photo(cv::Size size, const std::vector<cv::Point2d>& centres,
                           double radius = 12.0, StickerColor color = StickerColor::Yellow,
                           unsigned seed = 1);

// How a photo is stored. Rotated90 is what a camera held upright writes: the
// pixels a quarter turn anticlockwise and EXIF orientation 6, so a reader that
// honours the tag (cv::imdecode, QImageReader with autoTransform) shows the
// picture as drawn, while one that ignores it shows it lying on its side.
// InvalidTag stores the pixels as drawn behind an orientation 6 entry with an
// invalid type and count, which Qt's reader rejects and OpenCV's accepts.
enum class StoredOrientation
{
    Upright,
    Rotated90,
    InvalidTag
};

// Writes `bgr` (the picture as a viewer shows it) to folder/file_name: PNG when the
// name ends in ".png", JPEG of quality 95 otherwise. Returns the full path, or an
// empty string when the file could not be written or Rotated90 is asked of a PNG.
QString write_photo(const QString& folder, const QString& file_name, const cv::Mat& bgr,
                    StoredOrientation orientation = StoredOrientation::Upright);
