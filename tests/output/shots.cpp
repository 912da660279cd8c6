#include "tests/output/shots.h"

#include <QColor>
#include <QDir>
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

QStringList folder_entries(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                                  QDir::Name);
}
