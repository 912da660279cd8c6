#pragma once

#include "calibration/rig_calibration.h"

#include <QDialog>
#include <QImage>
#include <QSize>

#include <map>

class PhotoZoom;
class PixelPicker;
class QLabel;
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

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    // The camera's reference photo aligned into the frame; null when it cannot be.
    const QImage& aligned(int camera);
    void redraw();

    RigCalibration rig;
    QSize frame;
    int current = 0;
    std::map<int, QImage> aligned_photos;

    PixelPicker* picture = nullptr;
    PhotoZoom* zoom = nullptr;
    QSlider* slider_camera = nullptr;
    QSlider* slider_opacity = nullptr;
    QLabel* label_camera = nullptr;
};
