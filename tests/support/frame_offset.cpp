#include "tests/support/frame_offset.h"

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>

namespace {

cv::Point2d frame_shift(const QString& a, const QString& b, int camera)
{
    const QString name = QStringLiteral("/output_img_%1.jpg").arg(camera);
    const cv::Mat first = cv::imread((a + name).toStdString(), cv::IMREAD_GRAYSCALE);
    const cv::Mat second = cv::imread((b + name).toStdString(), cv::IMREAD_GRAYSCALE);
    const cv::Rect common(0, 0, std::min(first.cols, second.cols),
                          std::min(first.rows, second.rows));
    cv::Mat f, s;
    first(common).convertTo(f, CV_64F);
    second(common).convertTo(s, CV_64F);
    return cv::phaseCorrelate(f, s);
}

} // namespace

double frame_offset(const QString& a, const QString& b, int camera, int middle)
{
    const cv::Point2d d = frame_shift(a, b, camera) - frame_shift(a, b, middle);
    return std::hypot(d.x, d.y);
}
