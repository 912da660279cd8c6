#pragma once

#include "app/window_settings.h"
#include "app/workflow_state.h"
#include "calibration/calibration.h"
#include "calibration/rig_calibration.h"
#include "detection/color_thresholds.h"
#include "detection/reference_selection.h"

#include <QImage>
#include <QMainWindow>
#include <QPointF>
#include <QPointer>
#include <QSet>
#include <QSize>
#include <QStringList>

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class CalibrationCheckView;
class PhotoZoom;
class ProcessingLauncher;
class ReferenceSession;
class QLabel;
class QSettings;
struct MainWindowUi;
class ProcessRunner;
class ProgressView;
class UserDialogs;

// The one window: reference loading, the calibration workflow (a colour click,
// then three clicks per photo that detection could not align) and processing runs.
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

    // Opens "Sélectionner étalons", shows the middle photo and asks for the colour click.
    void load_reference_images();
    // Reads a photo for display (orientation applied, RGB888); null and an error box when
    // unreadable.
    QImage load_image(const QString& path);
    // Shows `image` unscaled in the picture label.
    void display_image(const QImage& image);
    // Writes the instruction for the current step and arms the label for one click.
    void update_instruction();
    // Shows the next photo awaiting manual clicks, or declares the rig calibrated.
    void advance_calibration();
    // Back to the colour step: the middle photo, the colour prompt, the next click recalibrates.
    void restart_color_selection();
    // "Ouvrir un calibrage ...": a saved calibration replaces the current one,
    // ready to process without the reference photos. An unreadable file changes nothing.
    void open_calibration();
    bool open_calibration_file(const QString& path);
    // "Enregistrer le calibrage ...".
    void save_calibration();
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
    void on_slider_fps_valueChanged(int value);
    void on_slider_compression_valueChanged(int value);
    void on_checkBox_boomerang_toggled(bool);
    void on_comboBox_video_size_currentIndexChanged(int);
    void on_checkBox_gif_toggled(bool);
    void on_action_quit_triggered();
    void on_action_about_triggered();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    // How large the photo's view may be made before the window outgrows the
    // available part of its screen.
    QSize room_for_photo();
    // Runs `work` on a worker thread behind a progress window titled `title`
    // (see run_in_background). Until it returns the window is busy: nothing in
    // it can start other work, even once "Annuler" was pressed.
    void run_with_progress(const QString& title, const std::function<void()>& work,
                           const std::function<void(ProgressView&)>& refresh);

    // What Escape goes back to from the manual steps.
    struct BeforeManualSteps
    {
        RigCalibration rig;
        ReferenceTriple reference;
        WorkflowState state = WorkflowState::Idle;
    };

    void calibrate_from_color_click(int x, int y);
    // Calibrates the rig with the chosen colour; `clicked` is the colour click's
    // pixel when it fell on the photo.
    void calibrate_rig(std::optional<QRgb> clicked);
    // The middle photo gave no sticker trio of the chosen colour: says so, offers
    // the other colour when the clicked pixel has it, else stays at the colour click.
    void report_no_sticker_trio(std::optional<QRgb> clicked);
    // Queues for clicks every camera not aligned whose photo can be shown, with
    // the "Attention" warning, then goes on to the first or ends the calibration.
    void ask_for_unaligned_cameras(BeforeManualSteps before);
    void record_sticker_click(QPointF point, QPoint pixel);
    void enter_manual_steps(BeforeManualSteps before);
    // Ends the manual steps: calibrated when every camera is aligned, else says
    // which cameras a run still needs.
    void declare_calibrated();
    // The cameras not aligned, as "#k : photo".
    QStringList unaligned_cameras() const;
    void report_incomplete_calibration();
    // The check view shows a copy of the rig: it goes whenever the rig or its photos change.
    void close_check_view();
    void show_click_marks();
    void update_fps_label();
    void remember_options();
    void restore_options();

    MainWindowUi* ui;
    WorkflowState workflow_state = WorkflowState::Idle;
    bool busy = false; // a calibration or processing run is under way
    std::vector<int> pending_images;
    std::array<QPointF, 3> clicked_points;
    QStringList reference_paths;
    // Cameras whose reference photo could not be read when chosen: never clicked by hand.
    QSet<int> unreadable_references;
    // The size of the photo shown for the current manual step.
    QSize shown_photo_size;
    QImage preview_image;
    // The calibration in hand, as it is saved; a run takes its alignments (rig.calibration()).
    RigCalibration rig;
    std::optional<BeforeManualSteps> before_manual_steps;
    QPointer<CalibrationCheckView> check_view;
    // Option changes are kept once the remembered values are in place.
    bool options_restored = false;

    UserDialogs& dialogs;
    ProcessRunner& runner;
    WindowSettings settings;
    std::unique_ptr<ReferenceSession> session;
    std::unique_ptr<ProcessingLauncher> launcher;
    PhotoZoom* zoom = nullptr;
    QLabel* zoom_label = nullptr;
    // The sticker configuration of the middle photo at the last successful selection.
    ReferenceTriple reference;
    StickerColor sticker_color = StickerColor::Yellow;
    ColorThresholds active_thresholds = thresholds_for(StickerColor::Yellow);
};
