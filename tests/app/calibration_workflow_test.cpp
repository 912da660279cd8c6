// The calibration workflow without its window: the steps a photographer's
// clicks move through, what Escape restores and what failed clicks keep.

#include "app/calibration_workflow.h"

#include <QtTest>

#include <sstream>

namespace {

const QSize photo(400, 300);
// Stickers of every camera, in line and top to bottom.
const std::array<QPointF, 3> in_line{QPointF(200, 90), QPointF(200, 150), QPointF(200, 210)};
// Three clicks that give no alignment: not in line.
const std::array<QPointF, 3> scattered{QPointF(100, 50), QPointF(300, 150), QPointF(100, 250)};

// A rig of `count` cameras, those in `unaligned` not aligned, the others as
// automatic detection leaves them.
RigCalibration rig_of(int count, std::vector<int> unaligned)
{
    RigCalibration rig;
    rig.reference_stickers = {cv::Point2d(200, 90), cv::Point2d(200, 150), cv::Point2d(200, 210)};
    for (int i = 0; i < count; ++i) {
        CameraCalibration camera;
        camera.reference_photo = QStringLiteral("/rig/cam%1.png").arg(i);
        camera.reference_size = photo;
        if (std::find(unaligned.begin(), unaligned.end(), i) == unaligned.end()) {
            camera.method = AlignmentMethod::Automatic;
            camera.stickers = rig.reference_stickers;
            camera.transform.aligned = true;
            camera.transform.scale = 1.0;
        }
        rig.cameras.push_back(camera);
    }
    return rig;
}

CalibrationWorkflow::Click click(CalibrationWorkflow& workflow, QPointF point,
                                 WorkflowView* view = nullptr)
{
    std::ostringstream log;
    WorkflowView ignored;
    return workflow.sticker_click(point, point.toPoint(), log, view ? *view : ignored);
}

// Clicks all three; the view of the last.
WorkflowView click_three(CalibrationWorkflow& workflow, const std::array<QPointF, 3>& points)
{
    WorkflowView view;
    for (const QPointF& point : points)
        click(workflow, point, &view);
    return view;
}

} // namespace

class CalibrationWorkflowTest : public QObject
{
    Q_OBJECT

private slots:
    void unaligned_cameras_are_queued_and_clicked_in_turn();
    void undo_takes_back_clicks_down_to_the_first_sticker();
    void clicks_beside_the_photo_are_not_counted();
    void escape_restores_the_snapshot_data();
    void escape_restores_the_snapshot();
    void failed_clicks_keep_the_camera_as_it_was_data();
    void failed_clicks_keep_the_camera_as_it_was();
    void manual_pass_follows_the_reference_count();
    void expected_sticker_follows_the_neighbours_and_the_clicks();
};

void CalibrationWorkflowTest::unaligned_cameras_are_queued_and_clicked_in_turn()
{
    CalibrationWorkflow workflow;
    WorkflowView view = workflow.open(rig_of(4, {1, 3}), {3});
    // Camera 3's photo cannot be read: it stays unaligned, never asked for.
    QCOMPARE(view.queued, QStringList{"#2 : cam1.png"});
    QVERIFY(view.manual_steps_started && view.pending_photo && !view.finished);
    QCOMPARE(workflow.state(), WorkflowState::AwaitStickers);
    QCOMPARE(workflow.pending_camera(), 1);
    workflow.photo_shown(photo);

    view = click_three(workflow, in_line);
    QVERIFY(view.finished && view.rig_changed && !view.clicks_failed);
    QCOMPARE(workflow.state(), WorkflowState::Idle);
    QVERIFY(!workflow.in_manual_steps());
    QCOMPARE(workflow.rig().cameras[1].method, AlignmentMethod::Manual);
    QVERIFY(!workflow.complete());
    QCOMPARE(workflow.unaligned_cameras(),
             QStringList{"#4 : cam3.png (photo de référence introuvable ou illisible)"});
}

