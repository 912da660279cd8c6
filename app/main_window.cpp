#include "app/main_window.h"

#include "app/background_work.h"
#include "app/calibration_check_view.h"
#include "app/main_window_ui.h"
#include "app/photo_zoom.h"
#include "app/pixel_picker.h"
#include "app/user_dialogs.h"
#include "calibration/alignment.h"
#include "calibration/calibration_file.h"
#include "output/run_files.h"
#include "photo/image_file.h"
#include "pipeline/calibration_run.h"
#include "pipeline/processing_plan.h"
#include "pipeline/written_files.h"
#include "support/natural_order.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLayout>
#include <QLocale>
#include <QPixmap>
#include <QRadioButton>
#include <QScopedValueRollback>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSettings>
#include <QSlider>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <cmath>
#include <iostream>
#include <sstream>

namespace {

const QString image_filter = QStringLiteral("Images (*.jpg *.png)");
const QString last_calibration_key = QStringLiteral("calibration/last");
const QString geometry_key = QStringLiteral("window/geometry");

// The three clicks on a camera's stickers, top to bottom, as the alignment takes them.
std::array<cv::Point2d, 3> stickers_top_to_bottom(const std::array<QPointF, 3>& clicks)
{
    std::array<cv::Point2d, 3> stickers;
    for (int i = 0; i < 3; ++i)
        stickers[i] = {clicks[i].x(), clicks[i].y()};
    std::stable_sort(stickers.begin(), stickers.end(),
                     [](const cv::Point2d& a, const cv::Point2d& b) { return a.y < b.y; });
    return stickers;
}

QString file_name(const QString& path)
{
    return QFileInfo(path).fileName();
}

// Seconds as a French reader writes them: "0,21 s".
QString seconds_text(double seconds)
{
    return QLocale(QLocale::French).toString(seconds, 'f', 2) + QStringLiteral(" s");
}

// What a step of the export is called in the window.
QString video_kind(VideoStep step)
{
    switch (step) {
    case VideoStep::Video:
        return QStringLiteral("Vidéo");
    case VideoStep::Boomerang:
        return QStringLiteral("Effet boomerang");
    case VideoStep::Gif:
        return QStringLiteral("GIF animé");
    case VideoStep::GifBoomerang:
        return QStringLiteral("GIF boomerang");
    }
    return QString();
}

QString color_name(StickerColor color)
{
    return color == StickerColor::Yellow ? QStringLiteral("Jaune") : QStringLiteral("Rose");
}

StickerColor other_color(StickerColor color)
{
    return color == StickerColor::Yellow ? StickerColor::Pink : StickerColor::Yellow;
}

const QString input_error_title = QStringLiteral("Erreur de fichiers d'entrée");

QString shot_count_text(int shots, int cameras)
{
    return QStringLiteral("Le nombre d'images d'entrée doit être égal au nombre d'images "
                          "étalons (%1 images d'entrée, %2 images étalons).")
        .arg(shots)
        .arg(cameras);
}

QString shot_among_frames_text(const QString& shot)
{
    return QStringLiteral("Le fichier '") + shot +
           QStringLiteral("' est une des images d'entrée et serait remplacé par une image "
                          "recadrée. Choisissez un autre dossier de sortie.");
}

// What the window says of a run that cannot start (photos are checked as the
// run reads them).
QString plan_problem_text(const PlanProblem& problem)
{
    switch (problem.check) {
    case PlanCheck::ShotCount:
        return shot_count_text(problem.shot_count, problem.camera_count);
    case PlanCheck::ShotSize: {
        const ShotSizeMismatch& mismatch = problem.mismatch;
        return QStringLiteral("La photo de la caméra %1 ('%2') mesure %3 × %4 pixels, son étalon "
                              "%5 × %6 : les proportions diffèrent, le calibrage ne s'y applique "
                              "pas. Aucune image n'a été écrite.")
            .arg(QString::number(mismatch.camera), mismatch.shot,
                 QString::number(mismatch.shot_size.width()),
                 QString::number(mismatch.shot_size.height()),
                 QString::number(mismatch.reference_size.width()),
                 QString::number(mismatch.reference_size.height()));
    }
    case PlanCheck::ShotAmongEarlierRun:
        return shot_among_frames_text(problem.shot);
    case PlanCheck::UnusablePhotos:
    case PlanCheck::None:
        break;
    }
    return QString();
}

// Where the option values live between sessions.
const QString compression_key = QStringLiteral("options/compression");
const QString fps_key = QStringLiteral("options/fps");
const QString boomerang_key = QStringLiteral("options/boomerang");
const QString sticker_color_key = QStringLiteral("options/sticker_color");
const QString video_long_side_key = QStringLiteral("options/video_long_side");
const QString gif_key = QStringLiteral("options/gif");

} // namespace

