#pragma once

#include <opencv2/core.hpp>

#include <QByteArray>
#include <QString>

// Reads a JPEG or PNG photo as 8-bit BGR, turned upright the way Qt's reader
// turns it, so that detection sees exactly the picture the window shows and the
// frames are rendered from (Qt reads a JPEG's EXIF orientation, not a PNG's).
// The path is used as Qt names files, whatever the process locale.
// Returns an empty matrix when the file is missing, cannot be decoded, is a
// JPEG cut short (which the decoder would silently pad with grey) or one whose
// data the decoder reports as corrupt (see decode_jpeg).
cv::Mat read_bgr_image(const QString& path);

// The same, reading the file into `file_bytes` and decoding into `image`. Both keep
// their memory from one call to the next when it is large enough, so a thread
// reading photo after photo does not pay for fresh pages each time; any other
// matrix sharing `image`'s pixels sees them overwritten. Returns false, with
// `image` empty, where the form above returns an empty matrix.
bool read_bgr_image(const QString& path, cv::Mat& image, QByteArray& file_bytes);

// Reads the whole file into `bytes`, keeping their allocation when it is large
// enough. False when the file cannot be opened or read.
bool read_file_bytes(const QString& path, QByteArray& bytes);

// True for a JPEG stream that stops before its end-of-image marker: libjpeg
// (OpenCV's and Qt's alike) pads such a file with grey and reports success.
// Cheap: the structure only (jpeg_stream_complete), no pixel is decoded.
bool is_cut_short_jpeg(const QByteArray& data);
