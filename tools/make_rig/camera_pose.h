#pragma once

#include <opencv2/core/matx.hpp>
#include <opencv2/core/types.hpp>

// How one camera of a rig sees the scene compared with the middle camera. A
// point q of the middle camera's photo appears in this camera's photo at
//   p = scale * R(rotation_deg) * (q - c) + c + shift,   c = (width / 2, height / 2),
// in pixels, x to the right, y downwards, R turning clockwise on screen for a
// positive angle. The middle camera is the identity (0, 1, (0, 0)).
//
// The alignment that undoes it is inverse_camera_matrix: a rotation by
// -rotation_deg and a scale of 1 / scale, with the translation of that matrix.
struct CameraPose
{
    double rotation_deg = 0.0;
    double scale = 1.0;
    cv::Point2d shift{0.0, 0.0};
};

// The centre c of a photo of `size`, the fixed point of rotation and scale.
cv::Point2d photo_centre(cv::Size size);

// Middle camera's photo -> this camera's photo, as the 2 x 3 matrix of the formula above.
cv::Matx23d camera_matrix(const CameraPose& pose, cv::Size size);

// This camera's photo -> middle camera's photo.
cv::Matx23d inverse_camera_matrix(const CameraPose& pose, cv::Size size);

// Where the point `middle_point` of the middle camera's photo appears in this camera's photo.
cv::Point2d camera_point(const CameraPose& pose, cv::Size size, cv::Point2d middle_point);

cv::Point2d apply(const cv::Matx23d& m, cv::Point2d p);
