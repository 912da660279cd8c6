#pragma once

#include <QImage>
#include <QSize>
#include <QString>

// Reads a JPEG or PNG photo with its EXIF orientation applied, the way an image
// viewer shows it (and the way detection reads it). Null when unreadable.
QImage read_oriented_image(const QString& path);

// The size read_oriented_image would return, from the file header alone.
// Invalid when the file cannot be read.
QSize read_oriented_size(const QString& path);
