#include "output/image_file.h"

#include <QImageIOHandler>
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
