#include "output/aligned_images.h"
#include "output/process_runner.h"
#include "output/video_export.h"
#include "tests/output/shots.h"
#include "tests/support/stdout_capture.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <sstream>
#include <thread>

namespace {

// The first video stream of `path` as ffprobe sees it ("width", "height",
// "nb_read_frames" counted by decoding, "avg_frame_rate", "duration").
QMap<QString, QString> probe(const QString& path)
{
    QProcess ffprobe;
    ffprobe.start("ffprobe",
                  {"-v", "error", "-count_frames", "-select_streams", "v:0", "-show_entries",
                   "stream=width,height,nb_read_frames,avg_frame_rate,duration", "-of",
                   "default=noprint_wrappers=1", path});
    ffprobe.waitForFinished(-1);
    QMap<QString, QString> stream;
    for (const QString& line : QString::fromUtf8(ffprobe.readAllStandardOutput()).split('\n'))
        stream[line.section('=', 0, 0)] = line.section('=', 1);
    return stream;
}

// Writes `count` aligned frames of 64 x 48 into `folder` and encodes them.
VideoExport make_video(const QString& folder, int count, bool boomerang, std::ostream& log,
                       BatchProgress* progress = nullptr)
{
    QTemporaryDir shots_dir;
    const QStringList shots = write_shots(shots_dir.path(), count, QSize(64, 48));
    const AlignedImages frames =
        write_aligned_images(shots, identity_calibration(count), folder, 80);
    QProcessRunner runner;
    return export_videos(
        runner, VideoRequest{folder, frames.common_size, frames.frame_count, 10, boomerang}, log,
        progress);
}

// Sets PATH for the lifetime of the guard.
class PathGuard
{
public:
    explicit PathGuard(const QByteArray& path) : saved(qgetenv("PATH")) { qputenv("PATH", path); }
    ~PathGuard() { qputenv("PATH", saved); }

private:
    QByteArray saved;
};

} // namespace

class VideoTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        for (const char* tool : {"ffmpeg", "ffprobe"})
            QVERIFY2(!QStandardPaths::findExecutable(tool).isEmpty(), tool);
    }

    void video_boomerang_and_a_shorter_second_run()
    {
        QTemporaryDir dir;
        std::ostringstream log;
        BatchProgress progress;
        VideoExport result = make_video(dir.path(), 5, true, log, &progress);
        QVERIFY2(result.succeeded, qPrintable(result.error_line));
        // ffmpeg's own progress lines: 5 frames of video, then 10 of boomerang.
        QCOMPARE(progress.done(), 15);
        const std::vector<std::string> lines = split_lines(log.str());
        QCOMPARE(lines.size(), std::size_t(2));
        QVERIFY(QString::fromStdString(lines[0]).startsWith("Running: ffmpeg -r 10 "));

        QMap<QString, QString> video = probe(dir.filePath("output_video.mp4"));
        QCOMPARE(video["width"] + "x" + video["height"], QString("64x48"));
        QCOMPARE(video["nb_read_frames"], QString("5"));
        QCOMPARE(video["avg_frame_rate"], QString("10/1"));
        QVERIFY2(qAbs(video["duration"].toDouble() - 0.5) < 1e-3, qPrintable(video["duration"]));
        const QMap<QString, QString> boomerang = probe(dir.filePath("output_video_boomerang.mp4"));
        QCOMPARE(boomerang["width"] + "x" + boomerang["height"], QString("64x48"));
        QCOMPARE(boomerang["nb_read_frames"], QString("10"));

        // Same folder again, fewer shots: the videos are replaced, and the frames
        // 3 and 4 of the first run stay on disk but out of the video.
        result = make_video(dir.path(), 3, false, log);
        QVERIFY2(result.succeeded, qPrintable(result.error_line));
        video = probe(dir.filePath("output_video.mp4"));
        QCOMPARE(video["nb_read_frames"], QString("3"));
        QVERIFY2(qAbs(video["duration"].toDouble() - 0.3) < 1e-3, qPrintable(video["duration"]));
        QVERIFY(QFile::exists(dir.filePath("output_img_4.jpg")));
    }

    void awkward_folder_name()
    {
        QTemporaryDir dir;
        // Whatever a shell would have run lands in the working directory.
        const QString previous = QDir::currentPath();
        QVERIFY(QDir::setCurrent(dir.path()));
        const QString name = "a \"b\" $(touch pwned); c é 100%";
        QVERIFY(QDir(dir.path()).mkdir(name));
        std::ostringstream log;
        const VideoExport result = make_video(dir.filePath(name), 3, true, log);
        QDir::setCurrent(previous);

        QVERIFY2(result.succeeded, qPrintable(result.error_line));
        QCOMPARE(folder_entries(dir.path()), QStringList{name});
        const QStringList videos{"output_video.mp4", "output_video_boomerang.mp4"};
        QCOMPARE(folder_entries(dir.filePath(name)), frame_names(3) + videos);
        QCOMPARE(probe(dir.filePath(name + "/output_video_boomerang.mp4"))["nb_read_frames"],
                 QString("6"));
    }

    // An encode that would never end on its own, run from a thread of its own
    // as the window runs it: the stop kills it promptly, its video is removed
    // and the boomerang never starts.
    void stop_kills_ffmpeg_and_removes_its_video()
    {
        QTemporaryDir bin, out;
        QVERIFY(write_file(bin.filePath("ffmpeg"),
                           "#!/bin/sh\necho run >> \"$0.calls\"\n"
                           "for last; do :; done\necho partial > \"$last\"\n"
                           "printf 'frame=    2 fps=0.0\\r' >&2\nexec tail -f /dev/null\n"));
        QVERIFY(QFile::setPermissions(bin.filePath("ffmpeg"),
                                      QFileDevice::ReadOwner | QFileDevice::ExeOwner));

        std::ostringstream log;
        StoppingProgress progress(2);
        VideoExport result;
        QElapsedTimer timer;
        timer.start();
        {
            const PathGuard path(bin.path().toLocal8Bit() + ":" + qgetenv("PATH"));
            std::thread worker([&] { result = make_video(out.path(), 3, true, log, &progress); });
            worker.join();
        }
        QVERIFY2(timer.elapsed() < 10000, qPrintable(QString::number(timer.elapsed())));
        QVERIFY(result.stopped);
        QVERIFY(!result.succeeded);
        QCOMPARE(progress.done(), 2);
        QCOMPARE(split_lines(log.str()).size(), std::size_t(1));
        QCOMPARE(folder_entries(out.path()), frame_names(3));
        QFile calls(bin.filePath("ffmpeg.calls"));
        QVERIFY(calls.open(QIODevice::ReadOnly));
        QCOMPARE(calls.readAll(), QByteArray("run\n"));
    }
};

QTEST_GUILESS_MAIN(VideoTest)
#include "video_test.moc"
