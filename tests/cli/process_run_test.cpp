// How `process` treats a folder that holds an earlier run, through the real
// executable: only the run's own names count as the earlier run, it is replaced
// only by a complete new run, a killed run's leftovers go, and a failure leaves
// the folder (and the folders above it) as they were.

#include "calibration/calibration_construction.h"
#include "calibration/calibration_file.h"
#include "output/run_files.h"
#include "quorvane_process.h"
#include "small_rig.h"
#include "tests/support/file_bytes.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <sstream>

namespace {

const int camera_count = 4;

// Every entry of `folder` (hidden ones and folders too), with the content of
// each file, to tell a folder left exactly as it was.
QMap<QString, QByteArray> contents(const QString& folder)
{
    QMap<QString, QByteArray> found;
    for (const QString& name : QDir(folder).entryList(QDir::AllEntries | QDir::Hidden |
                                                      QDir::System | QDir::NoDotAndDotDot))
        found[name] = read_bytes(folder + "/" + name);
    return found;
}

QStringList names_in(const QString& folder)
{
    return contents(folder).keys();
}

const QStringList plain_run{"output_img_0.jpg", "output_img_1.jpg", "output_img_2.jpg",
                            "output_img_3.jpg", "output_video.mp4"};

// A folder of PATH holding an "ffmpeg" script that answers "-version" and runs
// `body` otherwise (with $real, the real ffmpeg, and $last, the output file).
class ScriptedFfmpeg
{
public:
    explicit ScriptedFfmpeg(const QByteArray& body)
    {
        const QByteArray real = QFile::encodeName(QStandardPaths::findExecutable("ffmpeg"));
        ok = !real.isEmpty() &&
             write_bytes(bin.filePath("ffmpeg"),
                         "#!/bin/sh\nreal='" + real +
                             "'\n[ \"$1\" = -version ] && exec \"$real\" -version\n"
                             "for last; do :; done\n" +
                             body) &&
             QFile::setPermissions(bin.filePath("ffmpeg"),
                                   QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    }

    QProcessEnvironment environment() const
    {
        QProcessEnvironment result = headless_environment();
        result.insert("PATH", bin.path() + ":" + result.value("PATH"));
        return result;
    }

    bool ok = false;

private:
    QTemporaryDir bin;
};

// Starts the program with SIGCHLD ignored, as some shells and service managers
// hand it on; the disposition survives exec.
class IgnoredChildSignalProcess : public QProcess
{
protected:
    void setupChildProcess() override { signal(SIGCHLD, SIG_IGN); }
};

} // namespace

class ProcessRunTest : public QObject
{
    Q_OBJECT

    QTemporaryDir work;
    QStringList shots;
    QString calibration;

    QStringList options(const QString& output) const
    {
        return {"process", "--calibration", calibration, "--output", output};
    }

private slots:
    void initTestCase()
    {
        QVERIFY(work.isValid());
        const SmallRig rig = write_small_rig(work.filePath("rig"), camera_count);
        QVERIFY2(rig.error.empty(), rig.error.c_str());
        shots = rig.shots;
        calibration = work.filePath("rig.qvcal");
        QCOMPARE(write_small_rig_calibration(rig, calibration), QString());
    }

    // Files of the user's whose names look like a run's, and a link standing
    // for a frame: the run replaces only its own names, a link as a link.
    void only_the_run_s_own_names_are_replaced()
    {
        QTemporaryDir folder;
        const QString output = folder.filePath("sortie");
        QCOMPARE(
            run_quorvane(options(output) + QStringList{"--boomerang", "--gif"} + shots).exit_code,
            0);
        const QStringList user_files{"output_video_final_edit.mov",
                                     "output_img_cover.jpg",
                                     "output_img_07.jpg",
                                     "output_video.MP4",
                                     "notes.txt",
                                     "output_video.mp4.backup",
                                     "output_img_0.jpg.edited"};
        for (const QString& name : user_files)
            QVERIFY(write_bytes(output + "/" + name, name.toUtf8()));
        QVERIFY(QDir().mkpath(output + "/output_img_9.jpg"));
        const QString kept = folder.filePath("kept.jpg");
        QVERIFY(write_bytes(kept, "the user's own"));
        QVERIFY(QFile::link(kept, output + "/output_img_4.jpg"));

        const QuorvaneRun run = run_quorvane(options(output) + shots);
        QCOMPARE(run.err, QString());
        QCOMPARE(run.exit_code, 0);
        QStringList expected = user_files + plain_run + QStringList{"output_img_9.jpg"};
        expected.sort();
        QCOMPARE(names_in(output), expected);
        for (const QString& name : user_files)
            QCOMPARE(read_bytes(output + "/" + name), name.toUtf8());
        QCOMPARE(read_bytes(kept), QByteArray("the user's own"));
    }

