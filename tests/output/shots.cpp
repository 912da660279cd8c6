#include "tests/output/shots.h"

#include <QBuffer>
#include <QColor>
#include <QDir>
#include <QFile>
#include <QPainter>

Calibration calibration_of(const std::vector<ImageAlignment>& alignments)
{
    Calibration calibration;
    calibration.image_count = static_cast<int>(alignments.size());
    for (const ImageAlignment& alignment : alignments) {
        calibration.translation_x.push_back(alignment.translation_x);
        calibration.translation_y.push_back(alignment.translation_y);
        calibration.rotation_deg.push_back(alignment.rotation_deg);
        calibration.scale.push_back(alignment.scale);
        calibration.aligned.push_back(alignment.aligned);
    }
    return calibration;
}

Calibration identity_calibration(int count)
{
    return calibration_of(std::vector<ImageAlignment>(count, ImageAlignment{0, 0, 0, 1, true}));
}

QImage coordinate_image(QSize size)
{
    QImage image(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            image.setPixel(x, y, qRgb(x, y, 255));
    return image;
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
    return write_file(path, jpeg.left(2) + exif + jpeg.mid(2));
}

bool write_file(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size();
}

QStringList frame_names(int count)
{
    QStringList names;
    for (int k = 0; k < count; ++k)
        names << "output_img_" + QString::number(k) + ".jpg";
    names.sort();
    return names;
}

QStringList folder_entries(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                                  QDir::Name);
}
