// A camera moved since calibration, through the real window: one box names it
// before the folder is asked for; "Corriger" puts its frames back where the
// unmoved rig's are, "Annuler" writes nothing, an unmoved rig asks nothing.

#include "calibration/calibration_construction.h"
#include "calibration/calibration_file.h"
#include "app/drift_correction_view.h"
#include "app/drift_preview.h"
#include "calibration/alignment.h"
#include "output/calibration_check.h"
#include "photo/image_file.h"
#include "pipeline/camera_drift.h"
#include "tests/support/stdout_capture.h"
#include "tests/support/frame_offset.h"
#include "tools/make_rig/rig_writer.h"
#include "window_driver.h"

#include <QDir>
#include <QTemporaryDir>

#include <opencv2/imgproc.hpp>

#include <cmath>
#include <sstream>

namespace {

const int camera_count = 3;
const int moved_camera = 0;

QString write_parallax_rig(const QString& folder, bool moved, bool shift_only = false)
{
    RigOptions options;
    options.parallax = true;
    options.cameras = camera_count;
    options.width = 640;
    options.height = 480;
    options.takes = 1;
    if (moved) {
        options.moved_camera = moved_camera;
        options.move.shift = {5.0, -3.0};
        options.move.rotation_deg = shift_only ? 0.0 : 0.3;
    }
    std::ostringstream log;
    return QString::fromStdString(write_rig(options, folder, log).error);
}

QStringList shots_of(const QString& rig)
{
    QStringList shots;
    for (int camera = 0; camera < camera_count; ++camera)
        shots << QDir(rig).filePath(parallax_shot_file_name(camera, 0, 1));
    return shots;
}

QStringList frames_in(const QString& folder)
{
    return QDir(folder).entryList({"output_img_*"}, QDir::Files | QDir::Hidden, QDir::Name);
}

} // namespace

class MovedCameraTest : public QObject
{
    Q_OBJECT

    QTemporaryDir work;
    QString moved_rig;
    QString still_rig;
    QString still_frames;
    RigCalibration rig;
    WindowDriver driver;

    QStringList choices() const
    {
        QStringList texts;
        for (const ScriptedDialogs::Request& request : driver.dialogs.requests)
            if (request.kind == "choice")
                texts << request.text;
        return texts;
    }

private slots:
    void initTestCase()
    {
        moved_rig = work.filePath("moved");
        still_rig = work.filePath("still");
        QCOMPARE(write_parallax_rig(moved_rig, true), QString());
        QCOMPARE(write_parallax_rig(still_rig, false), QString());
        QStringList references;
        for (int camera = 0; camera < camera_count; ++camera)
            references << QDir(moved_rig).filePath(reference_file_name(camera));
        std::ostringstream log;
        ReferenceTriple reference;
        rig = construct_rig_calibration(references, StickerColor::Yellow, reference, log);
        QVERIFY(rig.calibration().all_aligned());
        const QString calibration = work.filePath("rig.qvcal");
        QCOMPARE(write_calibration_file(calibration, rig), QString());

        StdoutCapture quiet;
        driver.open({});
        QVERIFY(driver.window->open_calibration_file(calibration));
        QVERIFY(driver.calibrated());

        // Unmoved cameras: no box, the frames are written.
        still_frames = work.filePath("still_frames");
        QVERIFY(QDir().mkpath(still_frames));
        driver.dialogs = ScriptedDialogs();
        driver.process(shots_of(still_rig), still_frames);
        QCOMPARE(choices(), QStringList());
        QCOMPARE(frames_in(still_frames).size(), camera_count);
    }

    void init() { driver.dialogs = ScriptedDialogs(); }

    void moved_camera_is_named_and_corrected()
    {
        const QString output = work.filePath("corrected");
        QVERIFY(QDir().mkpath(output));
        driver.dialogs.choice_answers << 0; // Corriger
        StdoutCapture capture;
        driver.process(shots_of(moved_rig), output);

        const QStringList asked = choices();
        QCOMPARE(asked.size(), 1);
        QVERIFY2(asked.front().startsWith(QString("Caméra %1 : décalée de ").arg(moved_camera + 1)),
                 qPrintable(asked.front()));
        QVERIFY(asked.front().contains("depuis le calibrage"));
        QCOMPARE(asked.front().count("Caméra "), 1);
        QCOMPARE(driver.dialogs.requests.last().caption, QString("Traitement terminé"));
        QCOMPARE(frames_in(output).size(), camera_count);
        const double offset = frame_offset(output, still_frames, moved_camera, camera_count / 2);
        QVERIFY2(offset < 0.5, qPrintable(QString::number(offset)));
    }

