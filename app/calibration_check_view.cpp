#include "app/calibration_check_view.h"

#include "app/photo_zoom.h"
#include "app/pixel_picker.h"
#include "calibration/alignment_uncertainty.h"
#include "calibration/manual_alignment.h"
#include "output/calibration_check.h"
#include "photo/image_file.h"
#include "pipeline/hand_points.h"

#include <opencv2/imgproc.hpp>

#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QSlider>
#include <QVBoxLayout>

#include <algorithm>
#include <iostream>
#include <optional>

namespace {

QString method_text(AlignmentMethod method)
{
    switch (method) {
    case AlignmentMethod::Automatic:
        return QStringLiteral("alignée automatiquement");
    case AlignmentMethod::Manual:
        return QStringLiteral("alignée à la main");
    case AlignmentMethod::NotAligned:
        break;
    }
    return QStringLiteral("non alignée");
}

} // namespace

CalibrationCheckView::CalibrationCheckView(const RigCalibration& rig, QWidget* parent)
    : QDialog(parent), rig(rig), frame(check_frame_rect(rig))
{
    setObjectName(QStringLiteral("calibration_check"));
    setWindowTitle(QStringLiteral("Vérifier le calibrage"));
    resize(1000, 800);

    auto* area = new QScrollArea(this);
    area->setObjectName(QStringLiteral("check_scroll_area"));
    area->setWidgetResizable(true);
    area->setAlignment(Qt::AlignCenter);
    picture = new PixelPicker;
    picture->setObjectName(QStringLiteral("check_picture"));
    picture->setAlignment(Qt::AlignCenter);
    area->setWidget(picture);
    zoom = new PhotoZoom(area, picture, this);

    label_camera = new QLabel(this);
    label_camera->setObjectName(QStringLiteral("label_camera"));
    label_camera->setWordWrap(true);

    auto* previous = new QPushButton(QStringLiteral("◀ Précédente"), this);
    previous->setObjectName(QStringLiteral("button_previous"));
    auto* next = new QPushButton(QStringLiteral("Suivante ▶"), this);
    next->setObjectName(QStringLiteral("button_next"));
    for (QPushButton* button : {previous, next})
        button->setFocusPolicy(Qt::NoFocus);
    slider_camera = new QSlider(Qt::Horizontal, this);
    slider_camera->setObjectName(QStringLiteral("slider_camera"));
    slider_camera->setRange(0, std::max(0, rig.camera_count() - 1));
    slider_opacity = new QSlider(Qt::Horizontal, this);
    slider_opacity->setObjectName(QStringLiteral("slider_opacity"));
    slider_opacity->setRange(0, 100);
    slider_opacity->setValue(50);
    for (QSlider* slider : {slider_camera, slider_opacity})
        slider->setFocusPolicy(Qt::NoFocus);

    button_recalibrate = new QPushButton(QStringLiteral("Recalibrer cette caméra ..."), this);
    button_recalibrate->setObjectName(QStringLiteral("button_recalibrate"));
    button_recalibrate->setFocusPolicy(Qt::NoFocus);
    connect(button_recalibrate, &QPushButton::clicked, this,
            &CalibrationCheckView::recalibrate_camera);
    connect(picture, &PixelPicker::clicked, this, &CalibrationCheckView::sticker_clicked);

    auto* controls = new QHBoxLayout;
    controls->addWidget(previous);
    controls->addWidget(slider_camera, 2);
    controls->addWidget(next);
    controls->addWidget(new QLabel(QStringLiteral("Opacité :"), this));
    controls->addWidget(slider_opacity, 1);
    controls->addWidget(button_recalibrate);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(area, 1);
    layout->addWidget(label_camera);
    layout->addLayout(controls);

    connect(previous, &QPushButton::clicked, this, [this] { show_camera(current - 1); });
    connect(next, &QPushButton::clicked, this, [this] { show_camera(current + 1); });
    connect(slider_camera, &QSlider::valueChanged, this, &CalibrationCheckView::show_camera);
    connect(slider_opacity, &QSlider::valueChanged, this, &CalibrationCheckView::redraw);
    show_camera(0);
}

