#include "output/frame_render.h"

#include "calibration/alignment.h"
#include "output/bilinear_warp.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <optional>

namespace {

// 3 x 3 form of an affine map, to chain them.
cv::Matx33d square(const cv::Matx23d& m)
{
    return {m(0, 0), m(0, 1), m(0, 2), m(1, 0), m(1, 1), m(1, 2), 0, 0, 1};
}

cv::Matx23d affine(const cv::Matx33d& m)
{
    return {m(0, 0), m(0, 1), m(0, 2), m(1, 0), m(1, 1), m(1, 2)};
}

// A 32-bit QImage as a 4-channel matrix sharing its pixels; `pixels` is
// where they are (constBits() to read, bits() to write).
cv::Mat matrix_view(const QImage& image, const uchar* pixels)
{
    return cv::Mat(image.height(), image.width(), CV_8UC4, const_cast<uchar*>(pixels),
                   static_cast<std::size_t>(image.bytesPerLine()));
}

// Rows warped at a time before the colour table takes them: small enough for
// the band and the source rows it reads to stay in the cache. Fewer rows cost
// more on frames 6000 pixels across, whose warp reads further apart.
constexpr int colour_band_rows = 32;

} // namespace

cv::Matx23d upright_to_stored(QSize stored, QImageIOHandler::Transformations orientation)
{
    const double last_x = stored.width() - 1;
    const double last_y = stored.height() - 1;
    // QImageReader mirrors and flips first, then turns a quarter clockwise:
    // upright (x, y) shows the mirrored, flipped pixel (y, last_y - x) after a turn.
    cv::Matx33d map = cv::Matx33d::eye();
    if (orientation & QImageIOHandler::TransformationRotate90)
        map = cv::Matx33d(0, 1, 0, -1, 0, last_y, 0, 0, 1);
    if (orientation & QImageIOHandler::TransformationMirror)
        map = cv::Matx33d(-1, 0, last_x, 0, 1, 0, 0, 0, 1) * map;
    if (orientation & QImageIOHandler::TransformationFlip)
        map = cv::Matx33d(1, 0, 0, 0, -1, last_y, 0, 0, 1) * map;
    return affine(map);
}

namespace {

// Frame pixel -> stored pixel, for the frame's rows from `first_row` on.
struct FrameWarp
{
    cv::Matx33d upright_to_stored_map;
    cv::Matx33d reference_to_upright;
    QPoint origin;

    cv::Matx23d from_row(int first_row) const
    {
        const cv::Matx33d frame_to_reference(1, 0, origin.x(), 0, 1, origin.y() + first_row, 0, 0,
                                             1);
        return affine(upright_to_stored_map * reference_to_upright * frame_to_reference);
    }
};

// Nothing when the shot cannot be rendered.
std::optional<FrameWarp> frame_warp(const QImage& stored,
                                    QImageIOHandler::Transformations orientation,
                                    const ImageAlignment& alignment, QPoint origin)
{
    const Similarity similarity = alignment_similarity(alignment);
    if (stored.isNull() || !is_renderable(stored.format()) || !(similarity.scale > 0.0))
        return std::nullopt;
    // Frame pixel -> reference pixel -> upright picture pixel -> stored pixel.
    const double c = std::cos(similarity.rotation) / similarity.scale;
    const double s = std::sin(similarity.rotation) / similarity.scale;
    const cv::Point2d t = similarity.translation;
    const cv::Matx33d reference_to_upright(c, s, -(c * t.x + s * t.y), -s, c, s * t.x - c * t.y, 0,
                                           0, 1);
    return FrameWarp{square(upright_to_stored(stored.size(), orientation)), reference_to_upright,
                     origin};
}

void warp_into(const QImage& stored, const cv::Matx23d& frame_to_stored, cv::Mat& target)
{
    warp_bilinear(matrix_view(stored, stored.constBits()), frame_to_stored, target);
}

// Rows of a frame warped by one task: enough that a task is worth waking a
// thread for, few enough that two threads share a frame out evenly.
constexpr int warp_band_rows = 64;

// `band(first, rows)` over `height` rows in bands of `band_rows`, the bands
// shared out among OpenCV's threads in one go.
template <typename Band> void for_each_band(int height, int band_rows, const Band& band)
{
    const int bands = (height + band_rows - 1) / band_rows;
    cv::parallel_for_(cv::Range(0, bands), [&](const cv::Range& range) {
        for (int b = range.start; b < range.end; ++b) {
            const int first = b * band_rows;
            band(first, std::min(band_rows, height - first));
        }
    });
}

} // namespace

