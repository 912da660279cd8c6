#include "booth/take_folder.h"

#include "detection/image_reading.h"
#include "detection/jpeg_decoding.h"
#include "output/natural_order.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

bool file_ends_with(const QString& path, const QByteArray& ending)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() < ending.size())
        return false;
    return file.seek(file.size() - ending.size()) && file.read(ending.size()) == ending;
}

} // namespace

bool photo_complete(const QString& path)
{
    // The length, type and checksum of the empty IEND chunk that closes every PNG.
    static const QByteArray png_end = QByteArray::fromHex("0000000049454e44ae426082");
    if (QFileInfo(path).suffix().compare(QLatin1String("png"), Qt::CaseInsensitive) == 0)
        return file_ends_with(path, png_end);
    // Some cameras pad a JPEG after its end marker: its structure tells where it ends.
    QByteArray bytes;
    return read_file_bytes(path, bytes) && jpeg_stream_complete(bytes);
}

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
        take.fingerprint +=
            QStringLiteral("%1 %2 %3\n")
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
