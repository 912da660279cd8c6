#include "app/main_window.h"

#include "app/background_work.h"
#include "app/calibration_check_view.h"
#include "app/main_window_ui.h"
#include "app/photo_zoom.h"
#include "app/pixel_picker.h"
#include "app/processing_launcher.h"
#include "app/reference_session.h"
#include "app/user_dialogs.h"
#include "calibration/manual_alignment.h"
#include "photo/image_file.h"
#include "pipeline/calibration_run.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLayout>
#include <QPixmap>
#include <QRadioButton>
#include <QScopedValueRollback>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSlider>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <iostream>

namespace {


QString file_name(const QString& path)
{
    return QFileInfo(path).fileName();
}

QString color_name(StickerColor color)
{
    return color == StickerColor::Yellow ? QStringLiteral("Jaune") : QStringLiteral("Rose");
}

StickerColor other_color(StickerColor color)
{
    return color == StickerColor::Yellow ? StickerColor::Pink : StickerColor::Yellow;
}

} // namespace

MainWindow::MainWindow(UserDialogs& dialogs, ProcessRunner& runner, QSettings* stored,
                       QWidget* parent)
    : QMainWindow(parent), ui(new MainWindowUi), dialogs(dialogs), runner(runner), settings(stored)
{
    ui->setupUi(this);
    session = std::make_unique<ReferenceSession>(*this, dialogs, settings);
    launcher = std::make_unique<ProcessingLauncher>(
        *this, *ui, dialogs, runner, settings,
        [this](const QString& title, const std::function<void()>& work,
               const std::function<void(ProgressView&)>& refresh) {
            run_with_progress(title, work, refresh);
        });
    connect(ui->action_new_references, &QAction::triggered, this,
            &MainWindow::load_reference_images);
    connect(ui->action_new_color, &QAction::triggered, this, &MainWindow::restart_color_selection);
    connect(ui->action_open_calibration, &QAction::triggered, this, &MainWindow::open_calibration);
    connect(ui->action_save_calibration, &QAction::triggered, this, &MainWindow::save_calibration);
    connect(ui->action_check_calibration, &QAction::triggered, this, [this] {
        if (busy)
            return;
        close_check_view();
        auto* view = new CalibrationCheckView(rig, this);
        view->setAttribute(Qt::WA_DeleteOnClose);
        check_view = view;
        connect(view, &CalibrationCheckView::camera_recalibrated, this,
                [this, view](int camera, const CameraCalibration& entry) {
                    // Only the view of the rig in hand writes into it.
                    if (view != check_view || camera < 0 || camera >= rig.camera_count())
                        return;
                    const bool was_complete = unaligned_cameras().isEmpty();
                    rig.cameras[camera] = entry;
                    // A camera the rig lacked, aligned in the view, counts as one clicked here.
                    if (!was_complete && workflow_state == WorkflowState::Idle &&
                        unaligned_cameras().isEmpty())
                        declare_calibrated();
                });
        view->show();
    });

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
    connect(ui->action_undo_click, &QAction::triggered, this, &MainWindow::undo_last_click);
    connect(ui->action_leave_manual_steps, &QAction::triggered, this,
            &MainWindow::leave_manual_steps);
    restore_options();
    workflow_state = WorkflowState::Idle;
    load_reference_images();
    if (reference_paths.isEmpty()) {
        const QString previous = session->previous_calibration();
        if (!previous.isEmpty())
            open_calibration_file(previous);
    }
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    settings.set_geometry(saveGeometry());
    QMainWindow::closeEvent(event);
}

void MainWindow::save_calibration()
{
    if (busy)
        return;
    session->save_calibration(rig);
}

void MainWindow::open_calibration()
{
    if (busy)
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
    close_check_view();
    rig = std::move(*read);
    reference = rig.reference();
    reference_paths.clear();
    unreadable_references.clear();
    for (const CameraCalibration& camera : rig.cameras) {
        if (!is_readable_photo(camera.reference_photo))
            unreadable_references.insert(reference_paths.size());
        reference_paths << camera.reference_photo;
    }
    sticker_color = rig.sticker_color;
    active_thresholds = thresholds_for(sticker_color);
    (sticker_color == StickerColor::Pink ? ui->button_pink : ui->button_yellow)->setChecked(true);
    remember_options();
    update_fps_label();

    // The reference photos need not be there any more: show the middle one if it is.
    const QString middle = reference_paths.at(reference_paths.size() / 2);
    preview_image = is_readable_photo(middle)
                        ? read_oriented_image(middle).convertToFormat(QImage::Format_RGB888)
                        : QImage();
    if (preview_image.isNull()) {
        ui->image_label->clear();
        ui->image_label->setText(QStringLiteral("Pas d'image à afficher."));
    } else {
        display_image(preview_image);
    }
    // Cameras the file leaves unaligned are clicked by hand, as after a colour
    // click; Escape then comes back to the file as it was read.
    workflow_state = WorkflowState::Idle;
    before_manual_steps.reset();
    ui->action_new_computation->setEnabled(false);
    ask_for_unaligned_cameras({rig, reference, WorkflowState::Idle});
    return true;
}

