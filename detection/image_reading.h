#pragma once

#include <opencv2/core.hpp>

#include <QString>

// Reads a JPEG or PNG photo as 8-bit BGR, with its EXIF orientation applied so
// that detection sees the picture the way a viewer (and the window) shows it.
// The path is used as Qt names files, whatever the process locale.
// Returns an empty matrix when the file is missing, cannot be decoded or is a
// JPEG cut short (which the decoder would silently pad with grey).
cv::Mat read_bgr_image(const QString& path);
