#include "pipeline/processing_plan.h"

#include "output/output_folder.h"
#include "photo/photo_problem.h"
#include "pipeline/photo_check.h"

#include <QFileInfo>

#include <limits>

EarlierRun earlier_run_in(const QString& folder, const QStringList& shots)
{
    EarlierRun earlier;
    earlier.files = earlier_run_files(folder);
    if (!earlier.files.isEmpty())
        earlier.shot = path_among(shots, folder, earlier.files);
    return earlier;
}

namespace {

// Where the subject stands in the reference camera's pixels: the mean x of the
// middle camera's stickers, or not a number for a rig without them.
double sticker_column(const RigCalibration& rig)
{
    double sum = 0;
    for (const cv::Point2d& sticker : rig.reference_stickers) {
        if (sticker == cv::Point2d())
            return std::numeric_limits<double>::quiet_NaN();
        sum += sticker.x;
    }
    return sum / double(rig.reference_stickers.size());
}

} // namespace

ProcessingPlan plan_processing(const RigCalibration& rig, const QStringList& shots,
                               const QString& folder, const ProcessingRequest& options,
                               bool check_photos, std::ostream& log)
{
    ProcessingPlan plan;
    plan.request = options;
    plan.request.shots = shots;
    plan.request.folder = folder;
    PlanProblem& problem = plan.problem;

    // A setting of every take, refused before any file of the run exists.
    if (options.overlay.wanted()) {
        problem.overlay_reason = overlay_problem(options.overlay.file);
        if (!problem.overlay_reason.isEmpty()) {
            problem.check = PlanCheck::Overlay;
            problem.shot = options.overlay.file;
            return plan;
        }
    }

    if (shots.size() != rig.camera_count()) {
        problem.check = PlanCheck::ShotCount;
        problem.shot_count = shots.size();
        problem.camera_count = rig.camera_count();
        return plan;
    }
    if (check_photos) {
        for (int camera = 0; camera < shots.size(); ++camera) {
            const QString reason = photo_problem(shots[camera], false);
            if (!reason.isEmpty())
                problem.unusable.push_back({camera, shots[camera], reason});
        }
        if (!problem.unusable.empty()) {
            problem.check = PlanCheck::UnusablePhotos;
            return plan;
        }
    }
    // Shots of another size than their reference: the same proportions carry
    // the calibration over, other proportions cannot.
    const ShotCalibration fitted = fit_calibration_to_shots(rig, shots, log);
    if (fitted.mismatch) {
        problem.check = PlanCheck::ShotSize;
        problem.mismatch = *fitted.mismatch;
        return plan;
    }
    plan.request.calibration = fitted.calibration;
    plan.request.sticker_column_x = sticker_column(rig);

    // The new run replaces an earlier one only once it is complete; a shot among
    // the earlier run's files would be lost with them.
    if (!folder.isEmpty()) {
        const EarlierRun earlier = earlier_run_in(folder, shots);
        plan.earlier_run = earlier.files;
        if (!earlier.shot.isEmpty()) {
            problem.check = PlanCheck::ShotAmongEarlierRun;
            problem.shot = earlier.shot;
        }
    }
    return plan;
}

QString plan_problem_text(const PlanProblem& problem)
{
    switch (problem.check) {
    case PlanCheck::None:
        break;
    case PlanCheck::Overlay:
        return QStringLiteral("'%1' : habillage impossible (%2)")
            .arg(problem.shot, problem.overlay_reason);
    case PlanCheck::ShotCount:
        return QStringLiteral("%1 photo%2 pour %3 caméra%4")
            .arg(problem.shot_count)
            .arg(problem.shot_count > 1 ? QStringLiteral("s") : QString())
            .arg(problem.camera_count)
            .arg(problem.camera_count > 1 ? QStringLiteral("s") : QString());
    case PlanCheck::UnusablePhotos:
        if (problem.unusable.empty())
            break;
        return QStringLiteral("'%1' : %2")
            .arg(QFileInfo(problem.unusable.front().path).fileName(),
                 problem.unusable.front().reason);
    case PlanCheck::ShotSize:
        return shot_size_problem(problem.mismatch);
    case PlanCheck::ShotAmongEarlierRun:
        return QStringLiteral("'%1' : c'est une des photos d'entrée, elle serait remplacée par une "
                              "image recadrée ; choisissez un autre dossier de sortie")
            .arg(problem.shot);
    }
    return QString();
}