void CalibrationWorkflowTest::undo_takes_back_clicks_down_to_the_first_sticker()
{
    CalibrationWorkflow workflow;
    workflow.open(rig_of(3, {0, 2}), {});
    workflow.photo_shown(photo);
    QVERIFY(!workflow.undo());

    QCOMPARE(click(workflow, in_line[0]), CalibrationWorkflow::Click::Counted);
    QCOMPARE(click(workflow, QPointF(10, 10)), CalibrationWorkflow::Click::Counted);
    QCOMPARE(workflow.sticker(), 2);
    QVERIFY(workflow.undo());
    QCOMPARE(workflow.sticker(), 1);
    QCOMPARE(workflow.clicks(), std::vector<QPointF>{in_line[0]});
    QVERIFY(workflow.undo());
    QVERIFY(!workflow.undo());
    QVERIFY(workflow.clicks().empty());

    // The clicks after the undo are the ones that count.
    WorkflowView view = click_three(workflow, in_line);
    QVERIFY(!view.clicks_failed);
    QCOMPARE(workflow.rig().cameras[0].method, AlignmentMethod::Manual);
    // The next camera starts at its first sticker, with nothing to take back.
    QCOMPARE(workflow.pending_camera(), 2);
    QCOMPARE(workflow.sticker(), 0);
    QVERIFY(!workflow.undo());
}

void CalibrationWorkflowTest::clicks_beside_the_photo_are_not_counted()
{
    CalibrationWorkflow workflow;
    workflow.open(rig_of(3, {1}), {});
    workflow.photo_shown(photo);
    click(workflow, in_line[0]);
    for (const QPointF& beside : {QPointF(400, 10), QPointF(10, 300), QPointF(-1, 10)})
        QCOMPARE(click(workflow, beside), CalibrationWorkflow::Click::Outside);
    QCOMPARE(workflow.sticker(), 1);
}

void CalibrationWorkflowTest::escape_restores_the_snapshot_data()
{
    QTest::addColumn<bool>("from_colour_click");
    QTest::newRow("after a colour calibration") << true;
    QTest::newRow("after opening a file") << false;
}

void CalibrationWorkflowTest::escape_restores_the_snapshot()
{
    QFETCH(bool, from_colour_click);
    CalibrationWorkflow workflow;
    const RigCalibration before = rig_of(3, {});
    workflow.open(before, {}, QStringLiteral("/rig/before.qvcal"));
    QCOMPARE(workflow.state(), WorkflowState::Idle);
    QVERIFY(!workflow.leave());
    QVERIFY(!workflow.modified());

    const RigCalibration opened = rig_of(3, {0, 1});
    if (from_colour_click) {
        workflow.choose_references(workflow.references(), {});
        workflow.colour_calibrated(opened, opened.reference());
        // A calibration of its own, in no file yet.
        QVERIFY(workflow.modified());
        QVERIFY(workflow.file().isEmpty());
    } else {
        workflow.open(opened, {}, QStringLiteral("/rig/opened.qvcal"));
        QVERIFY(!workflow.modified());
    }
    workflow.photo_shown(photo);
    // Camera 0 clicked, camera 1 half-way.
    click_three(workflow, in_line);
    QVERIFY(workflow.modified());
    click(workflow, in_line[0]);
    QCOMPARE(workflow.pending_camera(), 1);

    const std::optional<WorkflowView> view = workflow.leave();
    QVERIFY(view && view->rig_changed && view->preview);
    QVERIFY(!workflow.in_manual_steps());
    QCOMPARE(workflow.pending_camera(), -1);
    // Back to the calibration in hand before the colour click, or to the file as read.
    const RigCalibration& expected = from_colour_click ? before : opened;
    for (int i = 0; i < 3; ++i)
        QCOMPARE(workflow.rig().cameras[i].method, expected.cameras[i].method);
    QCOMPARE(workflow.state(),
             from_colour_click ? WorkflowState::AwaitColorClick : WorkflowState::Idle);
    QCOMPARE(view->finished, !from_colour_click);
    QVERIFY(!workflow.leave());
    // As it was: unchanged since its file was opened.
    QVERIFY(!workflow.modified());
    QCOMPARE(workflow.file(),
             from_colour_click ? QString("/rig/before.qvcal") : QString("/rig/opened.qvcal"));
}