MainWindow::MainWindow(UserDialogs& dialogs, ProcessRunner& runner, QSettings* settings,
                       QWidget* parent)
    : QMainWindow(parent), ui(new MainWindowUi), dialogs(dialogs), runner(runner),
      settings(settings)
{
    ui->setupUi(this);
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
                    calibration = rig.calibration();
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

    if (settings)
        restoreGeometry(settings->value(geometry_key).toByteArray());
    connect(ui->action_undo_click, &QAction::triggered, this, &MainWindow::undo_last_click);
    connect(ui->action_leave_manual_steps, &QAction::triggered, this,
            &MainWindow::leave_manual_steps);
    restore_options();
    workflow_state = WorkflowState::Idle;
    load_reference_images();
    if (reference_paths.isEmpty())
        offer_previous_calibration();
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    if (settings)
        settings->setValue(geometry_key, saveGeometry());
    QMainWindow::closeEvent(event);
}

QString MainWindow::last_folder(const char* dialog) const
{
    return settings ? settings->value(QStringLiteral("folders/") + QLatin1String(dialog)).toString()
                    : QString();
}

void MainWindow::remember_folder(const char* dialog, const QString& path)
{
    if (!settings || path.isEmpty())
        return;
    const QFileInfo chosen(path);
    settings->setValue(QStringLiteral("folders/") + QLatin1String(dialog),
                       chosen.isDir() ? chosen.absoluteFilePath() : chosen.absolutePath());
}

void MainWindow::offer_previous_calibration()
{
    if (!settings)
        return;
    const QString path = settings->value(last_calibration_key).toString();
    if (path.isEmpty() || !QFileInfo::exists(path))
        return;
    if (dialogs.question(this, QStringLiteral("Calibrage précédent"),
                         QStringLiteral("Rouvrir le dernier calibrage utilisé, '%1' ?").arg(path)))
        open_calibration_file(path);
}

void MainWindow::open_calibration()
{
    if (busy)
        return;
    const QStringList chosen =
        dialogs.get_open_file_names(this, QStringLiteral("Ouvrir un calibrage"),
                                    last_folder("calibration"), calibration_file_filter);
    if (chosen.isEmpty())
        return;
    remember_folder("calibration", chosen.front());
    open_calibration_file(chosen.front());
}

bool MainWindow::open_calibration_file(const QString& path)
{
    CalibrationRead read = read_calibration_file(path);
    if (!read.ok()) {
        dialogs.critical(this, QStringLiteral("Erreur de calibrage"), read.error);
        return false;
    }
    close_check_view();
    rig = std::move(read.calibration);
    calibration = rig.calibration();
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
    if (settings)
        settings->setValue(last_calibration_key, QFileInfo(path).absoluteFilePath());

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
    ask_for_unaligned_cameras({calibration, rig, reference, WorkflowState::Idle});
    return true;
}

