#include "app/main_window.h"

#include "app/background_work.h"
#include "app/delivery_form.h"
#include "app/calibration_check_view.h"
#include "app/colour_click_calibration.h"
#include "app/main_window_ui.h"
#include "app/option_form.h"
#include "app/photo_display.h"
#include "app/pixel_picker.h"
#include "app/processing_launcher.h"
#include "app/reference_session.h"
#include "app/photo_zoom.h"
#include "app/user_dialogs.h"
#include "app/workflow_texts.h"
#include "photo/image_file.h"

#include <QAction>
#include <QCloseEvent>
#include <QFileInfo>
#include <QSlider>
#include <QStatusBar>
#include <QTimer>

#include <algorithm>
#include <iostream>

MainWindow::MainWindow(UserDialogs& dialogs, ProcessRunner& runner, QSettings* stored,
                       QWidget* parent)
    : QMainWindow(parent), ui(new MainWindowUi), dialogs(dialogs), runner(runner), settings(stored)
{
    ui->setupUi(this);
    const auto run = [this](const QString& title, const std::function<void()>& work,
                            const std::function<void(ProgressView&)>& refresh) {
        run_with_progress(title, work, refresh);
    };
    session = std::make_unique<ReferenceSession>(*this, dialogs, settings);
    launcher = std::make_unique<ProcessingLauncher>(*this, *ui, dialogs, runner, settings, run);
    colour = std::make_unique<ColourClickCalibration>(*this, dialogs, run);
    const std::pair<QAction*, void (MainWindow::*)()> actions[] = {
        {ui->action_new_references, &MainWindow::load_reference_images},
        {ui->action_new_color, &MainWindow::restart_color_selection},
        {ui->action_open_calibration, &MainWindow::open_calibration},
        {ui->action_save_calibration, &MainWindow::save_calibration},
        {ui->action_check_calibration, &MainWindow::show_check_view},
        {ui->action_undo_click, &MainWindow::undo_last_click},
        {ui->action_leave_manual_steps, &MainWindow::leave_manual_steps},
    };
    for (const auto& [action, work] : actions)
        connect(action, &QAction::triggered, this, [this, work = work] { unless_busy(work); });

    zoom = add_photo_zoom(*this, *ui);
    connect_delivery_form(*ui, this, dialogs, settings, [this] {
        show_frame_rate(*ui, workflow.references().size());
        remember_options();
    });

    if (settings.enabled())
        restoreGeometry(settings.geometry());
    restore_options();
    update_actions();
    load_reference_images();
    if (workflow.references().isEmpty()) {
        const QString previous = session->previous_calibration();
        if (!previous.isEmpty())
            open_calibration_file(previous);
    }
}

MainWindow::~MainWindow()
{
    delete ui;
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    if (!busy && !may_drop_changes(QStringLiteral("Les modifications seront perdues si vous "
                                                  "quittez sans les enregistrer."))) {
        event->ignore();
        return;
    }
    settings.set_geometry(saveGeometry());
    QMainWindow::closeEvent(event);
}

void MainWindow::update_actions()
{
    // While a run is under way nothing else may start: every action that does is off.
    const bool idle = !busy;
    const bool has_rig = workflow.rig().camera_count() > 0;
    const bool clicking = workflow.state() == WorkflowState::AwaitStickers;
    ui->action_new_references->setEnabled(idle);
    ui->action_open_calibration->setEnabled(idle);
    ui->action_new_color->setEnabled(idle && !workflow.references().isEmpty());
    ui->action_manual_calibration->setEnabled(idle && has_rig);
    ui->action_save_calibration->setEnabled(idle && has_rig);
    ui->action_check_calibration->setEnabled(idle && has_rig);
    // A run takes a whole calibration: not at the colour click, nor half-way
    // through clicks that are replacing it.
    ui->action_new_computation->setEnabled(idle && has_rig && workflow.complete() &&
                                           workflow.state() == WorkflowState::Idle);
    ui->action_undo_click->setEnabled(idle && clicking && workflow.sticker() > 0);
    ui->action_leave_manual_steps->setEnabled(idle && workflow.in_manual_steps());
    update_title();
}