void CalibrationCheckView::recalibrate_camera()
{
    const QString path = rig.cameras[current].reference_photo;
    const QImage photo = is_readable_photo(path) ? read_oriented_image(path) : QImage();
    if (photo.isNull()) {
        label_camera->setText(QStringLiteral("Caméra %1 : la photo de référence '%2' est "
                                             "introuvable ou illisible.")
                                  .arg(current + 1)
                                  .arg(path));
        return;
    }
    recalibrating = current;
    recalibrated_photo_size = photo.size();
    const QImage rgb = photo.convertToFormat(QImage::Format_RGB888);
    cv::cvtColor(cv::Mat(rgb.height(), rgb.width(), CV_8UC3, const_cast<uchar*>(rgb.constBits()),
                         static_cast<size_t>(rgb.bytesPerLine())),
                 recalibrated_photo, cv::COLOR_RGB2BGR);
    clicks.clear();
    click_uncertainty.clear();
    last_snap_status.clear();
    picture->set_marks({});
    picture->setPixmap(QPixmap::fromImage(photo));
    zoom->photo_changed();
    ask_for_sticker();
}

void CalibrationCheckView::ask_for_sticker()
{
    picture->armed = true;
    const QString prompt =
        QStringLiteral("Cliquez sur le centre approximatif du sticker #%1 (image #%2 : %3)")
            .arg(clicks.size() + 1)
            .arg(recalibrating + 1)
            .arg(QFileInfo(rig.cameras[recalibrating].reference_photo).fileName());
    label_camera->setText(last_snap_status.isEmpty() ? prompt
                                                     : last_snap_status + QStringLiteral(". ") +
                                                           prompt);
    // The neighbours' stickers, some seven radii apart, say where and how large.
    if (const auto expected = expected_stickers(rig, recalibrating)) {
        const std::array<cv::Point2d, 3>& at = *expected;
        const double radius = (cv::norm(at[0] - at[1]) + cv::norm(at[1] - at[2])) / 14.0;
        const cv::Point2d& next = at[clicks.size()];
        zoom->centre_on(QPointF(next.x, next.y),
                        std::max(zoom->zoom(), sticker_zoom(radius, zoom->view_size())));
    }
}

void CalibrationCheckView::sticker_clicked(QPointF point)
{
    if (recalibrating < 0)
        return;
    const StickerSnap snap =
        snap_hand_point(rig, recalibrated_photo, cv::Point2d(point.x(), point.y()));
    log_snapped_point(recalibrating, static_cast<int>(clicks.size()),
                      cv::Point2d(point.x(), point.y()), snap, std::cout);
    clicks.push_back(QPointF(snap.point.x, snap.point.y));
    click_uncertainty.push_back(snap.uncertainty);
    last_snap_status = snap.status();
    std::vector<QPoint> marks;
    for (const QPointF& click : clicks)
        marks.push_back(click.toPoint());
    picture->set_marks(std::move(marks));
    if (clicks.size() < 3) {
        ask_for_sticker();
        return;
    }
    const int camera = recalibrating;
    recalibrating = -1;
    recalibrated_photo.release();
    picture->set_marks({});
    const std::optional<CameraCalibration> entry = align_camera_manually(
        rig.cameras[camera], {clicks[0], clicks[1], clicks[2]}, rig.reference(),
        recalibrated_photo_size, std::cout,
        {click_uncertainty[0], click_uncertainty[1], click_uncertainty[2]});
    if (entry) {
        rig.cameras[camera] = *entry;
        aligned_photos.clear();
        frame = check_frame_rect(rig);
        log_corner_uncertainty(rig, camera, std::cout);
        emit camera_recalibrated(camera, *entry);
    }
    show_camera(camera);
    if (!entry)
        label_camera->setText(QStringLiteral("Caméra %1 : ces trois clics ne sont pas alignés ; "
                                             "la caméra garde son calibrage.")
                                  .arg(camera + 1));
}

void CalibrationCheckView::show_camera(int camera)
{
    if (rig.cameras.empty() || recalibrating >= 0)
        return;
    current = std::clamp(camera, 0, rig.camera_count() - 1);
    slider_camera->setValue(current);
    redraw();
}

