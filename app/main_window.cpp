#include "app/main_window.h"

#include "app/background_work.h"
#include "app/calibration_check_view.h"
#include "app/colour_click_calibration.h"
#include "app/main_window_ui.h"
#include "app/option_form.h"
#include "app/photo_zoom.h"
#include "app/pixel_picker.h"
#include "app/processing_launcher.h"
#include "app/reference_session.h"
#include "app/user_dialogs.h"
#include "photo/image_file.h"

#include <QAction>
#include <QCloseEvent>
#include <QFileInfo>
#include <QLabel>
#include <QLayout>
#include <QPixmap>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSlider>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>

#include <cmath>
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

    zoom = new PhotoZoom(ui->scrollArea, ui->image_label, this);
    zoom_label = new QLabel(this);
    zoom_label->setObjectName(QStringLiteral("label_zoom"));
    ui->statusBar->addPermanentWidget(zoom_label);
    connect(zoom, &PhotoZoom::zoom_changed, this, [this](double value) {
        zoom_label->setText(QStringLiteral("Zoom : %1 %").arg(std::lround(value * 100)));
    });
    connect(ui->action_zoom_fit, &QAction::triggered, zoom, &PhotoZoom::fit);
    connect(ui->action_zoom_actual, &QAction::triggered, zoom, &PhotoZoom::actual_size);
    connect(ui->action_zoom_in, &QAction::triggered, zoom, &PhotoZoom::zoom_in);
    connect(ui->action_zoom_out, &QAction::triggered, zoom, &PhotoZoom::zoom_out);

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
    const WorkflowView view = workflow.open(std::move(*read), unreadable);
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

void MainWindow::save_calibration()
{
    session->save_calibration(workflow.rig());
}

QImage MainWindow::load_image(const QString& path)
{
    const QImage image = read_oriented_image(path);
    if (image.isNull()) {
        dialogs.critical(nullptr, QStringLiteral("Erreur de fichier image"),
                         QStringLiteral("Impossible de lire le fichier '") + path +
                             QStringLiteral("'"));
        return QImage();
    }
    return image.convertToFormat(QImage::Format_RGB888);
}

void MainWindow::display_image(const QImage& image)
{
    // At least a third of the photo, at most 1200 x 900 of it, visible without
    // scrolling, as long as the whole window still fits on its screen: a
    // window taller than the screen hides its controls.
    ui->scrollArea->setMinimumSize(
        photo_view_minimum(image.size(), room_for_photo(), ui->scrollArea->minimumSizeHint()));

    ui->image_label->set_marks({});
    ui->image_label->setPixmap(QPixmap::fromImage(image));
    zoom->photo_changed();

    // The stickers stand near the middle of a photo: once the new picture is laid
    // out, scroll so that its centre is in view.
    QTimer::singleShot(0, this, [this] {
        for (QScrollBar* bar :
             {ui->scrollArea->horizontalScrollBar(), ui->scrollArea->verticalScrollBar()})
            bar->setValue((bar->minimum() + bar->maximum()) / 2);
    });
}

QSize MainWindow::room_for_photo()
{
    // The window's smallest size with the view at its own smallest: the layouts
    // are brought up to date at once rather than at the next event loop turn.
    ui->scrollArea->setMinimumSize(0, 0);
    ui->centralWidget->layout()->activate();
    layout()->activate();
    const QSize around = minimumSizeHint() - ui->scrollArea->minimumSizeHint();
    // The window manager's frame is known once the window is shown; before,
    // a title bar is the least it will add.
    const QSize frame = isVisible() ? frameGeometry().size() - geometry().size()
                                    : QSize(0, style()->pixelMetric(QStyle::PM_TitleBarHeight));
    return screen()->availableGeometry().size() - around - frame;
}

