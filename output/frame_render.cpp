#include "output/frame_render.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

UprightPixels upright_pixels(const QImage& stored, QImageIOHandler::Transformations orientation)
{
    const int width = stored.width();
    const int height = stored.height();
    const bool turned = orientation & QImageIOHandler::TransformationRotate90;
    const bool mirrored = orientation & QImageIOHandler::TransformationMirror;
    const bool flipped = orientation & QImageIOHandler::TransformationFlip;

    UprightPixels pixels;
    pixels.size = turned ? QSize(height, width) : QSize(width, height);
    if (stored.isNull())
        return pixels;
    // Mirror and flip come first, then the quarter turn clockwise, as
    // QImageReader applies them: upright (x, y) shows stored (mx, my) mirrored
    // and flipped, where (mx, my) = (y, height - 1 - x) after a turn.
    const std::ptrdiff_t pixel = 4;
    const std::ptrdiff_t line = stored.bytesPerLine();
    const std::ptrdiff_t along_x = mirrored ? -pixel : pixel;
    const std::ptrdiff_t along_y = flipped ? -line : line;
    const int first_x = mirrored ? width - 1 : 0;
    const int first_y = flipped ? height - 1 : 0;
    const int turned_y = flipped ? 0 : height - 1; // stored row of upright (0, 0) after a turn
    pixels.origin = stored.constBits() + (turned ? turned_y : first_y) * line + first_x * pixel;
    pixels.step_x = turned ? -along_y : along_x;
    pixels.step_y = turned ? along_x : along_y;
    return pixels;
}

bool is_renderable(QImage::Format format)
{
    return format == QImage::Format_RGB32 || format == QImage::Format_ARGB32_Premultiplied;
}

QImage renderable(const QImage& image)
{
    if (is_renderable(image.format()))
        return image;
    return image.convertToFormat(image.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied
                                                         : QImage::Format_RGB32);
}

void render_frame_into(const UprightPixels& input, const FrameGeometry& geometry,
                       const ImageAlignment& alignment, QImage& frame)
{
    if (frame.format() != QImage::Format_RGB888)
        frame = QImage(frame.size(), QImage::Format_RGB888);
    const int frame_width = frame.width();
    const int frame_height = frame.height();
    uchar* const frame_bits = frame.bits();
    const std::ptrdiff_t frame_line = frame.bytesPerLine();
    const auto blacken = [&](int row, int from, int to) {
        if (to > from)
            std::memset(frame_bits + row * frame_line + 3 * from, 0, 3 * std::size_t(to - from));
    };

    const QSize canvas = geometry.canvas;
    const QSize inner = geometry.inner;
    const QSize bounds = geometry.transformed;
    bool invertible = false;
    const QTransform to_canvas =
        QImage::trueMatrix(alignment_transform(alignment), canvas.width(), canvas.height())
            .inverted(&invertible);
    // Sides below 2^28 keep every fixed-point position below 2^62; no QImage
    // comes near that.
    const int largest_side = 1 << 28;
    if (inner.isEmpty() || bounds.isEmpty() || !invertible || input.origin == nullptr ||
        std::max(canvas.width(), canvas.height()) >= largest_side) {
        for (int row = 0; row < frame_height; ++row)
            blacken(row, 0, frame_width);
        return;
    }

    // The frame's place in the transformed canvas: the inner rectangle is cut
    // from the middle of the bounding box, and the frame from the middle of
    // that, each with crop_centered's rounding.
    const int inner_left = (bounds.width() - inner.width()) / 2;
    const int inner_top = (bounds.height() - inner.height()) / 2;
    const int left = inner_left + (inner.width() - frame_width) / 2;
    const int top = inner_top + (inner.height() - frame_height) / 2;
    // Frame columns and rows that lie inside both the box and the inner rectangle.
    const int first_column = std::max({0, -left, inner_left - left});
    const int end_column =
        std::min({frame_width, bounds.width() - left, inner_left + inner.width() - left});
    const int first_row = std::max({0, -top, inner_top - top});
    const int end_row =
        std::min({frame_height, bounds.height() - top, inner_top + inner.height() - top});

    // The canvas is the input shifted by the draw offset: canvas pixel (x, y)
    // is input pixel (x - offset.x, y - offset.y), always inside the input.
    const std::ptrdiff_t step_x = input.step_x;
    const std::ptrdiff_t step_y = input.step_y;
    const uchar* const canvas_origin =
        input.origin - geometry.draw_offset.x() * step_x - geometry.draw_offset.y() * step_y;
    // Source positions in 32.32 fixed point: along a row each column adds the
    // same step exactly, so a pixel's source depends only on its place in the
    // box, never on where a frame's rows begin.
    constexpr double unit = 4294967296.0;
    const std::int64_t column_step_x = std::llround(to_canvas.m11() * unit);
    const std::int64_t column_step_y = std::llround(to_canvas.m12() * unit);
    const std::uint64_t limit_x = static_cast<std::uint64_t>(canvas.width()) << 32;
    const std::uint64_t limit_y = static_cast<std::uint64_t>(canvas.height()) << 32;
    const int first_x = left + first_column;

    for (int row = 0; row < frame_height; ++row) {
        if (row < first_row || row >= end_row || first_column >= end_column) {
            blacken(row, 0, frame_width);
            continue;
        }
        blacken(row, 0, first_column);
        blacken(row, end_column, frame_width);
        // The centre of box pixel (0, top + row), through the inverse transform.
        const double y = top + row + 0.5;
        const double row_x = to_canvas.m21() * y + to_canvas.dx() + 0.5 * to_canvas.m11();
        const double row_y = to_canvas.m22() * y + to_canvas.dy() + 0.5 * to_canvas.m12();
        std::int64_t source_x = std::llround(row_x * unit) + column_step_x * first_x;
        std::int64_t source_y = std::llround(row_y * unit) + column_step_y * first_x;
        uchar* out = frame_bits + row * frame_line + 3 * first_column;
        for (int column = first_column; column < end_column;
             ++column, out += 3, source_x += column_step_x, source_y += column_step_y) {
            // Negative positions wrap to huge unsigned ones: one test per side.
            if (static_cast<std::uint64_t>(source_x) >= limit_x ||
                static_cast<std::uint64_t>(source_y) >= limit_y) {
                out[0] = out[1] = out[2] = 0;
                continue;
            }
            const QRgb pixel = *reinterpret_cast<const QRgb*>(
                canvas_origin + (source_x >> 32) * step_x + (source_y >> 32) * step_y);
            out[0] = static_cast<uchar>(qRed(pixel));
            out[1] = static_cast<uchar>(qGreen(pixel));
            out[2] = static_cast<uchar>(qBlue(pixel));
        }
    }
}
