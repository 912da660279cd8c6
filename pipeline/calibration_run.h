#pragma once

#include "calibration/calibration.h"
#include "calibration/rig_calibration.h"
#include "detection/color_thresholds.h"
#include "detection/reference_selection.h"
#include "detection/sticker_colour.h"
#include "detection/sticker_snap.h"
#include "pipeline/run_step.h"
#include "support/batch_progress.h"

#include <opencv2/core/types.hpp>

#include <QStringList>

#include <array>
#include <iosfwd>
#include <optional>
#include <vector>

// What a calibration run needs: the reference photos in camera order, the sticker
// colour, and the reference configuration in force (kept when the selection fails).
struct CalibrationRequest
{
    QStringList references;
    StickerColor color = StickerColor::Yellow;
    // A colour given (#RRGGBB, or the one a calibration learned): the stickers are
    // masked by it instead of the preset's bounds.
    std::optional<LearnedColour> colour;
    // A click on a sticker of the middle photo, in its pixels: the colour is
    // learned there, starting from `colour` or else the preset's.
    std::optional<cv::Point> colour_click;
    ReferenceTriple reference;
};

struct CalibrationOutcome
{
    // The rig's calibration as it is saved, and its alignments as the output reads them.
    RigCalibration rig;
    Calibration calibration;
    // The configuration every camera is aligned onto; `selected` is false when the
    // middle photo's stickers were not found (and none was in force before).
    ReferenceTriple reference;
    // A stop request cut the run short: the record is incomplete and must not
    // replace the one in use.
    bool stopped = false;
    // Why no colour could be learned at the click (a French sentence); nothing
    // is calibrated then.
    QString colour_refusal;

    // The cameras (0-based) whose photo is not aligned, in camera order.
    std::vector<int> unaligned() const;
};

// Progress of a calibration run: the worker counts photos, anyone reads the step
// or asks to stop. Safe to use from any thread.
class CalibrationProgress
{
public:
    explicit CalibrationProgress(int photo_count) : photo_count(photo_count) {}

    RunStep step() const;
    void request_stop() { photos.request_stop(); }
    bool stop_requested() const { return photos.stop_requested(); }

    BatchProgress photos;

private:
    const int photo_count;
};

// Calibrates the rig from `request` (the colour learned at the click first, then
// detection and alignment of every photo, with their diagnostic lines on `log`). Blocks until done; run it on a worker thread
// to keep a window responsive.
CalibrationOutcome run_calibration(const CalibrationRequest& request, std::ostream& log,
                                   CalibrationProgress* progress = nullptr);

// Aligns `camera` of `rig` from its three sticker centres given by hand (in any
// order, in its reference photo's pixels) onto `reference`, with the diagnostic
// lines on `log`. On success the entry becomes a manual one and true is returned;
// points that are not in line leave the camera not aligned. `uncertainty`
// says how far each point may lie from its sticker's centre (pixels).
bool align_camera_by_hand(RigCalibration& rig, int camera, const std::array<cv::Point2d, 3>& points,
                          const ReferenceTriple& reference, std::ostream& log,
                          const std::array<double, 3>& uncertainty = {
                              unsnapped_click_uncertainty, unsnapped_click_uncertainty,
                              unsnapped_click_uncertainty});