    void a_failed_run_keeps_the_earlier_one_data()
    {
        QTest::addColumn<QString>("failure");
        QTest::newRow("a frame cut short") << "frame";
        QTest::newRow("the video cut short") << "video";
        QTest::newRow("ffmpeg failing on the boomerang") << "ffmpeg";
    }

    // Whatever stops the new run, the earlier run stays, file for file, and
    // nothing of the new one is left beside it.
    void a_failed_run_keeps_the_earlier_one()
    {
        QFETCH(QString, failure);
        QTemporaryDir folder;
        const QString output = folder.filePath("sortie");
        // High compression keeps the frames well below the video they make.
        const QStringList compressed = options(output) + QStringList{"--compression", "90"};
        QCOMPARE(run_quorvane(compressed + QStringList{"--gif"} + shots).exit_code, 0);
        QVERIFY(write_bytes(output + "/notes.txt", "someone else's"));
        const QMap<QString, QByteArray> before = contents(output);
        qint64 largest_frame = 0;
        for (int k = 0; k < camera_count; ++k)
            largest_frame =
                std::max(largest_frame, QFileInfo(output + "/" + frame_file_name(k)).size());
        const qint64 video = QFileInfo(output + "/output_video.mp4").size();
        QVERIFY(largest_frame < video);

        const QStringList again = compressed + QStringList{"--boomerang"} + shots;
        QuorvaneRun run;
        if (failure == "ffmpeg") {
            const ScriptedFfmpeg ffmpeg("case \"$last\" in *boomerang*)\n"
                                        "  echo 'concat: Invalid data found' >&2; exit 1;;\n"
                                        "esac\nexec \"$real\" \"$@\"\n");
            QVERIFY(ffmpeg.ok);
            run = run_quorvane(again, ffmpeg.environment());
        } else {
            run = run_quorvane_with_file_size_limit(
                again, failure == "frame" ? largest_frame / 2 : (largest_frame + video) / 2);
        }
        QCOMPARE(run.exit_code, 1);
        QCOMPARE(run.err.count('\n'), 1);
        QVERIFY(contents(output) == before);
    }

    // A run killed outright leaves its hidden partial files and its staging
    // folder with temporary frames in it; the next run in that folder clears
    // them. Only in the staging folder is a frame's name followed by six
    // characters taken for a temporary file.
    void a_killed_run_s_leftovers_go()
    {
        QTemporaryDir folder;
        const QString output = folder.filePath("sortie");
        const QString staging = output + "/" + staging_folder_name;
        QVERIFY(QDir().mkpath(staging));
        const QStringList leftovers{".output_video.partial.mp4",
                                    ".output_video_boomerang.partial.gif"};
        for (const QString& name : leftovers)
            QVERIFY(write_bytes(output + "/" + name, "cut sh"));
        for (const char* name : {"output_img_0.jpg", "output_img_1.jpg.AbCdEf",
                                 "output_video.mp4.Qx7Tz2", ".output_video.partial.mp4"})
            QVERIFY(write_bytes(staging + "/" + QString(name), "cut sh"));
        QVERIFY(write_bytes(output + "/.notes", "hidden, but the user's"));

        const QuorvaneRun run = run_quorvane(options(output) + shots);
        QCOMPARE(run.err, QString());
        QCOMPARE(run.exit_code, 0);
        QCOMPARE(names_in(output), QStringList{".notes"} + plain_run);
    }

    void a_staging_folder_with_other_files_stops_the_run_data()
    {
        QTest::addColumn<QString>("other"); // the entry that is not the run's
        QTest::addColumn<bool>("link");     // a link to a file of the user's
        QTest::newRow("a file of the user's") << "holiday.jpg" << false;
        // The run writes only plain files there, as the booth counts them.
        QTest::newRow("a link named like a frame") << "output_img_1.jpg" << true;
    }

    // A staging folder holding something else is not emptied: the run stops
    // before writing and says what is in the way.
    void a_staging_folder_with_other_files_stops_the_run()
    {
        QFETCH(QString, other);
        QFETCH(bool, link);
        QTemporaryDir folder;
        const QString output = folder.filePath("sortie");
        const QString staging = output + "/" + staging_folder_name;
        QVERIFY(QDir().mkpath(staging));
        QVERIFY(write_bytes(staging + "/output_img_0.jpg", "cut sh"));
        const QString users = link ? folder.filePath("holiday.jpg") : staging + "/" + other;
        QVERIFY(write_bytes(users, "the user's"));
        if (link)
            QVERIFY(QFile::link(users, staging + "/" + other));

        const QuorvaneRun run = run_quorvane(options(output) + shots);
        QCOMPARE(run.exit_code, 1);
        QCOMPARE(run.err, "quorvane : '" + staging +
                              "' : ce dossier de traitement en cours contient d'autres fichiers "
                              "(" +
                              other + ") ; déplacez-les\n");
        QCOMPARE(names_in(output), QStringList{staging_folder_name});
        QCOMPARE(names_in(staging), QStringList{other});
        QVERIFY(QFileInfo(staging + "/" + other).isSymLink() == link);
        QCOMPARE(read_bytes(users), QByteArray("the user's"));
    }