void MainWindow::show_workflow(const WorkflowView& view)
{
    if (view.rig_changed)
        close_check_view();
    if (view.clicks_failed)
        dialogs.critical(this, QStringLiteral("Erreur"),
                         QStringLiteral("La détection a échoué avec ces nouveaux paramètres. "
                                        "Veuillez réessayer ou choisir de nouveaux étalons."));
    if (!view.queued.isEmpty())
        dialogs.warning(this, QStringLiteral("Attention"),
                        QStringLiteral("La détection automatique des stickers a échoué pour "
                                       "certaines images ; veuillez sélectionner les stickers "
                                       "manuellement.\n\nImages à cliquer (%1 sur %2) :\n")
                                .arg(view.queued.size())
                                .arg(workflow.rig().camera_count()) +
                            view.queued.join('\n'));
    if (view.manual_steps_started)
        ui->statusBar->showMessage(
            QStringLiteral("Retour arrière ou Ctrl+Z : annuler le dernier clic. Échap : abandonner "
                           "les clics et rétablir le calibrage précédent."));
    if (view.preview)
        display_image(preview_image);
    if (view.pending_photo && workflow.pending_camera() >= 0) {
        const QImage image = load_image(workflow.references().at(workflow.pending_camera()));
        workflow.photo_shown(image.size());
        display_image(image);
    }
    show_step();
    if (view.finished && !workflow.complete())
        report_incomplete_calibration();
}

void MainWindow::show_step()
{
    update_actions();
    switch (workflow.state()) {
    case WorkflowState::AwaitColorClick:
        ui->instruction_label->setText(QStringLiteral("Cliquez sur un pixel d'un des repères"));
        ui->image_label->armed = true;
        break;
    case WorkflowState::AwaitStickers: {
        const int camera = workflow.pending_camera();
        ui->instruction_label->setText(
            QStringLiteral("Cliquez sur le centre approximatif du sticker #%1 (image #%2 : %3)")
                .arg(QString::number(workflow.sticker() + 1), QString::number(camera),
                     QFileInfo(workflow.references().value(camera)).fileName()));
        std::vector<QPoint> marks;
        for (const QPointF& click : workflow.clicks())
            marks.push_back(click.toPoint());
        ui->image_label->set_marks(std::move(marks));
        ui->image_label->armed = true;
        break;
    }
    case WorkflowState::Idle:
        ui->image_label->set_marks({});
        ui->image_label->armed = false;
        if (workflow.complete())
            ui->instruction_label->setText(
                QStringLiteral("Recadreur étalonné ; prêt à charger des images."));
        else
            ui->instruction_label->setText(
                QStringLiteral("Calibrage incomplet : caméra(s) non alignée(s) %1 ; un traitement "
                               "a besoin de toutes les caméras.")
                    .arg(workflow.unaligned_cameras().join(QStringLiteral(", "))));
        break;
    }
}

void MainWindow::report_incomplete_calibration()
{
    dialogs.warning(this, QStringLiteral("Calibrage incomplet"),
                    QStringLiteral("Ces caméras ne sont pas alignées :\n%1\n\nUn traitement a "
                                   "besoin de toutes les caméras : rechargez leurs étalons ou "
                                   "ouvrez un calibrage complet.")
                        .arg(workflow.unaligned_cameras().join('\n')));
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
        if (const auto outcome = colour->calibrate(workflow.references(), preview_image, pixel))
            show_workflow(workflow.colour_calibrated(outcome->rig, outcome->reference));
        else
            show_step();
        return;
    }
    WorkflowView view;
    switch (workflow.sticker_click(point, pixel, std::cout, view)) {
    case CalibrationWorkflow::Click::Outside:
        ui->statusBar->showMessage(
            QStringLiteral("Clic en (%1, %2) hors de la photo (%3 × %4) : il n'est pas compté.")
                .arg(pixel.x())
                .arg(pixel.y())
                .arg(workflow.photo_size().width())
                .arg(workflow.photo_size().height()),
            10000);
        ui->image_label->armed = true;
        break;
    case CalibrationWorkflow::Click::Counted:
        show_step();
        break;
    case CalibrationWorkflow::Click::Done:
        show_workflow(view);
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
    ui->statusBar->showMessage(
        QStringLiteral("Clics manuels abandonnés : le calibrage précédent est rétabli."), 10000);
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
