#pragma once

#include <QSize>

// Width and height of the largest axis-aligned rectangle that fits, centred,
// inside a width x height rectangle rotated by `angle` radians (truncated to
// whole pixels). (0, 0) when a side is not positive.
QSize largest_inner_rect(int width, int height, double angle);
