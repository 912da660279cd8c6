#pragma once

#include "calibration/calibration.h"

#include <QImage>
#include <QPoint>
#include <QPointF>
#include <QSize>
#include <QTransform>

#include <vector>

// Where one input lands in its frame. Depends only on the input's size and its
// alignment, so it is known from the file header before any pixel is decoded.
struct FrameGeometry
{
    // The input less twice the whole-pixel translation on each axis (the
    // translation is done by cropping); empty when nothing is left.
    QSize canvas;
    // Where the input's top-left corner is drawn on the canvas, in canvas pixels.
    QPoint draw_offset;
    // largest_inner_rect of the scaled canvas at the alignment's rotation:
    // the frame before the common crop. (0, 0) when nothing is left.
    QSize inner;
    // The bounding box of the rotated and scaled canvas, sized as
    // QImage::transformed sizes it; the inner rectangle is cut from its middle.
    // (0, 0) when nothing is left.
    QSize transformed;
};

FrameGeometry frame_geometry(QSize input, const ImageAlignment& alignment);

// The smallest inner width and the smallest inner height, independently, each
// with bit 0 cleared; (16777214, 16777214) for no frames.
QSize common_frame_size(const std::vector<QSize>& inner_sizes);

// The alignment for an input `factor` times the size of the photo `alignment`
// was computed on (the same picture, proportions kept): its frame comes out the
// size and content the photo's would, so cameras of different sizes still agree.
ImageAlignment alignment_for_resized_input(const ImageAlignment& alignment, double factor);

// Where `point` of an input of size `input` (pixel coordinates: pixel (0, 0)
// has its centre at (0, 0)) lands in a frame of size `frame` cut from it by
// render_frame_into, in the frame's pixel coordinates.
QPointF frame_point(QSize input, const ImageAlignment& alignment, QSize frame, QPointF point);

// Rotation (degrees, clockwise on screen) then scale, about the origin.
QTransform alignment_transform(const ImageAlignment& alignment);

// `input` translated by cropping onto a black canvas, rotated then scaled about
// the canvas centre (nearest pixel), and cut to `geometry.inner` about its
// centre; RGB888. `geometry` must come from frame_geometry(input.size(), alignment).
QImage render_frame(const QImage& input, const FrameGeometry& geometry,
                    const ImageAlignment& alignment);
