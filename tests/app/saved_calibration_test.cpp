// A calibration that outlasts the session, in the real window: saving and
// reopening it, the offer to reopen it at start, unreadable reference photos
// and shots of another size than the references.

#include "app/calibration_check_view.h"
#include "calibration/calibration_file.h"
#include "output/calibration_check.h"
#include "tests/support/file_bytes.h"
#include "tests/support/stdout_capture.h"
#include "tests/support/sticker_drawing.h"
#include "window_driver.h"

#include <QDir>
#include <QFile>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QSettings>
#include <QSlider>
#include <QTemporaryDir>

#include <algorithm>
#include <memory>

namespace {

const cv::Size photo_size(400, 300);
const int camera_count = 3;

std::vector<cv::Point2d> stickers_of(int camera, double factor = 1.0)
{
    std::vector<cv::Point2d> result;
    for (double y : {90.0, 150.0, 210.0})
        result.push_back(cv::Point2d(200.0 + 4 * camera, y - 2 * camera) * factor);
    return result;
}

// The frames in `folder` (the scripted ffmpeg leaves empty videos beside them).
QStringList frames_in(const QString& folder)
{
    return QDir(folder).entryList({"output_img_*"}, QDir::Files | QDir::Hidden, QDir::Name);
}

bool contains_line(const std::vector<std::string>& lines, const std::string& line)
{
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

} // namespace

class SavedCalibrationTest : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    std::unique_ptr<QSettings> settings;
    std::unique_ptr<WindowDriver> driver;

    QStringList write_references(const QString& folder)
    {
        QDir().mkpath(folder);
        QStringList paths;
        for (int i = 0; i < camera_count; ++i) {
            const cv::Mat photo =
                draw_sticker_photo(photo_size, stickers_of(i), 12.0, StickerColor::Yellow, i + 1);
            paths << write_photo(folder, QString("ref_%1.png").arg(i), photo);
        }
        return paths;
    }

    QStringList write_shots(const QString& folder, cv::Size size)
    {
        QDir().mkpath(folder);
        QStringList paths;
        for (int i = 0; i < camera_count; ++i)
            paths << write_photo(folder, QString("shot_%1.jpg").arg(i),
                                 draw_background(size, 50 + i));
        return paths;
    }

    // A new session: a window with the test's settings and `references` as the
    // answer to its first dialog.
    void start(const QStringList& references, const QList<bool>& answers = {})
    {
        driver = std::make_unique<WindowDriver>();
        driver->settings = settings.get();
        for (bool answer : answers)
            driver->dialogs.question_answers.enqueue(answer);
        driver->open(references);
    }

    // Calibrates a rig in one session and saves it; returns the file.
    QString calibrate_and_save(const QStringList& references)
    {
        start(references);
        StdoutCapture quiet;
        driver->click(200, 150);
        if (!driver->calibrated())
            return {};
        const QString path = dir.filePath("rig");
        driver->dialogs.save_answers.enqueue(path);
        driver->action("action_save_calibration")->trigger();
        return path + ".qvcal";
    }

    // `saved` with `cameras` left unaligned, as the command line leaves the
    // cameras whose stickers it did not find; returns the new file.
    QString without_alignments(const QString& saved, const QList<int>& cameras)
    {
        CalibrationRead read = read_calibration_file(saved);
        if (!read.ok())
            return {};
        for (int camera : cameras) {
            CameraCalibration& entry = read.calibration.cameras[camera];
            entry.method = AlignmentMethod::NotAligned;
            entry.transform = ImageAlignment();
            entry.stickers = {};
        }
        const QString path = dir.filePath("incomplete.qvcal");
        return write_calibration_file(path, read.calibration).isEmpty() ? path : QString();
    }

    void open_file(const QString& path)
    {
        driver->dialogs.file_answers.enqueue({path});
        driver->action("action_open_calibration")->trigger();
    }

