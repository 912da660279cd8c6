#include "output/inner_rect.h"

#include <algorithm>
#include <cmath>

QSize largest_inner_rect(int width, int height, double angle)
{
    if (width <= 0 || height <= 0)
        return QSize(0, 0);

    const double sin_a = std::abs(std::sin(angle));
    const double cos_a = std::abs(std::cos(angle));
    const double short_side = std::min(width, height);
    const double long_side = std::max(width, height);

    double inner_width = 0.0;
    double inner_height = 0.0;
    // Near 45 degrees the fully constrained formula divides by almost zero.
    if (2.0 * sin_a * cos_a * long_side >= short_side || std::abs(sin_a - cos_a) < 1e-6) {
        const double x = 0.5 * short_side;
        inner_width = width >= height ? x / sin_a : x / cos_a;
        inner_height = width >= height ? x / cos_a : x / sin_a;
    } else {
        const double d = cos_a * cos_a - sin_a * sin_a;
        inner_width = (width * cos_a - height * sin_a) / d;
        inner_height = (height * cos_a - width * sin_a) / d;
    }
    return QSize(static_cast<int>(inner_width), static_cast<int>(inner_height));
}
