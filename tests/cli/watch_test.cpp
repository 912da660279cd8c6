// Booth mode through the real executable: takes that arrive slowly, in natural
// order, with one photo too many, a restart after a kill in the middle of a take
// and SIGTERM during one. No sleeps: --settle 0 and --once, or waits on what
// appears on disk.

#include "booth/booth.h"
#include "calibration/calibration_file.h"
#include "output/run_files.h"
#include "quorvane_process.h"
#include "small_rig.h"
#include "support/file_lock.h"
#include "tests/support/file_bytes.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QMap>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstring>
#include <sstream>

namespace {

const int camera_count = 4;
const int wait_ms = 60000;

QStringList files_in(const QString& folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

// Dates the file at `path` back to `when`, as a photo left alone since then.
bool set_changed(const QString& path, const QDateTime& when)
{
    QFile file(path);
    return file.open(QIODevice::Append) &&
           file.setFileTime(when, QFileDevice::FileModificationTime);
}

const QStringList done_take{".termine",         "output_img_0.jpg", "output_img_1.jpg",
                            "output_img_2.jpg", "output_img_3.jpg", "output_video.mp4"};

// An encoder ended by the SIGTERM that also asks this program to stop, before
// the stop request reaches it: it fails rather than stops.
class SignalledRunner : public ProcessRunner
{
public:
    ProcessingProgress* progress = nullptr;

    ProcessResult run(const QString&, const QStringList&,
                      const std::function<void(const QString&)>&,
                      const std::function<bool()>&) override
    {
        progress->request_stop();
        ProcessResult result;
        result.started = true;
        result.exit_code = 255;
        result.error_tail = QStringLiteral("Exiting normally, received signal 15.");
        return result;
    }
};

// An encoder that cannot be started the first `failures` times, then the real one.
class FailingToStartRunner : public ProcessRunner
{
public:
    int failures = 1;
    ChildProcessRunner real;

    ProcessResult run(const QString& program, const QStringList& arguments,
                      const std::function<void(const QString&)>& on_error_line,
                      const std::function<bool()>& stop_requested) override
    {
        if (failures-- > 0) {
            ProcessResult result;
            result.start_error = QStringLiteral("not found on PATH");
            return result;
        }
        return real.run(program, arguments, on_error_line, stop_requested);
    }
};

// The one take ready at `now`, processed; an empty report (the test failed)
// when not exactly one is ready.
TakeReport process_the_one_ready_take(Booth& booth, const QDateTime& now)
{
    const std::vector<TakeFolder> ready = booth.ready_takes(now);
    if (ready.size() != 1) {
        QTest::qFail("not exactly one take ready", __FILE__, __LINE__);
        return {};
    }
    ProcessingProgress progress(booth.run_for(ready.front()));
    return booth.process(ready.front(), progress);
}

} // namespace

class WatchTest : public QObject
{
    Q_OBJECT

    QTemporaryDir work;
    QStringList shots;
    QString calibration;
    QString expected_frames; // the frames of the rig's shots, made by `process`

    QString inbox;
    QString root;
    std::unique_ptr<QTemporaryDir> folders;
    // A fake ffmpeg that writes part of its output, then hangs until killed.
    QString hanging_ffmpeg_path;
    // A fake ffmpeg that succeeds, then puts a folder where the take's marker goes.
    QString blocking_ffmpeg_path;

    QStringList watch_arguments(const QStringList& extra = {}) const
    {
        return QStringList{"watch", "--calibration", calibration, "--output",
                           root,    "--settle",      "0"} +
               extra + QStringList{inbox};
    }
    // The booth over this test's inbox and root, for a Booth driven directly.
    BoothSettings booth_settings(qint64 settle_ms) const
    {
        BoothSettings settings;
        settings.inbox = inbox;
        settings.root = root;
        settings.settle_ms = settle_ms;
        settings.rig = read_calibration_file(calibration).calibration;
        return settings;
    }
    // Copies the rig's shots into INBOX/take, as `name_of(k)` for camera k.
    void drop_take(const QString& take, const std::function<QString(int)>& name_of)
    {
        QVERIFY(QDir().mkpath(inbox + "/" + take));
        for (int k = 0; k < camera_count; ++k)
            QVERIFY(QFile::copy(shots[k], inbox + "/" + take + "/" + name_of(k)));
    }
    static QString camera_name(int k) { return QStringLiteral("cam%1.jpg").arg(k + 1); }
    // Starts watching with an ffmpeg that writes part of its file, then hangs.
    void start_with_hanging_ffmpeg(QProcess& watcher)
    {
        QProcessEnvironment hanging = headless_environment();
        hanging.insert("PATH", hanging_ffmpeg_path + ":" + hanging.value("PATH"));
        start_quorvane(watcher, watch_arguments(), hanging);
    }

