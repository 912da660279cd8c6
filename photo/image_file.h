#pragma once

#include <QByteArray>
#include <QImage>
#include <QImageIOHandler>
#include <QSize>
#include <QString>

#include <optional>

// True for the formats the frames are rendered from: 32-bit RGB32, or
// ARGB32_Premultiplied, whose colour bytes are the picture laid on black.
bool is_renderable(QImage::Format format);

// `image` in a format the frames are rendered from: itself when it already is one,
// otherwise converted (transparency kept as premultiplied alpha).
QImage renderable(const QImage& image);

// Reads a JPEG or PNG photo with its EXIF orientation applied, the way an image
// viewer shows it (and the way detection reads it). Null when unreadable.
QImage read_oriented_image(const QString& path);

// The size read_oriented_image would return, from the file header alone.
// Invalid when the file cannot be read.
QSize read_oriented_size(const QString& path);

// True when the photo can be shown: the file opens, its header gives a size
// and, for a JPEG, the stream is not cut short. Cheap: no pixel is decoded.
bool is_readable_photo(const QString& path);

// Decodes `path` as stored, before its EXIF orientation, into `image` in a
// renderable() format, decoding straight into image's pixel buffer when its
// size and format already match (no fresh memory for a series of like photos).
// Gives the turn read_oriented_image would apply; empty when unreadable.
std::optional<QImageIOHandler::Transformations> read_stored_image(const QString& path,
                                                                  QImage& image);

// The same, reading the file into `file_bytes` first (their allocation is kept
// from one call to the next). A JPEG cut short, which the decoder would pad with
// grey, or whose data libjpeg reports as corrupt, counts as unreadable, as it
// does in detection; so does a PNG whose image data fails its checks.
std::optional<QImageIOHandler::Transformations>
read_stored_image(const QString& path, QImage& image, QByteArray& file_bytes);