    // Started from a parent that ignores SIGCHLD, a good encode is still one.
    void an_inherited_ignored_child_signal_is_reset()
    {
        QTemporaryDir folder;
        const QString output = folder.filePath("sortie");
        IgnoredChildSignalProcess process;
        start_quorvane(process, options(output) + shots);
        QVERIFY(process.waitForFinished(120000));
        QCOMPARE(QString::fromUtf8(process.readAllStandardError()), QString());
        QCOMPARE(process.exitCode(), 0);
        QCOMPARE(names_in(output), plain_run);
    }

    void ffmpeg_s_reason_names_the_full_folder_data()
    {
        QTest::addColumn<QString>("full"); // "output" or "temporary"
        QTest::newRow("the output folder") << "output";
        QTest::newRow("the temporary folder") << "temporary";
    }

    // ffmpeg's own reason comes with its last line, and the message names the
    // folder that ran out of room.
    void ffmpeg_s_reason_names_the_full_folder()
    {
        QFETCH(QString, full);
        QTemporaryDir folder;
        const QString output = folder.filePath("sortie");
        const QString temporary = folder.filePath("tmp");
        QVERIFY(QDir().mkpath(temporary));
        // The boomerang's backward half goes into the temporary folder.
        const ScriptedFfmpeg ffmpeg(
            full == "temporary"
                ? "case \"$last\" in */backward.mp4)\n"
                  "  echo \"[mp4 @ 0x55] Error writing $last: No space left on device\" >&2\n"
                  "  echo 'Conversion failed!' >&2; exit 1;;\nesac\nexec \"$real\" \"$@\"\n"
                : "echo 'frame=    2 fps=0.0 q=0.0 size=       0kB' >&2\n"
                  "echo 'av_interleaved_write_frame(): No space left on device' >&2\n"
                  "echo 'Error writing trailer: No space left on device' >&2\n"
                  "echo 'Conversion failed!' >&2; exit 1\n");
        QVERIFY(ffmpeg.ok);
        QProcessEnvironment environment = ffmpeg.environment();
        environment.insert("TMPDIR", temporary);

        const QuorvaneRun run =
            run_quorvane(options(output) + QStringList{"--boomerang"} + shots, environment);
        QCOMPARE(run.exit_code, 1);
        const QString video =
            full == "temporary" ? "output_video_boomerang.mp4" : "output_video.mp4";
        const QString reason = full == "temporary"
                                   ? "[mp4 @ 0x55] Error writing " + temporary + "/"
                                   : "av_interleaved_write_frame(): No space left on device ; ";
        QVERIFY2(run.err.startsWith("quorvane : '" + output + "/" + video +
                                    "' : la vidéo n'a pas pu être créée, le dossier '" +
                                    (full == "temporary" ? temporary : output) +
                                    "' est plein. ffmpeg : " + reason),
                 qPrintable(run.err));
        QVERIFY2(run.err.endsWith("No space left on device ; Conversion failed!\n") ||
                     run.err.endsWith("; Conversion failed!\n"),
                 qPrintable(run.err));
        QVERIFY(!QFileInfo::exists(output));
    }

    void a_failed_run_removes_the_folders_it_made_data()
    {
        QTest::addColumn<QString>("ffmpeg"); // "missing" or "failing"
        QTest::newRow("ffmpeg missing") << "missing";
        QTest::newRow("ffmpeg failing") << "failing";
    }

    // `--output nest/a/b/c`: a failure takes back every folder the run made; a
    // missing ffmpeg is found before anything is written.
    void a_failed_run_removes_the_folders_it_made()
    {
        QFETCH(QString, ffmpeg);
        QTemporaryDir folder;
        const ScriptedFfmpeg failing("echo 'Invalid argument' >&2; exit 1\n");
        QVERIFY(failing.ok);
        QProcessEnvironment environment = failing.environment();
        if (ffmpeg == "missing")
            environment.insert("PATH", folder.filePath("empty-path"));

        const QuorvaneRun run =
            run_quorvane(options(folder.filePath("nest/a/b/c")) + shots, environment);
        QCOMPARE(run.exit_code, 1);
        QCOMPARE(run.err.count('\n'), 1);
        if (ffmpeg == "missing") {
            QCOMPARE(run.err, QString("quorvane : la vidéo ne pourrait pas être créée, rien n'a "
                                      "été écrit. ffmpeg : ffmpeg could not be started: not "
                                      "found on PATH\n"));
            QVERIFY2(!run.out.contains("output_img_"), qPrintable(run.out));
        }
        QCOMPARE(names_in(folder.path()), QStringList());
    }
};

QTEST_GUILESS_MAIN(ProcessRunTest)
#include "process_run_test.moc"
