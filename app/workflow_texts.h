#pragma once

#include <QSize>
#include <QPoint>
#include <QString>
#include <QStringList>

class CalibrationWorkflow;

// What the window says along the calibration workflow, in French.

// The instruction under the photo for the workflow's step.
QString workflow_instruction(const CalibrationWorkflow& workflow);
// The "Attention" box: the cameras detection did not align, to be clicked.
QString queued_cameras_text(const QStringList& queued, int camera_count);
// The "Calibrage incomplet" box.
QString incomplete_calibration_text(const QStringList& unaligned);
// The status bar during the manual steps, and once they were left.
QString manual_steps_keys_text();
QString manual_steps_left_text();
// The box after three clicks that gave no alignment.
QString failed_clicks_text();
// The status bar after a click beside the photo.
QString click_beside_photo_text(QPoint pixel, QSize photo);
