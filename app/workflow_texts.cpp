#include "app/workflow_texts.h"

#include "app/calibration_workflow.h"

#include <QFileInfo>

QString workflow_instruction(const CalibrationWorkflow& workflow)
{
    switch (workflow.state()) {
    case WorkflowState::AwaitColorClick:
        return QStringLiteral("Cliquez sur un pixel d'un des repères");
    case WorkflowState::AwaitStickers: {
        const int camera = workflow.pending_camera();
        return QStringLiteral("Cliquez sur le centre approximatif du sticker #%1 (image #%2 : %3)")
            .arg(QString::number(workflow.sticker() + 1), QString::number(camera + 1),
                 QFileInfo(workflow.references().value(camera)).fileName());
    }
    case WorkflowState::Idle:
        break;
    }
    if (workflow.complete())
        return QStringLiteral("Recadreur étalonné ; prêt à charger des images.");
    return QStringLiteral("Calibrage incomplet : caméra(s) non alignée(s) %1 ; un traitement a "
                          "besoin de toutes les caméras.")
        .arg(workflow.unaligned_cameras().join(QStringLiteral(", ")));
}

QString queued_cameras_text(const QStringList& queued, int camera_count)
{
    return QStringLiteral("La détection automatique des stickers a échoué pour certaines images ; "
                          "veuillez sélectionner les stickers manuellement.\n\nImages à cliquer "
                          "(%1 sur %2) :\n")
               .arg(queued.size())
               .arg(camera_count) +
           queued.join('\n');
}

QString incomplete_calibration_text(const QStringList& unaligned)
{
    return QStringLiteral("Ces caméras ne sont pas alignées :\n%1\n\nUn traitement a besoin de "
                          "toutes les caméras : rechargez leurs étalons ou ouvrez un calibrage "
                          "complet.")
        .arg(unaligned.join('\n'));
}

QString manual_steps_keys_text()
{
    return QStringLiteral("Retour arrière ou Ctrl+Z : annuler le dernier clic. Échap : abandonner "
                          "les clics et rétablir le calibrage précédent.");
}

QString manual_steps_left_text()
{
    return QStringLiteral("Clics manuels abandonnés : le calibrage précédent est rétabli.");
}

QString failed_clicks_text()
{
    return QStringLiteral("La détection a échoué avec ces nouveaux paramètres. Veuillez réessayer "
                          "ou choisir de nouveaux étalons.");
}

QString click_beside_photo_text(QPoint pixel, QSize photo)
{
    return QStringLiteral("Clic en (%1, %2) hors de la photo (%3 × %4) : il n'est pas compté.")
        .arg(pixel.x())
        .arg(pixel.y())
        .arg(photo.width())
        .arg(photo.height());
}
