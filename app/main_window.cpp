#include "app/main_window.h"

#include "app/background_work.h"
#include "app/main_window_ui.h"
#include "app/pixel_picker.h"
#include "app/user_dialogs.h"
#include "calibration/alignment.h"
#include "output/image_file.h"
#include "pipeline/calibration_run.h"
#include "pipeline/processing_run.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPixmap>
#include <QScopedValueRollback>
#include <QScrollArea>
#include <QScrollBar>
#include <QSlider>
#include <QTimer>

#include <algorithm>
#include <iostream>

namespace {

const QString image_filter = QStringLiteral("Images (*.jpg *.png)");

} // namespace

MainWindow::MainWindow(UserDialogs& dialogs, ProcessRunner& runner, QWidget* parent)
    : QMainWindow(parent), ui(new MainWindowUi), dialogs(dialogs), runner(runner)
{
    ui->setupUi(this);
    connect(ui->action_new_references, &QAction::triggered, this,
            &MainWindow::load_reference_images);
    connect(ui->action_new_color, &QAction::triggered, this, &MainWindow::restart_color_selection);
    workflow_state = WorkflowState::Idle;
    load_reference_images();
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
    const QStringList paths = dialogs.get_open_file_names(
        this, QStringLiteral("Sélectionner étalons"), QString(), image_filter);
    if (paths.isEmpty())
        return;
    reference_paths = paths;
    workflow_state = WorkflowState::AwaitColorClick;

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
    const int width = image.width();
    const int height = image.height();
    // At least a third of the photo, at most 1200 x 900 of it, visible without scrolling.
    ui->scrollArea->setMinimumSize(std::min(width / 3, 1200), std::min(height / 3, 900));

    ui->image_label->display_scale = 1.0f;
    const float scale = ui->image_label->display_scale;
    const QImage shown =
        image.scaled(static_cast<int>(width * scale), static_cast<int>(height * scale),
                     Qt::IgnoreAspectRatio, Qt::FastTransformation);
    ui->image_label->setPixmap(QPixmap::fromImage(shown));

    // The stickers stand near the middle of a photo: once the new picture is laid
    // out, scroll so that its centre is in view.
    QTimer::singleShot(0, this, [this] {
        for (QScrollBar* bar :
             {ui->scrollArea->horizontalScrollBar(), ui->scrollArea->verticalScrollBar()})
            bar->setValue((bar->minimum() + bar->maximum()) / 2);
    });
}

void MainWindow::update_instruction()
{
    if (workflow_state == WorkflowState::AwaitColorClick) {
        ui->instruction_label->setText(QStringLiteral("Cliquez sur un pixel d'un des repères"));
        ui->action_new_computation->setEnabled(false);
        ui->action_new_color->setEnabled(false);
    } else if (workflow_state > WorkflowState::AwaitColorClick) {
        const int sticker = static_cast<int>(workflow_state) - 1;
        ui->instruction_label->setText(
            QStringLiteral("Cliquez sur le centre approximatif du sticker #%1 (image #%2)")
                .arg(sticker)
                .arg(pending_images.front()));
    }
    ui->image_label->armed = true;
}

void MainWindow::advance_calibration()
{
    if (pending_images.empty()) {
        workflow_state = WorkflowState::Idle;
        ui->action_new_computation->setEnabled(true);
        ui->action_new_color->setEnabled(true);
        ui->action_manual_calibration->setEnabled(true);
        ui->instruction_label->setText(
            QStringLiteral("Recadreur étalonné ; prêt à charger des images."));
        return;
    }
    workflow_state = WorkflowState::AwaitSticker1;
    const QImage image = load_image(reference_paths.at(pending_images.front()));
    display_image(image);
    update_instruction();
}

void MainWindow::restart_color_selection()
{
    if (busy)
        return;
    workflow_state = WorkflowState::AwaitColorClick;
    display_image(preview_image);
    update_instruction();
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
    // The colour only goes to the log: the thresholds come from the radio buttons.
    // QImage::pixel warns about, and returns 0 for, a point outside the photo.
    const bool inside = preview_image.valid(x, y);
    const QRgb color = inside ? preview_image.pixel(x, y) & 0xFFFFFF : 0;
    std::cout << "It has color (" << qRed(color) << ", " << qGreen(color) << ", " << qBlue(color)
              << ")" << std::endl;

    // The rig is calibrated on worker threads while a progress window stays live.
    // The reference configuration is only taken over with a finished calibration.
    // The worker gets its own copies of everything it reads.
    CalibrationRequest request;
    request.references = reference_paths;
    request.thresholds = active_thresholds;
    request.reference = reference;
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
    pending_images = outcome.unaligned();
    calibration = std::move(outcome.calibration);
    reference = outcome.reference;

    if (!pending_images.empty()) {
        dialogs.warning(this, QStringLiteral("Attention"),
                        QStringLiteral("La détection automatique des stickers a échouée pour "
                                       "certaines images ; veuillez sélectionner les stickers "
                                       "manuellement."));
    }
    advance_calibration();
}