void CalibrationWorkflowTest::failed_clicks_keep_the_camera_as_it_was_data()
{
    QTest::addColumn<bool>("aligned_before");
    QTest::newRow("camera aligned before: kept, next camera") << true;
    QTest::newRow("camera not aligned: asked for again") << false;
}

void CalibrationWorkflowTest::failed_clicks_keep_the_camera_as_it_was()
{
    QFETCH(bool, aligned_before);
    CalibrationWorkflow workflow;
    workflow.open(rig_of(3, aligned_before ? std::vector<int>{} : std::vector<int>{0}), {});
    if (aligned_before)
        workflow.manual_pass();
    workflow.photo_shown(photo);
    const CameraCalibration kept = workflow.rig().cameras[0];

    const WorkflowView view = click_three(workflow, scattered);
    const CameraCalibration& now = workflow.rig().cameras[0];
    QCOMPARE(now.method, kept.method);
    QCOMPARE(now.stickers, kept.stickers);
    QCOMPARE(now.transform.scale, kept.transform.scale);
    QCOMPARE(view.clicks_failed, !aligned_before);
    QCOMPARE(workflow.pending_camera(), aligned_before ? 1 : 0);
    QCOMPARE(workflow.sticker(), 0);
    QCOMPARE(workflow.state(), WorkflowState::AwaitStickers);
}

void CalibrationWorkflowTest::manual_pass_follows_the_reference_count()
{
    CalibrationWorkflow workflow;
    workflow.open(rig_of(2, {}), {});
    QStringList five;
    for (int i = 0; i < 5; ++i)
        five << QStringLiteral("/rig/new%1.png").arg(i);
    workflow.choose_references(five, {4});
    const WorkflowView view = workflow.manual_pass();
    QVERIFY(view.manual_steps_started && view.pending_photo);
    QCOMPARE(workflow.rig().camera_count(), 5);
    // The cameras kept go on as they were until clicked; new ones take their photo.
    QCOMPARE(workflow.rig().cameras[0].method, AlignmentMethod::Automatic);
    QCOMPARE(workflow.rig().cameras[3].reference_photo, five.at(3));
    workflow.photo_shown(photo);
    for (int camera = 0; camera < 4; ++camera) {
        QCOMPARE(workflow.pending_camera(), camera);
        click_three(workflow, in_line);
    }
    // Camera 4's photo cannot be read: the pass ends without it.
    QCOMPARE(workflow.state(), WorkflowState::Idle);
    QCOMPARE(workflow.unaligned_cameras().size(), 1);
}

void CalibrationWorkflowTest::expected_sticker_follows_the_neighbours_and_the_clicks()
{
    CalibrationWorkflow workflow;
    workflow.open(rig_of(3, {1}), {});
    workflow.photo_shown(photo);
    // The neighbours' alignments undone on the reference stickers.
    auto expected = workflow.expected_sticker();
    QVERIFY(expected);
    QCOMPARE(expected->centre, in_line[0]);
    QVERIFY(expected->radius > 0.0);
    // Off by the first click's shift, the next one is off alike.
    click(workflow, in_line[0] + QPointF(5, 2));
    expected = workflow.expected_sticker();
    QVERIFY(expected);
    QCOMPARE(expected->centre, in_line[1] + QPointF(5, 2));
    // Stickers clicked in another order tell nothing of the shift.
    click(workflow, in_line[2]);
    QCOMPARE(workflow.expected_sticker()->centre, in_line[2]);
    click(workflow, in_line[1]);
    QVERIFY(!workflow.expected_sticker());
}

QTEST_MAIN(CalibrationWorkflowTest)
#include "calibration_workflow_test.moc"
