#pragma once

#include <QImage>

// A width x height cut from the middle of `image`; parts outside it come out
// black. A 0 x 0 request copies the whole image.
QImage crop_centered(const QImage& image, int width, int height);