    // The take's frames are the rig's frames, in camera order.
    void verify_frames(const QString& take)
    {
        for (int k = 0; k < camera_count; ++k) {
            const QString frame = QStringLiteral("/output_img_%1.jpg").arg(k);
            const QImage written(root + "/" + take + frame);
            QVERIFY(!written.isNull());
            QVERIFY2(written == QImage(expected_frames + frame), qPrintable(take + frame));
        }
    }

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void takes_are_done_once_in_natural_order();
    void a_take_plays_its_in_between_frames();
    void a_take_with_one_photo_too_many_fails_until_it_changes();
    void a_photo_written_in_two_halves_waits_for_its_end();
    void a_photo_cut_short_for_good_fails_the_take_data();
    void a_photo_cut_short_for_good_fails_the_take();
    void a_photo_cut_short_waits_as_long_as_it_changes();
    void a_take_killed_half_way_is_redone_after_a_restart();
    void sigterm_during_a_take_leaves_no_partial_video();
    void a_marker_not_written_leaves_the_take_failed();
    void a_reason_not_written_is_reported_and_tried_again();
    void an_encoder_ended_by_the_stop_signal_abandons_the_take();
    void what_stands_in_a_take_place_is_left_alone_data();
    void what_stands_in_a_take_place_is_left_alone();
    void a_take_held_back_is_said_once();
    void an_inbox_inside_the_root_is_refused();
    void ffmpeg_that_cannot_run_is_refused_at_start();
    void a_full_disk_leaves_the_take_to_be_tried_again();
    void ffmpeg_failing_to_start_is_retried_after_a_pause();
    void a_take_folder_another_run_holds_waits_untouched();
    void photos_dated_ahead_of_the_clock_settle_from_when_they_are_seen();
    void a_reason_of_the_machine_kept_earlier_does_not_hold_the_take_data();
    void a_reason_of_the_machine_kept_earlier_does_not_hold_the_take();
    void once_says_which_takes_it_leaves_waiting();
    void a_take_lacking_a_photo_fails_then_is_done_when_it_comes();
    void a_take_lacking_a_photo_waits_from_its_last_change();
    void a_photo_padded_or_damaged_data();
    void a_photo_padded_or_damaged();
    void a_take_for_guests_has_the_logo_the_shape_and_the_length();
    void an_overlay_that_is_not_a_png_fails_the_take();
};

void WatchTest::initTestCase()
{
    const SmallRig rig = write_small_rig(work.filePath("rig"), camera_count);
    QVERIFY2(rig.error.empty(), rig.error.c_str());
    shots = rig.shots;
    calibration = work.filePath("rig.qvcal");
    QCOMPARE(
        run_quorvane(QStringList{"calibrate", "--output", calibration} + rig.references).exit_code,
        0);
    expected_frames = work.filePath("expected");
    QCOMPARE(run_quorvane(
                 QStringList{"process", "--calibration", calibration, "--output", expected_frames} +
                 shots)
                 .exit_code,
             0);

    QVERIFY(QDir().mkpath(work.filePath("fake")));
    hanging_ffmpeg_path = work.filePath("fake");
    const QString script = hanging_ffmpeg_path + "/ffmpeg";
    // The last argument is the file it writes; its process id tells that it started.
    QVERIFY(write_bytes(script, "#!/bin/sh\n"
                                "[ \"$1\" = -version ] && exit 0\n"
                                "for last; do :; done\n"
                                "echo partial > \"$last\"\n"
                                "echo $$ > \"$(dirname \"$0\")/pid.new\"\n"
                                "mv \"$(dirname \"$0\")/pid.new\" \"$(dirname \"$0\")/pid\"\n"
                                "exec sleep 600\n"));
    QVERIFY(QFile::setPermissions(script, QFile::permissions(script) | QFile::ExeOwner));

    blocking_ffmpeg_path = work.filePath("blocking");
    QVERIFY(QDir().mkpath(blocking_ffmpeg_path));
    const QString blocking = blocking_ffmpeg_path + "/ffmpeg";
    QVERIFY(write_bytes(blocking, "#!/bin/sh\n"
                                  "[ \"$1\" = -version ] && exit 0\n"
                                  "for last; do :; done\n"
                                  "echo encoded > \"$last\"\n"
                                  // The take folder, above the run's staging folder.
                                  "mkdir \"$(dirname \"$(dirname \"$last\")\")/.termine\"\n"));
    QVERIFY(QFile::setPermissions(blocking, QFile::permissions(blocking) | QFile::ExeOwner));
}

void WatchTest::init()
{
    folders = std::make_unique<QTemporaryDir>();
    inbox = folders->filePath("inbox");
    root = folders->filePath("root");
    QVERIFY(QDir().mkpath(inbox));
}

void WatchTest::cleanup()
{
    // A fake ffmpeg whose watcher was killed would be left hanging.
    const QString pid_file = hanging_ffmpeg_path + "/pid";
    const int pid = read_bytes(pid_file).trimmed().toInt();
    if (pid > 0)
        ::kill(pid, SIGKILL);
    QFile::remove(pid_file);
    folders.reset();
}

void WatchTest::takes_are_done_once_in_natural_order()
{
    // cam9 ... cam12: "cam10" sorts before "cam9" as plain text.
    drop_take("take 1", [](int k) { return QStringLiteral("cam%1.jpg").arg(k + 9); });
    drop_take("take 2", camera_name);
    QuorvaneRun run = run_quorvane(watch_arguments({"--once"}));
    QCOMPARE(run.exit_code, 0);
    QCOMPARE(run.err, QString());
    QCOMPARE(run.out.count("Take done: "), 2);
    for (const QString take : {"take 1", "take 2"}) {
        QCOMPARE(files_in(root + "/" + take), done_take);
        verify_frames(take);
    }

    // Done exactly once: the markers stand, even once the photos change.
    QVERIFY(QFile::remove(inbox + "/take 2/cam1.jpg"));
    QVERIFY(QFile::copy(shots[0], inbox + "/take 2/cam1.jpg"));
    run = run_quorvane(watch_arguments({"--once"}));
    QCOMPARE(run.exit_code, 0);
    QCOMPARE(run.out, QString());
}

// The booth's videos hold the in-between frames asked for; the take's frames
// are the cameras' own.
void WatchTest::a_take_plays_its_in_between_frames()
{
    drop_take("take", camera_name);
    const QuorvaneRun run =
        run_quorvane(watch_arguments({"--once", "--video-size", "1920", "--between", "1"}));
    QCOMPARE(run.exit_code, 0);
    QCOMPARE(run.out.count("Take done: "), 1);
    QCOMPARE(files_in(root + "/take"), done_take);
    verify_frames("take");
    QProcess ffprobe;
    ffprobe.start("ffprobe", {"-v", "error", "-count_frames", "-select_streams", "v:0",
                              "-show_entries", "stream=nb_read_frames", "-of", "csv=p=0",
                              root + "/take/output_video.mp4"});
    QVERIFY(ffprobe.waitForFinished(-1));
    QCOMPARE(ffprobe.readAllStandardOutput().trimmed().toInt(), 2 * camera_count - 1);
}

void WatchTest::a_take_with_one_photo_too_many_fails_until_it_changes()
{
    drop_take("crowded", camera_name);
    QVERIFY(QFile::copy(shots[0], inbox + "/crowded/cam5.jpg"));
    QuorvaneRun run = run_quorvane(watch_arguments({"--once"}));
    QCOMPARE(run.exit_code, 0);
    QCOMPARE(run.err, QStringLiteral("quorvane : prise « crowded » : 5 photos pour 4 caméras\n"));
    QCOMPARE(files_in(root + "/crowded"), QStringList{take_error_file});
    QVERIFY(read_bytes(root + "/crowded/erreur.txt").startsWith("5 photos pour 4 caméras\n"));

    // Not tried again with the same files...
    run = run_quorvane(watch_arguments({"--once"}));
    QCOMPARE(run.err, QString());
    // ...but as soon as they change.
    QVERIFY(QFile::remove(inbox + "/crowded/cam5.jpg"));
    run = run_quorvane(watch_arguments({"--once"}));
    QCOMPARE(run.err, QString());
    QCOMPARE(files_in(root + "/crowded"), done_take);
    verify_frames("crowded");
}

void WatchTest::a_photo_written_in_two_halves_waits_for_its_end()
{
    // The slow take first: three photos and the first half of the fourth.
    QVERIFY(QDir().mkpath(inbox + "/slow"));
    for (int k = 0; k < camera_count - 1; ++k)
        QVERIFY(QFile::copy(shots[k], inbox + "/slow/" + camera_name(k)));
    const QByteArray last = read_bytes(shots[camera_count - 1]);
    const QString last_path = inbox + "/slow/" + camera_name(camera_count - 1);
    QVERIFY(write_bytes(last_path, last.left(last.size() / 2)));

    QProcess watcher;
    start_quorvane(watcher, watch_arguments());
    QVERIFY(watcher.waitForStarted());
    // A complete take dropped after it: once it is done, the watcher has seen the
    // half-written take and left it alone.
    drop_take("quick", camera_name);
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(root + "/quick/.termine"), wait_ms);
    QVERIFY(!QFileInfo::exists(root + "/slow"));

