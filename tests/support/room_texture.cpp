#include "tests/support/room_texture.h"

#include <opencv2/imgproc.hpp>

cv::Mat room_picture(cv::Size size, unsigned seed)
{
    cv::RNG rng(seed);
    cv::Mat picture(size, CV_8UC3);
    // Soft light over the whole room, then furniture, frames and tiles.
    cv::Mat noise(size.height / 16 + 1, size.width / 16 + 1, CV_8UC3);
    rng.fill(noise, cv::RNG::UNIFORM, 60, 200);
    cv::resize(noise, picture, size, 0, 0, cv::INTER_CUBIC);
    const int shapes = size.area() / 1500;
    for (int i = 0; i < shapes; ++i) {
        const cv::Point at(rng.uniform(0, size.width), rng.uniform(0, size.height));
        const cv::Scalar colour(rng.uniform(0, 256), rng.uniform(0, 256), rng.uniform(0, 256));
        const int extent = rng.uniform(3, 40);
        switch (rng.uniform(0, 3)) {
        case 0:
            cv::rectangle(picture, at, at + cv::Point(extent, rng.uniform(3, 40)), colour,
                          cv::FILLED, cv::LINE_AA);
            break;
        case 1:
            cv::circle(picture, at, extent / 2 + 2, colour, cv::FILLED, cv::LINE_AA);
            break;
        default:
            cv::line(picture, at, at + cv::Point(rng.uniform(-60, 60), rng.uniform(-60, 60)),
                     colour, rng.uniform(1, 4), cv::LINE_AA);
        }
    }
    cv::GaussianBlur(picture, picture, cv::Size(3, 3), 0.7);
    return picture;
}

cv::Matx23d move_matrix(cv::Size size, cv::Point2d shift, double rotation_deg, double zoom)
{
    const cv::Point2d centre(size.width / 2.0, size.height / 2.0);
    // getRotationMatrix2D turns anticlockwise on screen for a positive angle.
    cv::Matx23d m = cv::getRotationMatrix2D(centre, -rotation_deg, zoom);
    m(0, 2) += shift.x;
    m(1, 2) += shift.y;
    return m;
}

cv::Mat moved_picture(const cv::Mat& picture, cv::Point2d shift, double rotation_deg, double zoom)
{
    cv::Mat moved;
    cv::warpAffine(picture, moved, move_matrix(picture.size(), shift, rotation_deg, zoom),
                   picture.size(), cv::INTER_CUBIC, cv::BORDER_REFLECT);
    return moved;
}

void paint_subject(cv::Mat& picture, double fraction, unsigned seed)
{
    const cv::Rect band(0, 0, static_cast<int>(picture.cols * fraction), picture.rows);
    if (band.empty())
        return;
    room_picture(band.size(), seed + 7919).copyTo(picture(band));
}