void MainWindow::update_title()
{
    if (workflow.rig().camera_count() == 0) {
        setWindowFilePath(QString());
        setWindowTitle(QStringLiteral("Quorvane 3000"));
        return;
    }
    const QString path = workflow.file();
    setWindowFilePath(path);
    setWindowTitle(QStringLiteral("%1[*] — Quorvane 3000")
                       .arg(path.isEmpty() ? QStringLiteral("Calibrage non enregistré")
                                           : QFileInfo(path).fileName()));
    setWindowModified(workflow.modified());
}

bool MainWindow::may_drop_changes(const QString& text)
{
    if (!workflow.modified())
        return true;
    switch (dialogs.ask_unsaved_changes(this, text)) {
    case UserDialogs::UnsavedAnswer::Save:
        // A save cancelled or failed loses nothing: the window stays as it is.
        return save_calibration_file();
    case UserDialogs::UnsavedAnswer::Discard:
        return true;
    case UserDialogs::UnsavedAnswer::Cancel:
        break;
    }
    return false;
}

void MainWindow::unless_busy(void (MainWindow::*work)())
{
    // A triggered action runs even when disabled (QAction::trigger does not
    // look): this is the one place that keeps work from starting inside a run.
    if (!busy)
        (this->*work)();
}

void MainWindow::run_with_progress(const QString& title, const std::function<void()>& work,
                                   const std::function<void(ProgressView&)>& refresh)
{
    busy = true;
    update_actions();
    const auto view = dialogs.show_progress(this, title);
    run_in_background(*view, work, refresh);
    busy = false;
    update_actions();
}

void MainWindow::load_reference_images()
{
    if (!may_drop_changes(QStringLiteral("Les modifications seront perdues si vous chargez de "
                                         "nouveaux étalons sans les enregistrer.")))
        return;
    // A cancelled dialog keeps the references and calibration in use.
    ChosenReferences chosen = session->choose_references();
    if (chosen.paths.isEmpty())
        return;
    close_check_view();
    workflow.choose_references(chosen.paths, chosen.unreadable);
    show_frame_rate(*ui, workflow.references().size());
    preview_image = load_image(workflow.references().at(workflow.references().size() / 2));
    display_image(preview_image);
    show_step();
}

void MainWindow::restart_color_selection()
{
    show_workflow(workflow.restart_colour());
}

void MainWindow::open_calibration()
{
    if (!may_drop_changes(QStringLiteral("Les modifications seront perdues si vous ouvrez un "
                                         "autre calibrage sans les enregistrer.")))
        return;
    const QString path = session->choose_calibration_file();
    if (!path.isEmpty())
        open_calibration_file(path);
}

bool MainWindow::open_calibration_file(const QString& path)
{
    std::optional<RigCalibration> read = session->read_calibration(path);
    if (!read)
        return false;
    QSet<int> unreadable;
    for (int camera = 0; camera < read->camera_count(); ++camera) {
        if (!is_readable_photo(read->cameras[camera].reference_photo))
            unreadable.insert(camera);
    }
    colour->continue_from(*read);
    show_preset(*ui, colour->preset());
    remember_options();
    // The reference photos need not be there any more: show the middle one if it is.
    const QString middle = read->cameras.at(read->camera_count() / 2).reference_photo;
    preview_image = is_readable_photo(middle)
                        ? read_oriented_image(middle).convertToFormat(QImage::Format_RGB888)
                        : QImage();
    // Cameras the file leaves unaligned are clicked by hand, as after a colour
    // click; Escape then comes back to the file as it was read.
    const WorkflowView view = workflow.open(std::move(*read), unreadable, path);
    show_frame_rate(*ui, workflow.references().size());
    if (preview_image.isNull()) {
        ui->image_label->clear();
        ui->image_label->setText(QStringLiteral("Pas d'image à afficher."));
    } else {
        display_image(preview_image);
    }
    show_workflow(view);
    return true;
}

bool MainWindow::save_calibration_file()
{
    const QString path = session->save_calibration(workflow.rig());
    if (path.isEmpty())
        return false;
    workflow.saved(path);
    update_title();
    ui->statusBar->showMessage(QStringLiteral("Calibrage enregistré dans '%1'.").arg(path), 10000);
    return true;
}

