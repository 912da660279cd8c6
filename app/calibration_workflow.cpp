#include "app/calibration_workflow.h"

#include "calibration/manual_alignment.h"
#include "pipeline/hand_points.h"

#include <opencv2/imgproc.hpp>

#include <QFileInfo>
#include <QRect>

#include <cmath>

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
        .arg(QString::number(camera + 1), QFileInfo(reference_paths.value(camera)).fileName());
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
    changed_at_colour_step = false;
    before_manual_steps.reset();
}

WorkflowView CalibrationWorkflow::restart_colour()
{
    current = WorkflowState::AwaitColorClick;
    // Nothing was asked when the new colour was chosen: a change not saved
    // by then is one the click would lose.
    changed_at_colour_step = changed;
    before_manual_steps.reset();
    WorkflowView view;
    view.preview = true;
    return view;
}

WorkflowView CalibrationWorkflow::colour_calibrated(RigCalibration rig,
                                                    const ReferenceTriple& reference)
{
    Snapshot before{std::move(calibrated_rig), reference_triple, WorkflowState::AwaitColorClick,
                    changed, file_path, changed_at_colour_step};
    calibrated_rig = std::move(rig);
    reference_triple = reference;
    changed = true;
    changed_at_colour_step = false;
    file_path.clear();
    WorkflowView view = ask_for_unaligned(std::move(before));
    view.rig_changed = true;
    return view;
}

WorkflowView CalibrationWorkflow::open(RigCalibration rig, const QSet<int>& unreadable,
                                       const QString& path)
{
    calibrated_rig = std::move(rig);
    reference_triple = calibrated_rig.reference();
    reference_paths.clear();
    for (const CameraCalibration& camera : calibrated_rig.cameras)
        reference_paths << camera.reference_photo;
    unreadable_references = unreadable;
    current = WorkflowState::Idle;
    before_manual_steps.reset();
    changed = false;
    changed_at_colour_step = false;
    file_path = path;
    WorkflowView view =
        ask_for_unaligned({calibrated_rig, reference_triple, WorkflowState::Idle, false, path});
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
        enter_manual_steps({calibrated_rig, reference_triple, current, changed, file_path}, view);
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
    const int camera = pending.front();
    const cv::Point2d placed(point.x(), point.y());
    if (shown_photo.empty()) {
        snap = StickerSnap();
        snap.point = placed;
        snap.uncertainty = unsnapped_click_uncertainty;
    } else {
        snap = snap_hand_point(calibrated_rig, shown_photo, placed);
        log_snapped_point(camera, clicked, placed, snap, log);
    }
    clicked_points[clicked] = QPointF(snap.point.x, snap.point.y);
    clicked_uncertainty[clicked] = snap.uncertainty;
    if (++clicked < 3)
        return Click::Counted;

    CameraCalibration& entry = calibrated_rig.cameras[camera];
    const std::optional<CameraCalibration> aligned = align_camera_manually(
        entry, clicked_points, reference_triple, shown_photo_size, log, clicked_uncertainty);
    // Clicks that give no alignment leave a camera aligned before as it was.
    const bool was_aligned = entry.method != AlignmentMethod::NotAligned;
    if (aligned || (reference_triple.selected && was_aligned)) {
        if (aligned) {
            entry = *aligned;
            changed = true;
            // Three stickers close together turn a small error into a large one
            // at the frame's edges: say how large.
            log_corner_uncertainty(calibrated_rig, camera, log);
        }
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
    changed = before.changed;
    changed_at_colour_step = before.changed_at_colour_step;
    file_path = before.file;
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
    changed = true;
    changed_at_colour_step = changed_at_colour_step || current == WorkflowState::AwaitColorClick;
    view.finished = !was_complete && current == WorkflowState::Idle && complete();
    return view;
}

void CalibrationWorkflow::photo_shown(QSize size)
{
    shown_photo_size = size;
    shown_photo.release();
    expected = pending.empty() ? std::nullopt : expected_stickers(calibrated_rig, pending.front());
    expected_radius = 0.0;
    if (expected) {
        // Stickers stand some seven radii apart; a disc found at the first
        // expected place gives its size better.
        expected_radius = (cv::norm((*expected)[0] - (*expected)[1]) +
                           cv::norm((*expected)[1] - (*expected)[2])) /
                          14.0;
    }
}

void CalibrationWorkflow::photo_shown(const QImage& photo)
{
    photo_shown(photo.size());
    if (photo.isNull())
        return;
    const QImage rgb = photo.convertToFormat(QImage::Format_RGB888);
    const cv::Mat view(rgb.height(), rgb.width(), CV_8UC3, const_cast<uchar*>(rgb.constBits()),
                       static_cast<size_t>(rgb.bytesPerLine()));
    cv::cvtColor(view, shown_photo, cv::COLOR_RGB2BGR);
    if (expected) {
        const StickerSnap first = snap_hand_point(calibrated_rig, shown_photo, (*expected)[0]);
        if (first.snapped() && first.radius > 0.0)
            expected_radius = first.radius;
    }
}

std::optional<CalibrationWorkflow::ExpectedSticker> CalibrationWorkflow::expected_sticker() const
{
    if (current != WorkflowState::AwaitStickers || !expected || clicked > 2)
        return std::nullopt;
    const std::array<cv::Point2d, 3>& at = *expected;
    // The clicks so far say how far the neighbours' guess is off here; a
    // shift larger than half the stickers' spacing means they were clicked
    // in another order, and is left out.
    cv::Point2d shift(0.0, 0.0);
    for (int i = 0; i < clicked; ++i)
        shift += (cv::Point2d(clicked_points[i].x(), clicked_points[i].y()) - at[i]) / clicked;
    if (cv::norm(shift) > cv::norm(at[0] - at[1]) / 2.0)
        shift = cv::Point2d(0.0, 0.0);
    const cv::Point2d centre = at[clicked] + shift;
    return ExpectedSticker{QPointF(centre.x, centre.y), expected_radius};
}
