#include "calibration/alignment_uncertainty.h"

#include <cmath>

double frame_corner_shift(const Similarity& fitted, const Similarity& truth,
                          const std::array<cv::Point2d, 4>& corners)
{
    const Similarity back = inverse(truth);
    double largest = 0.0;
    for (const cv::Point2d& corner : corners)
        largest = std::max(largest, cv::norm(apply(fitted, apply(back, corner)) - corner));
    return largest;
}

double frame_corner_uncertainty(const std::array<cv::Point2d, 3>& stickers,
                                const std::array<double, 3>& uncertainty,
                                const std::array<cv::Point2d, 3>& reference,
                                const std::array<cv::Point2d, 4>& corners)
{
    const std::optional<Similarity> fit = fit_similarity(stickers, reference);
    if (!fit)
        return -1.0;
    const Similarity back = inverse(*fit);
    // How each corner moves per pixel a sticker moves, by central differences
    // (the fit is smooth in its points; a hundredth of a pixel is well inside
    // the linear range).
    constexpr double step = 0.01;
    std::array<std::array<cv::Matx22d, 3>, 4> moves;
    for (int i = 0; i < 3; ++i) {
        for (int axis = 0; axis < 2; ++axis) {
            std::array<cv::Point2d, 3> ahead = stickers, behind = stickers;
            const cv::Point2d shift = axis == 0 ? cv::Point2d(step, 0) : cv::Point2d(0, step);
            ahead[i] += shift;
            behind[i] -= shift;
            const std::optional<Similarity> a = fit_similarity(ahead, reference);
            const std::optional<Similarity> b = fit_similarity(behind, reference);
            if (!a || !b)
                return -1.0;
            for (std::size_t c = 0; c < corners.size(); ++c) {
                const cv::Point2d seen = apply(back, corners[c]);
                const cv::Point2d rate = (apply(*a, seen) - apply(*b, seen)) / (2 * step);
                moves[c][i](0, axis) = rate.x;
                moves[c][i](1, axis) = rate.y;
            }
        }
    }
    double largest = 0.0;
    for (std::size_t c = 0; c < corners.size(); ++c) {
        double sum = 0.0;
        for (int i = 0; i < 3; ++i) {
            // The 2 x 2 block's largest singular value: the sticker's worst direction.
            const cv::Matx22d m = moves[c][i].t() * moves[c][i];
            const double mean = (m(0, 0) + m(1, 1)) / 2;
            const double spread =
                std::sqrt((m(0, 0) - m(1, 1)) * (m(0, 0) - m(1, 1)) / 4 + m(0, 1) * m(0, 1));
            const double gain = std::sqrt(mean + spread);
            sum += uncertainty[i] * uncertainty[i] * gain * gain;
        }
        largest = std::max(largest, std::sqrt(sum));
    }
    return largest;
}
