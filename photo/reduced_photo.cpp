#include "photo/reduced_photo.h"

#include "photo/image_file.h"
#include "photo/image_reading.h"
#include "photo/jpeg_decoding.h"

#include <QBuffer>
#include <QImageReader>
#include <QTransform>

ReducedPhoto read_reduced_photo(const QString& path, int reduction)
{
    ReducedPhoto photo;
    photo.path = path;
    photo.reduction = reduction == 2 || reduction == 4 || reduction == 8 ? reduction : 1;
    QByteArray bytes;
    if (!read_file_bytes(path, bytes) || bytes.isEmpty() || is_cut_short_jpeg(bytes))
        return photo;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setAutoTransform(false);
    photo.turn = reader.transformation();
    if (looks_like_jpeg(bytes)) {
        QImage& image = photo.stored;
        const QString problem = decode_jpeg(
            bytes, JpegPixels::Bgrx,
            [&image](int width, int height) {
                image = QImage(width, height, QImage::Format_RGB32);
                if (image.isNull())
                    return JpegTarget{};
                return JpegTarget{image.bits(), static_cast<std::size_t>(image.bytesPerLine())};
            },
            photo.reduction);
        if (!problem.isEmpty())
            photo.stored = QImage();
        return photo;
    }
    // Other formats have no reduced decoding: Qt's reader scales the whole picture.
    const QSize size = reader.size();
    if (size.isEmpty())
        return photo;
    const int r = photo.reduction;
    if (r > 1)
        reader.setScaledSize(QSize((size.width() + r - 1) / r, (size.height() + r - 1) / r));
    QImage image;
    if (reader.read(&image) && !image.isNull())
        photo.stored = renderable(image);
    return photo;
}

QImage upright_image(const QImage& stored, QImageIOHandler::Transformations turn)
{
    QImage image = stored.mirrored(turn & QImageIOHandler::TransformationMirror,
                                   turn & QImageIOHandler::TransformationFlip);
    if (turn & QImageIOHandler::TransformationRotate90)
        image = image.transformed(QTransform().rotate(90));
    return image;
}

const ReducedPhoto* ReducedShots::find(int camera, const QString& path, int reduction) const
{
    if (camera < 0 || camera >= static_cast<int>(shots.size()))
        return nullptr;
    const ReducedPhoto& photo = shots[static_cast<std::size_t>(camera)];
    if (photo.empty() || photo.path != path || photo.reduction > reduction)
        return nullptr;
    return &photo;
}
