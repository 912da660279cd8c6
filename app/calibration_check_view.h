#pragma once

#include "calibration/rig_calibration.h"
#include "detection/sticker_snap.h"

#include <opencv2/core/mat.hpp>

#include <QDialog>
#include <QImage>
#include <QRect>
#include <QSize>

#include <map>
#include <vector>

class PhotoZoom;
class PixelPicker;
class QLabel;
class QPushButton;
class QSlider;

// "Vérifier le calibrage": steps through the cameras of a rig, each camera's
// reference photo aligned as the output aligns it and blended over the middle
// camera's, with the reference sticker positions marked and the camera's
// alignment and fit error spelled out. Left / Right step, Space flips between
// the camera and the middle one; zoom as in the main window.
class CalibrationCheckView : public QDialog
{
    Q_OBJECT

public:
    explicit CalibrationCheckView(const RigCalibration& rig, QWidget* parent = nullptr);

    int camera() const { return current; }
    void show_camera(int camera);
    // "Recalibrer cette caméra ...": shows its reference photo for three clicks
    // on its stickers, as in the manual steps.
    void recalibrate_camera();

signals:
    // A camera was aligned again by hand: its new entry, which replaces it.
    void camera_recalibrated(int camera, const CameraCalibration& entry);

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    // The camera's reference photo aligned into the frame; null when it cannot be.
    const QImage& aligned(int camera);
    void redraw();
    void sticker_clicked(QPointF point);
    // The prompt for the next sticker of the camera being recalibrated, the
    // view zoomed onto where its neighbours say it is.
    void ask_for_sticker();

    RigCalibration rig;
    QRect frame; // of the reference frame, as the output cuts it
    int current = 0;
    std::map<int, QImage> aligned_photos;
    // Clicks collected while a camera is recalibrated; -1 when none is.
    int recalibrating = -1;
    QSize recalibrated_photo_size;
    std::vector<QPointF> clicks;
    std::vector<double> click_uncertainty;
    // The photo being recalibrated, for the clicks to snap on.
    cv::Mat recalibrated_photo;
    QString last_snap_status;

    PixelPicker* picture = nullptr;
    PhotoZoom* zoom = nullptr;
    QSlider* slider_camera = nullptr;
    QSlider* slider_opacity = nullptr;
    QLabel* label_camera = nullptr;
    QPushButton* button_recalibrate = nullptr;
};
