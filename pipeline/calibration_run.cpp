#include "pipeline/calibration_run.h"

#include "calibration/calibration_construction.h"

std::vector<int> CalibrationOutcome::unaligned() const
{
    std::vector<int> cameras;
    for (int i = 0; i < calibration.image_count; ++i) {
        if (!calibration.aligned[i])
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
    outcome.calibration =
        construct_calibration(request.references, request.thresholds, outcome.reference, log,
                              progress ? &progress->photos : nullptr);
    outcome.stopped = progress && progress->stop_requested();
    return outcome;
}
