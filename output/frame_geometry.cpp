#include "output/frame_geometry.h"

#include "calibration/alignment.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// Beyond these, no photo could be rendered anyway (the largest sensors are
// some 15000 pixels wide), and the search below would take long.
constexpr double largest_side = 1 << 16;
constexpr double farthest_shift = 1 << 24;
// Slack for the rounding of the corners, far below a pixel.
constexpr double tolerance = 1e-6;

// n.x * x + n.y * y <= limit for the points of one footprint side and inside.
struct HalfPlane
{
    cv::Point2d normal;
    double limit;
};

// The span of x for pixel centres whose rows y0..y1 lie inside every half-plane.
struct Span
{
    double first = -std::numeric_limits<double>::infinity();
    double last = std::numeric_limits<double>::infinity();
    double length() const { return last - first; }
};

Span columns_inside(const std::vector<HalfPlane>& planes, double y0, double y1)
{
    Span span;
    for (const HalfPlane& plane : planes) {
        const double room =
            plane.limit + tolerance - plane.normal.y * (plane.normal.y > 0 ? y1 : y0);
        if (plane.normal.x > 0)
            span.last = std::min(span.last, room / plane.normal.x);
        else if (plane.normal.x < 0)
            span.first = std::max(span.first, room / plane.normal.x);
        else if (room < 0)
            return {0.0, -1.0};
    }
    return span;
}

// The maximum of a function that rises then falls on [low, high], and where it is.
template <typename Function>
std::pair<double, double> ternary_maximum(double low, double high, Function value)
{
    for (int step = 0; step < 100 && high - low > 1e-4; ++step) {
        const double a = low + (high - low) / 3.0;
        const double b = high - (high - low) / 3.0;
        if (value(a) < value(b))
            low = a;
        else
            high = b;
    }
    const double at = 0.5 * (low + high);
    return {value(at), at};
}

// The area of pixel centres x, y with rows y0..y1, counting pixels, or the
// (negative) shortfall of the widest span where no column fits: rising, then
// falling along each coordinate, as the ternary search needs.
double score(const std::vector<HalfPlane>& planes, double y0, double y1)
{
    const double width = columns_inside(planes, y0, y1).length();
    return width < 0 ? width : (y1 - y0 + 1.0) * (width + 1.0);
}

// The nearest placement to `target` (the top-left pixel centre wanted) of a
// width x height frame, or nothing when it fits nowhere.
std::optional<QRect> place(const std::vector<HalfPlane>& planes, double top, double bottom,
                           int width, int height, cv::Point2d target)
{
    std::optional<QRect> best;
    double best_distance = std::numeric_limits<double>::infinity();
    for (int y = static_cast<int>(std::ceil(top)); y + height - 1 <= bottom; ++y) {
        const Span span = columns_inside(planes, y, y + height - 1);
        const double first = std::ceil(span.first);
        const double last = std::floor(span.last - (width - 1));
        if (first > last)
            continue;
        const double x = std::clamp(std::round(target.x), first, last);
        const double distance = std::hypot(x - target.x, y - target.y);
        if (distance < best_distance) {
            best_distance = distance;
            best = QRect(static_cast<int>(x), y, width, height);
        }
    }
    return best;
}

} // namespace

std::optional<std::array<cv::Point2d, 4>> aligned_footprint(QSize input,
                                                            const ImageAlignment& alignment)
{
    const Similarity similarity = alignment_similarity(alignment);
    if (input.isEmpty() || !(similarity.scale > 0.0) ||
        !(similarity.scale * std::max(input.width(), input.height()) < largest_side) ||
        !std::isfinite(similarity.rotation) ||
        !(std::abs(similarity.translation.x) < farthest_shift) ||
        !(std::abs(similarity.translation.y) < farthest_shift))
        return std::nullopt;
    const double right = input.width() - 0.5;
    const double bottom = input.height() - 0.5;
    return std::array<cv::Point2d, 4>{
        apply(similarity, {-0.5, -0.5}), apply(similarity, {right, -0.5}),
        apply(similarity, {right, bottom}), apply(similarity, {-0.5, bottom})};
}

