#include "booth/take_folder.h"

#include "photo/photo_problem.h"
#include "support/natural_order.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

TakeFolder read_take_folder(const QString& path)
{
    TakeFolder take;
    take.name = QFileInfo(path).fileName();
    // Name filters ignore case: "IMG_0001.JPG" is a photo too.
    const QFileInfoList files = QDir(path).entryInfoList(
        {QStringLiteral("*.jpg"), QStringLiteral("*.jpeg"), QStringLiteral("*.png")}, QDir::Files);
    QStringList paths;
    for (const QFileInfo& file : files) {
        paths << file.filePath();
        const QDateTime changed = file.lastModified();
        if (!take.last_change.isValid() || changed > take.last_change)
            take.last_change = changed;
    }
    take.photos = natural_sorted(paths);
    for (const QString& photo : take.photos) {
        const QFileInfo file(photo);
        take.fingerprint += QStringLiteral("%1 %2 %3\n")
                                .arg(file.fileName(), QString::number(file.size()),
                                     QString::number(file.lastModified().toMSecsSinceEpoch()));
    }
    return take;
}

bool photos_complete(const TakeFolder& take)
{
    for (const QString& photo : take.photos) {
        if (!photo_complete(photo))
            return false;
    }
    return true;
}