    // The view reached from the box shows the shot with and without the
    // correction; the box is asked again after it.
    void correction_is_shown_before_choosing()
    {
        const QString output = work.filePath("shown");
        QVERIFY(QDir().mkpath(output));
        driver.dialogs.choice_answers << 3 << 0; // Voir la correction, then Corriger
        QStringList captions;
        driver.dialogs.on_view = [&](QDialog& view) {
            auto* shown = qobject_cast<DriftCorrectionView*>(&view);
            QVERIFY(shown);
            QVERIFY(!shown->picture().isNull());
            captions << shown->caption();
            shown->set_corrected(false);
            captions << shown->caption();
        };
        StdoutCapture quiet;
        driver.process(shots_of(moved_rig), output);
        QCOMPARE(choices().size(), 2);
        QCOMPARE(captions.size(), 2);
        const QString named = QString("Caméra %1 : décalée de ").arg(moved_camera + 1);
        QVERIFY2(captions[0].startsWith(named) && captions[0].contains("avec la correction"),
                 qPrintable(captions[0]));
        QVERIFY2(captions[1].contains("sans la correction"), qPrintable(captions[1]));
        QCOMPARE(frames_in(output).size(), camera_count);
    }

    // A camera shifted by a known amount: without the correction its stickers and
    // its picture sit that far from their calibrated place, with it on it.
    void drawn_correction_matches_the_known_shift()
    {
        const QString shifted = work.filePath("shifted");
        QCOMPARE(write_parallax_rig(shifted, true, true), QString());
        const QStringList shots = shots_of(shifted);
        const std::vector<CameraDrift> drift = check_drift(rig, shots);
        QCOMPARE(moved_cameras(drift), std::vector<int>{moved_camera});
        const QRect frame = check_frame_rect(rig);
        const DriftPreview preview = drift_preview(rig, moved_camera, drift[moved_camera].motion,
                                                   frame, read_oriented_image(shots[moved_camera]));

        // The generator's shift (5, -3) in shot pixels, carried into the frame.
        const Similarity to_frame = alignment_similarity(rig.cameras[moved_camera].transform);
        const cv::Point2d p = rig.cameras[moved_camera].stickers[1];
        const cv::Point2d expected = apply(to_frame, p + cv::Point2d(5.0, -3.0)) - apply(to_frame, p);
        for (int i = 0; i < 3; ++i) {
            const QPointF moved = preview.uncorrected[i] - preview.calibrated_place[i];
            QVERIFY2(std::hypot(moved.x() - expected.x, moved.y() - expected.y) < 0.5,
                     qPrintable(QString("%1, %2").arg(moved.x()).arg(moved.y())));
            const QPointF back = preview.corrected[i] - preview.calibrated_place[i];
            QVERIFY2(std::hypot(back.x(), back.y()) < 0.5,
                     qPrintable(QString("%1, %2").arg(back.x()).arg(back.y())));
        }

        // The pictures drawn move by the same amount as the marks.
        auto grey = [](const QImage& image) {
            const QImage g = image.convertToFormat(QImage::Format_Grayscale8);
            cv::Mat m(g.height(), g.width(), CV_8UC1, const_cast<uchar*>(g.constBits()),
                      static_cast<size_t>(g.bytesPerLine()));
            cv::Mat f;
            m.convertTo(f, CV_64F);
            return f;
        };
        QVERIFY(!preview.shot_corrected.isNull() && !preview.shot_uncorrected.isNull());
        const cv::Point2d seen =
            cv::phaseCorrelate(grey(preview.shot_corrected), grey(preview.shot_uncorrected));
        QVERIFY2(cv::norm(seen - expected) < 0.5,
                 qPrintable(QString("%1, %2").arg(seen.x).arg(seen.y)));
    }

    void ignoring_runs_as_calibrated()
    {
        const QString output = work.filePath("ignored");
        QVERIFY(QDir().mkpath(output));
        driver.dialogs.choice_answers << 1; // Ignorer
        StdoutCapture quiet;
        driver.process(shots_of(moved_rig), output);
        QCOMPARE(frames_in(output).size(), camera_count);
        QVERIFY(frame_offset(output, still_frames, moved_camera, camera_count / 2) > 2.0);
    }

    void cancelling_writes_nothing_data()
    {
        QTest::addColumn<int>("answer");
        QTest::newRow("Annuler") << 2;
        QTest::newRow("box closed") << -1;
    }

    void cancelling_writes_nothing()
    {
        QFETCH(int, answer);
        const QString output = work.filePath(QString("cancelled%1").arg(answer));
        QVERIFY(QDir().mkpath(output));
        driver.dialogs.choice_answers << answer;
        StdoutCapture quiet;
        driver.process(shots_of(moved_rig), output);
        QCOMPARE(choices().size(), 1);
        for (const ScriptedDialogs::Request& request : driver.dialogs.requests)
            QVERIFY(request.kind != "directory");
        QCOMPARE(QDir(output).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                 QStringList());
    }
};

QTEST_MAIN(MovedCameraTest)
#include "moved_camera_test.moc"