void MainWindow::save_calibration()
{
    if (busy)
        return;
    QString path = dialogs.get_save_file_name(this, QStringLiteral("Enregistrer le calibrage"),
                                              last_folder("calibration"), calibration_file_filter);
    if (path.isEmpty())
        return;
    if (QFileInfo(path).suffix().isEmpty())
        path += calibration_file_suffix;
    remember_folder("calibration", path);
    const QString error = write_calibration_file(path, rig);
    if (!error.isEmpty()) {
        dialogs.critical(this, QStringLiteral("Erreur de calibrage"), error);
        return;
    }
    if (settings)
        settings->setValue(last_calibration_key, QFileInfo(path).absoluteFilePath());
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
    QSet<int> unreadable;
    const QStringList paths = choose_reference_images(unreadable);
    if (paths.isEmpty())
        return;
    close_check_view();
    reference_paths = in_camera_order(paths);
    unreadable_references = unreadable;
    workflow_state = WorkflowState::AwaitColorClick;
    before_manual_steps.reset();
    ui->action_leave_manual_steps->setEnabled(false);
    ui->action_new_color->setEnabled(true);
    update_fps_label();

    preview_image = load_image(reference_paths.at(reference_paths.size() / 2));
    display_image(preview_image);
    update_instruction();
}

