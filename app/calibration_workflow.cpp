#include "app/calibration_workflow.h"

#include "calibration/manual_alignment.h"

#include <QFileInfo>
#include <QRect>

std::vector<QPointF> CalibrationWorkflow::clicks() const
{
    if (current != WorkflowState::AwaitStickers)
        return {};
    return {clicked_points.begin(), clicked_points.begin() + clicked};
}

bool CalibrationWorkflow::complete() const
{
    for (const CameraCalibration& camera : calibrated_rig.cameras) {
        if (camera.method == AlignmentMethod::NotAligned)
            return false;
    }
    return true;
}

QString CalibrationWorkflow::camera_name(int camera) const
{
    return QStringLiteral("#%1 : %2")
        .arg(QString::number(camera), QFileInfo(reference_paths.value(camera)).fileName());
}

QStringList CalibrationWorkflow::unaligned_cameras() const
{
    QStringList cameras;
    for (int camera = 0; camera < calibrated_rig.camera_count(); ++camera) {
        if (calibrated_rig.cameras[camera].method != AlignmentMethod::NotAligned)
            continue;
        QString name = camera_name(camera);
        if (unreadable_references.contains(camera))
            name += QStringLiteral(" (photo de référence introuvable ou illisible)");
        cameras << name;
    }
    return cameras;
}

void CalibrationWorkflow::choose_references(const QStringList& paths, const QSet<int>& unreadable)
{
    reference_paths = paths;
    unreadable_references = unreadable;
    current = WorkflowState::AwaitColorClick;
    before_manual_steps.reset();
}

WorkflowView CalibrationWorkflow::restart_colour()
{
    current = WorkflowState::AwaitColorClick;
    before_manual_steps.reset();
    WorkflowView view;
    view.preview = true;
    return view;
}

WorkflowView CalibrationWorkflow::colour_calibrated(RigCalibration rig,
                                                    const ReferenceTriple& reference)
{
    Snapshot before{std::move(calibrated_rig), reference_triple, WorkflowState::AwaitColorClick};
    calibrated_rig = std::move(rig);
    reference_triple = reference;
    WorkflowView view = ask_for_unaligned(std::move(before));
    view.rig_changed = true;
    return view;
}

WorkflowView CalibrationWorkflow::open(RigCalibration rig, const QSet<int>& unreadable)
{
    calibrated_rig = std::move(rig);
    reference_triple = calibrated_rig.reference();
    reference_paths.clear();
    for (const CameraCalibration& camera : calibrated_rig.cameras)
        reference_paths << camera.reference_photo;
    unreadable_references = unreadable;
    current = WorkflowState::Idle;
    before_manual_steps.reset();
    WorkflowView view =
        ask_for_unaligned({calibrated_rig, reference_triple, WorkflowState::Idle});
    view.rig_changed = true;
    return view;
}

WorkflowView CalibrationWorkflow::ask_for_unaligned(Snapshot before)
{
    // A photo that cannot be read cannot be clicked either: its camera stays not aligned.
    pending.clear();
    for (int camera = 0; camera < calibrated_rig.camera_count(); ++camera) {
        if (calibrated_rig.cameras[camera].method == AlignmentMethod::NotAligned &&
            !unreadable_references.contains(camera))
            pending.push_back(camera);
    }
    WorkflowView view;
    for (int camera : pending)
        view.queued << camera_name(camera);
    if (!pending.empty())
        enter_manual_steps(std::move(before), view);
    advance(view);
    return view;
}

WorkflowView CalibrationWorkflow::manual_pass()
{
    WorkflowView view;
    const int count = reference_paths.size();
    if (count > 0)
        enter_manual_steps({calibrated_rig, reference_triple, current}, view);
    // One entry per reference photo: those kept go on as they were until clicked.
    calibrated_rig.cameras.resize(count);
    pending.clear();
    for (int i = 0; i < count; ++i) {
        if (calibrated_rig.cameras[i].reference_photo.isEmpty())
            calibrated_rig.cameras[i].reference_photo = reference_paths.at(i);
        if (!unreadable_references.contains(i))
            pending.push_back(i);
    }
    advance(view);
    return view;
}

void CalibrationWorkflow::enter_manual_steps(Snapshot before, WorkflowView& view)
{
    // A pass restarted inside the manual steps still goes back to where they began.
    if (!before_manual_steps)
        before_manual_steps = std::move(before);
    view.manual_steps_started = true;
}

void CalibrationWorkflow::advance(WorkflowView& view)
{
    clicked = 0;
    if (pending.empty()) {
        current = WorkflowState::Idle;
        before_manual_steps.reset();
        view.finished = true;
        return;
    }
    current = WorkflowState::AwaitStickers;
    view.pending_photo = true;
}

CalibrationWorkflow::Click CalibrationWorkflow::sticker_click(QPointF point, QPoint pixel,
                                                              std::ostream& log,
                                                              WorkflowView& view)
{
    if (current != WorkflowState::AwaitStickers)
        return Click::Ignored;
    if (!QRect(QPoint(0, 0), shown_photo_size).contains(pixel))
        return Click::Outside;
    clicked_points[clicked] = point;
    if (++clicked < 3)
        return Click::Counted;

    const int camera = pending.front();
    CameraCalibration& entry = calibrated_rig.cameras[camera];
    const std::optional<CameraCalibration> aligned =
        align_camera_manually(entry, clicked_points, reference_triple, shown_photo_size, log);
    // Clicks that give no alignment leave a camera aligned before as it was.
    const bool was_aligned = entry.method != AlignmentMethod::NotAligned;
    if (aligned || (reference_triple.selected && was_aligned)) {
        if (aligned)
            entry = *aligned;
        view.rig_changed = true;
        pending.erase(pending.begin());
    } else {
        view.clicks_failed = true;
    }
    advance(view);
    return Click::Done;
}

bool CalibrationWorkflow::undo()
{
    if (current != WorkflowState::AwaitStickers || clicked == 0)
        return false;
    --clicked;
    return true;
}

std::optional<WorkflowView> CalibrationWorkflow::leave()
{
    if (!before_manual_steps)
        return std::nullopt;
    Snapshot before = std::move(*before_manual_steps);
    before_manual_steps.reset();
    pending.clear();
    clicked = 0;
    calibrated_rig = std::move(before.rig);
    reference_triple = before.reference;
    WorkflowView view;
    view.rig_changed = true;
    view.preview = true;
    if (before.state == WorkflowState::AwaitColorClick) {
        current = WorkflowState::AwaitColorClick;
    } else {
        current = WorkflowState::Idle;
        view.finished = true;
    }
    return view;
}

WorkflowView CalibrationWorkflow::camera_realigned(int camera, const CameraCalibration& entry)
{
    WorkflowView view;
    if (camera < 0 || camera >= calibrated_rig.camera_count())
        return view;
    const bool was_complete = complete();
    calibrated_rig.cameras[camera] = entry;
    view.finished = !was_complete && current == WorkflowState::Idle && complete();
    return view;
}
