#pragma once

#include <opencv2/core.hpp>

#include <QByteArray>

// `bgr` as a CMYK JPEG in Adobe's inverted form (255 is no ink), the way
// prepress software writes one, at JPEG `quality`. Without `varied_black` the
// black plate holds no ink; with it, a ramp across each row, so that a reader's
// conversion of all four plates shows.
QByteArray cmyk_jpeg(const cv::Mat& bgr, int quality, bool varied_black);
