#include "pipeline/photo_check.h"

#include "output/shot_sizes.h"

QString shot_size_problem(const ShotSizeMismatch& mismatch)
{
    return QStringLiteral("'%1' : la photo mesure %2 × %3 pixels, l'étalon de la caméra %4 "
                          "%5 × %6 : les proportions diffèrent, le calibrage ne s'y applique pas")
        .arg(mismatch.shot, QString::number(mismatch.shot_size.width()),
             QString::number(mismatch.shot_size.height()), QString::number(mismatch.camera + 1),
             QString::number(mismatch.reference_size.width()),
             QString::number(mismatch.reference_size.height()));
}
