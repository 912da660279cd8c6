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

// The colour click's calibration: the sticker colour learned where the
// photographer clicked (the preset "Jaune" / "Rose", or the colour learned
// before, as the starting guess), then the rig calibrated with it behind a
// progress window. A click that cannot be a sticker, a cancelled run or a
// middle photo without its three stickers is told in a box and gives nothing.
class ColourClickCalibration
{
public:
    using RunWithProgress =
        std::function<void(const QString& title, const std::function<void()>& work,
                           const std::function<void(ProgressView&)>& refresh)>;

    ColourClickCalibration(QWidget& window, UserDialogs& dialogs, RunWithProgress run_with_progress);

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
    void report_no_sticker_trio(const QStringList& references,
                                const std::optional<LearnedColour>& learned);

    QWidget& window;
    UserDialogs& dialogs;
    const RunWithProgress run_with_progress;
    StickerColor chosen_preset = StickerColor::Yellow;
    std::optional<LearnedColour> learned_before;
};
