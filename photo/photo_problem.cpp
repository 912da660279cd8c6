#include "photo/photo_problem.h"

#include "photo/image_file.h"
#include "photo/image_reading.h"
#include "photo/jpeg_decoding.h"

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

QString photo_problem(const QString& path, bool decode)
{
    const QFileInfo file(path);
    if (!file.exists())
        return QStringLiteral("fichier introuvable");
    if (!file.isFile())
        return QStringLiteral("ce n'est pas un fichier");
    if (file.size() == 0)
        return QStringLiteral("fichier vide");
    QByteArray bytes;
    if (!read_file_bytes(path, bytes))
        return QStringLiteral("fichier illisible (droits d'accès ?)");
    if (is_cut_short_jpeg(bytes))
        return QStringLiteral("photo JPEG incomplète (coupée avant la fin)");
    if (!read_oriented_size(path).isValid())
        return QStringLiteral("ce n'est pas une photo JPEG ou PNG lisible");
    if (decode && read_oriented_image(path).isNull())
        return QStringLiteral("photo endommagée, impossible à décoder");
    return QString();
}

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
