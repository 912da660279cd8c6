#include "photo/image_file.h"

#include "photo/image_reading.h"
#include "photo/jpeg_decoding.h"
#include "photo/reduced_photo.h"

#include <QBuffer>
#include <QImageReader>

namespace {

// Qt's own JPEG reader passes a damaged stream off as a picture; this decoder
// refuses it. Decodes into `image`'s pixels when it already has the size.
bool decode_jpeg_into(const QByteArray& bytes, QImage& image)
{
    const QString problem = decode_jpeg(bytes, JpegPixels::Bgrx, [&image](int width, int height) {
        if (image.size() != QSize(width, height) || image.format() != QImage::Format_RGB32)
            image = QImage(width, height, QImage::Format_RGB32);
        if (image.isNull())
            return JpegTarget{};
        return JpegTarget{image.bits(), static_cast<std::size_t>(image.bytesPerLine())};
    });
    return problem.isEmpty();
}

} // namespace

bool is_renderable(QImage::Format format)
{
    return format == QImage::Format_RGB32 || format == QImage::Format_ARGB32_Premultiplied;
}

QImage renderable(const QImage& image)
{
    if (is_renderable(image.format()))
        return image;
    return image.convertToFormat(image.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied
                                                         : QImage::Format_RGB32);
}

QImage read_oriented_image(const QString& path)
{
    // A JPEG cut short would come back padded with grey; detection refuses it too.
    QByteArray bytes;
    if (!read_file_bytes(path, bytes) || is_cut_short_jpeg(bytes))
        return {};
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    QImage image;
    if (!looks_like_jpeg(bytes)) {
        reader.setAutoTransform(true);
        // A PNG whose image data is damaged comes back half decoded, read() failing.
        return reader.read(&image) ? image : QImage();
    }
    const QImageIOHandler::Transformations orientation = reader.transformation();
    if (!decode_jpeg_into(bytes, image))
        return {};
    return upright_image(image, orientation);
}

QSize read_oriented_size(const QString& path)
{
    QImageReader reader(path);
    reader.setAutoTransform(true);
    if (!reader.canRead())
        return {};
    QSize size = reader.size();
    if (!size.isValid())
        return {};
    // size() gives the stored pixels; a quarter turn shows them the other way up.
    if (reader.transformation() & QImageIOHandler::TransformationRotate90)
        size.transpose();
    return size;
}

bool is_readable_photo(const QString& path)
{
    QByteArray bytes;
    if (!read_file_bytes(path, bytes) || is_cut_short_jpeg(bytes))
        return false;
    QBuffer buffer(&bytes);
    QImageReader reader(&buffer);
    return reader.canRead() && !reader.size().isEmpty();
}

std::optional<QImageIOHandler::Transformations> read_stored_image(const QString& path,
                                                                  QImage& image)
{
    QByteArray file_bytes;
    return read_stored_image(path, image, file_bytes);
}

std::optional<QImageIOHandler::Transformations>
read_stored_image(const QString& path, QImage& image, QByteArray& file_bytes)
{
    if (!read_file_bytes(path, file_bytes) || is_cut_short_jpeg(file_bytes))
        return std::nullopt;
    // Qt's reader reads a QBuffer's bytes in place.
    QBuffer buffer(&file_bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setAutoTransform(false);
    const QImageIOHandler::Transformations orientation = reader.transformation();
    if (looks_like_jpeg(file_bytes))
        return decode_jpeg_into(file_bytes, image) ? std::optional(orientation) : std::nullopt;
    if (!reader.read(&image) || image.isNull())
        return std::nullopt;
    // Colour JPEGs decode to RGB32 already; anything else is converted once here.
    if (!is_renderable(image.format()))
        image = renderable(image);
    if (image.isNull())
        return std::nullopt;
    return orientation;
}
