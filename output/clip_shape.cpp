#include "output/clip_shape.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace {

struct Shape
{
    ClipAspect aspect;
    const char* name;
    int across;
    int down;
};

constexpr std::array<Shape, 5> shapes{{{ClipAspect::Original, "Originale", 0, 0},
                                       {ClipAspect::Wide, "16:9", 16, 9},
                                       {ClipAspect::Square, "1:1", 1, 1},
                                       {ClipAspect::Portrait, "4:5", 4, 5},
                                       {ClipAspect::Tall, "9:16", 9, 16}}};

const Shape& shape_of(ClipAspect aspect)
{
    return *std::find_if(shapes.begin(), shapes.end(),
                         [&](const Shape& shape) { return shape.aspect == aspect; });
}

int even_below(double side)
{
    return 2 * static_cast<int>(std::floor(side / 2.0 + 1e-9));
}

} // namespace

QString aspect_name(ClipAspect aspect)
{
    return QString::fromUtf8(shape_of(aspect).name);
}

std::optional<ClipAspect> aspect_from_name(const QString& name)
{
    for (const Shape& shape : shapes)
        if (name == QLatin1String(shape.name))
            return shape.aspect;
    return std::nullopt;
}

std::vector<ClipAspect> all_aspects()
{
    std::vector<ClipAspect> all;
    for (const Shape& shape : shapes)
        all.push_back(shape.aspect);
    return all;
}

QRect clip_rect(QSize frame, ClipAspect aspect, double column_x)
{
    const Shape& shape = shape_of(aspect);
    if (frame.isEmpty() || shape.across == 0)
        return QRect(QPoint(0, 0), frame);
    const int frame_w = even_below(frame.width());
    const int frame_h = even_below(frame.height());
    int width = frame_w;
    int height = frame_h;
    // The side that limits the shape stays whole; the other follows the ratio.
    if (double(frame_w) * shape.down > double(frame_h) * shape.across)
        width = even_below(double(frame_h) * shape.across / shape.down);
    else
        height = even_below(double(frame_w) * shape.down / shape.across);
    width = std::max(width, 2);
    height = std::max(height, 2);
    const double centre = std::isfinite(column_x) ? column_x : (frame.width() - 1) / 2.0;
    // Pixel centres run from left to left + width - 1: their middle on the column.
    int left = 2 * static_cast<int>(std::lround((centre - (width - 1) / 2.0) / 2.0));
    left = std::clamp(left, 0, std::max(0, frame_w - width));
    const int top = (frame.height() - height) / 2;
    return QRect(left, std::max(top, 0), width, height);
}
