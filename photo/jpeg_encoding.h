#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

// Encodes `image` (RGB32 or RGB888) as a baseline
// JPEG of `quality` (0 to 100) into `encoded`, the way Qt's writer encodes it
// (the same quality tables, 4:2:0 chroma, the image's density in the JFIF
// header), but from its own pixel rows: no row is converted before libjpeg
// takes it. `encoded` is overwritten and keeps its memory from one call to
// the next, so a thread encoding frame after frame does not pay for fresh
// pages each time. Returns an empty string on success, else why.
QString encode_jpeg(const QImage& image, int quality, QByteArray& encoded);
