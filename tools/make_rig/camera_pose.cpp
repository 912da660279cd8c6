#include "tools/make_rig/camera_pose.h"

#include <opencv2/imgproc.hpp>

#include <cmath>

cv::Point2d photo_centre(cv::Size size)
{
    return {size.width / 2.0, size.height / 2.0};
}

cv::Matx23d camera_matrix(const CameraPose& pose, cv::Size size)
{
    const double angle = pose.rotation_deg * CV_PI / 180.0;
    const double a = pose.scale * std::cos(angle);
    const double b = pose.scale * std::sin(angle);
    const cv::Point2d c = photo_centre(size);
    return {a, -b, c.x + pose.shift.x - (a * c.x - b * c.y),
            b, a,  c.y + pose.shift.y - (b * c.x + a * c.y)};
}

cv::Matx23d inverse_camera_matrix(const CameraPose& pose, cv::Size size)
{
    cv::Matx23d inverse;
    cv::invertAffineTransform(camera_matrix(pose, size), inverse);
    return inverse;
}

cv::Point2d camera_point(const CameraPose& pose, cv::Size size, cv::Point2d middle_point)
{
    return apply(camera_matrix(pose, size), middle_point);
}

cv::Point2d apply(const cv::Matx23d& m, cv::Point2d p)
{
    return {m(0, 0) * p.x + m(0, 1) * p.y + m(0, 2), m(1, 0) * p.x + m(1, 1) * p.y + m(1, 2)};
}
