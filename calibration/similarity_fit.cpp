#include "calibration/similarity_fit.h"

#include <cmath>

std::optional<Similarity> fit_similarity(const std::array<cv::Point2d, 3>& from,
                                         const std::array<cv::Point2d, 3>& to)
{
    const cv::Point2d from_mean = (from[0] + from[1] + from[2]) / 3.0;
    const cv::Point2d to_mean = (to[0] + to[1] + to[2]) / 3.0;
    // With points as complex numbers the best q = a p + b has
    // a = sum((q - mean q) conj(p - mean p)) / sum |p - mean p|^2.
    double spread = 0.0;
    double real = 0.0;
    double imaginary = 0.0;
    for (std::size_t i = 0; i < from.size(); ++i) {
        const cv::Point2d p = from[i] - from_mean;
        const cv::Point2d q = to[i] - to_mean;
        spread += p.dot(p);
        real += q.x * p.x + q.y * p.y;
        imaginary += q.y * p.x - q.x * p.y;
    }
    if (!(spread > 0.0))
        return std::nullopt;
    real /= spread;
    imaginary /= spread;

    Similarity similarity;
    similarity.scale = std::hypot(real, imaginary);
    similarity.rotation = std::atan2(imaginary, real);
    similarity.translation = to_mean - cv::Point2d(real * from_mean.x - imaginary * from_mean.y,
                                                   imaginary * from_mean.x + real * from_mean.y);
    if (!(similarity.scale > 0.0) || !std::isfinite(similarity.scale) ||
        !std::isfinite(similarity.rotation) || !std::isfinite(similarity.translation.x) ||
        !std::isfinite(similarity.translation.y))
        return std::nullopt;
    return similarity;
}

cv::Point2d apply(const Similarity& similarity, cv::Point2d point)
{
    const double c = similarity.scale * std::cos(similarity.rotation);
    const double s = similarity.scale * std::sin(similarity.rotation);
    return {c * point.x - s * point.y + similarity.translation.x,
            s * point.x + c * point.y + similarity.translation.y};
}

Similarity inverse(const Similarity& similarity)
{
    // p = R(-angle) (q - t) / scale.
    Similarity inverted;
    inverted.scale = 1.0 / similarity.scale;
    inverted.rotation = -similarity.rotation;
    const cv::Point2d t = similarity.translation;
    const double c = std::cos(inverted.rotation) * inverted.scale;
    const double s = std::sin(inverted.rotation) * inverted.scale;
    inverted.translation = {-(c * t.x - s * t.y), -(s * t.x + c * t.y)};
    return inverted;
}
