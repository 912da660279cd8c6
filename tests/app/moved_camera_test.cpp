// A camera moved since calibration, through the real window: one box names it
// before the folder is asked for; "Corriger" puts its frames back where the
// unmoved rig's are, "Annuler" writes nothing, an unmoved rig asks nothing.

#include "calibration/calibration_construction.h"
#include "calibration/calibration_file.h"
#include "tests/support/stdout_capture.h"
#include "tests/support/frame_offset.h"
#include "tools/make_rig/rig_writer.h"
#include "window_driver.h"

#include <QDir>
#include <QTemporaryDir>

#include <cmath>
#include <sstream>

namespace {

const int camera_count = 3;
const int moved_camera = 0;

QString write_parallax_rig(const QString& folder, bool moved)
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
        options.move.rotation_deg = 0.3;
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
        const RigCalibration rig =
            construct_rig_calibration(references, StickerColor::Yellow, reference, log);
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