    QVERIFY(write_bytes(last_path, last.mid(last.size() / 2), QIODevice::Append));
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(root + "/slow/.termine"), wait_ms);
    verify_frames("slow");

    watcher.terminate();
    QVERIFY(watcher.waitForFinished(wait_ms));
    QCOMPARE(watcher.exitStatus(), QProcess::NormalExit);
    QCOMPARE(watcher.exitCode(), 0);
}

void WatchTest::a_photo_cut_short_for_good_fails_the_take_data()
{
    QTest::addColumn<QString>("photo");
    QTest::addColumn<QByteArray>("bytes"); // empty: the first half of the camera's shot
    QTest::addColumn<QString>("reason");

    QTest::newRow("JPEG whose transfer died")
        << "cam4.jpg" << QByteArray() << "photo JPEG incomplète (coupée avant la fin)";
    QTest::newRow("not a photo, starts like a JPEG")
        << "cam4.jpg" << QByteArray("\xff\xd8\xff\xe0 not a photo") << "photo JPEG incomplète";
    QTest::newRow("PNG whose transfer died")
        << "cam4.png" << QByteArray() << "photo PNG incomplète (coupée avant la fin)";
}

// Left unchanged well past the settle time, a take whose photo never ends is
// failed with its reason instead of waiting forever, and tried again once the
// photo is sent anew.
void WatchTest::a_photo_cut_short_for_good_fails_the_take()
{
    QFETCH(QString, photo);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, reason);

    QVERIFY(QDir().mkpath(inbox + "/stuck"));
    for (int k = 0; k < camera_count - 1; ++k)
        QVERIFY(QFile::copy(shots[k], inbox + "/stuck/" + camera_name(k)));
    QByteArray whole = read_bytes(shots[camera_count - 1]);
    if (photo.endsWith(".png")) {
        QBuffer buffer(&whole);
        QVERIFY(QImage(shots[camera_count - 1]).save(&buffer, "PNG"));
    }
    const QString path = inbox + "/stuck/" + photo;
    QVERIFY(write_bytes(path, bytes.isEmpty() ? whole.left(whole.size() / 2) : bytes));

    // Within the grace period the take waits, without a word.
    QuorvaneRun run = run_quorvane(watch_arguments({"--once"}));
    QCOMPARE(run.exit_code, 0);
    QCOMPARE(run.err, QString());
    QVERIFY(!QFileInfo::exists(root + "/stuck"));

    const QDateTime long_ago = QDateTime::currentDateTime().addSecs(-3600);
    for (const QString& file : files_in(inbox + "/stuck"))
        QVERIFY(set_changed(inbox + "/stuck/" + file, long_ago));
    run = run_quorvane(watch_arguments({"--once"}));
    QCOMPARE(run.exit_code, 0);
    const QString line = "quorvane : prise « stuck » : '" + photo + "' : " + reason;
    // One line of ours, and none of the image libraries' own warnings.
    QVERIFY2(run.err.count('\n') == 1 && run.err.startsWith(line), qPrintable(run.err));
    QCOMPARE(files_in(root + "/stuck"), QStringList{take_error_file});
    QVERIFY(
        read_bytes(root + "/stuck/erreur.txt").startsWith(line.mid(line.indexOf('\'')).toUtf8()));

    // Not tried again with the same files...
    run = run_quorvane(watch_arguments({"--once"}));
    QCOMPARE(run.err, QString());
    // ...but as soon as the photo comes whole.
    QVERIFY(write_bytes(path, whole));
    run = run_quorvane(watch_arguments({"--once"}));
    QCOMPARE(run.err, QString());
    QCOMPARE(files_in(root + "/stuck"), done_take);
}

// Where the grace period starts and ends, at the booth's own clock: a photo
// still growing is never failed, however long it takes as a whole.
void WatchTest::a_photo_cut_short_waits_as_long_as_it_changes()
{
    const QByteArray last = read_bytes(shots[camera_count - 1]);
    QVERIFY(QDir().mkpath(inbox + "/slow"));
    for (int k = 0; k < camera_count - 1; ++k)
        QVERIFY(QFile::copy(shots[k], inbox + "/slow/" + camera_name(k)));
    const QString path = inbox + "/slow/" + camera_name(camera_count - 1);
    QVERIFY(write_bytes(path, last.left(last.size() / 3)));
    const QDateTime start = QDateTime::currentDateTime().addSecs(-3600);
    for (const QString& file : files_in(inbox + "/slow"))
        QVERIFY(set_changed(inbox + "/slow/" + file, start));

    const BoothSettings settings = booth_settings(5000);
    QCOMPARE(settings.rig.camera_count(), camera_count);
    SignalledRunner runner;
    std::ostringstream log;
    Booth booth(settings, runner, log);
    const qint64 grace = cut_short_grace_ms(settings.settle_ms);
    QVERIFY(grace >= 30000 && grace >= 10 * settings.settle_ms);
    QVERIFY(booth.ready_takes(start.addMSecs(grace - 1)).empty());
    QCOMPARE(booth.ready_takes(start.addMSecs(grace)).size(), std::size_t(1));

    // A second third arrives: the wait starts again from it.
    QVERIFY(write_bytes(path, last.mid(last.size() / 3, last.size() / 3), QIODevice::Append));
    const QDateTime grown = start.addMSecs(grace);
    QVERIFY(set_changed(path, grown));
    QVERIFY(booth.ready_takes(grown.addMSecs(settings.settle_ms)).empty());
    QVERIFY(booth.ready_takes(grown.addMSecs(grace - 1)).empty());
    QCOMPARE(booth.ready_takes(grown.addMSecs(grace)).size(), std::size_t(1));

    // Whole, it is ready after the settle time alone.
    QVERIFY(write_bytes(path, last.mid(2 * (last.size() / 3)), QIODevice::Append));
    const QDateTime whole = grown.addSecs(60);
    QVERIFY(set_changed(path, whole));
    QVERIFY(booth.ready_takes(whole.addMSecs(settings.settle_ms - 1)).empty());
    QCOMPARE(booth.ready_takes(whole.addMSecs(settings.settle_ms)).size(), std::size_t(1));
}

