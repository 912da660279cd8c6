#include "app/drift_correction_view.h"

#include "app/drift_preview.h"
#include "output/calibration_check.h"
#include "photo/image_file.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

DriftCorrectionView::DriftCorrectionView(const RigCalibration& rig,
                                         const std::vector<CameraDrift>& drift,
                                         const QStringList& shots, QWidget* parent)
    : QDialog(parent), rig(rig), drift(drift), shots(shots), moved(moved_cameras(drift))
{
    setObjectName(QStringLiteral("drift_correction"));
    setWindowTitle(QStringLiteral("Voir la correction"));
    resize(1000, 800);

    label_picture = new QLabel(this);
    label_picture->setObjectName(QStringLiteral("correction_picture"));
    label_picture->setAlignment(Qt::AlignCenter);
    label_picture->setMinimumSize(320, 240);
    label_text = new QLabel(this);
    label_text->setObjectName(QStringLiteral("label_correction"));
    label_text->setWordWrap(true);

    combo_camera = new QComboBox(this);
    combo_camera->setObjectName(QStringLiteral("comboBox_moved_camera"));
    for (const int camera : moved)
        combo_camera->addItem(QStringLiteral("Caméra %1").arg(camera + 1), camera);
    check_corrected = new QCheckBox(QStringLiteral("Avec la correction"), this);
    check_corrected->setObjectName(QStringLiteral("checkBox_corrected"));
    check_corrected->setChecked(true);
    for (QWidget* control : {static_cast<QWidget*>(combo_camera),
                             static_cast<QWidget*>(check_corrected)})
        control->setFocusPolicy(Qt::NoFocus);
    auto* close = new QPushButton(QStringLiteral("Fermer"), this);
    close->setFocusPolicy(Qt::NoFocus);

    auto* controls = new QHBoxLayout;
    controls->addWidget(combo_camera);
    controls->addWidget(check_corrected);
    controls->addStretch(1);
    controls->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(label_picture, 1);
    layout->addWidget(label_text);
    layout->addLayout(controls);

    connect(combo_camera, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &DriftCorrectionView::redraw);
    connect(check_corrected, &QCheckBox::toggled, this, &DriftCorrectionView::redraw);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    redraw();
}

void DriftCorrectionView::set_corrected(bool corrected)
{
    check_corrected->setChecked(corrected);
}

QString DriftCorrectionView::caption() const
{
    return label_text->text();
}

void DriftCorrectionView::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Space) {
        check_corrected->toggle();
        return;
    }
    QDialog::keyPressEvent(event);
}

void DriftCorrectionView::redraw()
{
    const int index = combo_camera->currentIndex();
    if (index < 0 || index >= int(moved.size()))
        return;
    const int camera = moved[std::size_t(index)];
    auto found = shot_photos.find(camera);
    if (found == shot_photos.end()) {
        const QString path = camera < shots.size() ? shots[camera] : QString();
        found = shot_photos
                    .emplace(camera, is_readable_photo(path) ? read_oriented_image(path) : QImage())
                    .first;
    }
    const QRect frame = check_frame_rect(rig);
    const DriftPreview preview =
        drift_preview(rig, camera, drift[std::size_t(camera)].motion, frame, found->second);
    const bool corrected = check_corrected->isChecked();

    shown = QImage(frame.size(), QImage::Format_RGB32);
    shown.fill(Qt::black);
    {
        QPainter painter(&shown);
        const QImage& shot = corrected ? preview.shot_corrected : preview.shot_uncorrected;
        if (!shot.isNull())
            painter.drawImage(0, 0, shot);
        painter.setRenderHint(QPainter::Antialiasing);
        // The colours and marks of the check view: rings where the stickers
        // belong, crosses where this shot puts them.
        const double radius = std::max(6.0, frame.width() / 150.0);
        painter.setPen(QPen(QColor(255, 40, 40), std::max(2.0, radius / 4)));
        for (const QPointF& point : preview.calibrated_place)
            painter.drawEllipse(point + QPointF(0.5, 0.5), radius, radius);
        painter.setPen(QPen(QColor(40, 255, 80), std::max(2.0, radius / 5)));
        for (const QPointF& point : corrected ? preview.corrected : preview.uncorrected) {
            const QPointF centre = point + QPointF(0.5, 0.5);
            painter.drawLine(centre - QPointF(radius, 0), centre + QPointF(radius, 0));
            painter.drawLine(centre - QPointF(0, radius), centre + QPointF(0, radius));
        }
    }
    label_picture->setPixmap(QPixmap::fromImage(shown).scaled(
        label_picture->size(), Qt::KeepAspectRatio, Qt::SmoothTransformation));

    QString text = drift_text(camera, drift[std::size_t(camera)]) +
                   (corrected ? QStringLiteral(" ; avec la correction")
                              : QStringLiteral(" ; sans la correction"));
    if (found->second.isNull())
        text += QStringLiteral(" (photo introuvable ou illisible)");
    text += QStringLiteral(". Cercles rouges : place des stickers au calibrage ; croix vertes : "
                           "stickers de cette photo. Espace : avec ou sans la correction.");
    label_text->setText(text);
}
