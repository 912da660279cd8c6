#include "output/image_file.h"

#include "output/frame_render.h"

#include <QImageReader>

QImage read_oriented_image(const QString& path)
{
    QImageReader reader(path);
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

std::optional<QImageIOHandler::Transformations> read_stored_image(const QString& path,
                                                                  QImage& image)
{
    QImageReader reader(path);
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
