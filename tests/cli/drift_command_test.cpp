// A camera moved since calibration, through the real executable: `process`
// warns of it, corrects it or refuses the run, and the booth corrects it take
// after take. The frames are compared with those of the same rig unmoved.

#include "calibration/calibration_construction.h"
#include "calibration/calibration_file.h"
#include "quorvane_process.h"
#include "tests/support/frame_offset.h"
#include "tools/make_rig/rig_writer.h"

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <sstream>

namespace {

const int camera_count = 3;
const int take_count = 3;
const int moved_camera = 0;

QStringList shots_of(const QString& rig, int take)
{
    QStringList shots;
    for (int camera = 0; camera < camera_count; ++camera)
        shots << QDir(rig).filePath(parallax_shot_file_name(camera, take, take_count));
    return shots;
}

std::string write_parallax_rig(const QString& folder, bool moved)
{
    RigOptions options;
    options.parallax = true;
    options.cameras = camera_count;
    options.width = 640;
    options.height = 480;
    options.takes = take_count;
    if (moved) {
        options.moved_camera = moved_camera;
        options.move.shift = {5.0, -3.0};
        options.move.rotation_deg = 0.3;
    }
    std::ostringstream log;
    return write_rig(options, folder, log).error;
}

QStringList error_lines(const QuorvaneRun& run)
{
    return run.err.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

} // namespace

class DriftCommandTest : public QObject
{
    Q_OBJECT

    QTemporaryDir work;
    QString moved_rig;
    QString still_rig;
    QString calibration;
    QString still_frames; // the unmoved rig's first take, processed

    QuorvaneRun process(const QStringList& shots, const QString& output,
                        const QStringList& extra = {}, const QString& rig_file = {})
    {
        return run_quorvane(QStringList{"process", "--calibration",
                                        rig_file.isEmpty() ? calibration : rig_file, "--output",
                                        output} +
                            extra + shots);
    }

private slots:
    void initTestCase()
    {
        moved_rig = work.filePath("moved");
        still_rig = work.filePath("still");
        QCOMPARE(write_parallax_rig(moved_rig, true), std::string());
        QCOMPARE(write_parallax_rig(still_rig, false), std::string());
        QStringList references;
        for (int camera = 0; camera < camera_count; ++camera)
            references << QDir(moved_rig).filePath(reference_file_name(camera));
        std::ostringstream log;
        ReferenceTriple reference;
        const RigCalibration rig =
            construct_rig_calibration(references, StickerColor::Yellow, reference, log);
        QVERIFY(rig.calibration().all_aligned());
        for (const CameraCalibration& camera : rig.cameras)
            QVERIFY(!camera.drift.empty());
        calibration = work.filePath("rig.qvcal");
        QCOMPARE(write_calibration_file(calibration, rig), QString());

        still_frames = work.filePath("still_frames");
        const QuorvaneRun run = process(shots_of(still_rig, 0), still_frames);
        QCOMPARE(run.exit_code, 0);
        // Unmoved cameras, another subject in front: nothing to say.
        QCOMPARE(run.err, QString());
    }

    // By default the moved camera is named, with how far, and left as it is.
    void process_warns_of_a_moved_camera()
    {
        const QString output = work.filePath("warned");
        const QuorvaneRun run = process(shots_of(moved_rig, 0), output);
        QCOMPARE(run.exit_code, 0);
        const QStringList lines = error_lines(run);
        QCOMPARE(lines.size(), 1);
        const QRegularExpressionMatch line =
            QRegularExpression(QStringLiteral("^quorvane : Caméra 1 : décalée de ([0-9]+),([0-9]) "
                                              "px, tournée de 0,3° depuis le calibrage$"))
                .match(lines.front());
        QVERIFY2(line.hasMatch(), qPrintable(lines.front()));
        // 5.8 px at the centre, more at the corners with the turn.
        const double shift = line.captured(1).toDouble() + line.captured(2).toDouble() / 10;
        QVERIFY2(shift > 6.0 && shift < 9.0, qPrintable(lines.front()));
        QVERIFY(frame_offset(output, still_frames, moved_camera, camera_count / 2) > 4.0);
    }

    // Corrected, its frame lands where the unmoved camera's did.
    void process_corrects_a_moved_camera()
    {
        const QString output = work.filePath("corrected");
        const QuorvaneRun run = process(shots_of(moved_rig, 0), output, {"--on-drift", "correct"});
        QCOMPARE(run.exit_code, 0);
        const QStringList lines = error_lines(run);
        QCOMPARE(lines.size(), 1);
        QVERIFY2(lines.front().startsWith("quorvane : Caméra 1 : décalée de ") &&
                     lines.front().endsWith(" depuis le calibrage ; corrigée"),
                 qPrintable(lines.front()));
        const double offset = frame_offset(output, still_frames, moved_camera, camera_count / 2);
        QVERIFY2(offset < 0.5, qPrintable(QString::number(offset)));
    }