void WatchTest::a_take_killed_half_way_is_redone_after_a_restart()
{
    drop_take("interrupted", camera_name);
    QProcess watcher;
    start_with_hanging_ffmpeg(watcher);
    // Killed while ffmpeg writes the video.
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(hanging_ffmpeg_path + "/pid"), wait_ms);
    watcher.kill();
    QVERIFY(watcher.waitForFinished(wait_ms));
    QVERIFY(!QFileInfo::exists(root + "/interrupted/.termine"));
    // The killed run's files stay in its staging folder, which the next run clears.
    QVERIFY(QFileInfo::exists(root + "/interrupted/.output_run.partial/.output_video.partial.mp4"));

    const QuorvaneRun restart = run_quorvane(watch_arguments({"--once"}));
    QCOMPARE(restart.exit_code, 0);
    QCOMPARE(files_in(root + "/interrupted"), done_take);
    QVERIFY(!QFileInfo::exists(root + "/interrupted/.output_run.partial"));
    QVERIFY(QFileInfo(root + "/interrupted/output_video.mp4").size() > 100);
    verify_frames("interrupted");
}

void WatchTest::sigterm_during_a_take_leaves_no_partial_video()
{
    drop_take("stopped", camera_name);
    QProcess watcher;
    start_with_hanging_ffmpeg(watcher);
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(hanging_ffmpeg_path + "/pid"), wait_ms);
    watcher.terminate();
    QVERIFY(watcher.waitForFinished(wait_ms));
    QCOMPARE(watcher.exitStatus(), QProcess::NormalExit);
    QCOMPARE(watcher.exitCode(), 0);
    // Abandoned whole, and said: a restart does it from the start.
    QVERIFY(watcher.readAllStandardOutput().contains(
        "Take stopped: stopped (done again at the next start)\n"));
    QVERIFY(!QFileInfo::exists(root + "/stopped"));
    QVERIFY(QFileInfo::exists(inbox + "/stopped/cam1.jpg"));
}

// The marker is what makes a take done: when it cannot be written, the take is
// reported and fails like any other, never left looking done.
void WatchTest::a_marker_not_written_leaves_the_take_failed()
{
    drop_take("blocked", camera_name);
    QProcessEnvironment blocking = headless_environment();
    blocking.insert("PATH", blocking_ffmpeg_path + ":" + blocking.value("PATH"));
    const QuorvaneRun run = run_quorvane(watch_arguments({"--once"}), blocking);
    QCOMPARE(run.exit_code, 0);
    QCOMPARE(run.err.count('\n'), 1);
    const QString reason = "'" + root + "/blocked/.termine' : impossible d'écrire le fichier (";
    QVERIFY2(run.err.startsWith("quorvane : prise « blocked » : " + reason), qPrintable(run.err));
    QVERIFY(!run.out.contains("Take done: "));
    // The folder in the way is not the booth's to remove; no marker is written.
    QVERIFY(!QFileInfo(root + "/blocked/.termine").isFile());
    QCOMPARE(files_in(root + "/blocked"), QStringList{take_error_file});
    QVERIFY(read_bytes(root + "/blocked/erreur.txt").startsWith(reason.toUtf8()));
}

// A full disk as the reason of a failed take is written: the line says both,
// no erreur.txt cut short is left, and the take is tried again at a later look;
// --once says that the machine held it back.
void WatchTest::a_reason_not_written_is_reported_and_tried_again()
{
    drop_take("crowded", camera_name);
    QVERIFY(QFile::copy(shots[0], inbox + "/crowded/cam5.jpg"));
    QuorvaneRun run = run_quorvane_with_file_size_limit(watch_arguments({"--once"}), 16);
    QCOMPARE(run.exit_code, 1);
    QCOMPARE(run.err, QStringLiteral("quorvane : prise « crowded » : 5 photos pour 4 caméras ; "
                                     "'%1/crowded/erreur.txt' : impossible d'écrire le fichier "
                                     "(%2)\n")
                          .arg(root, QString::fromLocal8Bit(std::strerror(EFBIG))));
    QCOMPARE(files_in(root + "/crowded"), QStringList{});

    run = run_quorvane(watch_arguments({"--once"}));
    QCOMPARE(run.err, QStringLiteral("quorvane : prise « crowded » : 5 photos pour 4 caméras\n"));
    QCOMPARE(files_in(root + "/crowded"), QStringList{take_error_file});
}

// The take in hand when a stop came is abandoned, to be redone at the next
// start, even when its encoder failed on the signal first: never kept as failed
// for good with photos that are fine.
void WatchTest::an_encoder_ended_by_the_stop_signal_abandons_the_take()
{
    drop_take("signalled", camera_name);
    const BoothSettings settings = booth_settings(0);
    QCOMPARE(settings.rig.camera_count(), camera_count);
    SignalledRunner runner;
    std::ostringstream log;
    Booth booth(settings, runner, log);
    const std::vector<TakeFolder> ready = booth.ready_takes(QDateTime::currentDateTime());
    QCOMPARE(ready.size(), std::size_t(1));

    ProcessingProgress progress(booth.run_for(ready.front()));
    runner.progress = &progress;
    const TakeReport report = booth.process(ready.front(), progress);
    QVERIFY2(report.abandoned, qPrintable(report.error));
    QVERIFY(!report.done);
    QVERIFY(!QFileInfo::exists(root + "/signalled"));
}

void WatchTest::what_stands_in_a_take_place_is_left_alone_data()
{
    QTest::addColumn<QString>("take");
    // "folder", "hidden", "edited", "staging", "link" or "file"
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("reason");

    QTest::newRow("a folder of the user's")
        << "2024"
        << "folder"
        << "le dossier contient des fichiers que la borne n'a pas écrits (my_notes.txt), il "
           "n'est pas vidé";
    QTest::newRow("a hidden folder of the user's")
        << "2025"
        << "hidden"
        << "le dossier contient des fichiers que la borne n'a pas écrits (.thumbnails), il "
           "n'est pas vidé";
    QTest::newRow("a file of the user's named like a frame and six letters")
        << "2026"
        << "edited"
        << "le dossier contient des fichiers que la borne n'a pas écrits "
           "(output_img_0.jpg.edited), il n'est pas vidé";
    QTest::newRow("the user's file in the run's staging folder")
        << "2027"
        << "staging"
        << "le dossier contient des fichiers que la borne n'a pas écrits "
           "(.output_run.partial/holiday.jpg), il n'est pas vidé";
    QTest::newRow("a link named like a frame in the run's staging folder")
        << "2028"
        << "staged link"
        << "le dossier contient des fichiers que la borne n'a pas écrits "
           "(.output_run.partial/output_img_0.jpg), il n'est pas vidé";
    QTest::newRow("a link out of the root")
        << "linked"
        << "link"
        << "c'est un lien symbolique, la borne n'écrit pas au travers";
    QTest::newRow("a file") << "plain"
                            << "file"
                            << "un fichier occupe la place du dossier de sortie";
}

