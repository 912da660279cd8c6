#pragma once

#include "calibration/calibration.h"
#include "output/frame_geometry.h"

#include <QImage>
#include <QImageIOHandler>
#include <QSize>

#include <cstddef>

// A decoded photo as the frame renderer reads it: 32-bit pixels (RGB32, or
// ARGB32_Premultiplied, whose colour bytes are the picture laid on black)
// addressed in the upright picture's coordinates, whatever turn the file
// stores. A view: the image it was made from must outlive it, unchanged.
struct UprightPixels
{
    const uchar* origin = nullptr; // upright pixel (0, 0)
    std::ptrdiff_t step_x = 0;     // bytes to the pixel on its right
    std::ptrdiff_t step_y = 0;     // bytes to the pixel below it
    QSize size;                    // upright width and height
};

// `stored` seen turned by `orientation`, as QImageReader's automatic transform
// shows it, without copying a pixel. `stored` must be renderable().
UprightPixels
upright_pixels(const QImage& stored,
               QImageIOHandler::Transformations orientation = QImageIOHandler::TransformationNone);

// True for the formats the renderer reads directly.
bool is_renderable(QImage::Format format);

// `image` in a format the renderer reads: itself when it already is one,
// otherwise converted (transparency kept as premultiplied alpha).
QImage renderable(const QImage& image);

// Fills `frame` (RGB888, sized beforehand) with the aligned input cut from the
// middle of its inner rectangle: the same pixels as
// crop_centered(render_frame(input, ...), frame.width(), frame.height()),
// without drawing anything outside the frame. Each pixel samples the input
// pixel under its centre through the inverse transform, independently of the
// others, so every cut of the same frame agrees to the pixel; parts outside the
// picture or the inner rectangle are black. `geometry` must come from
// frame_geometry(input.size, alignment). Safe to call from several threads on
// different frames.
void render_frame_into(const UprightPixels& input, const FrameGeometry& geometry,
                       const ImageAlignment& alignment, QImage& frame);
