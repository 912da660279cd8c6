#pragma once

#include "calibration/calibration.h"

#include <QSize>
#include <QString>
#include <QStringList>

// An alignment of `count` images that leaves each one as it is.
Calibration identity_calibration(int count);

// Writes `count` distinct JPEG shots of `size` ("shot_<k>.jpg") into `folder`
// and returns their paths in order.
QStringList write_shots(const QString& folder, int count, QSize size);

// Names of the entries of `folder` (files and folders), sorted.
QStringList folder_entries(const QString& folder);
