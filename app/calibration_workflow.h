#pragma once

#include "app/workflow_state.h"
#include "calibration/rig_calibration.h"
#include "detection/reference_selection.h"
#include "detection/sticker_snap.h"

#include <opencv2/core/mat.hpp>

#include <QImage>
#include <QPoint>
#include <QPointF>
#include <QSet>
#include <QSize>
#include <QStringList>

#include <array>
#include <iosfwd>
#include <optional>
#include <vector>

// What the window must show after an input of the workflow, beyond the state
// itself (the instruction and the click marks follow from the state).
struct WorkflowView
{
    // The rig in hand was replaced or changed: a view of the old one must go.
    bool rig_changed = false;
    // Cameras newly queued for clicks, as "#k : photo": the "Attention" box.
    QStringList queued;
    // The manual steps began: the status bar tells their keys.
    bool manual_steps_started = false;
    // The last three clicks gave no alignment: the camera is asked for again.
    bool clicks_failed = false;
    // The photo of the front pending camera is to be shown (and its size given back).
    bool pending_photo = false;
    // The middle reference photo is to be shown again.
    bool preview = false;
    // The workflow has just ended at Idle: the window says calibrated, or which
    // cameras a run still needs.
    bool finished = false;
};

// The calibration workflow without its widgets: the rig in hand and its
// reference photos, the step (colour click, three sticker clicks on each
// pending camera), the clicks so far and what Escape goes back to. The window
// feeds it inputs and shows what each returns.
class CalibrationWorkflow
{
public:
    WorkflowState state() const { return current; }
    // In AwaitStickers, the sticker clicked next (0, 1 or 2).
    int sticker() const { return clicked; }
    const RigCalibration& rig() const { return calibrated_rig; }
    const ReferenceTriple& reference() const { return reference_triple; }
    const QStringList& references() const { return reference_paths; }
    bool in_manual_steps() const { return before_manual_steps.has_value(); }
    // The camera whose photo takes the next sticker clicks; -1 when none.
    int pending_camera() const { return pending.empty() ? -1 : pending.front(); }
    // The clicks counted on the photo in hand.
    std::vector<QPointF> clicks() const;
    // Every camera aligned: a run can use the rig.
    bool complete() const;
    // The cameras not aligned, as "#k : photo", unreadable ones said so.
    QStringList unaligned_cameras() const;

    // New reference photos (with the cameras whose photo cannot be read): the
    // colour click comes next; the rig in hand stays until it succeeds.
    void choose_references(const QStringList& paths, const QSet<int>& unreadable);
    // Back to the colour click, dropping the manual steps under way.
    WorkflowView restart_colour();
    // A calibration from the colour click gave `rig` onto `reference`; the cameras
    // it left unaligned are queued for clicks, Escape going back to the colour click.
    WorkflowView colour_calibrated(RigCalibration rig, const ReferenceTriple& reference);
    // A saved calibration replaces the rig; its photos are its references.
    // Cameras it leaves unaligned are queued, Escape going back to the file as read.
    WorkflowView open(RigCalibration rig, const QSet<int>& unreadable,
                      const QString& path = QString());
    // "Tout calibrer manuellement": every readable camera is clicked again, those
    // kept going on as they were until clicked.
    WorkflowView manual_pass();
    // The size of the pending camera's photo as shown; clicks outside it do not count.
    void photo_shown(QSize size);
    // The pending camera's photo as shown: clicks on it snap to its stickers.
    void photo_shown(const QImage& photo);
    QSize photo_size() const { return shown_photo_size; }
    // Where the last counted click went (the click itself when nothing round was
    // near it, or when no photo was given to snap on).
    const StickerSnap& last_snap() const { return snap; }

    // Where sticker sticker() of the pending photo should be and how large a
    // sticker is there (radius, photo pixels): the view is brought there.
    struct ExpectedSticker
    {
        QPointF centre;
        double radius = 0.0;
    };
    std::optional<ExpectedSticker> expected_sticker() const;

    // The rig in hand differs from the calibration last opened or saved.
    bool modified() const { return changed; }
    // The rig in hand holds a change that no question has covered while it
    // waits for the click that replaces it: made in the check view after new
    // references were chosen (choosing them asks), or there when a new colour
    // was chosen (which asks nothing).
    bool changed_awaiting_colour() const { return changed && changed_at_colour_step; }
    // The calibration file the rig in hand was opened from or saved to; empty
    // for one made from reference photos and not saved yet.
    const QString& file() const { return file_path; }
    // The rig in hand was just saved to `path`.
    void saved(const QString& path)
    {
        changed = false;
        file_path = path;
    }

    enum class Click
    {
        Ignored, // no sticker click expected
        Outside, // beside the photo: not counted
        Counted, // the next sticker is asked for
        Done,    // the third click: see the view
    };
    // A click on sticker sticker() of the pending photo, `point` in its pixels
    // and `pixel` the pixel under it. On the third, the camera is aligned
    // (diagnostic lines on `log`) into `view`.
    Click sticker_click(QPointF point, QPoint pixel, std::ostream& log, WorkflowView& view);
    // Takes back the last click on the photo in hand; false when there is none.
    bool undo();
    // Escape: leaves the manual steps, restoring the rig and step from before
    // them; nothing when there are none.
    std::optional<WorkflowView> leave();
    // A camera realigned from the check view; a camera the rig lacked, aligned
    // there while idle, completes the rig as one clicked here would.
    WorkflowView camera_realigned(int camera, const CameraCalibration& entry);

private:
    // What Escape goes back to from the manual steps.
    struct Snapshot
    {
        RigCalibration rig;
        ReferenceTriple reference;
        WorkflowState state = WorkflowState::Idle;
        bool changed = false;
        QString file;
        bool changed_at_colour_step = false;
    };

    QString camera_name(int camera) const;
    // Queues every unaligned camera whose photo can be shown, entering the manual
    // steps with `before` when there is one, then goes on.
    WorkflowView ask_for_unaligned(Snapshot before);
    void enter_manual_steps(Snapshot before, WorkflowView& view);
    // The first pending camera's clicks, or the end of the workflow.
    void advance(WorkflowView& view);

    WorkflowState current = WorkflowState::Idle;
    int clicked = 0;
    std::array<QPointF, 3> clicked_points;
    // How far each click may lie from its sticker's centre (pixels).
    std::array<double, 3> clicked_uncertainty{};
    StickerSnap snap;
    // The pending photo in OpenCV's order, to snap clicks on; empty when none.
    cv::Mat shown_photo;
    // Where the pending camera's stickers should be, from its neighbours.
    std::optional<std::array<cv::Point2d, 3>> expected;
    double expected_radius = 0.0;
    // The rig in hand differs from its file (or has none), and that file.
    bool changed = false;
    bool changed_at_colour_step = false; // see changed_awaiting_colour()
    QString file_path;
    std::vector<int> pending;
    QStringList reference_paths;
    // Cameras whose reference photo could not be read: never clicked by hand.
    QSet<int> unreadable_references;
    QSize shown_photo_size;
    // The calibration in hand, as it is saved.
    RigCalibration calibrated_rig;
    // The sticker configuration of the middle photo at the last successful selection.
    ReferenceTriple reference_triple;
    std::optional<Snapshot> before_manual_steps;
};
