#pragma once

#include "app/workflow_state.h"
#include "calibration/calibration.h"
#include "detection/color_thresholds.h"
#include "detection/reference_selection.h"

#include <QImage>
#include <QMainWindow>
#include <QPointF>
#include <QStringList>

#include <array>
#include <functional>
#include <vector>

struct MainWindowUi;
struct ProcessingOutcome;
class ProcessRunner;
class ProgressView;
class UserDialogs;

// The one window: reference loading, the calibration workflow (a colour click,
// then three clicks per photo that detection could not align) and processing runs.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    // `dialogs` and `runner` must outlive the window. The reference dialog opens
    // from the constructor, before the window is shown.
    MainWindow(UserDialogs& dialogs, ProcessRunner& runner, QWidget* parent = nullptr);
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

public slots:
    void on_image_label_clicked(int x, int y);
    void on_action_new_computation_triggered();
    void on_action_manual_calibration_triggered();
    void on_button_yellow_clicked(bool);
    void on_button_pink_clicked(bool);
    void on_slider_fps_valueChanged(int value);
    void on_slider_compression_valueChanged(int value);

private:
    // Runs `work` on a worker thread behind a progress window titled `title`
    // (see run_in_background). Until it returns the window is busy: nothing in
    // it can start other work, even once "Annuler" was pressed.
    void run_with_progress(const QString& title, const std::function<void()>& work,
                           const std::function<void(ProgressView&)>& refresh);
    void calibrate_from_color_click(int x, int y);
    void record_sticker_click(int x, int y);
    // Tells the user how a processing run ended, when it did not simply succeed.
    void report_processing_run(const ProcessingOutcome& outcome);

    MainWindowUi* ui;
    WorkflowState workflow_state = WorkflowState::Idle;
    bool busy = false; // a calibration or processing run is under way
    std::vector<int> pending_images;
    std::array<QPointF, 3> clicked_points;
    QStringList reference_paths;
    QImage preview_image;
    Calibration calibration;

    UserDialogs& dialogs;
    ProcessRunner& runner;
    // The sticker configuration of the middle photo at the last successful selection.
    ReferenceTriple reference;
    ColorThresholds active_thresholds = thresholds_for(StickerColor::Yellow);
};
