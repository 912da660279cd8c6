#pragma once

#include "detection/color_thresholds.h"
#include "detection/sticker_colour.h"
#include "pipeline/calibration_run.h"

#include <QImage>
#include <QPoint>
#include <QStringList>

#include <functional>
#include <optional>

class ProgressView;
class QWidget;
class UserDialogs;

// The colour click's calibration: the rig calibrated with the chosen preset
// behind a progress window. A cancelled run or a middle photo without its three
// stickers is told in a box and gives nothing.
class ColourClickCalibration
{
public:
    using RunWithProgress =
        std::function<void(const QString& title, const std::function<void()>& work,
                           const std::function<void(ProgressView&)>& refresh)>;

    // `preset_switched` shows a preset the calibration switched to.
    ColourClickCalibration(QWidget& window, UserDialogs& dialogs, RunWithProgress run_with_progress,
                           std::function<void(StickerColor)> preset_switched);

    StickerColor preset() const { return chosen_preset; }
    // A preset chosen: the next click starts from it, not from a colour learned before.
    void choose_preset(StickerColor color);
    // A rig in hand (calibrated or opened): the next click starts from its colour.
    void continue_from(const RigCalibration& rig);

    // Calibrates the rig of `references` from a click on `pixel` of `preview`, the
    // middle photo as shown. A click beside the photo keeps the colour as it is.
    std::optional<CalibrationOutcome> calibrate(const QStringList& references,
                                                const QImage& preview, QPoint pixel);

private:
    // The middle photo gave no sticker trio of the preset: says so, and offers the
    // other preset when the clicked pixel has it; true when taken.
    bool offer_other_preset(const QStringList& references, std::optional<QRgb> clicked);

    QWidget& window;
    UserDialogs& dialogs;
    const RunWithProgress run_with_progress;
    const std::function<void(StickerColor)> preset_switched;
    StickerColor chosen_preset = StickerColor::Yellow;
    std::optional<LearnedColour> learned_before;
};