// ROOT/<take> that the booth did not make is never emptied, nor written
// through: the take is held back with its reason until it is cleared.
void WatchTest::what_stands_in_a_take_place_is_left_alone()
{
    QFETCH(QString, take);
    QFETCH(QString, kind);
    QFETCH(QString, reason);

    drop_take(take, camera_name);
    const QString place = root + "/" + take;
    const QString elsewhere = folders->filePath("elsewhere");
    QString kept; // the user's file that must stay
    QVERIFY(QDir().mkpath(root));
    if (kind == "folder") {
        QVERIFY(QDir().mkpath(place));
        kept = place + "/my_notes.txt";
    } else if (kind == "hidden") {
        QVERIFY(QDir().mkpath(place + "/.thumbnails"));
        kept = place + "/.thumbnails/cache";
    } else if (kind == "staging") {
        QVERIFY(QDir().mkpath(place + "/.output_run.partial"));
        kept = place + "/.output_run.partial/holiday.jpg";
    } else if (kind == "staged link") {
        QVERIFY(QDir().mkpath(place + "/.output_run.partial"));
        QVERIFY(QDir().mkpath(elsewhere));
        kept = elsewhere + "/keep.jpg";
        QVERIFY(QFile::link(kept, place + "/.output_run.partial/output_img_0.jpg"));
    } else if (kind == "edited") {
        QVERIFY(QDir().mkpath(place));
        kept = place + "/output_img_0.jpg.edited";
    } else if (kind == "link") {
        QVERIFY(QDir().mkpath(elsewhere));
        QVERIFY(QFile::link("../elsewhere", place));
        kept = elsewhere + "/keep.txt";
    } else {
        kept = place;
    }
    QVERIFY(write_bytes(kept, "the user's"));
    // The booth's own leftovers beside the user's file do not make it the booth's.
    if (kind == "folder")
        QVERIFY(write_bytes(place + "/erreur.txt", "an earlier reason"));

    QuorvaneRun run = run_quorvane(watch_arguments({"--once"}));
    QCOMPARE(run.err, "quorvane : prise « " + take + " » : '" + place + "' : " + reason + "\n");
    QCOMPARE(run.exit_code, 1);
    QCOMPARE(read_bytes(kept), QByteArray("the user's"));
    if (kind == "link")
        QCOMPARE(files_in(elsewhere), QStringList{"keep.txt"});
    if (kind == "folder")
        QCOMPARE(files_in(place), (QStringList{"erreur.txt", "my_notes.txt"}));

    // Cleared by its owner, the take is done.
    QVERIFY(QFile::remove(kind == "link"          ? place
                          : kind == "staged link" ? place + "/.output_run.partial/output_img_0.jpg"
                                                  : kept));
    if (kind == "hidden")
        QVERIFY(QDir(place).rmdir(".thumbnails"));
    run = run_quorvane(watch_arguments({"--once"}));
    QCOMPARE(run.err, QString());
    QCOMPARE(run.exit_code, 0);
    QCOMPARE(files_in(place), done_take);
}

// A take held back is reported once, not at every look, while the booth goes
// on with the others.
void WatchTest::a_take_held_back_is_said_once()
{
    drop_take("plain", camera_name);
    QVERIFY(QDir().mkpath(root));
    QVERIFY(write_bytes(root + "/plain", "the user's"));
    QProcess watcher;
    start_quorvane(watcher, watch_arguments());
    drop_take("first", camera_name);
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(root + "/first/.termine"), wait_ms);
    // At least one more look, with the held take ready in it.
    drop_take("second", camera_name);
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(root + "/second/.termine"), wait_ms);
    watcher.terminate();
    QVERIFY(watcher.waitForFinished(wait_ms));
    QCOMPARE(watcher.exitCode(), 0);
    QCOMPARE(QString::fromUtf8(watcher.readAllStandardError()),
             "quorvane : prise « plain » : '" + root +
                 "/plain' : un fichier occupe la place du dossier de sortie\n");
    QCOMPARE(read_bytes(root + "/plain"), QByteArray("the user's"));
}

// A take named like the inbox would have the inbox itself as output folder.
void WatchTest::an_inbox_inside_the_root_is_refused()
{
    root = folders->filePath("booth1");
    inbox = root + "/inbox";
    drop_take("inbox", camera_name);
    drop_take("other", camera_name);
    const QuorvaneRun run = run_quorvane(watch_arguments({"--once"}));
    QCOMPARE(run.exit_code, 2);
    QCOMPARE(run.err, QStringLiteral("quorvane : watch : le dossier d'arrivée ne peut pas être "
                                     "dans RACINE\n"
                                     "quorvane : essayez « quorvane watch --help »\n"));
    QCOMPARE(files_in(inbox + "/other"),
             (QStringList{"cam1.jpg", "cam2.jpg", "cam3.jpg", "cam4.jpg"}));
    QCOMPARE(files_in(inbox + "/inbox").size(), camera_count);
}

void WatchTest::ffmpeg_that_cannot_run_is_refused_at_start()
{
    drop_take("take", camera_name);
    QProcessEnvironment without = headless_environment();
    without.insert("PATH", folders->filePath("no such folder"));
    const QuorvaneRun run = run_quorvane(watch_arguments({"--once"}), without);
    QCOMPARE(run.exit_code, 1);
    QCOMPARE(run.err, QStringLiteral("quorvane : ffmpeg ne peut pas être lancé (not found on "
                                     "PATH)\n"));
    QVERIFY(!QFileInfo::exists(root));
}

// A full disk is the machine's fault, not the take's: no reason is kept that
// would skip the take for good, and once there is room again it is done.
void WatchTest::a_full_disk_leaves_the_take_to_be_tried_again()
{
    drop_take("full", camera_name);
    drop_take("later", camera_name);
    // Room for a reason, not for a frame.
    QuorvaneRun run = run_quorvane_with_file_size_limit(watch_arguments({"--once"}), 4096);
    QCOMPARE(run.exit_code, 1);
    // One line: the next take would meet the same disk and is left for later.
    QCOMPARE(run.err.count('\n'), 1);
    const QString line = "quorvane : prise « full » : '" + root + "/full/output_img_";
    QVERIFY2(run.err.startsWith(line), qPrintable(run.err));
    QVERIFY2(run.err.endsWith(QString::fromLocal8Bit(std::strerror(EFBIG)) + ")\n"),
             qPrintable(run.err));
    QCOMPARE(files_in(root + "/full"), QStringList{});
    QVERIFY(!QFileInfo::exists(root + "/later"));

    run = run_quorvane(watch_arguments({"--once"}));
    QCOMPARE(run.err, QString());
    QCOMPARE(run.exit_code, 0);
    QCOMPARE(files_in(root + "/full"), done_take);
    QCOMPARE(files_in(root + "/later"), done_take);
}

