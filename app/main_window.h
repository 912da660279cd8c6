#pragma once

#include "app/calibration_workflow.h"
#include "app/window_settings.h"
#include "app/workflow_state.h"

#include <QImage>
#include <QMainWindow>
#include <QPointF>
#include <QPointer>
#include <QSize>

#include <functional>
#include <memory>
#include <utility>

class CalibrationCheckView;
class ColourClickCalibration;
class PhotoZoom;
class ProcessingLauncher;
class ReferenceSession;
class QSettings;
struct MainWindowUi;
class ProcessRunner;
class ProgressView;
class UserDialogs;

// The one window: reference loading, the calibration workflow (a colour click,
// then three clicks per photo that detection could not align) and processing
// runs. Each concern has its own class; the window wires them to its form and
// shows what they return.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    // `dialogs`, `runner` and `settings` must outlive the window. The reference
    // dialog opens from the constructor, before the window is shown. With
    // `settings`, the window keeps its size and place, the last folder of each
    // file dialog and the last calibration used there; without, nothing is kept.
    MainWindow(UserDialogs& dialogs, ProcessRunner& runner, QSettings* settings = nullptr,
               QWidget* parent = nullptr);
    ~MainWindow() override;

    WorkflowState workflow_state() const { return workflow.state(); }
    // Opens "Sélectionner étalons", shows the middle photo and asks for the colour click.
    void load_reference_images();
    // Reads a photo for display (orientation applied, RGB888); null and an error box when
    // unreadable.
    QImage load_image(const QString& path);
    // Shows `image` unscaled in the picture label.
    void display_image(const QImage& image);
    // Back to the colour step: the middle photo, the colour prompt, the next click recalibrates.
    void restart_color_selection();
    // "Ouvrir un calibrage ...": a saved calibration replaces the current one,
    // ready to process without the reference photos. An unreadable file changes nothing.
    void open_calibration();
    bool open_calibration_file(const QString& path);
    // "Enregistrer le calibrage ...".
    void save_calibration() { save_calibration_file(); }
    // Takes back the last sticker click on the photo in hand.
    void undo_last_click();
    // Leaves the manual steps, restoring the calibration and step from before them.
    void leave_manual_steps();

public slots:
    void on_image_label_clicked(QPointF point, QPoint pixel);
    void on_action_new_computation_triggered();
    void on_action_manual_calibration_triggered();
    void on_button_yellow_clicked(bool);
    void on_button_pink_clicked(bool);
    void on_slider_fps_valueChanged(int);
    void on_slider_compression_valueChanged(int);
    void on_checkBox_boomerang_toggled(bool);
    void on_comboBox_video_size_currentIndexChanged(int);
    void on_checkBox_gif_toggled(bool);
    void on_checkBox_colour_match_toggled(bool);
    void on_spinBox_between_valueChanged(int);
    void on_action_quit_triggered();
    void on_action_about_triggered();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    // Every action's enabled state, from the window's mode: busy, the workflow's
    // step, a rig in hand or not, complete or not.
    void update_actions();
    // Runs `work` unless a run is under way.
    void unless_busy(void (MainWindow::*work)());
    void take_click();
    void start_manual_pass();
    void start_processing();
    // Runs `work` on a worker thread behind a progress window titled `title`
    // (see run_in_background). Until it returns the window is busy: nothing in
    // it can start other work, even once "Annuler" was pressed.
    void run_with_progress(const QString& title, const std::function<void()>& work,
                           const std::function<void(ProgressView&)>& refresh);
    // Shows what the workflow returned, then the step it is at.
    void show_workflow(const WorkflowView& view);
    void show_step();
    void show_check_view();
    // Before unsaved changes would be lost (`text` says how): true when the
    // user saved them or chose to drop them, false to stay as is.
    bool may_drop_changes(const QString& text);
    // Asks for a file and saves the rig there: true once written (confirmed in
    // the status bar).
    bool save_calibration_file();
    // The title names the calibration file and marks unsaved changes.
    void update_title();
    // Zooms and scrolls to where the next sticker to click should be.
    void bring_sticker_into_view();
    // The check view shows a copy of the rig: it goes whenever the rig or its photos change.
    void close_check_view();
    void report_incomplete_calibration();
    void remember_options();
    void restore_options();

    MainWindowUi* ui;
    bool busy = false; // a calibration or processing run is under way
    // The picture's last click: the photo point and the pixel under it.
    std::pair<QPointF, QPoint> last_click;
    CalibrationWorkflow workflow;
    QImage preview_image; // the middle reference photo
    QPointer<CalibrationCheckView> check_view;
    // Option changes are kept once the remembered values are in place.
    bool options_restored = false;

    UserDialogs& dialogs;
    ProcessRunner& runner;
    WindowSettings settings;
    std::unique_ptr<ReferenceSession> session;
    std::unique_ptr<ProcessingLauncher> launcher;
    std::unique_ptr<ColourClickCalibration> colour;
    PhotoZoom* zoom = nullptr;
};
