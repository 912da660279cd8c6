#include "pipeline/photo_check.h"

#include "detection/image_reading.h"
#include "output/image_file.h"
#include "output/shot_sizes.h"

#include <QFileInfo>
#include <QImageReader>

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

QString shot_size_problem(const ShotSizeMismatch& mismatch)
{
    return QStringLiteral("'%1' : la photo mesure %2 × %3 pixels, l'étalon de la caméra %4 "
                          "%5 × %6 : les proportions diffèrent, le calibrage ne s'y applique pas")
        .arg(mismatch.shot, QString::number(mismatch.shot_size.width()),
             QString::number(mismatch.shot_size.height()), QString::number(mismatch.camera + 1),
             QString::number(mismatch.reference_size.width()),
             QString::number(mismatch.reference_size.height()));
}