// ffmpeg that fails to start leaves the take untouched by any reason; it is
// tried again once the pause is over, and the fault is said once.
void WatchTest::ffmpeg_failing_to_start_is_retried_after_a_pause()
{
    drop_take("take", camera_name);
    FailingToStartRunner runner;
    runner.failures = 2;
    std::ostringstream log;
    Booth booth(booth_settings(0), runner, log);
    const QDateTime start = QDateTime::currentDateTime();
    QDateTime now = start;
    for (const bool first : {true, false}) {
        const TakeReport report = process_the_one_ready_take(booth, now);
        QVERIFY(!report.done);
        QCOMPARE(report.fault, TakeFault::Machine);
        QCOMPARE(report.already_said, !first);
        QVERIFY2(report.error.endsWith("ffmpeg could not be started: not found on PATH"),
                 qPrintable(report.error));
        QCOMPARE(files_in(root + "/take"), QStringList{});
        QVERIFY(booth.ready_takes(now).empty());
        QVERIFY(booth.ready_takes(now.addMSecs(machine_retry_ms - 1)).empty());
        now = now.addMSecs(machine_retry_ms);
    }
    const TakeReport report = process_the_one_ready_take(booth, now);
    QVERIFY2(report.done, qPrintable(report.error));
    QCOMPARE(files_in(root + "/take"), done_take);
}

// A second booth on the same root runs the same take: while it holds the
// take's folder, this one leaves the folder as it is (no reason, none of the
// other run's frames removed) and tries again after the pause.
void WatchTest::a_take_folder_another_run_holds_waits_untouched()
{
    drop_take("take", camera_name);
    FailingToStartRunner runner;
    runner.failures = 0;
    std::ostringstream log;
    Booth booth(booth_settings(0), runner, log);
    QVERIFY(QDir().mkpath(root + "/take"));
    QVERIFY(write_bytes(root + "/take/output_img_0.jpg", "the other run's frame"));
    const QDateTime now = QDateTime::currentDateTime();
    {
        ExclusiveFileLock other(root + "/take/" + run_lock_file_name);
        QCOMPARE(other.try_lock(), ExclusiveFileLock::Outcome::Taken);
        const TakeReport report = process_the_one_ready_take(booth, now);
        QVERIFY(!report.done);
        QCOMPARE(report.fault, TakeFault::Machine);
        QVERIFY2(report.error.endsWith("un autre traitement écrit déjà dans ce dossier ; attendez "
                                       "qu'il finisse ou choisissez un autre dossier"),
                 qPrintable(report.error));
        QCOMPARE(files_in(root + "/take"),
                 (QStringList{run_lock_file_name, "output_img_0.jpg"}));
        QVERIFY(booth.ready_takes(now).empty());
    }
    const TakeReport report = process_the_one_ready_take(booth, now.addMSecs(machine_retry_ms));
    QVERIFY2(report.done, qPrintable(report.error));
    QCOMPARE(files_in(root + "/take"), done_take);
}

// A camera clock ahead dates its photos in the future; they settle from when
// the booth first saw them, and --once waits for that.
void WatchTest::photos_dated_ahead_of_the_clock_settle_from_when_they_are_seen()
{
    drop_take("ahead", camera_name);
    const QDateTime future = QDateTime::currentDateTime().addSecs(3600);
    for (const QString& file : files_in(inbox + "/ahead"))
        QVERIFY(set_changed(inbox + "/ahead/" + file, future));
    QStringList arguments = watch_arguments({"--once"});
    arguments[arguments.indexOf("--settle") + 1] = "0.2";
    const QuorvaneRun run = run_quorvane(arguments);
    QCOMPARE(run.err, QString());
    QCOMPARE(run.exit_code, 0);
    QVERIFY2(run.out.contains("Take done: ahead"), qPrintable(run.out));
    QCOMPARE(files_in(root + "/ahead"), done_take);
}

void WatchTest::a_reason_of_the_machine_kept_earlier_does_not_hold_the_take_data()
{
    QTest::addColumn<QString>("reason");
    QTest::newRow("ffmpeg missing")
        << "'%1/output_video.mp4' : la vidéo n'a pas pu être créée. ffmpeg : ffmpeg could not "
           "be started: not found on PATH";
    QTest::newRow("a full disk") << "'%1/output_img_2.jpg' : impossible d'écrire le fichier "
                                    "(No space left on device)";
}

// An "erreur.txt" that an earlier version wrote for a fault of the machine,
// with these very photos, is not a reason to skip the take for good.
void WatchTest::a_reason_of_the_machine_kept_earlier_does_not_hold_the_take()
{
    QFETCH(QString, reason);
    drop_take("kept", camera_name);
    const QString place = root + "/kept";
    QVERIFY(QDir().mkpath(place));
    const TakeFolder take = read_take_folder(inbox + "/kept");
    QVERIFY(write_bytes(place + "/erreur.txt",
                        (reason.arg(place) + "\n\nPhotos :\n" + take.fingerprint).toUtf8()));
    const QuorvaneRun run = run_quorvane(watch_arguments({"--once"}));
    QCOMPARE(run.err, QString());
    QCOMPARE(run.exit_code, 0);
    QCOMPARE(files_in(place), done_take);
}

// --once never ends in silence over takes it leaves for later.
void WatchTest::once_says_which_takes_it_leaves_waiting()
{
    QVERIFY(QDir().mkpath(inbox + "/few"));
    for (int k = 0; k < 2; ++k)
        QVERIFY(QFile::copy(shots[k], inbox + "/few/" + camera_name(k)));
    QVERIFY(QDir().mkpath(inbox + "/empty"));
    QVERIFY(QDir().mkpath(inbox + "/stuck"));
    for (int k = 0; k < camera_count - 1; ++k)
        QVERIFY(QFile::copy(shots[k], inbox + "/stuck/" + camera_name(k)));
    const QByteArray last = read_bytes(shots[camera_count - 1]);
    QVERIFY(
        write_bytes(inbox + "/stuck/" + camera_name(camera_count - 1), last.left(last.size() / 2)));
    const QuorvaneRun run = run_quorvane(watch_arguments({"--once"}));
    QCOMPARE(run.err, QString());
    QCOMPARE(run.exit_code, 0);
    QCOMPARE(run.out, QStringLiteral("Take waiting: few (2 of 4 photos)\n"
                                     "Take waiting: stuck (a photo still incomplete)\n"));
}

