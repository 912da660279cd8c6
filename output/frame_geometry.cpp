#include "output/frame_geometry.h"

#include "output/frame_render.h"
#include "output/inner_rect.h"

#include <QPolygonF>
#include <QRectF>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// Truncation toward zero that stays defined for values no int can hold; a
// calibration record is not trusted to hold sensible numbers.
int truncate_to_int(double value)
{
    if (std::isnan(value))
        return 0;
    const double limit = std::numeric_limits<int>::max() / 4;
    return static_cast<int>(std::clamp(value, -limit, limit));
}

// The size QImage::transformed(transform, Qt::FastTransformation) gives an image
// of `size`, by the same rules, without any pixel.
QSize transformed_size(QSize size, const QTransform& transform)
{
    const int width = size.width();
    const int height = size.height();
    const QTransform matrix = QImage::trueMatrix(transform, width, height);
    if (matrix.type() <= QTransform::TxScale) {
        if (matrix.type() == QTransform::TxNone || (matrix.m11() == -1. && matrix.m22() == -1.))
            return size;
        return QSize(qRound(qAbs(matrix.m11()) * width), qRound(qAbs(matrix.m22()) * height));
    }
    if (matrix.type() <= QTransform::TxRotate && matrix.m11() == 0 && matrix.m22() == 0 &&
        qAbs(matrix.m12()) == 1. && matrix.m21() == -matrix.m12())
        return size.transposed();
    return matrix.map(QPolygonF(QRectF(0, 0, width, height))).boundingRect().toAlignedRect().size();
}

} // namespace

FrameGeometry frame_geometry(QSize input, const ImageAlignment& alignment)
{
    const int tx = truncate_to_int(alignment.translation_x);
    const int ty = truncate_to_int(alignment.translation_y);

    FrameGeometry geometry;
    geometry.canvas = QSize(std::max(input.width() - 2 * std::abs(tx), 0),
                            std::max(input.height() - 2 * std::abs(ty), 0));
    geometry.draw_offset = QPoint(2 * std::min(tx, 0), 2 * std::min(ty, 0));
    geometry.inner = QSize(0, 0);
    geometry.transformed = QSize(0, 0);
    if (geometry.canvas.isEmpty() || !std::isfinite(alignment.rotation_deg))
        return geometry;

    const int scaled_width = truncate_to_int(alignment.scale * geometry.canvas.width());
    const int scaled_height = truncate_to_int(alignment.scale * geometry.canvas.height());
    // Beyond this the bounding box no longer fits Qt's integer rectangles; no
    // photo is ever enlarged that far.
    const int largest = std::numeric_limits<int>::max() / 8;
    if (std::max(scaled_width, scaled_height) > largest)
        return geometry;
    const double angle = 3.141592653589793 * alignment.rotation_deg / 180.0;
    geometry.inner = largest_inner_rect(scaled_width, scaled_height, angle);
    if (!geometry.inner.isEmpty())
        geometry.transformed = transformed_size(geometry.canvas, alignment_transform(alignment));
    return geometry;
}

QSize common_frame_size(const std::vector<QSize>& inner_sizes)
{
    int width = 0xFFFFFF;
    int height = 0xFFFFFF;
    for (const QSize& inner : inner_sizes) {
        width = std::min(width, inner.width());
        height = std::min(height, inner.height());
    }
    // The H.264 encoder in yuv420p needs even sides.
    return QSize(width & ~1, height & ~1);
}

ImageAlignment alignment_for_resized_input(const ImageAlignment& alignment, double factor)
{
    // Every distance in the input scales with it, the shift included; the
    // scale onto the frame makes up for the input's.
    ImageAlignment resized = alignment;
    resized.translation_x *= factor;
    resized.translation_y *= factor;
    resized.scale /= factor;
    return resized;
}

QPointF frame_point(QSize input, const ImageAlignment& alignment, QSize frame, QPointF point)
{
    const FrameGeometry geometry = frame_geometry(input, alignment);
    const QSize canvas = geometry.canvas;
    const QSize inner = geometry.inner;
    const QSize bounds = geometry.transformed;
    // The same placement as render_frame_into, in continuous coordinates where
    // a pixel's centre lies half a pixel in.
    const QPointF on_canvas = point + QPointF(0.5, 0.5) + QPointF(geometry.draw_offset);
    const QPointF in_box =
        QImage::trueMatrix(alignment_transform(alignment), canvas.width(), canvas.height())
            .map(on_canvas);
    const int left = (bounds.width() - inner.width()) / 2 + (inner.width() - frame.width()) / 2;
    const int top = (bounds.height() - inner.height()) / 2 + (inner.height() - frame.height()) / 2;
    return in_box - QPointF(left, top) - QPointF(0.5, 0.5);
}

QTransform alignment_transform(const ImageAlignment& alignment)
{
    QTransform transform;
    transform.rotate(alignment.rotation_deg, Qt::ZAxis);
    transform.scale(alignment.scale, alignment.scale);
    return transform;
}

QImage render_frame(const QImage& input, const FrameGeometry& geometry,
                    const ImageAlignment& alignment)
{
    if (geometry.inner.isEmpty() || input.size().isEmpty())
        return {};
    QImage frame(geometry.inner, QImage::Format_RGB888);
    if (frame.isNull())
        return {};
    const QImage pixels = renderable(input);
    if (pixels.isNull())
        return {};
    render_frame_into(upright_pixels(pixels), geometry, alignment, frame);
    return frame;
}