    void process_refuses_a_moved_camera_when_asked()
    {
        const QString output = work.filePath("refused");
        const QuorvaneRun run = process(shots_of(moved_rig, 0), output, {"--on-drift", "fail"});
        QCOMPARE(run.exit_code, 1);
        const QStringList lines = error_lines(run);
        QCOMPARE(lines.size(), 2);
        QVERIFY(lines[0].startsWith("quorvane : Caméra 1 : décalée de "));
        QCOMPARE(lines[1], QStringLiteral("quorvane : 1 caméra a bougé depuis le calibrage, "
                                          "rien n'a été écrit (--on-drift fail) ; recalibrez le "
                                          "banc ou choisissez --on-drift correct"));
        QVERIFY(!QFileInfo::exists(output));
    }

    void process_refuses_an_unknown_mode()
    {
        const QuorvaneRun run =
            process(shots_of(moved_rig, 0), work.filePath("unknown"), {"--on-drift", "maybe"});
        QCOMPARE(run.exit_code, 2);
        QCOMPARE(error_lines(run).front(),
                 QStringLiteral("quorvane : process : --on-drift attend warn, correct ou fail, "
                                "pas « maybe »"));
    }

    // A calibration saved before the check existed still processes, unchecked.
    void calibration_without_check_data_still_works()
    {
        RigCalibration rig = read_calibration_file(calibration).calibration;
        for (CameraCalibration& camera : rig.cameras)
            camera.drift = {};
        const QString old_file = work.filePath("old.qvcal");
        QCOMPARE(write_calibration_file(old_file, rig), QString());
        const QuorvaneRun run = process(shots_of(moved_rig, 0), work.filePath("unchecked"),
                                        {"--on-drift", "fail"}, old_file);
        QCOMPARE(run.exit_code, 0);
        QCOMPARE(run.err, QString());
    }

    // A lens cap left on: said, never reported as moved, nothing refused.
    void shot_with_nothing_in_common_is_said_not_corrected()
    {
        QStringList shots = shots_of(still_rig, 0);
        const QString capped = work.filePath("capped.jpg");
        cv::imwrite(capped.toStdString(), cv::Mat(480, 640, CV_8UC3, cv::Scalar(6, 6, 6)));
        shots[2] = capped;
        const QuorvaneRun run =
            process(shots, work.filePath("capped"), {"--on-drift", "fail"});
        QCOMPARE(run.exit_code, 0);
        QCOMPARE(run.out.count(QStringLiteral(
                     "Caméra 3 : sa photo ne peut pas être comparée à celle du calibrage (trop "
                     "peu de détails en commun), elle n'est pas vérifiée\n")),
                 1);
        QCOMPARE(run.err, QString());
    }

    // The booth corrects by default: the camera is named once, at the take
    // where it moved, and every take after it is corrected all the same, with
    // a line in its folder.
    void booth_corrects_take_after_take()
    {
        const QString inbox = work.filePath("inbox");
        const QString root = work.filePath("root");
        for (int take = 0; take < take_count; ++take) {
            const QString folder = inbox + QStringLiteral("/take_%1").arg(take + 1);
            QVERIFY(QDir().mkpath(folder));
            const QStringList shots = shots_of(moved_rig, take);
            for (int camera = 0; camera < camera_count; ++camera)
                QVERIFY(QFile::copy(shots[camera],
                                    folder + QStringLiteral("/cam%1.jpg").arg(camera + 1)));
        }
        const QuorvaneRun run = run_quorvane(
            {"watch", "--calibration", calibration, "--output", root, "--settle", "0", "--once",
             inbox});
        QCOMPARE(run.exit_code, 0);
        const QStringList lines = error_lines(run);
        QCOMPARE(lines.size(), 1);
        QVERIFY2(lines.front().startsWith("quorvane : prise « take_1 » : Caméra 1 : décalée de ") &&
                     lines.front().endsWith(" ; corrigée"),
                 qPrintable(lines.front()));

        const QString last_still = work.filePath("still_last");
        QCOMPARE(process(shots_of(still_rig, take_count - 1), last_still).exit_code, 0);
        for (int take = 1; take <= take_count; ++take) {
            const QString folder = root + QStringLiteral("/take_%1").arg(take);
            QVERIFY(QFileInfo(folder + "/.termine").isFile());
            QFile notes(folder + "/derive.txt");
            QVERIFY(notes.open(QIODevice::ReadOnly));
            const QString text = QString::fromUtf8(notes.readAll());
            QVERIFY2(text.startsWith("Caméra 1 : décalée de ") && text.endsWith(" ; corrigée\n") &&
                         text.count('\n') == 1,
                     qPrintable(text));
        }
        const double offset =
            frame_offset(root + QStringLiteral("/take_%1").arg(take_count), last_still,
                         moved_camera, camera_count / 2);
        QVERIFY2(offset < 0.5, qPrintable(QString::number(offset)));
    }
};

QTEST_GUILESS_MAIN(DriftCommandTest)
#include "drift_command_test.moc"
