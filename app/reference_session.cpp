#include "app/reference_session.h"

#include "app/processing_launcher.h"
#include "app/user_dialogs.h"
#include "app/window_settings.h"
#include "calibration/calibration_file.h"
#include "photo/image_file.h"

#include <QFileInfo>

namespace {

const QString image_filter = QStringLiteral("Images (*.jpg *.png)");

} // namespace

ReferenceSession::ReferenceSession(QWidget& window, UserDialogs& dialogs, WindowSettings& settings)
    : window(window), dialogs(dialogs), settings(settings)
{
}

ChosenReferences ReferenceSession::choose_references()
{
    ChosenReferences chosen;
    const QStringList paths = choose_readable(chosen.unreadable);
    if (!paths.isEmpty())
        chosen.paths = in_camera_order(&window, dialogs, paths);
    return chosen;
}

QStringList ReferenceSession::choose_readable(QSet<int>& unreadable_cameras)
{
    for (;;) {
        const QStringList chosen =
            dialogs.get_open_file_names(&window, QStringLiteral("Sélectionner étalons"),
                                        settings.last_folder("references"), image_filter);
        if (chosen.isEmpty())
            return chosen;
        settings.remember_folder("references", chosen.front());

        QStringList unreadable;
        unreadable_cameras.clear();
        for (int i = 0; i < chosen.size(); ++i) {
            // Decoded whole: a damaged stream has a readable header.
            if (!is_readable_photo(chosen[i]) || read_oriented_image(chosen[i]).isNull()) {
                unreadable << QStringLiteral("caméra %1 : %2").arg(QString::number(i + 1), chosen[i]);
                unreadable_cameras.insert(i);
            }
        }
        if (unreadable.isEmpty())
            return chosen;
        const bool choose_again = dialogs.question(
            &window, QStringLiteral("Étalons illisibles"),
            QStringLiteral("Ces étalons ne peuvent pas être lus (fichier absent, abîmé ou "
                           "incomplet) :\n\n%1\n\nChoisir à nouveau les étalons ? Sinon, ces "
                           "caméras ne seront pas calibrées.")
                .arg(unreadable.join('\n')));
        if (!choose_again)
            return chosen;
    }
}

QString ReferenceSession::save_calibration(const RigCalibration& rig)
{
    QString path =
        dialogs.get_save_file_name(&window, QStringLiteral("Enregistrer le calibrage"),
                                   settings.last_folder("calibration"), calibration_file_filter);
    if (path.isEmpty())
        return path;
    if (QFileInfo(path).suffix().isEmpty())
        path += calibration_file_suffix;
    settings.remember_folder("calibration", path);
    const QString error = write_calibration_file(path, rig);
    if (!error.isEmpty()) {
        dialogs.critical(&window, QStringLiteral("Erreur de calibrage"), error);
        return QString();
    }
    settings.remember_calibration(path);
    return path;
}

QString ReferenceSession::choose_calibration_file()
{
    const QStringList chosen =
        dialogs.get_open_file_names(&window, QStringLiteral("Ouvrir un calibrage"),
                                    settings.last_folder("calibration"), calibration_file_filter);
    if (chosen.isEmpty())
        return QString();
    settings.remember_folder("calibration", chosen.front());
    return chosen.front();
}

std::optional<RigCalibration> ReferenceSession::read_calibration(const QString& path)
{
    CalibrationRead read = read_calibration_file(path);
    if (!read.ok()) {
        dialogs.critical(&window, QStringLiteral("Erreur de calibrage"), read.error);
        return std::nullopt;
    }
    settings.remember_calibration(path);
    return std::move(read.calibration);
}

QString ReferenceSession::previous_calibration()
{
    const QString path = settings.last_calibration();
    if (path.isEmpty() || !QFileInfo::exists(path))
        return QString();
    if (!dialogs.question(&window, QStringLiteral("Calibrage précédent"),
                          QStringLiteral("Rouvrir le dernier calibrage utilisé, '%1' ?").arg(path)))
        return QString();
    return path;
}
