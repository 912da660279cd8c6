#pragma once

#include "calibration/calibration.h"
#include "tests/support/stopping_progress.h"

#include <QImage>
#include <QSize>
#include <QString>
#include <QStringList>

// An alignment of `count` images that leaves each one as it is.
Calibration identity_calibration(int count);

// Writes `count` distinct JPEG shots of `size` ("shot_<k>.jpg") into `folder`
// and returns their paths in order.
QStringList write_shots(const QString& folder, int count, QSize size);

// Writes `image` as a JPEG at `quality` whose EXIF orientation tag holds
// `orientation` (1 to 8; 6 shows the stored pixels turned a quarter clockwise).
bool write_jpeg_with_orientation(const QString& path, const QImage& image, int quality,
                                 int orientation);

// Names of the entries of `folder` (files and folders), sorted.
QStringList folder_entries(const QString& folder);

