#include "output/image_file.h"

#include "detection/image_reading.h"
#include "output/frame_render.h"

#include <QBuffer>
#include <QImageReader>

QImage read_oriented_image(const QString& path)
{
    // A JPEG cut short would come back padded with grey; detection refuses it too.
    QByteArray bytes;
    if (!read_file_bytes(path, bytes) || is_cut_short_jpeg(bytes))
        return {};
    QBuffer buffer(&bytes);
    QImageReader reader(&buffer);
    reader.setAutoTransform(true);
    return reader.read();
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
    // Qt's JPEG decoder reads a QBuffer's bytes in place.
    QBuffer buffer(&file_bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setAutoTransform(false);
    const QImageIOHandler::Transformations orientation = reader.transformation();
    if (!reader.read(&image) || image.isNull())
        return std::nullopt;
    // Colour JPEGs decode to RGB32 already; anything else is converted once here.
    if (!is_renderable(image.format()))
        image = renderable(image);
    if (image.isNull())
        return std::nullopt;
    return orientation;
}
