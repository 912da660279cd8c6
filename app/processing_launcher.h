#pragma once

#include "calibration/rig_calibration.h"

#include <QString>
#include <QStringList>

#include <functional>

class ProcessRunner;
class ProgressView;
class QWidget;
class UserDialogs;
class WindowSettings;
struct MainWindowUi;
struct ProcessingOutcome;
struct ProcessingRequest;
struct WrittenFiles;

// Seconds as a French reader writes them: "0,21 s".
QString seconds_text(double seconds);

// `paths` in the natural order of their names when the user agrees; logs the order used.
QStringList in_camera_order(QWidget* parent, UserDialogs& dialogs, QStringList paths);

// A processing run from the window: the shot and output folder dialogs, the run
// behind its progress window, then the box that tells how it ended.
class ProcessingLauncher
{
public:
    // Runs `work` behind a progress window titled `title`, the window busy meanwhile.
    using RunWithProgress =
        std::function<void(const QString& title, const std::function<void()>& work,
                           const std::function<void(ProgressView&)>& refresh)>;

    // The options are read from the form `ui`, which also shows the last run's summary.
    ProcessingLauncher(QWidget& window, const MainWindowUi& ui, UserDialogs& dialogs,
                       ProcessRunner& runner, WindowSettings& settings,
                       RunWithProgress run_with_progress);

    // Processes shots the user chooses, one per camera of `rig`.
    void run(const RigCalibration& rig);

private:
    // `rig` as this run uses it: the shots checked against the calibration and,
    // where cameras moved, the user's choice. False when the user cancels.
    bool checked_for_drift(const RigCalibration& rig, const QStringList& shots,
                           RigCalibration& for_run);
    // The output folder, empty to stop. The files of an earlier run in it, which
    // the user agreed to replace, go to `to_replace`.
    QString choose_output_folder(const QStringList& inputs, QStringList& to_replace);
    void report_processing_run(const ProcessingRequest& request, const ProcessingOutcome& outcome);
    // The "Traitement terminé" box and the status bar's summary of a finished run.
    void report_finished_run(const WrittenFiles& written, const QString& folder);

    QWidget& window;
    const MainWindowUi& ui;
    UserDialogs& dialogs;
    ProcessRunner& runner;
    WindowSettings& settings;
    const RunWithProgress run_with_progress;
};