MainWindow::~MainWindow()
{
    delete ui;
}

void MainWindow::load_reference_images()
{
    if (busy)
        return;
    // A cancelled dialog keeps the references and calibration in use.
    ChosenReferences chosen = session->choose_references();
    if (chosen.paths.isEmpty())
        return;
    close_check_view();
    reference_paths = chosen.paths;
    unreadable_references = chosen.unreadable;
    workflow_state = WorkflowState::AwaitColorClick;
    before_manual_steps.reset();
    ui->action_leave_manual_steps->setEnabled(false);
    ui->action_new_color->setEnabled(true);
    update_fps_label();

    preview_image = load_image(reference_paths.at(reference_paths.size() / 2));
    display_image(preview_image);
    update_instruction();
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

void MainWindow::update_instruction()
{
    if (workflow_state == WorkflowState::AwaitColorClick) {
        ui->instruction_label->setText(QStringLiteral("Cliquez sur un pixel d'un des repères"));
        ui->action_new_computation->setEnabled(false);
    } else if (workflow_state > WorkflowState::AwaitColorClick) {
        const int sticker = static_cast<int>(workflow_state) - 1;
        const int image = pending_images.front();
        ui->instruction_label->setText(
            QStringLiteral("Cliquez sur le centre approximatif du sticker #%1 (image #%2 : %3)")
                .arg(QString::number(sticker), QString::number(image),
                     file_name(reference_paths.value(image))));
    }
    // Undo has a click to take back from the second sticker on.
    ui->action_undo_click->setEnabled(workflow_state > WorkflowState::AwaitSticker1);
    ui->image_label->armed = true;
}

void MainWindow::advance_calibration()
{
    if (pending_images.empty()) {
        declare_calibrated();
        return;
    }
    workflow_state = WorkflowState::AwaitSticker1;
    const QImage image = load_image(reference_paths.at(pending_images.front()));
    shown_photo_size = image.size();
    display_image(image);
    update_instruction();
}

void MainWindow::declare_calibrated()
{
    const bool complete = unaligned_cameras().isEmpty();
    workflow_state = WorkflowState::Idle;
    before_manual_steps.reset();
    ui->image_label->set_marks({});
    ui->action_undo_click->setEnabled(false);
    ui->action_leave_manual_steps->setEnabled(false);
    ui->action_new_computation->setEnabled(complete);
    ui->action_new_color->setEnabled(true);
    ui->action_manual_calibration->setEnabled(true);
    ui->action_save_calibration->setEnabled(true);
    ui->action_check_calibration->setEnabled(true);
    if (complete) {
        ui->instruction_label->setText(
            QStringLiteral("Recadreur étalonné ; prêt à charger des images."));
        return;
    }
    ui->instruction_label->setText(
        QStringLiteral("Calibrage incomplet : caméra(s) non alignée(s) %1 ; un traitement a "
                       "besoin de toutes les caméras.")
            .arg(unaligned_cameras().join(QStringLiteral(", "))));
    report_incomplete_calibration();
}

QStringList MainWindow::unaligned_cameras() const
{
    QStringList cameras;
    for (int camera = 0; camera < rig.camera_count(); ++camera) {
        if (rig.cameras[camera].method != AlignmentMethod::NotAligned)
            continue;
        QString name =
            QStringLiteral("#%1 : %2").arg(camera).arg(file_name(reference_paths.value(camera)));
        if (unreadable_references.contains(camera))
            name += QStringLiteral(" (photo de référence introuvable ou illisible)");
        cameras << name;
    }
    return cameras;
}

void MainWindow::report_incomplete_calibration()
{
    dialogs.warning(this, QStringLiteral("Calibrage incomplet"),
                    QStringLiteral("Ces caméras ne sont pas alignées :\n%1\n\nUn traitement a "
                                   "besoin de toutes les caméras : rechargez leurs étalons ou "
                                   "ouvrez un calibrage complet.")
                        .arg(unaligned_cameras().join('\n')));
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

void MainWindow::restart_color_selection()
{
    if (busy)
        return;
    workflow_state = WorkflowState::AwaitColorClick;
    before_manual_steps.reset();
    ui->action_undo_click->setEnabled(false);
    ui->action_leave_manual_steps->setEnabled(false);
    display_image(preview_image);
    update_instruction();
}

void MainWindow::enter_manual_steps(BeforeManualSteps before)
{
    // A pass restarted inside the manual steps still goes back to where they began.
    if (!before_manual_steps)
        before_manual_steps = std::move(before);
    ui->action_leave_manual_steps->setEnabled(true);
    ui->statusBar->showMessage(
        QStringLiteral("Retour arrière ou Ctrl+Z : annuler le dernier clic. Échap : abandonner "
                       "les clics et rétablir le calibrage précédent."));
}

void MainWindow::undo_last_click()
{
    if (busy)
        return;
    if (workflow_state != WorkflowState::AwaitSticker2 &&
        workflow_state != WorkflowState::AwaitSticker3)
        return;
    workflow_state = static_cast<WorkflowState>(static_cast<int>(workflow_state) - 1);
    show_click_marks();
    update_instruction();
    ui->statusBar->showMessage(QStringLiteral("Dernier clic annulé."), 5000);
}

void MainWindow::leave_manual_steps()
{
    if (busy || !before_manual_steps)
        return;
    BeforeManualSteps before = std::move(*before_manual_steps);
    before_manual_steps.reset();
    pending_images.clear();
    close_check_view();
    rig = std::move(before.rig);
    reference = before.reference;
    if (before.state == WorkflowState::AwaitColorClick) {
        restart_color_selection();
    } else {
        display_image(preview_image);
        declare_calibrated();
        ui->image_label->armed = false;
    }
    ui->statusBar->showMessage(
        QStringLiteral("Clics manuels abandonnés : le calibrage précédent est rétabli."), 10000);
}

void MainWindow::show_click_marks()
{
    const int clicks =
        static_cast<int>(workflow_state) - static_cast<int>(WorkflowState::AwaitSticker1);
    std::vector<QPoint> marks;
    for (int i = 0; i < clicks; ++i)
        marks.push_back(clicked_points[i].toPoint());
    ui->image_label->set_marks(std::move(marks));
}

void MainWindow::on_image_label_clicked(QPointF point, QPoint pixel)
{
    if (busy)
        return;
    std::cout << "Image clicked on (" << pixel.x() << ", " << pixel.y() << ")" << std::endl;
    switch (workflow_state) {
    case WorkflowState::AwaitColorClick:
        calibrate_from_color_click(pixel.x(), pixel.y());
        break;
    case WorkflowState::AwaitSticker1:
    case WorkflowState::AwaitSticker2:
    case WorkflowState::AwaitSticker3:
        record_sticker_click(point, pixel);
        break;
    case WorkflowState::Idle:
        break;
    }
}

void MainWindow::run_with_progress(const QString& title, const std::function<void()>& work,
                                   const std::function<void(ProgressView&)>& refresh)
{
    const QScopedValueRollback<bool> busy_until_done(busy, true);
    const auto view = dialogs.show_progress(this, title);
    run_in_background(*view, work, refresh);
}

void MainWindow::calibrate_from_color_click(int x, int y)
{
    // The colour goes to the log, and tells a wrong colour choice: the thresholds
    // come from the radio buttons. QImage::pixel warns about, and returns 0 for,
    // a point outside the photo.
    const bool inside = preview_image.valid(x, y);
    const QRgb color = inside ? preview_image.pixel(x, y) & 0xFFFFFF : 0;
    std::cout << "It has color (" << qRed(color) << ", " << qGreen(color) << ", " << qBlue(color)
              << ")" << std::endl;
    if (reference_paths.isEmpty()) {
        update_instruction();
        return;
    }
    calibrate_rig(inside ? std::optional<QRgb>(color) : std::nullopt);
}

void MainWindow::calibrate_rig(std::optional<QRgb> clicked)
{
    // The rig is calibrated on worker threads while a progress window stays live.
    // The calibration and reference configuration are only taken over when the
    // middle photo gave its stickers and the run was not cancelled. The selection
    // starts afresh, so that its outcome tells whether the middle photo gave them.
    // The worker gets its own copies of everything it reads.
    CalibrationRequest request;
    request.references = reference_paths;
    request.color = sticker_color;
    CalibrationProgress progress(request.references.size());
    CalibrationOutcome outcome;
    run_with_progress(
        QStringLiteral("Calibrage"),
        [&] { outcome = run_calibration(request, std::cout, &progress); },
        [&](ProgressView& shown) {
            const RunStep step = progress.step();
            shown.set_progress(step.text(), step.done, step.total);
            if (shown.cancelled())
                progress.request_stop();
        });
    if (outcome.stopped) {
        dialogs.information(this, QStringLiteral("Calibrage annulé"),
                            QStringLiteral("Le calibrage a été interrompu. Cliquez à nouveau sur "
                                           "un sticker pour le relancer."));
        update_instruction();
        return;
    }
    if (!outcome.reference.selected) {
        report_no_sticker_trio(clicked);
        return;
    }
    BeforeManualSteps before{rig, reference, WorkflowState::AwaitColorClick};
    close_check_view();
    rig = std::move(outcome.rig);
    reference = outcome.reference;
    ask_for_unaligned_cameras(std::move(before));
}

void MainWindow::ask_for_unaligned_cameras(BeforeManualSteps before)
{
    // A photo that cannot be read cannot be clicked either: its camera stays not aligned.
    pending_images.clear();
    for (int camera = 0; camera < rig.camera_count(); ++camera) {
        if (rig.cameras[camera].method == AlignmentMethod::NotAligned &&
            !unreadable_references.contains(camera))
            pending_images.push_back(camera);
    }

    QStringList failed;
    for (int camera : pending_images)
        failed << QStringLiteral("#%1 : %2")
                      .arg(QString::number(camera), file_name(reference_paths.at(camera)));
    if (!pending_images.empty()) {
        dialogs.warning(this, QStringLiteral("Attention"),
                        QStringLiteral("La détection automatique des stickers a échoué pour "
                                       "certaines images ; veuillez sélectionner les stickers "
                                       "manuellement.\n\nImages à cliquer (%1 sur %2) :\n")
                                .arg(failed.size())
                                .arg(rig.camera_count()) +
                            failed.join('\n'));
        enter_manual_steps(std::move(before));
    }
    advance_calibration();
}

void MainWindow::report_no_sticker_trio(std::optional<QRgb> clicked)
{
    const int middle = reference_paths.size() / 2;
    QString text = QStringLiteral("Aucun trio de repères de cette couleur dans l'image du milieu "
                                  "(image #%1 : %2). La couleur choisie est « %3 ».")
                       .arg(QString::number(middle), file_name(reference_paths.at(middle)),
                            color_name(sticker_color));
    const StickerColor other = other_color(sticker_color);
    if (clicked &&
        contains(thresholds_for(other), qBlue(*clicked), qGreen(*clicked), qRed(*clicked))) {
        text += QStringLiteral("\n\nLe pixel cliqué (%1, %2, %3) a la couleur « %4 ». Passer à "
                               "« %4 » et recalibrer ?")
                    .arg(qRed(*clicked))
                    .arg(qGreen(*clicked))
                    .arg(qBlue(*clicked))
                    .arg(color_name(other));
        if (dialogs.question(this, QStringLiteral("Couleur des repères"), text)) {
            (other == StickerColor::Yellow ? ui->button_yellow : ui->button_pink)->click();
            calibrate_rig(clicked);
            return;
        }
    } else {
        dialogs.warning(this, QStringLiteral("Couleur des repères"),
                        text + QStringLiteral("\n\nChoisissez la couleur des repères puis "
                                              "cliquez sur l'un d'eux."));
    }
    // The calibration in place is kept; the next click on a sticker tries again.
    workflow_state = WorkflowState::AwaitColorClick;
    update_instruction();
}

void MainWindow::record_sticker_click(QPointF point, QPoint pixel)
{
    if (!QRect(QPoint(0, 0), shown_photo_size).contains(pixel)) {
        ui->statusBar->showMessage(
            QStringLiteral("Clic en (%1, %2) hors de la photo (%3 × %4) : il n'est pas compté.")
                .arg(pixel.x())
                .arg(pixel.y())
                .arg(shown_photo_size.width())
                .arg(shown_photo_size.height()),
            10000);
        ui->image_label->armed = true;
        return;
    }
    const int sticker =
        static_cast<int>(workflow_state) - static_cast<int>(WorkflowState::AwaitSticker1);
    clicked_points[sticker] = point;
    if (workflow_state != WorkflowState::AwaitSticker3) {
        workflow_state = static_cast<WorkflowState>(static_cast<int>(workflow_state) + 1);
        show_click_marks();
        update_instruction();
        return;
    }

    const int image = pending_images.front();
    const std::optional<CameraCalibration> entry = align_camera_manually(
        rig.cameras[image], clicked_points, reference, shown_photo_size, std::cout);
    // Clicks that give no alignment leave a camera aligned before as it was.
    const bool was_aligned = rig.cameras[image].method != AlignmentMethod::NotAligned;
    if (entry || (reference.selected && was_aligned)) {
        if (entry)
            rig.cameras[image] = *entry;
        close_check_view();
        pending_images.erase(pending_images.begin());
    } else {
        dialogs.critical(this, QStringLiteral("Erreur"),
                         QStringLiteral("La détection a échoué avec ces nouveaux paramètres. "
                                        "Veuillez réessayer ou choisir de nouveaux étalons."));
    }
    advance_calibration();
}

void MainWindow::on_action_manual_calibration_triggered()
{
    if (busy)
        return;
    const int count = reference_paths.size();
    if (!dialogs.question(this, QStringLiteral("Tout calibrer manuellement"),
                          QStringLiteral("Le calibrage actuel sera remplacé par vos clics sur les "
                                         "trois repères de chacune des %1 images. Échap pendant "
                                         "les clics rétablit le calibrage actuel.\n\nContinuer ?")
                              .arg(count)))
        return;
    if (count > 0)
        enter_manual_steps({rig, reference, workflow_state});
    pending_images.clear();
    // One entry per reference photo: those kept go on as they were until clicked.
    rig.cameras.resize(count);
    for (int i = 0; i < count; ++i) {
        if (rig.cameras[i].reference_photo.isEmpty())
            rig.cameras[i].reference_photo = reference_paths.at(i);
    }
    for (int i = 0; i < count; ++i) {
        if (!unreadable_references.contains(i))
            pending_images.push_back(i);
    }
    advance_calibration();
}

void MainWindow::on_button_yellow_clicked(bool)
{
    sticker_color = StickerColor::Yellow;
    active_thresholds = thresholds_for(sticker_color);
    remember_options();
}

void MainWindow::on_button_pink_clicked(bool)
{
    sticker_color = StickerColor::Pink;
    active_thresholds = thresholds_for(sticker_color);
    remember_options();
}

void MainWindow::on_slider_fps_valueChanged(int)
{
    update_fps_label();
    remember_options();
}

void MainWindow::update_fps_label()
{
    const int fps = ui->slider_fps->value();
    QString text = QString::number(fps) + QStringLiteral(" FPS");
    const int frames = reference_paths.size();
    if (frames > 0) {
        text += QStringLiteral(" — %1 pour %2 image%3")
                    .arg(seconds_text(static_cast<double>(frames) / fps))
                    .arg(frames)
                    .arg(frames > 1 ? QStringLiteral("s") : QString());
    }
    ui->label_fps->setText(text);
}

void MainWindow::on_slider_compression_valueChanged(int value)
{
    ui->label_compression->setText(QStringLiteral("Compression : ") + QString::number(value) +
                                   QStringLiteral("%"));
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
    if (!options_restored)
        return;
    WindowOptions options;
    options.compression = ui->slider_compression->value();
    options.fps = ui->slider_fps->value();
    options.boomerang = ui->checkBox_boomerang->isChecked();
    options.video_long_side = ui->comboBox_video_size->currentData();
    options.gif = ui->checkBox_gif->isChecked();
    options.sticker_color = sticker_color;
    settings.set_options(options);
}

void MainWindow::restore_options()
{
    if (settings.enabled()) {
        WindowOptions defaults;
        defaults.compression = ui->slider_compression->value();
        defaults.fps = ui->slider_fps->value();
        const WindowOptions kept = settings.options(defaults);
        // The size is kept by its value, so that an unknown one keeps the default.
        const int video_size = ui->comboBox_video_size->findData(kept.video_long_side);
        // The sliders clamp values out of their range.
        ui->slider_compression->setValue(kept.compression);
        ui->slider_fps->setValue(kept.fps);
        ui->checkBox_boomerang->setChecked(kept.boomerang);
        if (video_size >= 0)
            ui->comboBox_video_size->setCurrentIndex(video_size);
        ui->checkBox_gif->setChecked(kept.gif);
        sticker_color = kept.sticker_color;
        active_thresholds = thresholds_for(sticker_color);
        (sticker_color == StickerColor::Pink ? ui->button_pink : ui->button_yellow)
            ->setChecked(true);
    }
    // From now on, each change is kept.
    options_restored = true;
}

void MainWindow::on_action_new_computation_triggered()
{
    if (busy)
        return;
    if (!unaligned_cameras().isEmpty()) {
        report_incomplete_calibration();
        return;
    }
    launcher->run(rig);
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