void CalibrationCheckView::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Left:
        show_camera(current - 1);
        return;
    case Qt::Key_Right:
        show_camera(current + 1);
        return;
    case Qt::Key_Space:
        // Flips between this camera alone and the middle one alone.
        slider_opacity->setValue(slider_opacity->value() >= 50 ? 0 : 100);
        return;
    default:
        break;
    }
    if (event->matches(QKeySequence::ZoomIn))
        zoom->zoom_in();
    else if (event->matches(QKeySequence::ZoomOut))
        zoom->zoom_out();
    else if (event->modifiers() & Qt::ControlModifier && event->key() == Qt::Key_0)
        zoom->fit();
    else if (event->modifiers() & Qt::ControlModifier && event->key() == Qt::Key_1)
        zoom->actual_size();
    else
        QDialog::keyPressEvent(event);
}

const QImage& CalibrationCheckView::aligned(int camera)
{
    auto found = aligned_photos.find(camera);
    if (found == aligned_photos.end()) {
        const CameraCalibration& entry = rig.cameras[camera];
        const QImage photo = is_readable_photo(entry.reference_photo)
                                 ? read_oriented_image(entry.reference_photo)
                                 : QImage();
        found = aligned_photos.emplace(camera, aligned_photo(photo, entry, frame)).first;
    }
    return found->second;
}

void CalibrationCheckView::redraw()
{
    if (rig.cameras.empty() || frame.isEmpty())
        return;
    const CameraCalibration& entry = rig.cameras[current];
    const int middle = rig.camera_count() / 2;
    const CameraCheck check = check_camera(rig, current, frame);

    QImage shown(frame.size(), QImage::Format_RGB32);
    shown.fill(Qt::black);
    {
        QPainter painter(&shown);
        if (!aligned(middle).isNull())
            painter.drawImage(0, 0, aligned(middle));
        painter.setOpacity(slider_opacity->value() / 100.0);
        if (!aligned(current).isNull())
            painter.drawImage(0, 0, aligned(current));
        painter.setOpacity(1.0);
        painter.setRenderHint(QPainter::Antialiasing);
        const double radius = std::max(6.0, frame.width() / 150.0);
        if (check.fit_error >= 0) {
            // The reference positions as rings, this camera's stickers as crosses.
            painter.setPen(QPen(QColor(255, 40, 40), std::max(2.0, radius / 4)));
            for (const QPointF& point : check.reference)
                painter.drawEllipse(point + QPointF(0.5, 0.5), radius, radius);
            painter.setPen(QPen(QColor(40, 255, 80), std::max(2.0, radius / 5)));
            for (const QPointF& point : check.stickers) {
                const QPointF centre = point + QPointF(0.5, 0.5);
                painter.drawLine(centre - QPointF(radius, 0), centre + QPointF(radius, 0));
                painter.drawLine(centre - QPointF(0, radius), centre + QPointF(0, radius));
            }
        }
    }
    picture->setPixmap(QPixmap::fromImage(shown));
    zoom->photo_changed();

    QString text = QStringLiteral("Caméra %1 / %2 (%3) : %4")
                       .arg(current + 1)
                       .arg(rig.camera_count())
                       .arg(QFileInfo(entry.reference_photo).fileName(), method_text(entry.method));
    // Three stickers fit a similarity almost exactly whatever their error: the
    // sticker residual says little; the corners' uncertainty says what the
    // frames will show.
    const bool flagged = check.corner_uncertainty > corner_uncertainty_limit;
    if (entry.method != AlignmentMethod::NotAligned) {
        text += QStringLiteral(" ; rotation %1°, échelle %2, décalage (%3, %4) px")
                    .arg(entry.transform.rotation_deg, 0, 'f', 2)
                    .arg(entry.transform.scale, 0, 'f', 4)
                    .arg(entry.transform.translation_x, 0, 'f', 1)
                    .arg(entry.transform.translation_y, 0, 'f', 1);
        if (check.corner_uncertainty >= 0.0)
            text += QStringLiteral(" ; coins de l'image incertains de %1 px")
                        .arg(check.corner_uncertainty, 0, 'f', 2);
        if (flagged)
            text += QStringLiteral(" : à recalibrer");
        text += QStringLiteral(" ; écart des stickers %1 px").arg(check.fit_error, 0, 'f', 2);
    }
    label_camera->setStyleSheet(flagged ? QStringLiteral("color: #c62828;") : QString());
    if (aligned(current).isNull() && entry.method != AlignmentMethod::NotAligned)
        text += QStringLiteral(" (photo de référence introuvable)");
    label_camera->setText(text);
}
