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

    const std::array<cv::Point2d, 3> stickers{centre_table[indices[0]], centre_table[indices[1]],
                                              centre_table[indices[2]]};
    const cv::Point2d u = stickers[0] - stickers[1];
    const cv::Point2d v = stickers[1] - stickers[2];
    const double u_length = length(u);
    const double v_length = length(v);
    const double colinearity =
        std::abs((u.x / u_length) * (v.x / v_length) + (u.y / u_length) * (v.y / v_length));
    log << "alignement for validation :" << colinearity << std::endl << std::endl;

    // Written so that NaN fails too.
    if (!(colinearity > 0.98))
        return;
    // Coincident top and bottom stickers pass the colinearity test but say
    // nothing about the direction of the line.
    if (!(length(stickers[0] - stickers[2]) > 0.0))
        return;

    // All three pairs count alike, so a middle sticker placed off the midpoint
    // or a line not through the picture centre biases nothing. A reference
    // that was never selected (all points equal) gives no fit.
    const std::optional<Similarity> fit = fit_similarity(stickers, reference.points);
    if (!fit)
        return;

    calibration.translation_x[image_index] = fit->translation.x;
    calibration.translation_y[image_index] = fit->translation.y;
    calibration.rotation_deg[image_index] = fit->rotation * 180.0 / CV_PI;
    calibration.scale[image_index] = fit->scale;
    calibration.aligned[image_index] = true;
}

void align_manually(Calibration& calibration, int image_index, const std::array<QPointF, 3>& clicks,
                    const ReferenceTriple& reference, std::ostream& log)
{
    const double y1 = clicks[0].y();
    const double y2 = clicks[1].y();
    const double y3 = clicks[2].y();
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
    const std::vector<cv::Point2d> table{{clicks[0].x(), clicks[0].y()},
                                         {clicks[1].x(), clicks[1].y()},
                                         {clicks[2].x(), clicks[2].y()}};
    estimate_alignment(calibration, image_index, order, table, reference, log);
}

Similarity alignment_similarity(const ImageAlignment& alignment)
{
    Similarity similarity;
    similarity.scale = alignment.scale;
    similarity.rotation = alignment.rotation_deg * CV_PI / 180.0;
    similarity.translation = {alignment.translation_x, alignment.translation_y};
    return similarity;
}