// A camera that did not fire: the watcher does not wait without a word, the
// take fails once it has stopped changing, naming what is missing, and is done
// as soon as the photo comes after all.
void WatchTest::a_take_lacking_a_photo_fails_then_is_done_when_it_comes()
{
    const QString take = inbox + "/short";
    QVERIFY(QDir().mkpath(take));
    const auto name_of = [](int k) {
        return QStringLiteral("cam_%1.jpg").arg(k + 1, 2, 10, QLatin1Char('0'));
    };
    for (int k = 0; k < camera_count; ++k) {
        if (k != 2)
            QVERIFY(QFile::copy(shots[k], take + "/" + name_of(k)));
    }
    QProcess watcher;
    start_quorvane(watcher, watch_arguments({"--incomplete-after", "0.2"}));
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(root + "/short/erreur.txt"), wait_ms);
    const QString reason = "prise incomplète : 3 photos sur 4 après 0,2 s sans changement ; "
                           "photo manquante probable : cam_03.jpg";
    const QByteArray error = read_bytes(root + "/short/erreur.txt");
    QVERIFY2(error.startsWith((reason + "\n\nPhotos :\ncam_01.jpg ").toUtf8()), error.constData());
    QCOMPARE(files_in(root + "/short"), QStringList{take_error_file});

    QVERIFY(QFile::copy(shots[2], take + "/" + name_of(2)));
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(root + "/short/.termine"), wait_ms);
    watcher.terminate();
    QVERIFY(watcher.waitForFinished(wait_ms));
    QCOMPARE(watcher.exitCode(), 0);
    // Said once, however many looks saw it failed.
    QCOMPARE(QString::fromUtf8(watcher.readAllStandardError()),
             "quorvane : prise « short » : " + reason + "\n");
    QCOMPARE(files_in(root + "/short"), done_take);
    verify_frames("short");
}

// The wait of a take that lacks a photo runs from its last change, at the
// booth's own clock: a photo that arrives in the meantime starts it again.
void WatchTest::a_take_lacking_a_photo_waits_from_its_last_change()
{
    QVERIFY(QDir().mkpath(inbox + "/short"));
    QVERIFY(QFile::copy(shots[0], inbox + "/short/" + camera_name(0)));
    const QDateTime start = QDateTime::currentDateTime().addSecs(-3600);
    QVERIFY(set_changed(inbox + "/short/" + camera_name(0), start));

    BoothSettings settings = booth_settings(1000);
    settings.incomplete_after_ms = 30000;
    QCOMPARE(settings.rig.camera_count(), camera_count);
    SignalledRunner runner;
    std::ostringstream log;
    Booth booth(settings, runner, log);
    QVERIFY(booth.ready_takes(start.addMSecs(settings.incomplete_after_ms - 1)).empty());
    QCOMPARE(booth.waiting_takes().size(), std::size_t(1));
    QCOMPARE(booth.waiting_takes().front().second, QStringLiteral("1 of 4 photos"));

    const QDateTime second = start.addSecs(40);
    QVERIFY(QFile::copy(shots[1], inbox + "/short/" + camera_name(1)));
    QVERIFY(set_changed(inbox + "/short/" + camera_name(1), second));
    QVERIFY(booth.ready_takes(second.addMSecs(settings.incomplete_after_ms - 1)).empty());
    const std::vector<TakeFolder> ready =
        booth.ready_takes(second.addMSecs(settings.incomplete_after_ms));
    QCOMPARE(ready.size(), std::size_t(1));

    // Failed as a take, not held as the machine's or the place's fault.
    ProcessingProgress progress(booth.run_for(ready.front()));
    const TakeReport report = booth.process(ready.front(), progress);
    QVERIFY(!report.done);
    QCOMPARE(report.fault, TakeFault::Take);
    QCOMPARE(report.error, QStringLiteral("prise incomplète : 2 photos sur 4 après 30 s sans "
                                          "changement ; photos manquantes probables : "
                                          "cam3.jpg, cam4.jpg"));
    QVERIFY(booth.ready_takes(second.addSecs(3600)).empty());

    // Asked to wait less than a take settles, it still gives the photo being
    // copied the settle time.
    QVERIFY(QFile::remove(root + "/short/erreur.txt"));
    settings.incomplete_after_ms = 0;
    Booth hasty(settings, runner, log);
    QVERIFY(hasty.ready_takes(second.addMSecs(settings.settle_ms - 1)).empty());
    QCOMPARE(hasty.ready_takes(second.addMSecs(settings.settle_ms)).size(), std::size_t(1));
}

void WatchTest::a_photo_padded_or_damaged_data()
{
    QTest::addColumn<QString>("photo");
    QTest::addColumn<QString>("change");
    QTest::addColumn<QString>("reason"); // empty: the take is done

    // Some cameras pad their JPEGs after the end marker: complete, no grace to wait.
    QTest::newRow("JPEG padded after its end") << "cam4.jpg"
                                               << "padded"
                                               << "";
    QTest::newRow("JPEG with 2 KB zeroed")
        << "cam4.jpg"
        << "zeroed"
        << "(caméra 4) : photo illisible, incomplète ou endommagée";
    QTest::newRow("PNG with a failed CRC in its image data")
        << "cam4.png"
        << "crc"
        << "(caméra 4) : photo illisible, incomplète ou endommagée";
    QTest::newRow("a %1 in the name, other proportions")
        << "cam%1.jpg"
        << "strip"
        << " : la photo mesure 400 × 2 pixels, l'étalon de la caméra 1 640 × 480 : les "
           "proportions diffèrent, le calibrage ne s'y applique pas";
}

