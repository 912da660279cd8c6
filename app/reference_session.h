#pragma once

#include "calibration/rig_calibration.h"

#include <QSet>
#include <QString>
#include <QStringList>

#include <optional>

class QWidget;
class UserDialogs;
class WindowSettings;

// Reference photos as chosen: in camera order, with the cameras whose photo is
// unreadable and which the user chose to keep.
struct ChosenReferences
{
    QStringList paths; // empty when cancelled
    QSet<int> unreadable;
};

// The dialogs that bring a rig into the window: choosing the reference photos
// (the unreadable-photo loop, the order question) and opening and saving
// calibrations, with the offer of the last one used.
class ReferenceSession
{
public:
    ReferenceSession(QWidget& window, UserDialogs& dialogs, WindowSettings& settings);

    // "Sélectionner étalons", asked again while the user wants other photos for
    // unreadable ones.
    ChosenReferences choose_references();
    // "Ouvrir un calibrage": the file chosen, empty when cancelled.
    QString choose_calibration_file();
    // A saved calibration; nothing, after an error box, when it cannot be read.
    // The file read is remembered as the one used last.
    std::optional<RigCalibration> read_calibration(const QString& path);
    // "Enregistrer le calibrage ...": the file written, empty when the dialog
    // was cancelled or the file could not be written (after an error box).
    QString save_calibration(const RigCalibration& rig);
    // The calibration used last, when it is still there and the user wants it again.
    QString previous_calibration();

private:
    // The photos chosen, checked readable; empty when cancelled.
    QStringList choose_readable(QSet<int>& unreadable_cameras);

    QWidget& window;
    UserDialogs& dialogs;
    WindowSettings& settings;
};
