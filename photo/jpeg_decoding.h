#pragma once

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <functional>

// How decode_jpeg lays out a pixel: BGR for OpenCV's 8-bit colour matrices,
// BGRX (X = 255) for QImage::Format_RGB32 on a little-endian machine.
enum class JpegPixels
{
    Bgr,
    Bgrx,
};

// Where decode_jpeg writes a picture of the size it was given: rows of
// `stride` bytes from `first_row`, or a null `first_row` when there is no room.
struct JpegTarget
{
    unsigned char* first_row = nullptr;
    std::size_t stride = 0;
};

// Decodes the JPEG in `data` as stored (no EXIF turn), the way OpenCV (Bgr) and
// Qt (Bgrx) decode it, pixel for pixel, CMYK included. `target` is called once
// with the width and height. Returns an empty string on success, else why:
// libjpeg's own message, with any warning about damaged data ("Corrupt JPEG
// data: ...", "Premature end of JPEG file") counting as a failure, since libjpeg
// carries on past them with a picture that only looks whole.
// A `reduction` of 2, 4 or 8 decodes at that fraction of the size (rounded up),
// by libjpeg's own scaling: no pixel is made at full size.
QString decode_jpeg(const QByteArray& data, JpegPixels pixels,
                    const std::function<JpegTarget(int width, int height)>& target,
                    int reduction = 1);

// True when `data` starts with a JPEG's start-of-image marker.
bool looks_like_jpeg(const QByteArray& data);

// True when the JPEG stream in `data` reaches its end-of-image marker, found by
// walking the segments and the entropy-coded scans (whatever follows it, such as
// a camera's padding, does not matter). False for a stream cut short, even when
// the bytes that follow happen to hold an FFD9 pair.
bool jpeg_stream_complete(const QByteArray& data);
