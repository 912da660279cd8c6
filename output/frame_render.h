#pragma once

#include "calibration/calibration.h"
#include "output/colour_table.h"
#include "photo/image_file.h"

#include <opencv2/core/matx.hpp>

#include <QImage>
#include <QImageIOHandler>
#include <QPoint>
#include <QRect>
#include <QSize>

// Upright picture pixel -> pixel of the image as stored, for a stored image of
// `stored` size shown turned by `orientation` as QImageReader's automatic
// transform shows it (pixel centres at whole coordinates).
cv::Matx23d upright_to_stored(QSize stored, QImageIOHandler::Transformations orientation);

// Fills `frame` (RGB32, sized beforehand; made RGB32 if it is not) with the
// shot warped into the reference camera's pixel frame by `alignment`: frame
// pixel (x, y) shows reference pixel origin + (x, y). `stored` is the decoded
// file (renderable(), shown turned by `orientation`). Each pixel is sampled
// bilinearly at its exact source position; beyond the picture's outer pixel
// edges its border pixels repeat, so a frame inside common_frame_rect holds no
// pixel from outside its shot. Safe to call from several threads on different frames.
void render_frame_into(const QImage& stored, QImageIOHandler::Transformations orientation,
                       const ImageAlignment& alignment, QPoint origin, QImage& frame);

// The same frame through `colour`, into `frame` as RGB888 (sized beforehand;
// made RGB888 if it is not), the bytes the JPEG writer takes as they are. Each
// band of rows is warped into a small buffer and goes through the table into
// the frame while it is still in the processor's cache (convert_through_colour_table).
void render_matched_frame_into(const QImage& stored, QImageIOHandler::Transformations orientation,
                               const ImageAlignment& alignment, QPoint origin, QImage& frame,
                               const ColourTable& colour);

// The frame of `rect` (reference pixels) for an upright `input`, as a new RGB32
// image; null when `rect` is empty or the input cannot be rendered.
QImage render_frame(const QImage& input, const ImageAlignment& alignment, const QRect& rect);