    // Clicks `stickers`, in the order given, in the check view's photo.
    static void click_in_view(CalibrationCheckView& view, const std::vector<QPointF>& stickers)
    {
        auto* picture = view.findChild<PixelPicker*>("check_picture");
        auto* area = view.findChild<QScrollArea*>("check_scroll_area");
        for (const QPointF& point : stickers) {
            const QPointF at = picture->label_position(point);
            area->ensureVisible(int(at.x()), int(at.y()), 20, 20);
            QCoreApplication::processEvents();
            QMouseEvent press(QEvent::MouseButtonPress, picture->label_position(point),
                              Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
            QCoreApplication::sendEvent(picture, &press);
        }
    }

private slots:
    void init()
    {
        settings = std::make_unique<QSettings>(dir.filePath("settings.ini"), QSettings::IniFormat);
        settings->clear();
    }
    void cleanup()
    {
        driver.reset();
        settings.reset();
    }

    void saved_calibration_processes_without_the_references();
    void declined_offer_leaves_the_window_waiting();
    void damaged_file_changes_nothing();
    void unreadable_reference_is_named_and_never_clicked();
    void shots_of_half_the_size_are_scaled();
    void shots_of_other_proportions_are_refused();
    void check_view_steps_through_the_cameras();
    void recalibrating_replaces_just_that_camera();
    void incomplete_file_leads_to_the_missing_clicks();
    void incomplete_file_without_the_photos_names_the_cameras_data();
    void incomplete_file_without_the_photos_names_the_cameras();
    void camera_left_by_escape_is_finished_in_the_check_view();
    void check_view_follows_the_rig_in_hand_data();
    void check_view_follows_the_rig_in_hand();
};

void SavedCalibrationTest::saved_calibration_processes_without_the_references()
{
    const QString references_folder = dir.filePath("references");
    const QString saved = calibrate_and_save(write_references(references_folder));
    QVERIFY(!saved.isEmpty());
    QCOMPARE(driver->dialogs.requests.last().caption, QString("Enregistrer le calibrage"));
    QCOMPARE(driver->dialogs.requests.last().text, QString("Calibrages (*.qvcal)"));
    QVERIFY(driver->dialogs.boxes().isEmpty());
    const CalibrationRead read = read_calibration_file(saved);
    QVERIFY2(read.ok(), qPrintable(read.error));
    QCOMPARE(read.calibration.camera_count(), camera_count);
    QCOMPARE(read.calibration.cameras[1].reference_size, QSize(400, 300));
    QCOMPARE(read.calibration.cameras[1].method, AlignmentMethod::Automatic);

    // The rig does not move, the program restarts, the photos are gone.
    QVERIFY(QDir(references_folder).removeRecursively());
    driver->window->close();
    start({});
    QCOMPARE(driver->dialogs.boxes(), QStringList{"question: Calibrage précédent"});
    QVERIFY(driver->dialogs.requests.last().text.contains(saved));
    QVERIFY(driver->calibrated());

    QTemporaryDir output;
    StdoutCapture quiet;
    driver->process(write_shots(dir.filePath("shots"), photo_size), output.path());
    QCOMPARE(driver->dialogs.boxes(),
             (QStringList{"question: Calibrage précédent", "information: Traitement terminé"}));
    QCOMPARE(frames_in(output.path()),
             (QStringList{"output_img_0.jpg", "output_img_1.jpg", "output_img_2.jpg"}));

    // The dialogs start where the last ones ended.
    QCOMPARE(settings->value("folders/shots").toString(), dir.filePath("shots"));
    QCOMPARE(settings->value("folders/output").toString(), output.path());
}

void SavedCalibrationTest::declined_offer_leaves_the_window_waiting()
{
    const QString saved = calibrate_and_save(write_references(dir.filePath("declined")));
    QVERIFY(!saved.isEmpty());
    driver->window->close();

    start({}, {false});
    QCOMPARE(driver->dialogs.boxes(), QStringList{"question: Calibrage précédent"});
    QVERIFY(!driver->calibrated());
    QVERIFY(!driver->action("action_new_computation")->isEnabled());

    // Choosing references does not ask.
    start(write_references(dir.filePath("declined")));
    QVERIFY(driver->dialogs.boxes().isEmpty());
}

void SavedCalibrationTest::damaged_file_changes_nothing()
{
    const QString saved = calibrate_and_save(write_references(dir.filePath("damaged")));
    QVERIFY(!saved.isEmpty());
    const QByteArray content = read_bytes(saved);
    QFile damaged(dir.filePath("damaged.qvcal"));
    QVERIFY(damaged.open(QIODevice::WriteOnly));
    damaged.write(content.left(content.size() - 40));
    damaged.close();

    // The rig stays calibrated as it was.
    driver->dialogs = ScriptedDialogs();
    driver->dialogs.file_answers.enqueue({damaged.fileName()});
    driver->action("action_open_calibration")->trigger();
    QCOMPARE(driver->dialogs.requests.first().caption, QString("Ouvrir un calibrage"));
    QCOMPARE(driver->dialogs.boxes(), QStringList{"critical: Erreur de calibrage"});
    QVERIFY(driver->dialogs.requests.last().text.startsWith("Le calibrage '" + damaged.fileName() +
                                                            "' ne peut pas être ouvert : "));
    QVERIFY(driver->calibrated());
    // The last good calibration is still the one offered.
    QCOMPARE(settings->value("calibration/last").toString(), saved);
}

void SavedCalibrationTest::unreadable_reference_is_named_and_never_clicked()
{
    QStringList references = write_references(dir.filePath("cut"));
    // Camera 2's photo was copied by a flaky card reader.
    const QString cut = dir.filePath("cut/ref_2.jpg");
    {
        const QByteArray whole = read_bytes(write_photo(
            dir.filePath("cut"), "whole.jpg",
            draw_sticker_photo(photo_size, stickers_of(2), 12.0, StickerColor::Yellow, 3)));
        QFile file(cut);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(whole.left(whole.size() / 2));
    }
    references[2] = cut;

    // "Oui": choose again; the same choice again, then "Non": go on without camera 2.
    driver = std::make_unique<WindowDriver>();
    driver->dialogs.file_answers.enqueue(references);
    driver->dialogs.question_answers.enqueue(true);
    driver->dialogs.question_answers.enqueue(false);
    driver->open(references);
    QCOMPARE(driver->dialogs.boxes(),
             (QStringList{"question: Étalons illisibles", "question: Étalons illisibles"}));
    QVERIFY(driver->dialogs.requests.last().text.contains("caméra 3 : " + cut));
    QCOMPARE(driver->dialogs.requests.size(), 4);
    QCOMPARE(driver->dialogs.requests[2].caption, QString("Sélectionner étalons"));

    StdoutCapture quiet;
    driver->click(200, 150);
    // Cameras 0 and 1 are aligned; camera 2 is never shown for clicks, and a run needs it.
    const QString missing = "#3 : ref_2.jpg (photo de référence introuvable ou illisible)";
    const QString incomplete = "Calibrage incomplet : caméra(s) non alignée(s) " + missing +
                               " ; un traitement a besoin de toutes les caméras.";
    QCOMPARE(driver->dialogs.boxes().size(), 3);
    QCOMPARE(driver->dialogs.boxes().last(), QString("warning: Calibrage incomplet"));
    QVERIFY(driver->dialogs.requests.last().text.contains(missing));
    QCOMPARE(driver->instruction(), incomplete);
    QVERIFY(!driver->action("action_new_computation")->isEnabled());

    driver->action("action_manual_calibration")->trigger();
    QCOMPARE(driver->instruction(), driver->sticker_prompt(1, 0));
    for (int camera = 0; camera < 2; ++camera) {
        for (const cv::Point2d& sticker : stickers_of(camera))
            driver->click(sticker.x, sticker.y);
    }
    QCOMPARE(driver->instruction(), incomplete);
    QVERIFY(!driver->action("action_new_computation")->isEnabled());
}

void SavedCalibrationTest::shots_of_half_the_size_are_scaled()
{
    const QStringList references = write_references(dir.filePath("half"));
    start(references);
    StdoutCapture capture;
    driver->click(200, 150);
    QVERIFY(driver->calibrated());

    // The same scene (the stickers) photographed at half the size by camera 1:
    // its frame must still match the others.
    QStringList shots = write_shots(dir.filePath("half_shots"), photo_size);
    shots[1] = write_photo(
        dir.filePath("half_shots"), "shot_1 small.jpg",
        draw_sticker_photo({200, 150}, stickers_of(1, 0.5), 6.0, StickerColor::Yellow, 2));
    QTemporaryDir output;
    driver->process(shots, output.path());
    QCOMPARE(driver->dialogs.boxes(), QStringList{"information: Traitement terminé"});
    QCOMPARE(frames_in(output.path()).size(), camera_count);
    QVERIFY(contains_line(capture.lines(),
                          "Camera 2: shot 200x150, reference 400x300, alignment scaled by 0.5"));
    const QImage full(QDir(output.path()).filePath("output_img_0.jpg"));
    const QImage half(QDir(output.path()).filePath("output_img_1.jpg"));
    QCOMPARE(half.size(), full.size());
}

void SavedCalibrationTest::shots_of_other_proportions_are_refused()
{
    start(write_references(dir.filePath("other")));
    StdoutCapture quiet;
    driver->click(200, 150);
    QVERIFY(driver->calibrated());

    QStringList shots = write_shots(dir.filePath("other_shots"), photo_size);
    shots[2] = write_photo(dir.filePath("other_shots"), "square.jpg", draw_background({300, 300}));
    QTemporaryDir output;
    driver->process(shots, output.path());
    QCOMPARE(driver->dialogs.boxes(), QStringList{"critical: Erreur de fichiers d'entrée"});
    const QString text = driver->dialogs.requests.last().text;
    // The command line's wording, which counts cameras from 1.
    QVERIFY2(text.contains("caméra 3") && text.contains("300 × 300") && text.contains("400 × 300"),
             qPrintable(text));
    QVERIFY(frames_in(output.path()).isEmpty());
    QVERIFY(driver->recording_runner.calls.isEmpty());
}

void SavedCalibrationTest::check_view_steps_through_the_cameras()
{
    const QString saved = calibrate_and_save(write_references(dir.filePath("check")));
    QVERIFY(!saved.isEmpty());
    QVERIFY(driver->action("action_check_calibration")->isEnabled());
    driver->action("action_check_calibration")->trigger();
    auto* view = driver->window->findChild<CalibrationCheckView*>();
    QVERIFY(view && view->isVisible());
    auto* label = view->findChild<QLabel*>("label_camera");
    QVERIFY2(label->text().startsWith(
                 "Caméra 1 / 3 (ref_0.png) : alignée automatiquement ; rotation "),
             qPrintable(label->text()));
    // Drawn stickers, found again: well under a pixel apart.
    QVERIFY2(label->text().contains("écart des stickers 0."), qPrintable(label->text()));

    QTest::keyClick(view, Qt::Key_Right);
    QCOMPARE(view->camera(), 1);
    QTest::keyClick(view, Qt::Key_Right);
    QTest::keyClick(view, Qt::Key_Right);
    QCOMPARE(view->camera(), 2);
    QTest::keyClick(view, Qt::Key_Left);
    QCOMPARE(view->camera(), 1);
    auto* opacity = view->findChild<QSlider*>("slider_opacity");
    // Space flips between the middle camera alone and this one alone.
    QTest::keyClick(view, Qt::Key_Space);
    QCOMPARE(opacity->value(), 0);
    QTest::keyClick(view, Qt::Key_Space);
    QCOMPARE(opacity->value(), 100);

    const RigCalibration rig = read_calibration_file(saved).calibration;
    const QSize frame = check_frame_rect(rig).size();
    QCOMPARE(view->findChild<PixelPicker*>("check_picture")->pixmap(Qt::ReturnByValue).size(),
             frame);
    view->close();
    QTRY_VERIFY(driver->window->findChild<CalibrationCheckView*>() == nullptr);
}

void SavedCalibrationTest::recalibrating_replaces_just_that_camera()
{
    const QString saved = calibrate_and_save(write_references(dir.filePath("redo")));
    QVERIFY(!saved.isEmpty());
    const RigCalibration before = read_calibration_file(saved).calibration;
    driver->action("action_check_calibration")->trigger();
    auto* view = driver->window->findChild<CalibrationCheckView*>();
    QVERIFY(view);
    view->show_camera(2);
    view->findChild<QPushButton*>("button_recalibrate")->click();

    // Clicked a little beside the drawn centres, bottom sticker first: each
    // click moves onto its sticker.
    const std::vector<cv::Point2d> drawn = stickers_of(2);
    std::vector<QPointF> clicks;
    for (int i : {2, 0, 1})
        clicks.push_back(QPointF(drawn[i].x + 0.5, drawn[i].y - 0.25));
    click_in_view(*view, clicks);
    QVERIFY2(view->findChild<QLabel*>("label_camera")->text().contains("alignée à la main"),
             qPrintable(view->findChild<QLabel*>("label_camera")->text()));
    view->close();

    const QString again = dir.filePath("redone");
    driver->dialogs.save_answers.enqueue(again);
    driver->action("action_save_calibration")->trigger();
    const RigCalibration after = read_calibration_file(again + ".qvcal").calibration;
    QCOMPARE(after.camera_count(), before.camera_count());
    for (int camera = 0; camera < 2; ++camera) {
        QCOMPARE(after.cameras[camera].method, before.cameras[camera].method);
        QCOMPARE(after.cameras[camera].transform.translation_x,
                 before.cameras[camera].transform.translation_x);
        QCOMPARE(after.cameras[camera].transform.scale, before.cameras[camera].transform.scale);
    }
    QCOMPARE(after.cameras[2].method, AlignmentMethod::Manual);
    for (int i = 0; i < 3; ++i) {
        QVERIFY(std::abs(after.cameras[2].stickers[i].x - drawn[i].x) < 0.2);
        QVERIFY(std::abs(after.cameras[2].stickers[i].y - drawn[i].y) < 0.2);
    }
    // Half a pixel off the drawn stickers: the transform barely moves.
    QVERIFY(std::abs(after.cameras[2].transform.translation_x -
                     before.cameras[2].transform.translation_x) < 1.0);
}

void SavedCalibrationTest::incomplete_file_leads_to_the_missing_clicks()
{
    const QString saved = calibrate_and_save(write_references(dir.filePath("incomplete")));
    QVERIFY(!saved.isEmpty());
    // What the command line writes for a camera whose stickers were hidden.
    const QString incomplete = without_alignments(saved, {1});
    QVERIFY(!incomplete.isEmpty());

    // Opened over a calibrated rig: camera 1's photo is there, so it is asked for.
    driver->dialogs = ScriptedDialogs();
    StdoutCapture quiet;
    open_file(incomplete);
    QCOMPARE(driver->dialogs.boxes(), QStringList{"warning: Attention"});
    QVERIFY(driver->dialogs.requests.last().text.endsWith("#2 : ref_1.png"));
    QCOMPARE(driver->instruction(), driver->sticker_prompt(1, 1));
    QVERIFY(!driver->action("action_new_computation")->isEnabled());
    for (const cv::Point2d& sticker : stickers_of(1))
        driver->click(sticker.x, sticker.y);
    QVERIFY(driver->calibrated());

    // Saved, it holds every camera and reopens calibrated in the next session.
    const QString finished = dir.filePath("finished");
    driver->dialogs.save_answers.enqueue(finished);
    driver->action("action_save_calibration")->trigger();
    const CalibrationRead read = read_calibration_file(finished + ".qvcal");
    QVERIFY2(read.ok(), qPrintable(read.error));
    QVERIFY(read.calibration.calibration().all_aligned());
    QCOMPARE(read.calibration.cameras[1].method, AlignmentMethod::Manual);
    QCOMPARE(read.calibration.cameras[0].method, AlignmentMethod::Automatic);

    driver->window->close();
    start({});
    QCOMPARE(driver->dialogs.boxes(), QStringList{"question: Calibrage précédent"});
    QVERIFY(driver->calibrated());
    QTemporaryDir output;
    driver->process(write_shots(dir.filePath("incomplete_shots"), photo_size), output.path());
    QCOMPARE(driver->dialogs.boxes().last(), QString("information: Traitement terminé"));
    QCOMPARE(frames_in(output.path()).size(), camera_count);
}

void SavedCalibrationTest::incomplete_file_without_the_photos_names_the_cameras_data()
{
    QTest::addColumn<QList<int>>("unaligned");
    QTest::addColumn<QList<int>>("gone");

    QTest::newRow("the one unaligned camera") << QList<int>{1} << QList<int>{1};
    QTest::newRow("one of two unaligned cameras") << QList<int>{0, 2} << QList<int>{2};
    QTest::newRow("the middle one, shown first") << QList<int>{0, 1} << QList<int>{1};
    QTest::newRow("two of them") << QList<int>{0, 2} << QList<int>{0, 2};
}

void SavedCalibrationTest::incomplete_file_without_the_photos_names_the_cameras()
{
    QFETCH(QList<int>, unaligned);
    QFETCH(QList<int>, gone);
    const QString folder = dir.filePath(QTest::currentDataTag());
    const QStringList references = write_references(folder);
    const QString saved = calibrate_and_save(references);
    QVERIFY(!saved.isEmpty());
    const QString incomplete = without_alignments(saved, unaligned);
    QVERIFY(!incomplete.isEmpty());
    for (int camera : gone)
        QVERIFY(QFile::remove(references[camera]));

    driver->dialogs = ScriptedDialogs();
    StdoutCapture quiet;
    open_file(incomplete);
    // The cameras whose photo is still there are clicked first.
    for (int camera : unaligned) {
        if (gone.contains(camera))
            continue;
        QCOMPARE(driver->instruction(), driver->sticker_prompt(1, camera));
        for (const cv::Point2d& sticker : stickers_of(camera))
            driver->click(sticker.x, sticker.y);
    }
    QStringList missing;
    for (int camera : gone)
        missing << QString("#%1 : ref_%2.png (photo de référence introuvable ou illisible)")
                       .arg(camera + 1)
                       .arg(camera);
    QStringList boxes{"warning: Calibrage incomplet"};
    if (unaligned.size() > gone.size())
        boxes.prepend("warning: Attention");
    QCOMPARE(driver->dialogs.boxes(), boxes);
    QCOMPARE(driver->dialogs.requests.last().text,
             "Ces caméras ne sont pas alignées :\n" + missing.join('\n') +
                 "\n\nUn traitement a besoin de toutes les caméras : rechargez leurs étalons ou "
                 "ouvrez un calibrage complet.");
    QCOMPARE(driver->instruction(), "Calibrage incomplet : caméra(s) non alignée(s) " +
                                        missing.join(", ") +
                                        " ; un traitement a besoin de toutes les caméras.");
    QVERIFY(!driver->action("action_new_computation")->isEnabled());
    // The file can still be saved as it stands, and checked.
    QVERIFY(driver->action("action_save_calibration")->isEnabled());

    // Asked for all the same, a run refuses before any dialog.
    const int asked = driver->dialogs.requests.size();
    driver->action("action_new_computation")->trigger();
    QCOMPARE(driver->dialogs.requests.size(), asked + 1);
    QCOMPARE(driver->dialogs.requests.last().caption, QString("Calibrage incomplet"));
    QVERIFY(driver->recording_runner.calls.isEmpty());
}

void SavedCalibrationTest::camera_left_by_escape_is_finished_in_the_check_view()
{
    const QString saved = calibrate_and_save(write_references(dir.filePath("escape")));
    QVERIFY(!saved.isEmpty());
    const QString incomplete = without_alignments(saved, {1});
    QVERIFY(!incomplete.isEmpty());
    {
        // As written when camera 1's photo could not be read at calibration.
        RigCalibration rig = read_calibration_file(incomplete).calibration;
        rig.cameras[1].reference_size = QSize();
        QCOMPARE(write_calibration_file(incomplete, rig), QString());
    }
    driver->dialogs = ScriptedDialogs();
    StdoutCapture quiet;
    open_file(incomplete);
    QCOMPARE(driver->instruction(), driver->sticker_prompt(1, 1));

    // Escape goes back to the file as it was read: still incomplete.
    driver->action("action_leave_manual_steps")->trigger();
    QCOMPARE(driver->dialogs.boxes(),
             (QStringList{"warning: Attention", "warning: Calibrage incomplet"}));
    QVERIFY(driver->dialogs.requests.last().text.contains("\n#2 : ref_1.png\n"));
    QVERIFY(!driver->action("action_new_computation")->isEnabled());

    driver->action("action_check_calibration")->trigger();
    auto* view = driver->window->findChild<CalibrationCheckView*>();
    QVERIFY(view);
    view->show_camera(1);
    QVERIFY(view->findChild<QLabel*>("label_camera")->text().contains("non alignée"));
    view->findChild<QPushButton*>("button_recalibrate")->click();
    std::vector<QPointF> clicks;
    for (const cv::Point2d& sticker : stickers_of(1))
        clicks.push_back(QPointF(sticker.x, sticker.y));
    click_in_view(*view, clicks);
    QVERIFY(driver->calibrated());

    const QString finished = dir.filePath("escape_finished");
    driver->dialogs.save_answers.enqueue(finished);
    driver->action("action_save_calibration")->trigger();
    const RigCalibration after = read_calibration_file(finished + ".qvcal").calibration;
    QVERIFY(after.calibration().all_aligned());
    QCOMPARE(after.cameras[1].method, AlignmentMethod::Manual);
    QCOMPARE(after.cameras[1].reference_size, QSize(400, 300));
}

void SavedCalibrationTest::check_view_follows_the_rig_in_hand_data()
{
    QTest::addColumn<bool>("open_calibration");
    QTest::newRow("another calibration opened") << true;
    QTest::newRow("new references calibrated") << false;
}

void SavedCalibrationTest::check_view_follows_the_rig_in_hand()
{
    QFETCH(bool, open_calibration);
    const QString saved = calibrate_and_save(write_references(dir.filePath("rig_a")));
    QVERIFY(!saved.isEmpty());
    // Rig B: the same cameras, photographed again into another folder.
    const QStringList photos_b = write_references(dir.filePath("rig_b"));
    RigCalibration rig_b = read_calibration_file(saved).calibration;
    for (int camera = 0; camera < camera_count; ++camera)
        rig_b.cameras[camera].reference_photo = photos_b[camera];
    rig_b.cameras[0].transform.scale = 1.25;
    const QString file_b = dir.filePath("rig_b.qvcal");
    QCOMPARE(write_calibration_file(file_b, rig_b), QString());

    driver->action("action_check_calibration")->trigger();
    QPointer<CalibrationCheckView> view = driver->window->findChild<CalibrationCheckView*>();
    QVERIFY(view && view->isVisible());

    StdoutCapture quiet;
    if (open_calibration) {
        open_file(file_b);
    } else {
        driver->dialogs.file_answers.enqueue(photos_b);
        driver->action("action_new_references")->trigger();
        driver->click(200, 150);
    }
    QVERIFY(driver->calibrated());
    // The view of rig A is gone; were it still there, it would not write into rig B.
    QVERIFY(view.isNull() || !view->isVisible());
    if (view) {
        view->show_camera(0);
        view->findChild<QPushButton*>("button_recalibrate")->click();
        std::vector<QPointF> clicks;
        for (const cv::Point2d& sticker : stickers_of(0))
            clicks.push_back(QPointF(sticker.x + 1.0, sticker.y));
        click_in_view(*view, clicks);
    }
    QTRY_VERIFY(view.isNull());

    const QString again = dir.filePath("rig_b_saved");
    driver->dialogs.save_answers.enqueue(again);
    driver->action("action_save_calibration")->trigger();
    const RigCalibration after = read_calibration_file(again + ".qvcal").calibration;
    QCOMPARE(after.cameras[0].reference_photo, photos_b[0]);
    QCOMPARE(after.cameras[0].method, AlignmentMethod::Automatic);
    if (open_calibration)
        QCOMPARE(after.cameras[0].transform.scale, 1.25);

    // A view opened now shows rig B.
    driver->action("action_check_calibration")->trigger();
    auto* shown = driver->window->findChild<CalibrationCheckView*>();
    QVERIFY(shown && shown->isVisible());
    QVERIFY2(shown->findChild<QLabel*>("label_camera")->text().contains("échelle 1.2500") ==
                 open_calibration,
             qPrintable(shown->findChild<QLabel*>("label_camera")->text()));
}

QTEST_MAIN(SavedCalibrationTest)
#include "saved_calibration_test.moc"