QImage MainWindow::load_image(const QString& path)
{
    return read_photo_for_display(dialogs, path);
}

void MainWindow::display_image(const QImage& image)
{
    show_photo(*this, *ui, *zoom, image);
}

void MainWindow::show_workflow(const WorkflowView& view)
{
    if (view.rig_changed)
        close_check_view();
    if (view.clicks_failed)
        dialogs.critical(this, QStringLiteral("Erreur"), failed_clicks_text());
    if (!view.queued.isEmpty())
        dialogs.warning(this, QStringLiteral("Attention"),
                        queued_cameras_text(view.queued, workflow.rig().camera_count()));
    if (view.manual_steps_started)
        ui->statusBar->showMessage(manual_steps_keys_text());
    if (view.preview)
        display_image(preview_image);
    if (view.pending_photo && workflow.pending_camera() >= 0) {
        const QImage image = load_image(workflow.references().at(workflow.pending_camera()));
        workflow.photo_shown(image);
        display_image(image);
    }
    show_step();
    if (view.finished && !workflow.complete())
        report_incomplete_calibration();
}

void MainWindow::show_step()
{
    update_actions();
    ui->instruction_label->setText(workflow_instruction(workflow));
    // Idle, nothing is marked and a click only goes to the log.
    std::vector<QPoint> marks;
    for (const QPointF& click : workflow.clicks())
        marks.push_back(click.toPoint());
    ui->image_label->set_marks(std::move(marks));
    ui->image_label->armed = workflow.state() != WorkflowState::Idle;
    // After the photo's own scroll to its centre, which waits for its layout.
    if (workflow.state() == WorkflowState::AwaitStickers)
        QTimer::singleShot(0, this, &MainWindow::bring_sticker_into_view);
}

void MainWindow::bring_sticker_into_view()
{
    const std::optional<CalibrationWorkflow::ExpectedSticker> expected =
        workflow.expected_sticker();
    // Closer in, never: a zoom chosen above it is the user's.
    if (expected)
        zoom->centre_on(expected->centre,
                        std::max(zoom->zoom(), sticker_zoom(expected->radius, zoom->view_size())));
}

void MainWindow::report_incomplete_calibration()
{
    dialogs.warning(this, QStringLiteral("Calibrage incomplet"),
                    incomplete_calibration_text(workflow.unaligned_cameras()));
}

void MainWindow::show_check_view()
{
    close_check_view();
    auto* view = new CalibrationCheckView(workflow.rig(), this);
    view->setAttribute(Qt::WA_DeleteOnClose);
    check_view = view;
    connect(view, &CalibrationCheckView::camera_recalibrated, this,
            [this, view](int camera, const CameraCalibration& entry) {
                // Only the view of the rig in hand writes into it.
                if (view != check_view)
                    return;
                const WorkflowView shown = workflow.camera_realigned(camera, entry);
                if (shown.finished)
                    show_workflow(shown);
                else
                    update_actions();
            });
    view->show();
}

void MainWindow::close_check_view()
{
    if (!check_view)
        return;
    // A closed view is deleted later: from now on nothing it sends is taken.
    CalibrationCheckView* view = check_view;
    check_view = nullptr;
    view->close();
}

void MainWindow::on_image_label_clicked(QPointF point, QPoint pixel)
{
    last_click = {point, pixel};
    unless_busy(&MainWindow::take_click);
}

