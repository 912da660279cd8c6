#pragma once

#include "calibration/rig_calibration.h"
#include "pipeline/camera_drift.h"

#include <QDialog>
#include <QImage>
#include <QStringList>

#include <map>
#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;

// "Voir la correction": each moved camera's shot aligned as the run would cut
// it, with or without the correction (Space flips), the places its stickers
// had at calibration drawn as rings and where the shot puts them as crosses.
class DriftCorrectionView : public QDialog
{
    Q_OBJECT

public:
    DriftCorrectionView(const RigCalibration& rig, const std::vector<CameraDrift>& drift,
                        const QStringList& shots, QWidget* parent = nullptr);

    // The picture shown and its caption, for the current camera and choice.
    QImage picture() const { return shown; }
    QString caption() const;
    void set_corrected(bool corrected);

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void redraw();

    RigCalibration rig;
    std::vector<CameraDrift> drift;
    QStringList shots;
    std::vector<int> moved;
    std::map<int, QImage> shot_photos;
    QImage shown;

    QComboBox* combo_camera = nullptr;
    QCheckBox* check_corrected = nullptr;
    QLabel* label_picture = nullptr;
    QLabel* label_text = nullptr;
};
