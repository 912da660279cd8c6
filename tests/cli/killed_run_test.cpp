// The command line killed outright (SIGKILL) at moments of a 12-shot run with
// the boomerang: whatever is left under a final name is whole (frames decode
// with OpenCV and are not cut short, videos decode with ffmpeg without an
// error), and nothing the program started outlives it: this test is a
// subreaper, so every process the killed program leaves running is handed to it.

#include "calibration/calibration_construction.h"
#include "calibration/calibration_file.h"
#include "output/run_files.h"
#include "photo/image_reading.h"
#include "quorvane_process.h"
#include "small_rig.h"

#include <opencv2/imgcodecs.hpp>

#include <QDir>
#include <QFile>
#include <QFileSystemWatcher>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <sstream>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const int camera_count = 12;

// Why the frame or video at `path` is not whole, or an empty string.
QString damage(const QString& path)
{
    if (path.endsWith(QLatin1String(".jpg"))) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return "unreadable: " + file.errorString();
        if (is_cut_short_jpeg(file.readAll()))
            return QStringLiteral("cut short");
        return cv::imread(QFile::encodeName(path).toStdString()).empty()
                   ? QStringLiteral("not decodable")
                   : QString();
    }
    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral("ffmpeg"), {"-v", "error", "-i", path, "-f", "null", "-"});
    if (!ffmpeg.waitForFinished(60000))
        return "ffmpeg did not finish: " + ffmpeg.errorString();
    const QString errors = QString::fromLocal8Bit(ffmpeg.readAllStandardError()).trimmed();
    if (ffmpeg.exitStatus() != QProcess::NormalExit || ffmpeg.exitCode() != 0)
        return QStringLiteral("ffmpeg failed (%1): %2").arg(ffmpeg.exitCode()).arg(errors);
    return errors.isEmpty() ? QString() : "ffmpeg: " + errors;
}

// The files of `folder` under a final name that are not whole, with the reason.
QStringList damaged_files(const QString& folder)
{
    static const QRegularExpression final_name(
        R"(^(output_img_\d+\.jpg|output_video(_boomerang)?\.(mp4|gif))$)");
    QStringList damaged;
    for (const QString& name : QDir(folder).entryList(QDir::Files | QDir::Hidden)) {
        if (!final_name.match(name).hasMatch())
            continue;
        const QString why = damage(folder + "/" + name);
        if (!why.isEmpty())
            damaged << name + ": " + why;
    }
    return damaged;
}

// The processes handed to this test that are still running, each as its pid and
// command line; those that have ended are reaped on the way.
QStringList adopted_processes()
{
    QStringList running;
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool number = false;
        const pid_t pid = entry.toInt(&number);
        QFile stat_file("/proc/" + entry + "/stat");
        if (!number || !stat_file.open(QIODevice::ReadOnly))
            continue;
        // "pid (name) state ppid ...": the name may hold spaces and parentheses.
        const QByteArray stat = stat_file.readAll();
        const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
        if (fields.size() < 2 || fields[1].toInt() != getpid())
            continue;
        if (fields[0] == "Z") {
            waitpid(pid, nullptr, WNOHANG);
            continue;
        }
        QFile command_line("/proc/" + entry + "/cmdline");
        const QByteArray words =
            command_line.open(QIODevice::ReadOnly) ? command_line.readAll() : QByteArray();
        running << QString::number(pid) + ": " +
                       QString::fromLocal8Bit(QByteArray(words).replace('\0', ' ')).left(200);
    }
    return running;
}

} // namespace

class KilledRunTest : public QObject
{
    Q_OBJECT