void MainWindow::record_sticker_click(int x, int y)
{
    const int sticker =
        static_cast<int>(workflow_state) - static_cast<int>(WorkflowState::AwaitSticker1);
    clicked_points[sticker] = QPointF(x, y);
    if (workflow_state != WorkflowState::AwaitSticker3) {
        workflow_state = static_cast<WorkflowState>(static_cast<int>(workflow_state) + 1);
        update_instruction();
        return;
    }

    const int image = pending_images.front();
    // Without a reference configuration there is nothing to align onto: every
    // scale would be 0 and every frame empty.
    if (reference.selected) {
        align_manually(calibration, image, clicked_points[0].x(), clicked_points[0].y(),
                       clicked_points[1].x(), clicked_points[1].y(), clicked_points[2].x(),
                       clicked_points[2].y(), reference, std::cout);
    }
    if (reference.selected && calibration.aligned[image]) {
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
    pending_images.clear();
    const int count = reference_paths.size();
    calibration.resize(count);
    for (int i = 0; i < count; ++i)
        pending_images.push_back(i);
    advance_calibration();
}

void MainWindow::on_button_yellow_clicked(bool)
{
    active_thresholds = thresholds_for(StickerColor::Yellow);
}

void MainWindow::on_button_pink_clicked(bool)
{
    active_thresholds = thresholds_for(StickerColor::Pink);
}

void MainWindow::on_slider_fps_valueChanged(int value)
{
    ui->label_fps->setText(QString::number(value) + QStringLiteral(" FPS"));
}

void MainWindow::on_slider_compression_valueChanged(int value)
{
    ui->label_compression->setText(QStringLiteral("Compression : ") + QString::number(value) +
                                   QStringLiteral("%"));
}

void MainWindow::on_action_new_computation_triggered()
{
    if (busy)
        return;
    const QStringList inputs = dialogs.get_open_file_names(
        this, QStringLiteral("Sélectionnez des images à recadrer"), QString(), image_filter);
    if (inputs.isEmpty())
        return;
    if (inputs.size() != reference_paths.size()) {
        dialogs.critical(this, QStringLiteral("Erreur de fichiers d'entrée"),
                         QStringLiteral("Le nombre d'images d'entrée doit être égal au nombre "
                                        "d'images étalons."));
        return;
    }
    const QString folder =
        dialogs.get_existing_directory(this, QStringLiteral("Sélectionnez un dossier de sortie"),
                                       QString(), QFileDialog::ShowDirsOnly);
    if (folder.isEmpty())
        return;

    // The options are read now: the window is blocked by the progress window
    // until the run ends. The worker gets its own copies of everything it reads.
    ProcessingRequest request;
    request.shots = inputs;
    request.calibration = calibration;
    request.folder = folder;
    request.quality = 100 - ui->slider_compression->value();
    request.fps = ui->slider_fps->value();
    request.boomerang = ui->checkBox_boomerang->checkState() != Qt::Unchecked;
    request.long_side = ui->comboBox_video_size->currentData().toInt();
    request.gif = ui->checkBox_gif->isChecked();

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
    report_processing_run(outcome);
}

void MainWindow::report_processing_run(const ProcessingOutcome& outcome)
{
    const AlignedImages& frames = outcome.frames;
    const VideoExport& video = outcome.video;
    switch (outcome.failure()) {
    case ProcessingFailure::None:
        break;
    case ProcessingFailure::WrongShotCount:
        dialogs.critical(this, QStringLiteral("Erreur de fichiers d'entrée"),
                         QStringLiteral("Le nombre d'images d'entrée doit être égal au nombre "
                                        "d'images étalons."));
        break;
    case ProcessingFailure::UnreadableShot:
        dialogs.critical(nullptr, QStringLiteral("Image loading error"),
                         QStringLiteral("Couldn't load image with path ") +
                             frames.unreadable_input);
        break;
    case ProcessingFailure::ShotAmongFrames:
        dialogs.critical(this, QStringLiteral("Erreur de fichiers d'entrée"),
                         QStringLiteral("Le fichier '") + frames.input_among_frames +
                             QStringLiteral("' est une des images d'entrée et serait remplacé "
                                            "par une image recadrée. Choisissez un autre "
                                            "dossier de sortie."));
        break;
    case ProcessingFailure::UnwritableFrame:
        dialogs.critical(this, QStringLiteral("Erreur vidéo"),
                         QStringLiteral("Impossible d'écrire le fichier '%1' (%2) : la vidéo "
                                        "n'a pas été créée.")
                             .arg(frames.unwritable_output, frames.unwritable_reason));
        break;
    case ProcessingFailure::FramesStopped:
        dialogs.information(this, QStringLiteral("Traitement annulé"),
                            QStringLiteral("Le traitement a été annulé : %1 image(s) écrite(s) "
                                           "dans le dossier de sortie, aucune vidéo créée.")
                                .arg(frames.frame_count));
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
            video.written.isEmpty()
                ? QStringLiteral("Le traitement a été annulé : les images ont été écrites, "
                                 "aucune vidéo créée.")
                : QStringLiteral("Le traitement a été annulé : les images ont été écrites, ainsi "
                                 "que %1 ; %2 n'a pas été créé.")
                      .arg(video.written.join(QStringLiteral(", ")), video.unfinished));
        break;
    case ProcessingFailure::VideoFailed:
        dialogs.critical(
            this, QStringLiteral("Erreur vidéo"),
            (video.video_written()
                 ? QStringLiteral("Le fichier %1 n'a pas pu être créé.").arg(video.unfinished)
                 : QStringLiteral("La vidéo n'a pas pu être créée.")) +
                QStringLiteral(" ffmpeg : ") + video.error_line);
        break;
    }
}
