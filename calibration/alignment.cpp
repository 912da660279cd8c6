#include "calibration/alignment.h"

#include <cmath>
#include <ostream>

namespace {

double length(const cv::Point2d& w)
{
    return std::sqrt(w.x * w.x + w.y * w.y);
}

} // namespace

void estimate_alignment(Calibration& calibration, int image_index,
                        const std::array<int, 3>& indices,
                        const std::vector<cv::Point2d>& centre_table,
                        const ReferenceTriple& reference, std::ostream& log)
{
    if (image_index < 0 || image_index >= calibration.image_count)
        return;
    for (int row : indices) {
        if (row < 0 || row >= static_cast<int>(centre_table.size()))
            return;
    }

    const cv::Point2d& p0 = centre_table[indices[0]];
    const cv::Point2d& p1 = centre_table[indices[1]];
    const cv::Point2d& p2 = centre_table[indices[2]];
    const cv::Point2d& r0 = reference.points[0];
    const cv::Point2d& r1 = reference.points[1];
    const cv::Point2d& r2 = reference.points[2];

    const cv::Point2d u = p0 - p1;
    const cv::Point2d v = p1 - p2;
    const double u_length = length(u);
    const double v_length = length(v);
    const double colinearity =
        std::abs((u.x / u_length) * (v.x / v_length) + (u.y / u_length) * (v.y / v_length));
    log << "alignement for validation :" << colinearity << std::endl << std::endl;

    // Written so that NaN fails too.
    if (!(colinearity > 0.98))
        return;

    const double translation_x = r1.x - (p0.x + p2.x) * 0.5;
    const double translation_y = r1.y - (p0.y + p2.y) * 0.5;
    const double scale = length(r0 - r2) / length(p0 - p2);
    const cv::Point2d half = (u + v) * 0.5;
    const cv::Point2d direction = half / length(half);
    // 3.14159265 rather than pi keeps the angles of existing calibrations.
    const double rotation_deg =
        (std::atan2(r0.y - r1.y, r0.x - r1.x) - std::atan2(direction.y, direction.x)) * 180 /
        3.14159265;

    // Coincident top and bottom stickers pass the colinearity test but give an
    // infinite scale and no direction; a reference whose outer stickers coincide
    // (never selected) gives a zero scale that would empty every frame.
    if (!std::isfinite(translation_x) || !std::isfinite(translation_y) ||
        !std::isfinite(rotation_deg) || !std::isfinite(scale) || !(scale > 0.0))
        return;

    calibration.translation_x[image_index] = translation_x;
    calibration.translation_y[image_index] = translation_y;
    calibration.rotation_deg[image_index] = rotation_deg;
    calibration.scale[image_index] = scale;
    calibration.aligned[image_index] = true;
}

void align_manually(Calibration& calibration, int image_index, double x1, double y1, double x2,
                    double y2, double x3, double y3, const ReferenceTriple& reference,
                    std::ostream& log)
{
    // Top to bottom; among equal heights the later click comes first.
    std::array<int, 3> order;
    if (y2 > y1) {
        if (y3 > y2)
            order = {0, 1, 2};
        else if (y3 > y1)
            order = {0, 2, 1};
        else
            order = {2, 0, 1};
    } else if (y3 > y1) {
        order = {1, 0, 2};
    } else if (y3 <= y2) {
        order = {2, 1, 0};
    } else {
        order = {1, 2, 0};
    }
    const std::vector<cv::Point2d> table{{x1, y1}, {x2, y2}, {x3, y3}};
    estimate_alignment(calibration, image_index, order, table, reference, log);
}