QRect common_frame_rect(const std::vector<QSize>& inputs,
                        const std::vector<ImageAlignment>& alignments, int reference_index)
{
    if (inputs.empty() || inputs.size() != alignments.size() || reference_index < 0 ||
        reference_index >= static_cast<int>(inputs.size()))
        return {};

    // Every side of every footprint bounds the frame; rows are searched
    // between the lowest bottom and the highest top of the footprints.
    std::vector<HalfPlane> planes;
    double top = -std::numeric_limits<double>::infinity();
    double bottom = std::numeric_limits<double>::infinity();
    for (std::size_t k = 0; k < inputs.size(); ++k) {
        const auto corners = aligned_footprint(inputs[k], alignments[k]);
        if (!corners)
            return {};
        const cv::Point2d centre = ((*corners)[0] + (*corners)[2]) * 0.5;
        double lowest = std::numeric_limits<double>::infinity();
        double highest = -lowest;
        for (int i = 0; i < 4; ++i) {
            const cv::Point2d a = (*corners)[i];
            const cv::Point2d b = (*corners)[(i + 1) % 4];
            cv::Point2d normal(b.y - a.y, a.x - b.x);
            normal /= std::hypot(normal.x, normal.y);
            if (normal.dot(centre - a) > 0)
                normal = -normal;
            planes.push_back({normal, normal.dot(a)});
            lowest = std::min(lowest, a.y);
            highest = std::max(highest, a.y);
        }
        top = std::max(top, lowest);
        bottom = std::min(bottom, highest);
    }
    if (!(top <= bottom))
        return {};

    // The largest real rectangle: for each top row the best bottom row, and
    // the best top row over those.
    double best_y0 = top;
    double best_y1 = top;
    const auto best_for_top = [&](double y0) {
        const auto [value, y1] =
            ternary_maximum(y0, bottom, [&](double y) { return score(planes, y0, y); });
        return std::make_pair(value, y1);
    };
    const auto [area, y0] =
        ternary_maximum(top, bottom, [&](double y) { return best_for_top(y).first; });
    if (!(area >= 1.0))
        return {};
    best_y0 = y0;
    best_y1 = best_for_top(y0).second;
    const double real_height = best_y1 - best_y0 + 1.0;
    const double real_width = columns_inside(planes, best_y0, best_y1).length() + 1.0;
    const int width = static_cast<int>(std::min(real_width, largest_side)) & ~1;
    const int height = static_cast<int>(std::min(real_height, largest_side)) & ~1;

    // Centred on the reference picture's centre where the footprints allow.
    const QSize reference_size = inputs[reference_index];
    const cv::Point2d centre =
        apply(alignment_similarity(alignments[reference_index]),
              {(reference_size.width() - 1) / 2.0, (reference_size.height() - 1) / 2.0});

    // Whole pixels may cost the real optimum a row or a column: give up two
    // pixels a side at a time, largest area first.
    std::vector<QSize> sizes;
    for (int less_width = 0; less_width <= 8; less_width += 2)
        for (int less_height = 0; less_height <= 8; less_height += 2)
            if (width - less_width >= 2 && height - less_height >= 2)
                sizes.emplace_back(width - less_width, height - less_height);
    std::stable_sort(sizes.begin(), sizes.end(), [](QSize a, QSize b) {
        return static_cast<long long>(a.width()) * a.height() >
               static_cast<long long>(b.width()) * b.height();
    });
    for (const QSize size : sizes) {
        const cv::Point2d target(centre.x - (size.width() - 1) / 2.0,
                                 centre.y - (size.height() - 1) / 2.0);
        if (const std::optional<QRect> rect =
                place(planes, top, bottom, size.width(), size.height(), target))
            return *rect;
    }
    return {};
}

ImageAlignment alignment_for_resized_input(const ImageAlignment& alignment, double factor)
{
    // Input pixel p shows photo pixel (p + 0.5) / factor - 0.5: its edges, not
    // its centres, scale with the picture.
    const Similarity similarity = alignment_similarity(alignment);
    const double half = 0.5 / factor - 0.5;
    const cv::Point2d moved = apply(similarity, {half, half});
    ImageAlignment resized = alignment;
    resized.translation_x = moved.x;
    resized.translation_y = moved.y;
    resized.scale = alignment.scale / factor;
    return resized;
}