// Photos just written, at --settle 0 and --once: a complete one is processed at
// once, a damaged one fails the take naming its path and camera.
void WatchTest::a_photo_padded_or_damaged()
{
    QFETCH(QString, photo);
    QFETCH(QString, change);
    QFETCH(QString, reason);

    const QString take = inbox + "/take";
    QVERIFY(QDir().mkpath(take));
    const int changed = change == "strip" ? 0 : camera_count - 1;
    for (int k = 0; k < camera_count; ++k) {
        if (k != changed)
            QVERIFY(QFile::copy(shots[k], take + "/" + camera_name(k)));
    }
    QByteArray bytes = read_bytes(shots[changed]);
    const QString path = take + "/" + photo;
    if (change == "padded") {
        bytes += QByteArray(4096, '\0');
    } else if (change == "zeroed") {
        bytes.replace(bytes.size() / 2, 2048, QByteArray(2048, '\0'));
    } else if (change == "crc") {
        QBuffer buffer(&bytes);
        QVERIFY(buffer.open(QIODevice::WriteOnly) && QImage(shots[changed]).save(&buffer, "PNG"));
        const int data = bytes.indexOf("IDAT") + 4;
        bytes[data + 100] = static_cast<char>(bytes[data + 100] ^ 0x55);
    } else if (change == "strip") {
        QImage strip(400, 2, QImage::Format_RGB32);
        strip.fill(Qt::darkGray);
        QBuffer buffer(&bytes);
        QVERIFY(buffer.open(QIODevice::WriteOnly) && strip.save(&buffer, "JPG"));
    }
    QVERIFY(write_bytes(path, bytes));

    const QuorvaneRun run = run_quorvane(watch_arguments({"--once"}));
    QCOMPARE(run.exit_code, 0);
    if (reason.isEmpty()) {
        QCOMPARE(run.err, QString());
        QCOMPARE(files_in(root + "/take"), done_take);
        verify_frames("take");
        return;
    }
    // The booth's checks name the photo within its take, the run's the path it read.
    const QString named = change == "strip" ? "'" + path + "'" : "'" + path + "' ";
    const QString line = named + reason;
    // libpng prints its own error line first, past Qt's message handler.
    const QString ours = "quorvane : prise « take » : " + line + "\n";
    QVERIFY2(change == "crc" ? run.err.endsWith("\n" + ours) : run.err == ours,
             qPrintable(run.err));
    QCOMPARE(files_in(root + "/take"), QStringList{take_error_file});
    const QByteArray error = read_bytes(root + "/take/erreur.txt");
    QVERIFY2(error.startsWith(line.toUtf8()), error.constData());
    // The photos it was about, each by its own name.
    QVERIFY2(error.contains("\n" + photo.toUtf8() + " "), error.constData());
}

QTEST_GUILESS_MAIN(WatchTest)
#include "watch_test.moc"

namespace {

// The first video stream's entries (ffprobe's names) and the file's duration.
QMap<QString, QString> probed(const QString& path)
{
    QProcess ffprobe;
    ffprobe.start("ffprobe", {"-v", "error", "-select_streams", "v:0", "-show_entries",
                              "stream=width,height,profile,pix_fmt:format=duration", "-of",
                              "default=noprint_wrappers=1", path});
    ffprobe.waitForFinished(-1);
    QMap<QString, QString> entries;
    for (const QString& line : QString::fromUtf8(ffprobe.readAllStandardOutput()).split('\n'))
        entries[line.section('=', 0, 0)] = line.section('=', 1);
    return entries;
}

// The picture at `seconds` into the video, decoded.
QImage picture_at(const QString& video, double seconds, const QString& png)
{
    QProcess ffmpeg;
    ffmpeg.start("ffmpeg", {"-v", "error", "-ss", QString::number(seconds), "-i", video,
                            "-frames:v", "1", "-y", png});
    ffmpeg.waitForFinished(-1);
    return QImage(png).convertToFormat(QImage::Format_RGB32);
}

} // namespace

void WatchTest::a_take_for_guests_has_the_logo_the_shape_and_the_length()
{
    // A logo in pure red, twice as wide as high, its lower half transparent.
    QImage logo(200, 100, QImage::Format_ARGB32);
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 200; ++x)
            logo.setPixel(x, y, y < 50 ? qRgba(255, 0, 0, 255) : qRgba(0, 255, 0, 0));
    const QString logo_file = work.filePath("logo.png");
    QVERIFY(logo.save(logo_file));
    drop_take("guests", camera_name);
    const QuorvaneRun run = run_quorvane(
        watch_arguments({"--once", "--overlay", logo_file, "--overlay-position", "bottom-right",
                         "--overlay-size", "30", "--aspect", "9:16", "--min-duration", "3",
                         "--still"}));
    QCOMPARE(run.exit_code, 0);
    QCOMPARE(run.err, QString());
    QStringList written = done_take + QStringList{"output_still.jpg"};
    written.sort();
    QCOMPARE(files_in(root + "/guests"), written);

    const QString video = root + "/guests/output_video.mp4";
    const QMap<QString, QString> stream = probed(video);
    const QSize size(stream["width"].toInt(), stream["height"].toInt());
    QVERIFY(size.width() % 2 == 0 && size.height() % 2 == 0);
    QVERIFY2(std::abs(double(size.width()) / size.height() - 9.0 / 16.0) < 0.01,
             qPrintable(QString("%1x%2").arg(size.width()).arg(size.height())));
    QCOMPARE(stream["profile"], QString("High"));
    QCOMPARE(stream["pix_fmt"], QString("yuv420p"));
    QVERIFY2(stream["duration"].toDouble() >= 3.0, qPrintable(stream["duration"]));

    // The logo's opaque half in the bottom right corner, 30 % of the width,
    // 3 % from the edges; its transparent half shows the take.
    for (const QImage& picture : {picture_at(video, 2.5, work.filePath("late.png")),
                                  QImage(root + "/guests/output_still.jpg")}) {
        QVERIFY(!picture.isNull());
        const int width = int(std::lround(picture.width() * 0.3));
        const int margin = int(std::lround(picture.width() * 0.03));
        const QPoint corner(picture.width() - margin - width, picture.height() - margin - width / 2);
        const QRgb opaque = picture.pixel(corner + QPoint(width / 2, width / 8));
        QVERIFY2(qRed(opaque) > 200 && qGreen(opaque) < 60 && qBlue(opaque) < 60,
                 qPrintable(QString::number(opaque, 16)));
        const QRgb clear = picture.pixel(corner + QPoint(width / 2, width * 3 / 8));
        QVERIFY2(qGreen(clear) < 200 || qRed(clear) > 100, qPrintable(QString::number(clear, 16)));
        const QRgb outside = picture.pixel(corner + QPoint(width / 2, -margin));
        QVERIFY(!(qRed(outside) > 200 && qGreen(outside) < 60));
    }
}

void WatchTest::an_overlay_that_is_not_a_png_fails_the_take()
{
    const QString logo_file = work.filePath("logo.jpg.png");
    QImage picture(40, 20, QImage::Format_RGB32);
    picture.fill(Qt::red);
    QVERIFY(picture.save(logo_file, "JPEG"));
    drop_take("refused", camera_name);
    const QuorvaneRun run = run_quorvane(watch_arguments({"--once", "--overlay", logo_file}));
    QCOMPARE(run.exit_code, 0);
    const QString reason =
        QStringLiteral("'%1' : habillage impossible (ce n'est pas une image PNG)").arg(logo_file);
    QCOMPARE(run.err, QStringLiteral("quorvane : prise « refused » : %1\n").arg(reason));
    // Nothing of a run, only why.
    QCOMPARE(files_in(root + "/refused"), QStringList{take_error_file});
}