void MainWindow::take_click()
{
    const auto [point, pixel] = last_click;
    std::cout << "Image clicked on (" << pixel.x() << ", " << pixel.y() << ")" << std::endl;
    if (workflow.state() == WorkflowState::AwaitColorClick) {
        const auto outcome = colour->calibrate(workflow.references(), preview_image, pixel);
        // Asked once the click gave a rig, which is when the one in hand
        // would go; cancelled, the new one goes instead.
        if (outcome && (!workflow.changed_awaiting_colour() ||
                        may_drop_changes(QStringLiteral("Les modifications seront perdues si ce "
                                                        "clic remplace le calibrage en cours "
                                                        "sans les enregistrer."))))
            show_workflow(workflow.colour_calibrated(outcome->rig, outcome->reference));
        else
            show_step();
        return;
    }
    WorkflowView view;
    switch (workflow.sticker_click(point, pixel, std::cout, view)) {
    case CalibrationWorkflow::Click::Outside:
        ui->statusBar->showMessage(click_beside_photo_text(pixel, workflow.photo_size()), 10000);
        ui->image_label->armed = true;
        break;
    case CalibrationWorkflow::Click::Counted:
        show_step();
        ui->statusBar->showMessage(workflow.last_snap().status(), 10000);
        break;
    case CalibrationWorkflow::Click::Done:
        show_workflow(view);
        ui->statusBar->showMessage(workflow.last_snap().status(), 10000);
        break;
    case CalibrationWorkflow::Click::Ignored:
        break;
    }
}

void MainWindow::undo_last_click()
{
    if (!workflow.undo())
        return;
    show_step();
    ui->statusBar->showMessage(QStringLiteral("Dernier clic annulé."), 5000);
}

void MainWindow::leave_manual_steps()
{
    const std::optional<WorkflowView> view = workflow.leave();
    if (!view)
        return;
    show_workflow(*view);
    ui->statusBar->showMessage(manual_steps_left_text(), 10000);
}

void MainWindow::on_action_manual_calibration_triggered()
{
    unless_busy(&MainWindow::start_manual_pass);
}

void MainWindow::start_manual_pass()
{
    if (!dialogs.question(this, QStringLiteral("Tout calibrer manuellement"),
                          QStringLiteral("Le calibrage actuel sera remplacé par vos clics sur les "
                                         "trois repères de chacune des %1 images. Échap pendant "
                                         "les clics rétablit le calibrage actuel.\n\nContinuer ?")
                              .arg(workflow.references().size())))
        return;
    show_workflow(workflow.manual_pass());
}

void MainWindow::on_action_new_computation_triggered()
{
    unless_busy(&MainWindow::start_processing);
}

void MainWindow::start_processing()
{
    if (!workflow.complete()) {
        report_incomplete_calibration();
        return;
    }
    launcher->run(workflow.rig());
}

void MainWindow::on_button_yellow_clicked(bool)
{
    colour->choose_preset(StickerColor::Yellow);
    remember_options();
}

void MainWindow::on_button_pink_clicked(bool)
{
    colour->choose_preset(StickerColor::Pink);
    remember_options();
}

void MainWindow::on_slider_fps_valueChanged(int)
{
    show_frame_rate(*ui, workflow.references().size());
    remember_options();
}

void MainWindow::on_slider_compression_valueChanged(int)
{
    show_compression(*ui);
    remember_options();
}

void MainWindow::on_checkBox_boomerang_toggled(bool)
{
    remember_options();
}

void MainWindow::on_comboBox_video_size_currentIndexChanged(int)
{
    remember_options();
}

void MainWindow::on_checkBox_gif_toggled(bool)
{
    remember_options();
}

void MainWindow::on_checkBox_colour_match_toggled(bool)
{
    remember_options();
}

void MainWindow::on_spinBox_between_valueChanged(int)
{
    show_frame_rate(*ui, workflow.references().size());
    remember_options();
}

void MainWindow::remember_options()
{
    if (options_restored)
        settings.set_options(options_in_form(*ui, colour->preset()));
}

void MainWindow::restore_options()
{
    if (settings.enabled()) {
        WindowOptions defaults;
        defaults.compression = ui->slider_compression->value();
        defaults.fps = ui->slider_fps->value();
        const WindowOptions kept = settings.options(defaults);
        show_options_in_form(*ui, kept);
        colour->choose_preset(kept.sticker_color);
    }
    // From now on, each change is kept.
    options_restored = true;
}

void MainWindow::on_action_quit_triggered()
{
    close();
}

void MainWindow::on_action_about_triggered()
{
    dialogs.information(
        this, QStringLiteral("À propos de Quorvane 3000"),
        QStringLiteral("Quorvane 3000, version %1\n\nAligne et recadre les photos d'un banc de "
                       "caméras fixes à partir de trois repères colorés, puis en fait une vidéo.")
            .arg(QStringLiteral(QUORVANE_VERSION)));
}
