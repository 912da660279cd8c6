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
    outcome.rig = construct_rig_calibration(request.references, request.color, outcome.reference,
                                            log, progress ? &progress->photos : nullptr);
    outcome.calibration = outcome.rig.calibration();
    outcome.stopped = progress && progress->stop_requested();
    return outcome;
}