QStringList MainWindow::choose_reference_images(QSet<int>& unreadable_cameras)
{
    for (;;) {
        const QStringList chosen = dialogs.get_open_file_names(
            this, QStringLiteral("Sélectionner étalons"), last_folder("references"), image_filter);
        if (chosen.isEmpty())
            return chosen;
        remember_folder("references", chosen.front());

        QStringList unreadable;
        unreadable_cameras.clear();
        for (int i = 0; i < chosen.size(); ++i) {
            // Decoded whole: a damaged stream has a readable header.
            if (!is_readable_photo(chosen[i]) || read_oriented_image(chosen[i]).isNull()) {
                unreadable << QStringLiteral("caméra %1 : %2").arg(QString::number(i), chosen[i]);
                unreadable_cameras.insert(i);
            }
        }
        if (unreadable.isEmpty())
            return chosen;
        const bool choose_again = dialogs.question(
            this, QStringLiteral("Étalons illisibles"),
            QStringLiteral("Ces étalons ne peuvent pas être lus (fichier absent, abîmé ou "
                           "incomplet) :\n\n%1\n\nChoisir à nouveau les étalons ? Sinon, ces "
                           "caméras ne seront pas calibrées.")
                .arg(unreadable.join('\n')));
        if (!choose_again)
            return chosen;
    }
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
    for (int camera = 0; camera < calibration.image_count; ++camera) {
        if (calibration.aligned[camera])
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
    calibration = std::move(before.calibration);
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

void MainWindow::on_image_label_clicked(int x, int y)
{
    if (busy)
        return;
    std::cout << "Image clicked on (" << x << ", " << y << ")" << std::endl;
    switch (workflow_state) {
    case WorkflowState::AwaitColorClick:
        calibrate_from_color_click(x, y);
        break;
    case WorkflowState::AwaitSticker1:
    case WorkflowState::AwaitSticker2:
    case WorkflowState::AwaitSticker3:
        record_sticker_click(x, y);
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
    BeforeManualSteps before{calibration, rig, reference, WorkflowState::AwaitColorClick};
    close_check_view();
    rig = std::move(outcome.rig);
    calibration = std::move(outcome.calibration);
    reference = outcome.reference;
    ask_for_unaligned_cameras(std::move(before));
}

void MainWindow::ask_for_unaligned_cameras(BeforeManualSteps before)
{
    // A photo that cannot be read cannot be clicked either: its camera stays not aligned.
    pending_images.clear();
    for (int camera = 0; camera < calibration.image_count; ++camera) {
        if (!calibration.aligned[camera] && !unreadable_references.contains(camera))
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
                                .arg(calibration.image_count) +
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

void MainWindow::record_sticker_click(int x, int y)
{
    if (!QRect(QPoint(0, 0), shown_photo_size).contains(x, y)) {
        ui->statusBar->showMessage(
            QStringLiteral("Clic en (%1, %2) hors de la photo (%3 × %4) : il n'est pas compté.")
                .arg(x)
                .arg(y)
                .arg(shown_photo_size.width())
                .arg(shown_photo_size.height()),
            10000);
        ui->image_label->armed = true;
        return;
    }
    const int sticker =
        static_cast<int>(workflow_state) - static_cast<int>(WorkflowState::AwaitSticker1);
    // The press to a fraction of a photo pixel, when it is the one reported.
    const QPointF press = ui->image_label->last_photo_point;
    const bool same_press = std::abs(press.x() - x) <= 1.0 && std::abs(press.y() - y) <= 1.0;
    clicked_points[sticker] = same_press ? press : QPointF(x, y);
    if (workflow_state != WorkflowState::AwaitSticker3) {
        workflow_state = static_cast<WorkflowState>(static_cast<int>(workflow_state) + 1);
        show_click_marks();
        update_instruction();
        return;
    }

    const int image = pending_images.front();
    // Without a reference configuration there is nothing to align onto: every
    // scale would be 0 and every frame empty.
    if (reference.selected) {
        align_manually(calibration, image, clicked_points, reference, std::cout);
    }
    if (reference.selected && calibration.aligned[image]) {
        if (image < rig.camera_count()) {
            CameraCalibration& camera = rig.cameras[image];
            camera.method = AlignmentMethod::Manual;
            camera.transform = calibration.alignment(image);
            camera.stickers = stickers_top_to_bottom(clicked_points);
            if (camera.reference_size.isEmpty())
                camera.reference_size = shown_photo_size;
        }
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
        enter_manual_steps({calibration, rig, reference, workflow_state});
    pending_images.clear();
    calibration.resize(count);
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

void MainWindow::remember_options() const
{
    if (!settings || !options_restored)
        return;
    settings->setValue(compression_key, ui->slider_compression->value());
    settings->setValue(fps_key, ui->slider_fps->value());
    settings->setValue(boomerang_key, ui->checkBox_boomerang->isChecked());
    settings->setValue(video_long_side_key, ui->comboBox_video_size->currentData());
    settings->setValue(gif_key, ui->checkBox_gif->isChecked());
    settings->setValue(sticker_color_key, sticker_color == StickerColor::Pink
                                              ? QStringLiteral("pink")
                                              : QStringLiteral("yellow"));
}

void MainWindow::restore_options()
{
    if (settings) {
        const int compression =
            settings->value(compression_key, ui->slider_compression->value()).toInt();
        const int fps = settings->value(fps_key, ui->slider_fps->value()).toInt();
        // The size is kept by its value, so that an unknown one keeps the default.
        const int video_size =
            ui->comboBox_video_size->findData(settings->value(video_long_side_key));
        const bool pink = settings->value(sticker_color_key).toString() == QStringLiteral("pink");
        // The sliders clamp values out of their range.
        ui->slider_compression->setValue(compression);
        ui->slider_fps->setValue(fps);
        ui->checkBox_boomerang->setChecked(settings->value(boomerang_key, default_boomerang).toBool());
        if (video_size >= 0)
            ui->comboBox_video_size->setCurrentIndex(video_size);
        ui->checkBox_gif->setChecked(settings->value(gif_key, default_gif).toBool());
        sticker_color = pink ? StickerColor::Pink : StickerColor::Yellow;
        active_thresholds = thresholds_for(sticker_color);
        (pink ? ui->button_pink : ui->button_yellow)->setChecked(true);
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

QStringList MainWindow::in_camera_order(QStringList paths)
{
    if (!is_natural_order(paths) &&
        dialogs.question(this, QStringLiteral("Ordre des images"),
                         QStringLiteral("Les images ne sont pas dans l'ordre de leurs noms de "
                                        "fichiers. Utiliser l'ordre des noms ?")))
        paths = natural_sorted(paths);
    log_camera_order(std::cout, paths);
    return paths;
}

void MainWindow::on_action_new_computation_triggered()
{
    if (busy)
        return;
    if (!unaligned_cameras().isEmpty()) {
        report_incomplete_calibration();
        return;
    }
    QStringList inputs =
        dialogs.get_open_file_names(this, QStringLiteral("Sélectionnez des images à recadrer"),
                                    last_folder("shots"), image_filter);
    if (inputs.isEmpty())
        return;
    remember_folder("shots", inputs.front());
    std::ostringstream unlogged; // the scaling is logged once the folder is chosen
    const PlanProblem counted =
        plan_processing(rig, inputs, QString(), {}, false, unlogged).problem;
    if (counted.check == PlanCheck::ShotCount) {
        dialogs.critical(this, input_error_title, plan_problem_text(counted));
        return;
    }
    inputs = in_camera_order(inputs);
    QStringList earlier_run;
    const QString folder = choose_output_folder(inputs, earlier_run);
    if (folder.isEmpty())
        return;

    // The run replaces the earlier one itself, once its own files are complete.
    // The options are read now: the window is blocked by the progress window
    // until the run ends. The worker gets its own copies of everything it reads.
    ProcessingRequest options;
    options.quality = quality_for_compression(ui->slider_compression->value());
    options.fps = ui->slider_fps->value();
    options.boomerang = ui->checkBox_boomerang->checkState() != Qt::Unchecked;
    options.long_side = ui->comboBox_video_size->currentData().toInt();
    options.gif = ui->checkBox_gif->isChecked();
    const ProcessingPlan plan = plan_processing(rig, inputs, folder, options, false, std::cout);
    if (!plan.ready()) {
        dialogs.critical(this, input_error_title, plan_problem_text(plan.problem));
        return;
    }
    const ProcessingRequest& request = plan.request;

    ProcessingProgress progress(request);
    ProcessingOutcome outcome;
    run_with_progress(
        QStringLiteral("Traitement d'images"),
        [&] { outcome = run_processing(runner, request, std::cout, &progress); },
        [&](ProgressView& shown) {
            const RunStep step = progress.step();
            shown.set_progress(step.text(), step.done, step.total);
            if (shown.cancelled())
                progress.request_stop();
        });
    report_processing_run(request, outcome);
}

QString MainWindow::choose_output_folder(const QStringList& inputs, QStringList& to_replace)
{
    for (;;) {
        const QString folder = dialogs.get_existing_directory(
            this, QStringLiteral("Sélectionnez un dossier de sortie"), last_folder("output"),
            QFileDialog::ShowDirsOnly);
        if (folder.isEmpty())
            return QString();
        remember_folder("output", folder);
        const EarlierRun earlier_run = earlier_run_in(folder, inputs);
        const QStringList& earlier = earlier_run.files;
        to_replace = earlier;
        if (earlier.isEmpty())
            return folder;
        // Shots taken from an earlier run's frames would be lost with them.
        if (!earlier_run.shot.isEmpty()) {
            dialogs.critical(this, input_error_title, shot_among_frames_text(earlier_run.shot));
            return QString();
        }
        const bool replace = dialogs.question(
            this, QStringLiteral("Dossier de sortie non vide"),
            QStringLiteral("Le dossier '%1' contient déjà %2 fichier(s) d'un traitement "
                           "précédent (%3). Les remplacer ? Les autres fichiers du dossier ne "
                           "sont pas touchés.\n\nNon : choisir un autre dossier.")
                .arg(QDir::toNativeSeparators(folder), QString::number(earlier.size()),
                     earlier.size() <= 4
                         ? earlier.join(QStringLiteral(", "))
                         : earlier.mid(0, 3).join(QStringLiteral(", ")) + QStringLiteral(", …")));
        if (replace)
            return folder;
    }
}

void MainWindow::report_processing_run(const ProcessingRequest& request,
                                       const ProcessingOutcome& outcome)
{
    const AlignedImages& frames = outcome.frames;
    const VideoExport& video = outcome.video;
    switch (outcome.failure()) {
    case ProcessingFailure::None:
        report_finished_run(written_files(request, outcome), request.folder);
        break;
    case ProcessingFailure::WrongShotCount:
        dialogs.critical(this, input_error_title,
                         shot_count_text(request.shots.size(), request.calibration.image_count));
        break;
    case ProcessingFailure::UnreadableShot:
        dialogs.critical(
            this, QStringLiteral("Erreur de fichiers d'entrée"),
            QStringLiteral("La photo de la caméra %1 ('%2') ne peut pas être lue : "
                           "fichier abîmé, incomplet ou qui n'est pas une photo "
                           "JPEG ou PNG. Aucune image n'a été écrite.")
                .arg(QString::number(frames.unreadable_camera), frames.unreadable_input));
        break;
    case ProcessingFailure::OutputFolder:
        dialogs.critical(this, QStringLiteral("Dossier de sortie"),
                         outcome.folder_problem + QLatin1Char('.'));
        break;
    case ProcessingFailure::ShotAmongFrames:
        dialogs.critical(this, input_error_title,
                         shot_among_frames_text(frames.input_among_frames));
        break;
    case ProcessingFailure::UnwritableFrame:
        dialogs.critical(this, QStringLiteral("Erreur vidéo"),
                         QStringLiteral("Impossible d'écrire le fichier '%1' (%2) : la vidéo "
                                        "n'a pas été créée, le dossier est resté tel quel.")
                             .arg(frames.unwritable_output, frames.unwritable_reason));
        break;
    case ProcessingFailure::FramesStopped:
        dialogs.information(this, QStringLiteral("Traitement annulé"),
                            QStringLiteral("Le traitement a été annulé : aucun fichier n'a été "
                                           "écrit dans le dossier de sortie."));
        break;
    case ProcessingFailure::EmptyFrames:
        dialogs.critical(this, QStringLiteral("Erreur vidéo"),
                         QStringLiteral("Les images alignées sont vides : la vidéo n'a pas pu "
                                        "être créée. Vérifiez le calibrage et la taille des "
                                        "images d'entrée."));
        break;
    case ProcessingFailure::VideoStopped:
        dialogs.information(
            this, QStringLiteral("Traitement annulé"),
            QStringLiteral("Le traitement a été annulé : aucun fichier n'a été écrit dans le "
                           "dossier de sortie."));
        break;
    case ProcessingFailure::VideoFailed:
        dialogs.critical(
            this, QStringLiteral("Erreur vidéo"),
            (video.video_written()
                 ? QStringLiteral("Le fichier %1 n'a pas pu être créé.").arg(video.unfinished)
                 : QStringLiteral("La vidéo n'a pas pu être créée.")) +
                QStringLiteral(" Le dossier de sortie est resté tel quel. ffmpeg : ") +
                video.error_line);
        break;
    }
}

void MainWindow::report_finished_run(const WrittenFiles& written, const QString& folder)
{
    const QSize size = written.frame_size;
    QStringList lines;
    lines << QStringLiteral("%1 images de %2 × %3 pixels (%4 à %5)")
                 .arg(written.frame_count)
                 .arg(size.width())
                 .arg(size.height())
                 .arg(frame_file_name(0), frame_file_name(written.frame_count - 1));
    for (const WrittenVideo& video : written.videos)
        lines << QStringLiteral("%1 %2 : %3")
                     .arg(video_kind(video.step), video.file_name, seconds_text(video.seconds));
    const QString shown_folder = QDir::toNativeSeparators(folder);

    QString summary = QStringLiteral("Dernier traitement : %1 images %2 × %3")
                          .arg(written.frame_count)
                          .arg(size.width())
                          .arg(size.height());
    if (!written.videos.empty())
        summary +=
            QStringLiteral(", vidéo de %1").arg(seconds_text(written.videos.front().seconds));
    ui->label_last_run->setText(summary + QStringLiteral(", dans ") + shown_folder);

    const bool open_folder =
        dialogs.information_with_button(this, QStringLiteral("Traitement terminé"),
                                        QStringLiteral("Fichiers écrits :\n") + lines.join('\n') +
                                            QStringLiteral("\n\nDossier : ") + shown_folder,
                                        QStringLiteral("Ouvrir le dossier"));
    if (open_folder)
        QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
}
