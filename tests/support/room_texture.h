#pragma once

#include <opencv2/core.hpp>

// Pictures for the camera-motion check: a room full of detail, the same room
// seen by a camera that moved, and a subject standing in front of it.

// A BGR picture of `size` covered with shapes of every size and shade; each
// `seed` gives another room.
cv::Mat room_picture(cv::Size size, unsigned seed);

// `picture` as a camera moved by `shift` pixels, turned `rotation_deg`
// (clockwise on screen) and zoomed by `zoom` about the picture's centre sees it.
cv::Mat moved_picture(const cv::Mat& picture, cv::Point2d shift, double rotation_deg, double zoom);

// The 2 x 3 matrix taking a pixel of the unmoved picture to the moved one.
cv::Matx23d move_matrix(cv::Size size, cv::Point2d shift, double rotation_deg, double zoom);

// Paints over `fraction` of `picture` (a band from the left) a subject of its
// own detail, different for each `seed`.
void paint_subject(cv::Mat& picture, double fraction, unsigned seed);
