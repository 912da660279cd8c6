// The video export with the real ffmpeg and ffprobe, on small frames that each
// carry their index as a white band: decoding a video tells which frame each of
// its pictures came from.

#include "output/video_export.h"
#include "support/process_runner.h"
#include "tests/output/shots.h"
#include "tests/support/stdout_capture.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMap>
#include <QPainter>
#include <QProcess>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <sstream>
#include <thread>

namespace {

const QStringList all_outputs{"output_video.gif", "output_video.mp4", "output_video_boomerang.gif",
                              "output_video_boomerang.mp4"};

// Writes the frames "output_img_<k>.jpg" of `size`: black, with a white vertical
// band in the k-th of `bands` columns.
bool write_index_frames(const QString& folder, int count, QSize size, int bands)
{
    for (int k = 0; k < count; ++k) {
        QImage frame(size, QImage::Format_RGB32);
        frame.fill(Qt::black);
        QPainter(&frame).fillRect(k * size.width() / bands, 0, size.width() / bands, size.height(),
                                  Qt::white);
        if (!frame.save(QDir(folder).filePath(QString("output_img_%1.jpg").arg(k)), "JPEG", 90))
            return false;
    }
    return true;
}

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

QSize probed_size(const QString& path)
{
    const QMap<QString, QString> stream = probe(path);
    return QSize(stream["width"].toInt(), stream["height"].toInt());
}

// Decodes every picture of `path` and tells the band each one shows; anything
// ffmpeg reports while decoding goes to `errors`.
QList<int> decoded_bands(const QString& path, int bands, QString& errors)
{
    const QSize size = probed_size(path);
    QProcess ffmpeg;
    ffmpeg.start("ffmpeg", {"-v", "error", "-i", path, "-f", "rawvideo", "-pix_fmt", "gray", "-"});
    ffmpeg.waitForFinished(-1);
    errors = QString::fromUtf8(ffmpeg.readAllStandardError());
    const QByteArray pixels = ffmpeg.readAllStandardOutput();
    const int frame_bytes = size.width() * size.height();
    QList<int> shown;
    for (int at = 0; frame_bytes > 0 && at + frame_bytes <= pixels.size(); at += frame_bytes) {
        QVector<double> brightness(bands);
        for (int y = 0; y < size.height(); ++y) {
            for (int x = 0; x < size.width(); ++x)
                brightness[x * bands / size.width()] +=
                    static_cast<unsigned char>(pixels[at + y * size.width() + x]);
        }
        shown << int(std::max_element(brightness.begin(), brightness.end()) - brightness.begin());
    }
    return shown;
}

// The top-level boxes of an MP4 file, in order.
QStringList mp4_boxes(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.readAll();
    QStringList boxes;
    for (qint64 at = 0; at + 8 <= bytes.size();) {
        const quint32 size = qFromBigEndian<quint32>(bytes.constData() + at);
        boxes << QString::fromLatin1(bytes.mid(at + 4, 4));
        if (size < 8)
            break;
        at += size;
    }
    return boxes;
}

// Whether the GIF asks to be played again and again, forever.
bool loops_forever(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) &&
           file.readAll().contains(QByteArray("NETSCAPE2.0\x03\x01\x00\x00", 15));
}

QList<int> there_and_back(int count)
{
    QList<int> frames;
    for (int k = 0; k < count; ++k)
        frames << k;
    for (int k = count - 1; k >= 0; --k)
        frames << k;
    return frames;
}

VideoExport export_folder(const VideoRequest& request, std::ostream& log,
                          BatchProgress* progress = nullptr)
{
    ChildProcessRunner runner;
    return export_videos(runner, request, log, progress);
}

