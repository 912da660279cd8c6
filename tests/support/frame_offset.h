#pragma once

#include <QString>

// How far camera `camera`'s frame ("output_img_<camera>.jpg") in folder `a` sits
// from the same frame in folder `b`, in pixels by phase correlation, once the
// shift between the two folders' frames of camera `middle` is taken off: two
// runs' frames may be cut a pixel apart.
double frame_offset(const QString& a, const QString& b, int camera, int middle);
