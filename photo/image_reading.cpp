#include "photo/image_reading.h"

#include "photo/jpeg_decoding.h"

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include <QBuffer>
#include <QByteArray>
#include <QFile>
#include <QImageReader>

#include <algorithm>
#include <array>
#include <limits>

namespace {

// A colour no decoded photo is expected to show in all four corners at once.
const cv::Vec3b corner_stamp(3, 251, 7);

std::array<cv::Point, 4> corners(const cv::Mat& image)
{
    const int right = image.cols - 1;
    const int bottom = image.rows - 1;
    return {cv::Point(0, 0), cv::Point(right, 0), cv::Point(0, bottom), cv::Point(right, bottom)};
}

void stamp_corners(cv::Mat& image)
{
    for (const cv::Point& corner : corners(image))
        image.at<cv::Vec3b>(corner) = corner_stamp;
}

bool corners_stamped(const cv::Mat& image)
{
    const auto points = corners(image);
    return std::all_of(points.begin(), points.end(), [&](const cv::Point& corner) {
        return image.at<cv::Vec3b>(corner) == corner_stamp;
    });
}

// The turn the frames will give this photo. It comes from Qt's reader, which
// renders the frames, and not from OpenCV's: the two parse EXIF differently
// (OpenCV accepts an Orientation entry of an invalid type that Qt rejects), and
// stickers found in a picture turned another way than the frame would be
// applied to the wrong pixels.
QImageIOHandler::Transformations frame_orientation(QByteArray& data)
{
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    return reader.transformation();
}

// Turns a photo as stored into the picture the frames show, the way
// QImageReader does: mirror and flip first, then a quarter turn clockwise.
void apply_orientation(QImageIOHandler::Transformations orientation, cv::Mat& image)
{
    if (orientation & QImageIOHandler::TransformationMirror)
        cv::flip(image, image, 1);
    if (orientation & QImageIOHandler::TransformationFlip)
        cv::flip(image, image, 0);
    if (orientation & QImageIOHandler::TransformationRotate90) {
        cv::Mat turned;
        cv::rotate(image, turned, cv::ROTATE_90_CLOCKWISE);
        image = turned;
    }
}

bool decode(const QString& path, cv::Mat& image, QByteArray& data)
{
    if (!read_file_bytes(path, data) || data.isEmpty() || is_cut_short_jpeg(data))
        return false;

    if (looks_like_jpeg(data)) {
        if (image.type() != CV_8UC3)
            image.release();
        const QString problem = decode_jpeg(data, JpegPixels::Bgr, [&image](int width, int height) {
            // A header may promise more pixels than memory holds; an exception
            // would leave the decoder's memory behind, and nothing catches it.
            try {
                image.create(height, width, CV_8UC3);
            } catch (const cv::Exception&) {
                image.release();
                return JpegTarget{};
            }
            return JpegTarget{image.data, image.step[0]};
        });
        if (!problem.isEmpty())
            return false;
        apply_orientation(frame_orientation(data), image);
        return true;
    }

    // A PNG. Wraps the bytes without copying; imdecode decodes the pixels as stored,
    // into `image` in place when it already has the photo's size.
    const cv::Mat encoded(1, data.size(), CV_8UC1, data.data());
    const int flags = cv::IMREAD_COLOR | cv::IMREAD_IGNORE_ORIENTATION;

    // When imdecode finds no decoder for the bytes or cannot parse their header,
    // it leaves its destination untouched: a reused buffer would pass the
    // previous photo off as this one. Stamped corners tell the two apart, since
    // a decode writes every pixel. A photo that really shows the stamp in all
    // four corners is decoded again into fresh memory, which stays empty on failure.
    if (image.type() != CV_8UC3)
        image.release();
    const bool reused = !image.empty();
    if (reused)
        stamp_corners(image);
    try {
        cv::imdecode(encoded, flags, &image);
        if (reused && !image.empty() && corners_stamped(image)) {
            image.release();
            cv::imdecode(encoded, flags, &image);
        }
        if (image.empty())
            return false;
        apply_orientation(frame_orientation(data), image);
    } catch (const cv::Exception&) {
        return false;
    }
    return true;
}

} // namespace

cv::Mat read_bgr_image(const QString& path)
{
    cv::Mat image;
    QByteArray file_bytes;
    read_bgr_image(path, image, file_bytes);
    return image;
}

bool read_bgr_image(const QString& path, cv::Mat& image, QByteArray& file_bytes)
{
    if (decode(path, image, file_bytes))
        return true;
    image.release();
    return false;
}

bool read_file_bytes(const QString& path, QByteArray& bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const qint64 size = file.size();
    if (file.isSequential() || size <= 0 || size >= std::numeric_limits<int>::max()) {
        bytes = file.readAll();
        return true;
    }
    bytes.resize(static_cast<int>(size));
    const qint64 read = file.read(bytes.data(), size);
    if (read < 0)
        return false;
    bytes.resize(static_cast<int>(read));
    return true;
}

bool is_cut_short_jpeg(const QByteArray& data)
{
    return looks_like_jpeg(data) && !jpeg_stream_complete(data);
}