    QTemporaryDir work;
    QStringList shots;
    QString calibration;

private slots:
    void initTestCase()
    {
        // Orphans of the killed program come to this process instead of init.
        QCOMPARE(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
        QVERIFY(work.isValid());
        const SmallRig rig = write_small_rig(work.filePath("rig"), camera_count);
        QVERIFY2(rig.error.empty(), rig.error.c_str());
        shots = rig.shots;
        calibration = work.filePath("rig.qvcal");
        QCOMPARE(write_small_rig_calibration(rig, calibration), QString());
    }

    // Whatever a failed row left running goes, so that the next rows and the
    // machine are not burdened with it.
    void cleanup()
    {
        for (const QString& process : adopted_processes())
            ::kill(process.section(':', 0, 0).toInt(), SIGKILL);
        QTRY_VERIFY(adopted_processes().isEmpty());
    }

    // The run is killed once `file` is in the output folder, or once the
    // `ffmpeg`-th ffmpeg command is announced ("Running: ...", printed just
    // before it starts: the kill then lands anywhere in its start).
    void killed_mid_run_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("ffmpeg");
        QTest::newRow("first frame written") << "output_img_0.jpg" << 0;
        QTest::newRow("half the frames written") << "output_img_6.jpg" << 0;
        QTest::newRow("video's ffmpeg starting") << "" << 1;
        // Should the encoder finish before the folder is looked at, the kill
        // lands just after the video is done, which is worth trying as well.
        QTest::newRow("video being written") << ".output_video.partial.mp4" << 0;
        QTest::newRow("video done, boomerang next") << "output_video.mp4" << 0;
        QTest::newRow("boomerang's backward half starting") << "" << 2;
        QTest::newRow("boomerang being joined") << "" << 3;
    }

    void killed_mid_run()
    {
        QFETCH(QString, file);
        QFETCH(int, ffmpeg);
        const QString out = work.filePath(QString(QTest::currentDataTag()).replace(' ', '_'));
        QVERIFY(QDir().mkpath(out));

        QProcess process;
        QFileSystemWatcher watcher({out});
        int announced = 0;
        bool killed = false;
        // The run writes into its staging folder, then moves the files into `out`.
        const QString staged = out + "/" + staging_folder_name;
        const auto written = [&](const QString& name) {
            return QFile::exists(out + "/" + name) || QFile::exists(staged + "/" + name);
        };
        const auto kill_when_reached = [&] {
            if (QFileInfo(staged).isDir() && !watcher.directories().contains(staged))
                watcher.addPath(staged);
            while (process.canReadLine())
                announced += process.readLine().startsWith("Running:") ? 1 : 0;
            const bool reached = file.isEmpty() ? announced >= ffmpeg
                                                : written(file) || (file.startsWith('.') &&
                                                                    written("output_video.mp4"));
            if (reached && !killed) {
                ::kill(process.processId(), SIGKILL);
                killed = true;
            }
        };
        connect(&process, &QProcess::readyReadStandardOutput, this, kill_when_reached);
        connect(&watcher, &QFileSystemWatcher::directoryChanged, this, kill_when_reached);
        // The killed program's work folder stays behind; keep it in ours.
        QProcessEnvironment environment = headless_environment();
        environment.insert(QStringLiteral("TMPDIR"), work.filePath("tmp"));
        QVERIFY(QDir().mkpath(work.filePath("tmp")));
        start_quorvane(
            process,
            QStringList{"process", "--calibration", calibration, "--output", out, "--boomerang"} +
                shots,
            environment);
        QVERIFY(process.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(killed || process.state() == QProcess::NotRunning, 60000);
        QVERIFY2(killed, "the run ended before the moment it was to be killed at");
        QTRY_COMPARE(process.state(), QProcess::NotRunning);
        QCOMPARE(process.exitStatus(), QProcess::CrashExit);

        // The death signal takes a moment to reach what the program started.
        QTRY_VERIFY2_WITH_TIMEOUT(adopted_processes().isEmpty(),
                                  qPrintable(adopted_processes().join("; ")), 5000);
        const QStringList damaged = damaged_files(out) + damaged_files(staged);
        QVERIFY2(damaged.isEmpty(), qPrintable(damaged.join("; ")));
    }
};

QTEST_GUILESS_MAIN(KilledRunTest)
#include "killed_run_test.moc"
