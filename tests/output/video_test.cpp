// The video export with the real ffmpeg and ffprobe, on small frames that each
// carry their index as a white band: decoding a video tells which frame each of
// its pictures came from.

#include "output/video_export.h"
#include "tests/support/stopping_progress.h"
#include "output/video_frames.h"
#include "support/process_runner.h"
#include "tests/output/shots.h"
#include "tests/support/file_size_limit.h"
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

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>
#include <sstream>
#include <sys/resource.h>
#include <thread>

namespace {

const QStringList all_outputs{"output_video.gif", "output_video.mp4", "output_video_boomerang.gif",
                              "output_video_boomerang.mp4"};

// Keeps `frame` for the videos as the frames step does once it is written.
void keep(VideoFrames* kept, int index, const QImage& frame)
{
    if (kept)
        keep_video_frame(*kept, index,
                         cv::Mat(frame.height(), frame.width(), CV_8UC4,
                                 const_cast<uchar*>(frame.constBits()),
                                 static_cast<std::size_t>(frame.bytesPerLine())));
}

// Writes the frames "output_img_<k>.jpg" of `size`: black, with a white vertical
// band in the k-th of `bands` columns; with `kept`, also keeps them for the videos.
bool write_index_frames(const QString& folder, int count, QSize size, int bands,
                        VideoFrames* kept = nullptr)
{
    for (int k = 0; k < count; ++k) {
        QImage frame(size, QImage::Format_RGB32);
        frame.fill(Qt::black);
        QPainter(&frame).fillRect(k * size.width() / bands, 0, size.width() / bands, size.height(),
                                  Qt::white);
        if (!frame.save(QDir(folder).filePath(QString("output_img_%1.jpg").arg(k)), "JPEG", 90))
            return false;
        keep(kept, k, frame);
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

// Frames like photographs (soft gradients, shapes and texture, differing from
// one frame to the next), written and kept as write_index_frames does.
bool write_photo_frames(const QString& folder, int count, QSize size, VideoFrames& kept)
{
    for (int k = 0; k < count; ++k) {
        QImage frame(size, QImage::Format_RGB32);
        for (int y = 0; y < size.height(); ++y) {
            QRgb* line = reinterpret_cast<QRgb*>(frame.scanLine(y));
            for (int x = 0; x < size.width(); ++x)
                line[x] = qRgb((x + 7 * k) * 255 / size.width(), y * 255 / size.height(),
                               128 + int(60 * std::sin((x + y + 20 * k) / 23.0)));
        }
        QPainter painter(&frame);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setBrush(QColor(230, 40 + 30 * k, 60));
        painter.drawEllipse(QPointF(size.width() * (0.2 + 0.12 * k), size.height() / 2.0),
                            size.height() / 5.0, size.height() / 5.0);
        painter.end();
        if (!frame.save(QDir(folder).filePath(QString("output_img_%1.jpg").arg(k)), "JPEG", 95))
            return false;
        keep(&kept, k, frame);
    }
    return true;
}

// Every picture of `path` decoded as 8-bit grey values.
QList<QByteArray> decoded_pictures(const QString& path)
{
    const QSize size = probed_size(path);
    QProcess ffmpeg;
    ffmpeg.start("ffmpeg", {"-v", "error", "-i", path, "-f", "rawvideo", "-pix_fmt", "gray", "-"});
    ffmpeg.waitForFinished(-1);
    const QByteArray pixels = ffmpeg.readAllStandardOutput();
    const int frame_bytes = size.width() * size.height();
    QList<QByteArray> pictures;
    for (int at = 0; frame_bytes > 0 && at + frame_bytes <= pixels.size(); at += frame_bytes)
        pictures << pixels.mid(at, frame_bytes);
    return pictures;
}

// The mean difference in grey levels between two pictures of `width` pixels a
// line, seen in blocks of 8 x 8 pixels: a GIF's dithering scatters its error
// over neighbouring pixels, differently for pictures that differ at all.
double mean_difference(const QByteArray& a, const QByteArray& b, int width)
{
    const int height = width > 0 ? a.size() / width : 0;
    const auto block = [&](const QByteArray& picture, int bx, int by) {
        int sum = 0;
        for (int y = by; y < by + 8; ++y)
            for (int x = bx; x < bx + 8; ++x)
                sum += static_cast<unsigned char>(picture[y * width + x]);
        return sum / 64.0;
    };
    double sum = 0.0;
    int blocks = 0;
    for (int by = 0; by + 8 <= height; by += 8) {
        for (int bx = 0; bx + 8 <= width; bx += 8, ++blocks)
            sum += std::abs(block(a, bx, by) - block(b, bx, by));
    }
    return blocks > 0 ? sum / blocks : 0.0;
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

// Where the white of each picture of `path` stands: the mean column of its
// brightness, in pixels from the left.
QList<double> decoded_centres(const QString& path)
{
    const int width = probed_size(path).width();
    QList<double> centres;
    for (const QByteArray& picture : decoded_pictures(path)) {
        double weighted = 0;
        double total = 0;
        for (int at = 0; at < picture.size(); ++at) {
            const double value = static_cast<unsigned char>(picture[at]);
            weighted += value * (at % width);
            total += value;
        }
        centres << (total > 0 ? weighted / total : -1);
    }
    return centres;
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

// The real runner, running one command at a time: the steps one after the other.
class OneAtATimeRunner : public ChildProcessRunner
{
public:
    int concurrent_runs() const override { return 1; }
};

// The real runner, with the command writing a file whose name ends with `dying`
// replaced by one that takes a little of its input, says why and is killed.
// With `after_gif`, that command waits until the GIF's encode has ended.
class DyingRunner : public ChildProcessRunner
{
public:
    explicit DyingRunner(QString dying, bool after_gif)
        : dying(std::move(dying)), after_gif(after_gif)
    {
    }

    ProcessResult run_fed(const QString& program, const QStringList& arguments,
                          const InputSource& input,
                          const std::function<void(const QString&)>& on_error_line,
                          const std::function<bool()>& stop_requested) override
    {
        // One command may make several files, each named after "-y".
        QStringList outputs;
        for (int k = 0; k + 1 < arguments.size(); ++k) {
            if (arguments[k] == QLatin1String("-y"))
                outputs << arguments[k + 1];
        }
        const auto makes = [&](const QString& name) {
            return std::any_of(outputs.begin(), outputs.end(),
                               [&](const QString& output) { return output.endsWith(name); });
        };
        if (!makes(dying)) {
            const ProcessResult result =
                ChildProcessRunner::run_fed(program, arguments, input, on_error_line, stop_requested);
            if (makes("output_video.partial.gif")) {
                const std::lock_guard<std::mutex> lock(mutex);
                gif_ended = true;
                ended.notify_all();
            }
            return result;
        }
        if (after_gif) {
            std::unique_lock<std::mutex> lock(mutex);
            // Bounded only so that a broken export fails instead of hanging.
            ended.wait_for(lock, std::chrono::minutes(2), [&] { return gif_ended; });
        }
        return ChildProcessRunner::run_fed(
            "sh",
            {"-c", "head -c 1000 >/dev/null; echo 'Invalid data found' >&2; kill -KILL $$",
             outputs.value(0)},
            input, on_error_line, stop_requested);
    }

private:
    const QString dying;
    const bool after_gif;
    std::mutex mutex;
    std::condition_variable ended;
    bool gif_ended = false;
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
        QTest::addColumn<bool>("from_memory");
        for (const bool memory : {false, true}) {
            const QString source = memory ? ", from memory" : ", from the files";
            QTest::newRow(qPrintable("original size" + source))
                << QSize(64, 48) << 0 << 10 << QSize(64, 48) << QSize(64, 48) << memory;
            QTest::newRow(qPrintable("1280 px, a wide odd ratio" + source))
                << QSize(2000, 302) << 1280 << 24 << QSize(1280, 194) << QSize(800, 120) << memory;
            QTest::newRow(qPrintable("frames smaller than the choice" + source))
                << QSize(100, 160) << 1920 << 7 << QSize(100, 160) << QSize(100, 160) << memory;
        }
    }

    void every_file_plays_the_frames_in_order()
    {
        QFETCH(QSize, frames);
        QFETCH(int, long_side);
        QFETCH(int, fps);
        QFETCH(QSize, video);
        QFETCH(QSize, gif);
        QFETCH(bool, from_memory);
        const int count = 5;
        QTemporaryDir dir;
        VideoFrames kept;
        kept.long_side = long_side;
        kept.gif = true;
        prepare_video_frames(kept, frames, count);
        QVERIFY(write_index_frames(dir.path(), count, frames, count, &kept));
        std::ostringstream log;
        BatchProgress progress;
        VideoRequest request{dir.path(), frames, count, fps, true, long_side, true};
        if (from_memory)
            request.kept = &kept;
        const VideoExport result = export_folder(request, log, &progress);
        QVERIFY2(result.succeeded, qPrintable(result.error_line));
        QCOMPARE(result.written, QStringList({"output_video.mp4", "output_video_boomerang.mp4",
                                              "output_video.gif", "output_video_boomerang.gif"}));
        QCOMPARE(folder_entries(dir.path()), frame_names(count) + all_outputs);
        // The video, the backward half, the GIF and its boomerang, as ffmpeg counted them;
        // from memory, one command makes both GIFs.
        QCOMPARE(progress.done(), 5 * count);
        QCOMPARE(split_lines(log.str()).size(), std::size_t(from_memory ? 4 : 5));

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

    void in_between_frames_play_in_every_file_data()
    {
        QTest::addColumn<int>("between");
        QTest::addColumn<int>("long_side");
        QTest::newRow("none") << 0 << 480;
        QTest::newRow("1, at the frames' own size") << 1 << 1920;
        QTest::newRow("2, scaled") << 2 << 480;
        QTest::newRow("3, scaled") << 3 << 480;
    }

    // Each video and GIF plays the cameras' frames in order with the in-between
    // frames in their places, each between its neighbours; the boomerangs come
    // back the same way. The frame files stay the cameras' own.
    void in_between_frames_play_in_every_file()
    {
        QFETCH(int, between);
        QFETCH(int, long_side);
        const int count = 4;
        const QSize frames = long_side == 1920 ? QSize(96, 48) : QSize(960, 480);
        QTemporaryDir dir;
        VideoFrames kept;
        kept.long_side = long_side;
        kept.gif = true;
        kept.between = between;
        prepare_video_frames(kept, frames, count);
        QVERIFY(write_index_frames(dir.path(), count, frames, count, &kept));
        const QStringList frame_files = folder_entries(dir.path());
        std::ostringstream log;
        BatchProgress progress;
        VideoRequest request{dir.path(), frames, count, 10, true, long_side, true};
        request.kept = &kept;
        request.between = between;
        const VideoExport result = export_folder(request, log, &progress);
        QVERIFY2(result.succeeded, qPrintable(result.error_line));
        QCOMPARE(result.written, QStringList({"output_video.mp4", "output_video_boomerang.mp4",
                                              "output_video.gif", "output_video_boomerang.gif"}));
        QCOMPARE(folder_entries(dir.path()), frame_files + all_outputs);
        const int played = count + (count - 1) * between;
        // The in-between frames, then the video, the backward half, the GIF and its boomerang.
        QCOMPARE(progress.done(), (count - 1) * between + 5 * played);

        for (const QString& name : all_outputs) {
            const QString path = dir.filePath(name);
            const bool boomerang = name.contains("boomerang");
            const bool gif = name.endsWith(".gif");
            const QMap<QString, QString> stream = probe(path);
            QCOMPARE(stream["nb_read_frames"].toInt(), boomerang ? 2 * played : played);
            const QList<double> centres = decoded_centres(path);
            QCOMPARE(centres.size(), boomerang ? 2 * played : played);
            const double band = stream["width"].toDouble() / count;
            const QString shown = [&] {
                QStringList texts;
                for (const double centre : centres)
                    texts << QString::number(centre, 'f', 1);
                return name + ": " + texts.join(' ');
            }();
            for (int k = 0; k < played; ++k) {
                // The cameras' frames where they were, the in-between frames strictly
                // between their neighbours; a boomerang reads back the same pictures.
                if (k % (between + 1) == 0)
                    QVERIFY2(qAbs(centres[k] - (k / (between + 1) + 0.5) * band) < band / 8,
                             qPrintable(shown));
                if (k > 0)
                    QVERIFY2(centres[k] > centres[k - 1] + band / (2 * (between + 1)),
                             qPrintable(shown));
                if (boomerang)
                    QVERIFY2(qAbs(centres[2 * played - 1 - k] - centres[k]) < (gif ? 2 : 1),
                             qPrintable(shown));
            }
        }
    }

    // A stop request while the in-between frames are made ends the export before
    // any video starts: no file but the frames, no command run.
    void stop_during_the_in_between_frames_writes_no_video()
    {
        const int count = 4;
        const QSize frames(96, 48);
        QTemporaryDir dir;
        VideoFrames kept;
        kept.long_side = 1920;
        kept.between = 2;
        prepare_video_frames(kept, frames, count);
        QVERIFY(write_index_frames(dir.path(), count, frames, count, &kept));
        const QStringList frame_files = folder_entries(dir.path());
        std::ostringstream log;
        StoppingProgress progress(2);
        VideoRequest request{dir.path(), frames, count, 10, true, 1920, false};
        request.kept = &kept;
        request.between = 2;
        const VideoExport result = export_folder(request, log, &progress);
        QVERIFY(!result.succeeded);
        QVERIFY(result.stopped);
        QVERIFY(result.written.isEmpty());
        QCOMPARE(result.unfinished, QString());
        QCOMPARE(progress.done(), 2);
        QCOMPARE(folder_entries(dir.path()), frame_files);
        QCOMPARE(log.str(), std::string());
    }

    // The pictures fed from memory are those the frame files gave, frame for
    // frame, within what the encoders lose; only the way they were reduced differs.
    // So they are when the video is encoded while the frames are still written.
    void memory_gives_the_pictures_of_the_files_data()
    {
        QTest::addColumn<bool>("overlapped");
        QTest::newRow("after the frames") << false;
        QTest::newRow("while the frames are written") << true;
    }

    void memory_gives_the_pictures_of_the_files()
    {
        QFETCH(bool, overlapped);
        const int count = 5;
        const QSize frames(480, 300);
        QTemporaryDir from_files;
        QTemporaryDir from_memory;
        VideoFrames kept;
        kept.long_side = 240;
        kept.gif = true;
        prepare_video_frames(kept, frames, count);
        VideoFrames unused = kept;
        QVERIFY(write_photo_frames(from_files.path(), count, frames, unused));
        std::ostringstream log;
        VideoRequest request{from_files.path(), frames, count, 12, true, 240, true};
        BatchProgress files_progress;
        QVERIFY(export_folder(request, log, &files_progress).succeeded);
        FrameArrival arrival;
        std::thread frames_step;
        if (overlapped) {
            kept.arrival = &arrival;
            arrival.begin(frames, count);
            frames_step = std::thread([&] {
                write_photo_frames(from_memory.path(), count, frames, kept);
                arrival.end();
            });
        } else {
            QVERIFY(write_photo_frames(from_memory.path(), count, frames, kept));
        }
        request.folder = from_memory.path();
        request.kept = &kept;
        request.arriving = overlapped ? &arrival : nullptr;
        BatchProgress memory_progress;
        const VideoExport result = export_folder(request, log, &memory_progress);
        if (frames_step.joinable())
            frames_step.join();
        QVERIFY2(result.succeeded, qPrintable(result.error_line));
        QCOMPARE(memory_progress.done(), files_progress.done());
        QCOMPARE(folder_entries(from_memory.path()), frame_names(count) + all_outputs);
        for (const QString& name : all_outputs) {
            const QList<QByteArray> expected = decoded_pictures(from_files.filePath(name));
            const QList<QByteArray> pictures = decoded_pictures(from_memory.filePath(name));
            const QList<int> order = name.contains("boomerang") ? there_and_back(count)
                                                                : there_and_back(count).mid(0, count);
            QCOMPARE(pictures.size(), order.size());
            QCOMPARE(pictures.size(), expected.size());
            QCOMPARE(probed_size(from_memory.filePath(name)),
                     probed_size(from_files.filePath(name)));
            const int width = probed_size(from_files.filePath(name)).width();
            for (int k = 0; k < pictures.size(); ++k) {
                const double difference = mean_difference(pictures[k], expected[k], width);
                QVERIFY2(difference < 2.5, qPrintable(QString("%1 picture %2: %3 grey levels")
                                                          .arg(name)
                                                          .arg(k)
                                                          .arg(difference)));
                // Next to another frame's picture, a picture differs clearly.
                if (k > 0 && order[k] != order[k - 1])
                    QVERIFY2(mean_difference(pictures[k], expected[k - 1], width) > 2 * difference,
                             qPrintable(QString("%1 picture %2: %3 against %4")
                                            .arg(name)
                                            .arg(k)
                                            .arg(mean_difference(pictures[k], expected[k - 1],
                                                                 width))
                                            .arg(difference)));
            }
        }
    }

    // The GIFs encoded beside the videos are the very files made one step after
    // the other, counted alike.
    void side_by_side_makes_the_same_files()
    {
        const int count = 5;
        const QSize frames(480, 300);
        QTemporaryDir one_by_one;
        QTemporaryDir beside;
        VideoFrames kept;
        kept.long_side = 240;
        kept.gif = true;
        prepare_video_frames(kept, frames, count);
        QVERIFY(write_photo_frames(one_by_one.path(), count, frames, kept));
        QVERIFY(write_photo_frames(beside.path(), count, frames, kept));
        std::ostringstream log;
        VideoRequest request{one_by_one.path(), frames, count, 12, true, 240, true};
        request.kept = &kept;
        OneAtATimeRunner sequential;
        BatchProgress sequential_progress;
        QVERIFY(export_videos(sequential, request, log, &sequential_progress).succeeded);
        request.folder = beside.path();
        BatchProgress progress;
        const VideoExport result = export_folder(request, log, &progress);
        QVERIFY2(result.succeeded, qPrintable(result.error_line));
        QCOMPARE(result.written, QStringList({"output_video.mp4", "output_video_boomerang.mp4",
                                              "output_video.gif", "output_video_boomerang.gif"}));
        QCOMPARE(progress.done(), sequential_progress.done());
        QCOMPARE(folder_entries(beside.path()), frame_names(count) + all_outputs);
        for (const QString& name : all_outputs) {
            const QList<QByteArray> expected = decoded_pictures(one_by_one.filePath(name));
            QCOMPARE(expected.size(), name.contains("boomerang") ? 2 * count : count);
            QVERIFY2(decoded_pictures(beside.filePath(name)) == expected, qPrintable(name));
        }
    }

    // A command killed while fed beside another: the export fails at the first
    // step, in the steps' order, that did not finish, with the reason; what a
    // later step finished beside it goes too, so that the folder holds what
    // the steps one after the other would have left, and no partial file.
    void a_child_dying_beside_another_data()
    {
        QTest::addColumn<QString>("dying");
        QTest::addColumn<bool>("after_gif");
        QTest::addColumn<QStringList>("written");
        QTest::addColumn<QString>("unfinished");
        // Both GIFs are made by one command.
        QTest::newRow("the GIFs, the videos go on")
            << "output_video_boomerang.partial.gif" << false
            << QStringList{"output_video.mp4", "output_video_boomerang.mp4"}
            << "output_video.gif";
        QTest::newRow("the video, once the GIF is made: the GIF goes")
            << "output_video.partial.mp4" << true << QStringList{} << "output_video.mp4";
        QTest::newRow("the boomerang's backward half")
            << "backward.mp4" << false << QStringList{"output_video.mp4"}
            << "output_video_boomerang.mp4";
    }

    void a_child_dying_beside_another()
    {
        QFETCH(QString, dying);
        QFETCH(bool, after_gif);
        QFETCH(QStringList, written);
        QTemporaryDir out;
        VideoFrames kept;
        kept.long_side = 240;
        kept.gif = true;
        const QSize frames(480, 300);
        prepare_video_frames(kept, frames, 4);
        QVERIFY(write_photo_frames(out.path(), 4, frames, kept));
        std::ostringstream log;
        VideoRequest request{out.path(), frames, 4, 10, true, 240, true};
        request.kept = &kept;
        DyingRunner runner(dying, after_gif);
        const VideoExport result = export_videos(runner, request, log);
        QVERIFY(!result.succeeded && !result.stopped);
        QCOMPARE(result.written, written);
        QTEST(result.unfinished, "unfinished");
        QCOMPARE(result.error_line, QString("ffmpeg crashed: Invalid data found"));
        QStringList left = written;
        left.sort();
        QCOMPARE(folder_entries(out.path()), frame_names(4) + left);
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

    // An ffmpeg that dies part-way through its input, or a disk that fills up
    // during an encode fed from memory: the step fails with ffmpeg's reason,
    // nothing stands under its name nor under its partial name, and no later
    // step runs.
    void a_failed_fed_encode_leaves_no_file_data()
    {
        QTest::addColumn<QByteArray>("script"); // a fake ffmpeg, or the real one
        QTest::addColumn<qint64>("file_size_limit");
        QTest::addColumn<QString>("error_line");
        QTest::newRow("ffmpeg dies while fed")
            << QByteArray("for last; do :; done\necho partial > \"$last\"\n"
                          "head -c 1000 >/dev/null\n"
                          "echo 'Error while decoding stream #0:0: Invalid data' >&2\nexit 1\n")
            << qint64(0) << "Error while decoding stream #0:0: Invalid data";
        QTest::newRow("a full disk during the encode")
            << QByteArray() << qint64(2000) << QString::fromLocal8Bit(std::strerror(EFBIG));
    }

    void a_failed_fed_encode_leaves_no_file()
    {
        QFETCH(QByteArray, script);
        QFETCH(qint64, file_size_limit);
        QFETCH(QString, error_line);
        std::unique_ptr<FakeFfmpeg> fake;
        if (!script.isEmpty()) {
            fake = std::make_unique<FakeFfmpeg>(script);
            QVERIFY(fake->ok);
        }
        QTemporaryDir out;
        VideoFrames kept;
        kept.long_side = 240;
        kept.gif = true;
        const QSize frames(480, 300);
        prepare_video_frames(kept, frames, 5);
        QVERIFY(write_photo_frames(out.path(), 5, frames, kept));
        const QStringList before = folder_entries(out.path());
        std::ostringstream log;
        VideoRequest request{out.path(), frames, 5, 10, true, 240, true};
        request.kept = &kept;
        rlimit unlimited{};
        QVERIFY(getrlimit(RLIMIT_FSIZE, &unlimited) == 0);
        if (file_size_limit > 0)
            QVERIFY(limit_file_size(file_size_limit));
        const VideoExport result = export_folder(request, log);
        QVERIFY(setrlimit(RLIMIT_FSIZE, &unlimited) == 0);
        QVERIFY(!result.succeeded && !result.stopped);
        QVERIFY2(result.error_line.contains(error_line), qPrintable(result.error_line));
        QCOMPARE(result.unfinished, QString("output_video.mp4"));
        // The GIFs may have started beside the video; the boomerang never does.
        const std::vector<std::string> commands = split_lines(log.str());
        QVERIFY(!commands.empty() && commands.size() <= 3);
        QVERIFY(std::none_of(commands.begin(), commands.end(), [](const std::string& line) {
            return line.find("backward") != std::string::npos;
        }));
        QCOMPARE(folder_entries(out.path()), before);
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
    // and nothing more starts. Fed from memory, it stops reading after a few
    // bytes, so the stop comes with the pipe full.
    void stop_kills_ffmpeg_and_removes_its_video_data()
    {
        QTest::addColumn<bool>("from_memory");
        QTest::newRow("from the files") << false;
        QTest::newRow("in the middle of feeding") << true;
    }

    void stop_kills_ffmpeg_and_removes_its_video()
    {
        QFETCH(bool, from_memory);
        const FakeFfmpeg ffmpeg("for last; do :; done\necho partial > \"$last\"\n"
                                "head -c 100 >/dev/null\n"
                                "printf 'frame=    2 fps=0.0\\r' >&2\nexec tail -f /dev/null\n");
        QVERIFY(ffmpeg.ok);
        QTemporaryDir out;
        VideoFrames kept;
        kept.long_side = 1920;
        kept.gif = true;
        const QSize frames(2400, 1600);
        prepare_video_frames(kept, frames, 3);
        QVERIFY(write_index_frames(out.path(), 3, frames, 3, &kept));
        std::ostringstream log;
        StoppingProgress progress(2);
        VideoExport result;
        QElapsedTimer timer;
        timer.start();
        VideoRequest request{out.path(), frames, 3, 10, true, 1920, true};
        if (from_memory)
            request.kept = &kept;
        std::thread worker([&] { result = export_folder(request, log, &progress); });
        worker.join();
        QVERIFY2(timer.elapsed() < 10000, qPrintable(QString::number(timer.elapsed())));
        QVERIFY(result.stopped);
        QVERIFY(!result.succeeded);
        // Fed from memory, the GIF may be running beside the video: it may count
        // its own frames before it sees the stop, which kills both.
        if (from_memory)
            QVERIFY2(progress.done() >= 2, qPrintable(QString::number(progress.done())));
        else
            QCOMPARE(progress.done(), 2);
        const std::size_t commands = split_lines(log.str()).size();
        QVERIFY(commands == 1 || (from_memory && commands == 2));
        QVERIFY(ffmpeg.calls() >= 1 && ffmpeg.calls() <= int(commands));
        QCOMPARE(folder_entries(out.path()), frame_names(3));
    }
};

QTEST_GUILESS_MAIN(VideoTest)
#include "video_test.moc"
