#pragma once

#include "calibration/calibration.h"
#include "tests/support/stopping_progress.h"

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>
#include <QStringList>

#include <vector>

// A calibration whose entry k is alignments[k].
Calibration calibration_of(const std::vector<ImageAlignment>& alignments);

// An alignment of `count` images that leaves each one as it is.
Calibration identity_calibration(int count);

// Pixel (x, y) carries x in red and y in green; blue 255 tells it from black.
QImage coordinate_image(QSize size);

// Writes `count` distinct JPEG shots of `size` ("shot_<k>.jpg") into `folder`
// and returns their paths in order.
QStringList write_shots(const QString& folder, int count, QSize size);

// Writes `image` as a JPEG at `quality` whose EXIF orientation tag holds
// `orientation` (1 to 8; 6 shows the stored pixels turned a quarter clockwise).
bool write_jpeg_with_orientation(const QString& path, const QImage& image, int quality,
                                 int orientation);

// Creates or replaces `path` with `bytes`.
bool write_file(const QString& path, const QByteArray& bytes = {});

// "output_img_0.jpg" to "output_img_<count - 1>.jpg", sorted by name.
QStringList frame_names(int count);

// Names of the entries of `folder` (files and folders), sorted.
QStringList folder_entries(const QString& folder);