// An ffmpeg first on PATH, from a shell script, for the lifetime of the guard.
class FakeFfmpeg
{
public:
    explicit FakeFfmpeg(const QByteArray& script) : saved(qgetenv("PATH"))
    {
        ok = write_file(bin.filePath("ffmpeg"), "#!/bin/sh\necho run >> \"$0.calls\"\n" + script) &&
             QFile::setPermissions(bin.filePath("ffmpeg"),
                                   QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        qputenv("PATH", bin.path().toLocal8Bit() + ":" + saved);
    }
    ~FakeFfmpeg() { qputenv("PATH", saved); }

    int calls() const
    {
        QFile file(bin.filePath("ffmpeg.calls"));
        return file.open(QIODevice::ReadOnly) ? file.readAll().count('\n') : 0;
    }

    bool ok = false;

private:
    QTemporaryDir bin;
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

    void every_file_plays_the_frames_in_order_data()
    {
        QTest::addColumn<QSize>("frames");
        QTest::addColumn<int>("long_side");
        QTest::addColumn<int>("fps");
        QTest::addColumn<QSize>("video");
        QTest::addColumn<QSize>("gif");
        QTest::newRow("original size")
            << QSize(64, 48) << 0 << 10 << QSize(64, 48) << QSize(64, 48);
        QTest::newRow("1280 px, a wide odd ratio")
            << QSize(2000, 302) << 1280 << 24 << QSize(1280, 194) << QSize(800, 120);
        QTest::newRow("frames smaller than the choice")
            << QSize(100, 160) << 1920 << 7 << QSize(100, 160) << QSize(100, 160);
    }

    void every_file_plays_the_frames_in_order()
    {
        QFETCH(QSize, frames);
        QFETCH(int, long_side);
        QFETCH(int, fps);
        QFETCH(QSize, video);
        QFETCH(QSize, gif);
        const int count = 5;
        QTemporaryDir dir;
        QVERIFY(write_index_frames(dir.path(), count, frames, count));
        std::ostringstream log;
        BatchProgress progress;
        const VideoRequest request{dir.path(), frames, count, fps, true, long_side, true};
        const VideoExport result = export_folder(request, log, &progress);
        QVERIFY2(result.succeeded, qPrintable(result.error_line));
        QCOMPARE(result.written, QStringList({"output_video.mp4", "output_video_boomerang.mp4",
                                              "output_video.gif", "output_video_boomerang.gif"}));
        QCOMPARE(folder_entries(dir.path()), frame_names(count) + all_outputs);
        // The video, the backward half, the GIF and its boomerang, as ffmpeg counted them.
        QCOMPARE(progress.done(), 5 * count);
        QCOMPARE(split_lines(log.str()).size(), std::size_t(5));

        const QList<int> forwards = there_and_back(count).mid(0, count);
        const struct
        {
            const char* name;
            QSize size;
            QList<int> frames;
        } files[] = {{"output_video.mp4", video, forwards},
                     {"output_video_boomerang.mp4", video, there_and_back(count)},
                     {"output_video.gif", gif, forwards},
                     {"output_video_boomerang.gif", gif, there_and_back(count)}};
        for (const auto& file : files) {
            const QString path = dir.filePath(file.name);
            const QMap<QString, QString> stream = probe(path);
            QCOMPARE(QSize(stream["width"].toInt(), stream["height"].toInt()), file.size);
            QCOMPARE(stream["nb_read_frames"].toInt(), file.frames.size());
            QString errors;
            QCOMPARE(decoded_bands(path, count, errors), file.frames);
            QVERIFY2(errors.isEmpty(), qPrintable(errors));
            if (path.endsWith(".mp4")) {
                QCOMPARE(stream["avg_frame_rate"], QString("%1/1").arg(fps));
                QVERIFY2(qAbs(stream["duration"].toDouble() - double(file.frames.size()) / fps) <
                             1e-3,
                         qPrintable(stream["duration"]));
                const QStringList boxes = mp4_boxes(path);
                QVERIFY2(boxes.indexOf("moov") >= 0 &&
                             boxes.indexOf("moov") < boxes.indexOf("mdat"),
                         qPrintable(boxes.join(' ')));
            } else {
                QVERIFY(loops_forever(path));
            }
        }
    }

    // Frames 3 and 4 of a first run stay on disk but join neither video of a
    // shorter second run in the same folder.
    void a_shorter_second_run()
    {
        QTemporaryDir dir;
        QVERIFY(write_index_frames(dir.path(), 5, QSize(64, 48), 5));
        std::ostringstream log;
        VideoExport result = export_folder({dir.path(), QSize(64, 48), 5, 10, true}, log);
        QVERIFY2(result.succeeded, qPrintable(result.error_line));
        result = export_folder({dir.path(), QSize(64, 48), 3, 10, true}, log);
        QVERIFY2(result.succeeded, qPrintable(result.error_line));
        QString errors;
        QCOMPARE(decoded_bands(dir.filePath("output_video_boomerang.mp4"), 5, errors),
                 there_and_back(3));
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
        QVERIFY(write_index_frames(dir.filePath(name), 3, QSize(64, 48), 3));
        std::ostringstream log;
        const VideoExport result =
            export_folder({dir.filePath(name), QSize(64, 48), 3, 10, true, 0, true}, log);
        QDir::setCurrent(previous);

        QVERIFY2(result.succeeded, qPrintable(result.error_line));
        QCOMPARE(folder_entries(dir.path()), QStringList{name});
        QCOMPARE(folder_entries(dir.filePath(name)), frame_names(3) + all_outputs);
        QString errors;
        QCOMPARE(decoded_bands(dir.filePath(name + "/output_video_boomerang.mp4"), 3, errors),
                 there_and_back(3));
    }

    // The boomerang's last command fails half-way: its file goes, the GIF never
    // starts, and the error says what ffmpeg said.
    void a_failed_step_leaves_no_partial_file()
    {
        const FakeFfmpeg ffmpeg("for last; do :; done\necho partial > \"$last\"\n"
                                "case \"$last\" in *_boomerang.partial.mp4)\n"
                                "  echo 'concat: Invalid data found' >&2; exit 1;;\nesac\n");
        QVERIFY(ffmpeg.ok);
        QTemporaryDir out;
        QVERIFY(write_index_frames(out.path(), 3, QSize(64, 48), 3));
        std::ostringstream log;
        const VideoExport result =
            export_folder({out.path(), QSize(64, 48), 3, 10, true, 0, true}, log);
        QVERIFY(!result.succeeded && !result.stopped);
        QCOMPARE(result.error_line, QString("concat: Invalid data found"));
        QCOMPARE(result.unfinished, QString("output_video_boomerang.mp4"));
        QCOMPARE(ffmpeg.calls(), 3);
        QCOMPARE(folder_entries(out.path()), frame_names(3) + QStringList{"output_video.mp4"});
    }

    // An encode that would never end on its own, run from a thread of its own
    // as the window runs it: the stop kills it promptly, its video is removed
    // and nothing more starts.
    void stop_kills_ffmpeg_and_removes_its_video()
    {
        const FakeFfmpeg ffmpeg("for last; do :; done\necho partial > \"$last\"\n"
                                "printf 'frame=    2 fps=0.0\\r' >&2\nexec tail -f /dev/null\n");
        QVERIFY(ffmpeg.ok);
        QTemporaryDir out;
        QVERIFY(write_index_frames(out.path(), 3, QSize(64, 48), 3));
        std::ostringstream log;
        StoppingProgress progress(2);
        VideoExport result;
        QElapsedTimer timer;
        timer.start();
        std::thread worker([&] {
            result =
                export_folder({out.path(), QSize(64, 48), 3, 10, true, 0, true}, log, &progress);
        });
        worker.join();
        QVERIFY2(timer.elapsed() < 10000, qPrintable(QString::number(timer.elapsed())));
        QVERIFY(result.stopped);
        QVERIFY(!result.succeeded);
        QCOMPARE(progress.done(), 2);
        QCOMPARE(split_lines(log.str()).size(), std::size_t(1));
        QCOMPARE(folder_entries(out.path()), frame_names(3));
        QCOMPARE(ffmpeg.calls(), 1);
    }
};

QTEST_GUILESS_MAIN(VideoTest)
#include "video_test.moc"
