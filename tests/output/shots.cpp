#include "tests/output/shots.h"

#include <QBuffer>
#include <QColor>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QPainter>

Calibration identity_calibration(int count)
{
    Calibration calibration;
    calibration.image_count = count;
    calibration.translation_x.assign(count, 0.0);
    calibration.translation_y.assign(count, 0.0);
    calibration.rotation_deg.assign(count, 0.0);
    calibration.scale.assign(count, 1.0);
    calibration.aligned.assign(count, true);
    return calibration;
}

QStringList write_shots(const QString& folder, int count, QSize size)
{
    QStringList paths;
    for (int k = 0; k < count; ++k) {
        QImage shot(size, QImage::Format_RGB32);
        shot.fill(QColor::fromHsv(k * 47 % 360, 160, 220));
        QPainter painter(&shot);
        painter.fillRect(k * 5 % size.width(), size.height() / 3, 8, 8, Qt::darkBlue);
        painter.end();
        paths << folder + "/shot_" + QString::number(k) + ".jpg";
        shot.save(paths.back(), nullptr, 95);
    }
    return paths;
}

bool write_jpeg_with_orientation(const QString& path, const QImage& image, int quality,
                                 int orientation)
{
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "jpg", quality))
        return false;
    // APP1 right after the start of image: "Exif", a big-endian TIFF header and
    // one IFD holding the orientation tag (0x0112, SHORT).
    QByteArray exif = QByteArray::fromHex("ffe10022") + QByteArray("Exif\0\0", 6) +
                      QByteArray::fromHex("4d4d002a00000008000101120003000000010000");
    exif[exif.size() - 1] = static_cast<char>(orientation);
    exif += QByteArray::fromHex("000000000000");
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(jpeg.left(2) + exif + jpeg.mid(2)) > 0;
}

QStringList folder_entries(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                                  QDir::Name);
}