void render_frame_into(const QImage& stored, QImageIOHandler::Transformations orientation,
                       const ImageAlignment& alignment, QPoint origin, QImage& frame)
{
    if (frame.format() != QImage::Format_RGB32)
        frame = QImage(frame.size(), QImage::Format_RGB32);
    if (frame.isNull())
        return;
    const std::optional<FrameWarp> warp = frame_warp(stored, orientation, alignment, origin);
    if (!warp) {
        frame.fill(Qt::black);
        return;
    }
    cv::Mat target = matrix_view(frame, frame.bits());
    for_each_band(frame.height(), warp_band_rows, [&](int first, int rows) {
        cv::Mat band = target.rowRange(first, first + rows);
        warp_into(stored, warp->from_row(first), band);
    });
    // Premultiplied colours are the picture on black; RGB32 wants an opaque alpha.
    if (stored.format() == QImage::Format_ARGB32_Premultiplied) {
        for (int y = 0; y < frame.height(); ++y) {
            QRgb* line = reinterpret_cast<QRgb*>(frame.scanLine(y));
            for (int x = 0; x < frame.width(); ++x)
                line[x] |= 0xff000000u;
        }
    }
}

void render_matched_frame_into(const QImage& stored, QImageIOHandler::Transformations orientation,
                               const ImageAlignment& alignment, QPoint origin, QImage& frame,
                               const ColourTable& colour)
{
    if (frame.format() != QImage::Format_RGB888)
        frame = QImage(frame.size(), QImage::Format_RGB888);
    if (frame.isNull())
        return;
    const std::optional<FrameWarp> warp = frame_warp(stored, orientation, alignment, origin);
    if (!warp) {
        frame.fill(Qt::black);
        return;
    }
    // The table goes where the writer's own conversion to 3-byte rows would
    // have gone: over a full-size frame in a pass of its own it would cost about
    // as much again. The bands are shared out in one go: a warp per band, each
    // sharing itself out among the threads, wakes them so often that their
    // waiting costs more than the table.
    // Taken once: bits() may copy the pixels of a shared image, never from several threads.
    uchar* const pixels = frame.bits();
    for_each_band(frame.height(), colour_band_rows, [&](int first, int rows) {
        // Kept from band to band and frame to frame: a fresh buffer of this
        // size would come as new pages every time.
        thread_local cv::Mat warped;
        warped.create(colour_band_rows, frame.width(), CV_8UC4);
        cv::Mat band = warped.rowRange(0, rows);
        warp_into(stored, warp->from_row(first), band);
        // Views of the rows of their own: the frame itself is not touched
        // from several threads.
        const QImage in(band.data, band.cols, rows, static_cast<int>(band.step),
                        QImage::Format_RGB32);
        QImage out(pixels + std::ptrdiff_t(first) * frame.bytesPerLine(), frame.width(), rows,
                   frame.bytesPerLine(), QImage::Format_RGB888);
        convert_through_colour_table(colour, in, out);
    });
}

QImage render_frame(const QImage& input, const ImageAlignment& alignment, const QRect& rect)
{
    if (rect.isEmpty())
        return {};
    QImage frame(rect.size(), QImage::Format_RGB32);
    const QImage pixels = renderable(input);
    if (frame.isNull() || pixels.isNull())
        return {};
    render_frame_into(pixels, QImageIOHandler::TransformationNone, alignment, rect.topLeft(),
                      frame);
    return frame;
}
