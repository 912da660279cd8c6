#include "pipeline/calibration_run.h"

#include "calibration/alignment.h"
#include "calibration/calibration_construction.h"
#include "calibration/manual_alignment.h"
#include "photo/image_reading.h"

#include <QPointF>

#include <algorithm>
#include <optional>

std::vector<int> CalibrationOutcome::unaligned() const
{
    std::vector<int> cameras;
    for (int i = 0; i < rig.camera_count(); ++i) {
        if (rig.cameras[i].method == AlignmentMethod::NotAligned)
            cameras.push_back(i);
    }
    return cameras;
}

RunStep CalibrationProgress::step() const
{
    return {QStringLiteral("Alignement des images"), photos.done(), photo_count};
}

CalibrationOutcome run_calibration(const CalibrationRequest& request, std::ostream& log,
                                   CalibrationProgress* progress)
{
    CalibrationOutcome outcome;
    outcome.reference = request.reference;
    std::optional<LearnedColour> colour = request.colour;
    if (request.colour_click && !request.references.isEmpty()) {
        const cv::Point click = *request.colour_click;
        const QString& middle = request.references[request.references.size() / 2];
        const cv::Mat image = read_bgr_image(middle);
        const ColourLearning learned =
            image.empty()
                ? ColourLearning{std::nullopt,
                                 QStringLiteral("la photo '%1' est illisible").arg(middle)}
                : learn_colour(image, click, colour ? *colour : preset_colour(request.color));
        if (!learned.colour) {
            log << "no sticker colour at (" << click.x << ", " << click.y << ")" << std::endl;
            outcome.colour_refusal = learned.refusal;
            outcome.rig.sticker_color = request.color;
            return outcome;
        }
        colour = learned.colour;
        log << "Sticker colour learned at (" << click.x << ", " << click.y
            << "): hue " << colour->hue << ", chroma " << colour->chroma << std::endl;
    }
    outcome.rig = construct_rig_calibration(request.references, request.color, colour,
                                            outcome.reference, log,
                                            progress ? &progress->photos : nullptr);
    outcome.calibration = outcome.rig.calibration();
    outcome.stopped = progress && progress->stop_requested();
    return outcome;
}

bool align_camera_by_hand(RigCalibration& rig, int camera, const std::array<cv::Point2d, 3>& points,
                          const ReferenceTriple& reference, std::ostream& log,
                          const std::array<double, 3>& uncertainty)
{
    CameraCalibration& entry = rig.cameras.at(camera);
    const std::optional<CameraCalibration> aligned =
        align_camera_manually(entry,
                              {QPointF(points[0].x, points[0].y), QPointF(points[1].x, points[1].y),
                               QPointF(points[2].x, points[2].y)},
                              reference, entry.reference_size, log, uncertainty);
    if (!aligned) {
        entry.method = AlignmentMethod::NotAligned;
        entry.transform = ImageAlignment();
        entry.stickers = {};
        entry.sticker_uncertainty = {};
        return false;
    }
    entry = *aligned;
    return true;
}
