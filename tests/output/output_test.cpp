#include "output/aligned_images.h"
#include "output/crop.h"
#include "output/ffmpeg_command.h"
#include "output/frame_geometry.h"
#include "output/image_file.h"
#include "output/inner_rect.h"
#include "output/process_runner.h"
#include "output/video_export.h"
#include "tests/output/shots.h"
#include "tests/support/stdout_capture.h"

#include <QElapsedTimer>
#include <QFile>
#include <QPainter>
#include <QTemporaryDir>
#include <QtTest>
#include <sstream>
#include <thread>

Q_DECLARE_METATYPE(ImageAlignment)
Q_DECLARE_METATYPE(ProcessResult)

namespace {

bool is_red(QRgb pixel)
{
    return qRed(pixel) > 200 && qGreen(pixel) < 70 && qBlue(pixel) < 70;
}

bool is_black(QRgb pixel)
{
    return qRed(pixel) < 30 && qGreen(pixel) < 30 && qBlue(pixel) < 30;
}

// Pixel (x, y) carries x in red and y in green, so any shift shows.
QImage coordinate_image(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, qRgb(10 + x, 10 + y, 200));
    return image;
}

ProcessResult exited(int code, const QString& tail = {})
{
    ProcessResult result;
    result.started = true;
    result.exit_code = code;
    result.error_tail = tail;
    return result;
}

// Plays back scripted results and error lines, and records what it was asked
// to run. Like the real runner, it asks about a stop after each line and then
// ends the program as killed.
class RecordingRunner : public ProcessRunner
{
public:
    QVector<ProcessResult> script;
    QVector<QStringList> lines; // error output of each call
    QVector<QStringList> calls; // program first, then the arguments

    ProcessResult run(const QString& program, const QStringList& arguments,
                      const std::function<void(const QString&)>& on_error_line,
                      const std::function<bool()>& stop_requested) override
    {
        calls << (QStringList{program} + arguments);
        const int call = calls.size() - 1;
        for (const QString& line : lines.value(call)) {
            if (on_error_line)
                on_error_line(line);
            if (stop_requested && stop_requested()) {
                ProcessResult killed = exited(-1);
                killed.crashed = killed.stopped = true;
                return killed;
            }
        }
        return call < script.size() ? script[call] : exited(0);
    }
};

} // namespace

class OutputTest : public QObject
{
    Q_OBJECT

private slots:
    void largest_inner_rect_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<double>("degrees");
        QTest::addColumn<QSize>("expected");
        QTest::newRow("0 deg") << 1000 << 800 << 0.0 << QSize(1000, 800);
        QTest::newRow("10 deg") << 1000 << 800 << 10.0 << QSize(900, 653);
        QTest::newRow("-10 deg") << 1000 << 800 << -10.0 << QSize(900, 653);
        QTest::newRow("170 deg") << 1000 << 800 << 170.0 << QSize(900, 653);
        QTest::newRow("portrait 10 deg") << 800 << 1000 << 10.0 << QSize(653, 900);
        QTest::newRow("30 deg, half constrained") << 1000 << 800 << 30.0 << QSize(800, 461);
        QTest::newRow("45 deg") << 1000 << 800 << 45.0 << QSize(565, 565);
        QTest::newRow("zero width") << 0 << 800 << 10.0 << QSize(0, 0);
        QTest::newRow("negative height") << 1000 << -2 << 0.0 << QSize(0, 0);
    }

    void largest_inner_rect()
    {
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(double, degrees);
        QFETCH(QSize, expected);
        QCOMPARE(::largest_inner_rect(width, height, degrees * M_PI / 180.0), expected);
    }

    void crop_centered_data()
    {
        QTest::addColumn<QSize>("source");
        QTest::addColumn<QSize>("cut");
        QTest::addColumn<QSize>("expected_size");
        QTest::addColumn<QPoint>("top_left"); // in source pixels
        QTest::newRow("one odd pixel lost right")
            << QSize(1001, 801) << QSize(1000, 800) << QSize(1000, 800) << QPoint(0, 0);
        QTest::newRow("larger, black border")
            << QSize(3, 3) << QSize(5, 5) << QSize(5, 5) << QPoint(-1, -1);
        QTest::newRow("larger by one truncates toward zero")
            << QSize(3, 3) << QSize(4, 4) << QSize(4, 4) << QPoint(0, 0);
        QTest::newRow("0 x 0 copies all")
            << QSize(7, 5) << QSize(0, 0) << QSize(7, 5) << QPoint(0, 0);
    }

    void crop_centered()
    {
        QFETCH(QSize, source);
        QFETCH(QSize, cut);
        QFETCH(QSize, expected_size);
        QFETCH(QPoint, top_left);
        const QImage image = coordinate_image(source.width(), source.height());
        const QImage result = ::crop_centered(image, cut.width(), cut.height());
        QCOMPARE(result.size(), expected_size);
        for (int y = 0; y < result.height(); ++y) {
            for (int x = 0; x < result.width(); ++x) {
                const QPoint from = QPoint(x, y) + top_left;
                const QRgb expected =
                    image.rect().contains(from) ? image.pixel(from) : qRgb(0, 0, 0);
                QCOMPARE(result.pixel(x, y), expected);
            }
        }
    }

    void common_frame_size()
    {
        QCOMPARE(::common_frame_size({QSize(901, 700), QSize(950, 653)}), QSize(900, 652));
        QCOMPARE(::common_frame_size({}), QSize(16777214, 16777214));
        QCOMPARE(::common_frame_size({QSize(1000, 800), QSize(0, 0)}), QSize(0, 0));
    }

    void reads_exif_orientation()
    {
        QTemporaryDir dir;
        // Stored landscape with a red corner top-left; orientation 6 shows it
        // portrait, turned clockwise, the corner top-right.
        QImage stored(40, 20, QImage::Format_RGB32);
        stored.fill(Qt::gray);
        QPainter(&stored).fillRect(0, 0, 8, 8, Qt::red);
        const QString path = dir.filePath("turned.jpg");
        QVERIFY(write_jpeg_with_orientation(path, stored, 90, 6));

        QCOMPARE(read_oriented_size(path), QSize(20, 40));
        const QImage image = read_oriented_image(path);
        QCOMPARE(image.size(), QSize(20, 40));
        QVERIFY(is_red(image.pixel(16, 3)));
        QVERIFY(!is_red(image.pixel(3, 3)));

        QVERIFY(!read_oriented_size(dir.filePath("missing.jpg")).isValid());
        QVERIFY(read_oriented_image(dir.filePath("missing.jpg")).isNull());

        // Written through the whole run, the frame stands upright too.
        const AlignedImages result =
            write_aligned_images({path}, identity_calibration(1), dir.path(), 90);
        QCOMPARE(result.common_size, QSize(20, 40));
        const QImage frame(dir.filePath("output_img_0.jpg"));
        QCOMPARE(frame.size(), QSize(20, 40));
        QVERIFY(is_red(frame.pixel(16, 3)));
        QVERIFY(!is_red(frame.pixel(3, 3)));
    }

    void writes_numbered_frames_of_common_size()
    {
        QTemporaryDir inputs, out;
        const QStringList shots = write_shots(inputs.path(), 12, QSize(41, 31));
        QFile notes(out.filePath("notes.txt"));
        QVERIFY(notes.open(QIODevice::WriteOnly));
        notes.write("keep");
        notes.close();
        // A frame left by an earlier, longer run is not this run's business.
        QVERIFY(QImage(5, 5, QImage::Format_RGB32).save(out.filePath("output_img_12.jpg")));

        const AlignedImages result =
            write_aligned_images(shots, identity_calibration(12), out.path(), 80);
        QCOMPARE(result.common_size, QSize(40, 30));
        QCOMPARE(result.frame_count, 12);
        QVERIFY(result.unreadable_input.isEmpty() && result.unwritable_output.isEmpty());
        QStringList expected{"notes.txt", "output_img_12.jpg"};
        for (int k = 0; k < 12; ++k) {
            expected << "output_img_" + QString::number(k) + ".jpg";
            QCOMPARE(QImage(out.filePath(expected.back())).size(), QSize(40, 30));
        }
        expected.sort();
        QCOMPARE(folder_entries(out.path()), expected);
        QCOMPARE(QImage(out.filePath("output_img_12.jpg")).size(), QSize(5, 5));
    }

    void frame_content_data()
    {
        QTest::addColumn<QSize>("input");
        QTest::addColumn<ImageAlignment>("alignment");
        QTest::addColumn<QSize>("frame");
        QTest::addColumn<QPoint>("marker"); // centre of the red marker in the frame

        // The input's red 10 x 10 marker has its centre at (35, 45).
        QTest::newRow("identity, odd size") << QSize(101, 81) << ImageAlignment{0, 0, 0, 1, true}
                                            << QSize(100, 80) << QPoint(35, 45);
        QTest::newRow("translation") << QSize(1000, 800) << ImageAlignment{10.7, -3.2, 0, 1, true}
                                     << QSize(980, 794) << QPoint(35, 39);
        QTest::newRow("negative translation")
            << QSize(100, 80) << ImageAlignment{-5.5, 0, 0, 1, true} << QSize(90, 80)
            << QPoint(25, 45);
        // Clockwise on screen, as QTransform turns y-down pixels.
        QTest::newRow("quarter turn") << QSize(100, 80) << ImageAlignment{0, 0, 90, 1, true}
                                      << QSize(80, 100) << QPoint(35, 35);
    }

    void frame_content()
    {
        QFETCH(QSize, input);
        QFETCH(ImageAlignment, alignment);
        QFETCH(QSize, frame);
        QFETCH(QPoint, marker);
        QTemporaryDir dir;
        QImage shot(input, QImage::Format_RGB32);
        shot.fill(Qt::gray);
        QPainter(&shot).fillRect(30, 40, 10, 10, Qt::red);
        QVERIFY(shot.save(dir.filePath("shot.png")));

        Calibration calibration = identity_calibration(1);
        calibration.translation_x[0] = alignment.translation_x;
        calibration.translation_y[0] = alignment.translation_y;
        calibration.rotation_deg[0] = alignment.rotation_deg;
        const AlignedImages result =
            write_aligned_images({dir.filePath("shot.png")}, calibration, dir.path(), 100);
        QCOMPARE(result.common_size, frame);
        const QImage written(dir.filePath("output_img_0.jpg"));
        QCOMPARE(written.size(), frame);
        QVERIFY(is_red(written.pixel(marker)));
        for (const QPoint step : {QPoint(0, 8), QPoint(8, 0), QPoint(0, -8), QPoint(-8, 0)})
            QVERIFY(!is_red(written.pixel(marker + step)));
    }

    void rotated_frames_keep_picture_in_corners_data()
    {
        QTest::addColumn<double>("degrees");
        QTest::addColumn<double>("scale");
        QTest::newRow("10 deg") << 10.0 << 1.0;
        QTest::newRow("-30 deg, enlarged") << -30.0 << 1.3;
        QTest::newRow("45 deg, reduced") << 45.0 << 0.7;
    }

    void rotated_frames_keep_picture_in_corners()
    {
        QFETCH(double, degrees);
        QFETCH(double, scale);
        QTemporaryDir dir;
        QImage shot(200, 160, QImage::Format_RGB32);
        shot.fill(QColor(200, 180, 40));
        QVERIFY(shot.save(dir.filePath("shot.jpg"), nullptr, 100));

        Calibration calibration = identity_calibration(1);
        calibration.rotation_deg[0] = degrees;
        calibration.scale[0] = scale;
        const AlignedImages result =
            write_aligned_images({dir.filePath("shot.jpg")}, calibration, dir.path(), 100);
        const QSize inner =
            ::largest_inner_rect(int(200 * scale), int(160 * scale), degrees * M_PI / 180.0);
        QCOMPARE(result.common_size, QSize(inner.width() & ~1, inner.height() & ~1));
        const QImage frame(dir.filePath("output_img_0.jpg"));
        QCOMPARE(frame.size(), result.common_size);
        const int right = frame.width() - 1, bottom = frame.height() - 1;
        for (const QPoint corner :
             {QPoint(0, 0), QPoint(right, 0), QPoint(0, bottom), QPoint(right, bottom)})
            QVERIFY2(!is_black(frame.pixel(corner)), qPrintable(QString::number(corner.x())));
    }

    void transparent_input_shows_black()
    {
        QTemporaryDir dir;
        QImage shot(40, 30, QImage::Format_ARGB32);
        shot.fill(Qt::transparent);
        QPainter(&shot).fillRect(15, 10, 10, 10, Qt::red);
        QVERIFY(shot.save(dir.filePath("shot.png")));
        write_aligned_images({dir.filePath("shot.png")}, identity_calibration(1), dir.path(), 100);
        const QImage frame(dir.filePath("output_img_0.jpg"));
        QVERIFY(is_black(frame.pixel(2, 2)));
        QVERIFY(is_red(frame.pixel(20, 15)));
    }

    void refused_runs_write_nothing_data()
    {
        QTest::addColumn<int>("image_count");
        QTest::addColumn<int>("broken"); // index of the input made unusable, or -1
        QTest::addColumn<QString>("how");
        QTest::addColumn<QSize>("common_size");
        QTest::newRow("no images") << 0 << -1 << "" << QSize(16777214, 16777214);
        QTest::newRow("missing input") << 3 << 1 << "missing" << QSize(-1, -1);
        QTest::newRow("undecodable input") << 3 << 2 << "garbage" << QSize(-1, -1);
        QTest::newRow("entry never aligned") << 3 << 1 << "unaligned" << QSize(0, 0);
        QTest::newRow("translation beyond the image") << 3 << 0 << "far" << QSize(0, 0);
        QTest::newRow("fewer inputs than entries") << 4 << -1 << "" << QSize(0, 0);
    }

    void refused_runs_write_nothing()
    {
        QFETCH(int, image_count);
        QFETCH(int, broken);
        QFETCH(QString, how);
        QTemporaryDir inputs, out;
        QStringList shots = write_shots(inputs.path(), 3, QSize(32, 24));
        Calibration calibration = identity_calibration(image_count);
        if (how == "missing")
            shots[broken] = inputs.filePath("gone.jpg");
        if (how == "garbage") {
            QFile file(shots[broken]);
            QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
            file.write("not a picture");
        }
        if (how == "unaligned")
            calibration.scale[broken] = 0.0;
        if (how == "far")
            calibration.translation_x[broken] = -20.0;
        QFile notes(out.filePath("output_img_uncropped_0.jpg"));
        QVERIFY(notes.open(QIODevice::WriteOnly));
        notes.write("someone else's");
        notes.close();

        const AlignedImages result = write_aligned_images(shots, calibration, out.path(), 50);
        QTEST(result.common_size, "common_size");
        QCOMPARE(result.frame_count, 0);
        QCOMPARE(result.unreadable_input,
                 how == "missing" || how == "garbage" ? shots[broken] : "");
        QCOMPARE(folder_entries(out.path()), QStringList{"output_img_uncropped_0.jpg"});
        QVERIFY(notes.open(QIODevice::ReadOnly));
        QCOMPARE(notes.readAll(), QByteArray("someone else's"));
    }

    void unwritable_folder_is_reported()
    {
        QTemporaryDir inputs;
        const QStringList shots = write_shots(inputs.path(), 2, QSize(32, 24));
        const QString folder = inputs.filePath("no/such/folder");
        const AlignedImages result =
            write_aligned_images(shots, identity_calibration(2), folder, 50);
        QCOMPARE(result.frame_count, 0);
        QVERIFY(result.unwritable_output.startsWith(folder + "/"));
    }

    void command_lines()
    {
        QCOMPARE(video_command_line(24, QSize(900, 652), "/data/run1"),
                 QString("ffmpeg -r 24 -f image2 -s 900x652 -i \"/data/run1/output_img_%d.jpg\" "
                         "-vcodec libx264 -crf 25 -pix_fmt yuv420p "
                         "\"/data/run1/output_video.mp4\""));
        QCOMPARE(boomerang_command_line("/data/run1"),
                 QString("ffmpeg -i \"/data/run1/output_video.mp4\" -filter_complex "
                         "\"[0:v]reverse,fifo[r];[0:v][r] concat=n=2:v=1 [v]\" -map \"[v]\" "
                         "\"/data/run1/output_video_boomerang.mp4\""));
        QVERIFY(video_command_line(1, QSize(2, 2), "/d").startsWith("ffmpeg -r 1 -f"));
    }

    void command_arguments()
    {
        const FfmpegCommand video = video_command(24, QSize(900, 652), "/data/run1", 12);
        QCOMPARE(video.program, QString("ffmpeg"));
        QCOMPARE(video.arguments, QStringList({"-r", "24", "-f", "image2", "-s", "900x652", "-i",
                                               "/data/run1/output_img_%d.jpg", "-vcodec", "libx264",
                                               "-crf", "25", "-pix_fmt", "yuv420p", "-frames:v",
                                               "12", "-y", "/data/run1/output_video.mp4"}));
        const FfmpegCommand boomerang = boomerang_command("/data/run1");
        QCOMPARE(boomerang.program, QString("ffmpeg"));
        QCOMPARE(boomerang.arguments,
                 QStringList({"-i", "/data/run1/output_video.mp4", "-filter_complex",
                              "[0:v]reverse,fifo[r];[0:v][r] concat=n=2:v=1 [v]", "-map", "[v]",
                              "-y", "/data/run1/output_video_boomerang.mp4"}));

        const QStringList odd = video_command(24, QSize(2, 2), "/d/100%", 1).arguments;
        QCOMPARE(odd[7], QString("/d/100%%/output_img_%d.jpg"));
        QCOMPARE(odd.back(), QString("/d/100%/output_video.mp4"));
    }

    void display_line_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("expected");
        QTest::newRow("plain") << QStringList{"-r", "24", "/d/output_img_%d.jpg", "-frames:v"}
                               << "ffmpeg -r 24 /d/output_img_%d.jpg -frames:v";
        QTest::newRow("accents stay plain") << QStringList{"/dé/été"} << "ffmpeg /dé/été";
        QTest::newRow("spaces and shell syntax") << QStringList{"[v]", "a \"b\" $(touch x); c"}
                                                 << "ffmpeg '[v]' 'a \"b\" $(touch x); c'";
        QTest::newRow("single quote") << QStringList{"it's"} << "ffmpeg 'it'\\''s'";
    }

    void display_line()
    {
        QFETCH(QStringList, arguments);
        FfmpegCommand command;
        command.arguments = arguments;
        QTEST(command.display_line(), "expected");
    }

    void export_videos_data()
    {
        QTest::addColumn<bool>("boomerang");
        QTest::addColumn<QVector<ProcessResult>>("script");
        QTest::addColumn<bool>("succeeded");
        QTest::addColumn<int>("runs");
        QTest::addColumn<QString>("error_line");
        ProcessResult missing;
        missing.start_error = "No such file or directory";

        QTest::newRow("video only")
            << false << QVector<ProcessResult>{exited(0)} << true << 1 << "";
        QTest::newRow("video and boomerang")
            << true << QVector<ProcessResult>{exited(0), exited(0)} << true << 2 << "";
        QTest::newRow("failed encode, no boomerang")
            << true << QVector<ProcessResult>{exited(1, "banner\nout.jpg: No such file")} << false
            << 1 << "out.jpg: No such file";
        QTest::newRow("ffmpeg missing") << true << QVector<ProcessResult>{missing} << false << 1
                                        << "ffmpeg could not be started: No such file or directory";
        QTest::newRow("silent failure") << false << QVector<ProcessResult>{exited(3)} << false << 1
                                        << "ffmpeg ended with exit code 3";
        QTest::newRow("failed boomerang")
            << true << QVector<ProcessResult>{exited(0), exited(1, "reverse: out of memory")}
            << false << 2 << "reverse: out of memory";
    }

    void export_videos()
    {
        QFETCH(bool, boomerang);
        QFETCH(QVector<ProcessResult>, script);
        RecordingRunner runner;
        runner.script = script;
        std::ostringstream log;
        const VideoRequest request{"/data/run1", QSize(900, 652), 12, 24, boomerang};
        const VideoExport result = ::export_videos(runner, request, log);
        QTEST(result.succeeded, "succeeded");
        QTEST(result.error_line, "error_line");
        QTEST(int(runner.calls.size()), "runs");

        const FfmpegCommand video = video_command(24, QSize(900, 652), "/data/run1", 12);
        const FfmpegCommand second = boomerang_command("/data/run1");
        std::vector<std::string> expected_log{"Running: " + video.display_line().toStdString()};
        QCOMPARE(runner.calls[0], QStringList{video.program} + video.arguments);
        if (runner.calls.size() > 1) {
            QCOMPARE(runner.calls[1], QStringList{second.program} + second.arguments);
            expected_log.push_back("Running: " + second.display_line().toStdString());
        }
        QVERIFY(split_lines(log.str()) == expected_log);
    }

    void export_without_frames_runs_nothing_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<int>("frames");
        QTest::newRow("width 0") << QSize(0, 652) << 12;
        QTest::newRow("no frames") << QSize(900, 652) << 0;
    }

    void export_without_frames_runs_nothing()
    {
        QFETCH(QSize, size);
        QFETCH(int, frames);
        RecordingRunner runner;
        std::ostringstream log;
        const VideoExport result =
            ::export_videos(runner, VideoRequest{"/d", size, frames, 24, true}, log);
        QVERIFY(!result.succeeded);
        QVERIFY(!result.error_line.isEmpty());
        QVERIFY(runner.calls.isEmpty());
        QVERIFY(log.str().empty());
    }

    // The count is the video's frames, then the boomerang's, as ffmpeg reports
    // them; a stop kills the command at work, removes only the file it was
    // writing and runs nothing more.
    void export_progress_and_stop_data()
    {
        QTest::addColumn<bool>("boomerang");
        // Frames done when the stop is asked; 0: before the first command, -1: never.
        QTest::addColumn<int>("stop_at");
        QTest::addColumn<QStringList>("video_lines");
        QTest::addColumn<QStringList>("boomerang_lines");
        QTest::addColumn<int>("done");
        QTest::addColumn<int>("runs");
        QTest::addColumn<bool>("stopped");
        QTest::addColumn<QStringList>("files_left");
        const QStringList video{"ffmpeg version 5.1", "frame=    5 fps=0.0 q=28.0 size=  0kB",
                                "frame=   12 fps=0.0 q=-1.0 Lsize=  4kB"};
        const QStringList reverse{"frame=    0 fps=0.0", "frame=   10 fps=9.0", "[aac] done",
                                  "frame=   24 fps=9.0"};
        const QStringList all{"output_img_0.jpg", "output_video.mp4", "output_video_boomerang.mp4"};

        QTest::newRow("video") << false << -1 << video << QStringList() << 12 << 1 << false << all;
        QTest::newRow("video and boomerang")
            << true << -1 << video << reverse << 36 << 2 << false << all;
        QTest::newRow("a count beyond the frames is capped")
            << true << -1 << QStringList{"frame=   99"} << QStringList{"frame= 1000"} << 36 << 2
            << false << all;
        QTest::newRow("no progress lines")
            << true << -1 << QStringList{"banner"} << QStringList() << 0 << 2 << false << all;
        QTest::newRow("stop during the video")
            << true << 5 << video << reverse << 5 << 1 << true
            << QStringList{"output_img_0.jpg", "output_video_boomerang.mp4"};
        QTest::newRow("stop during the boomerang")
            << true << 22 << video << reverse << 22 << 2 << true
            << QStringList{"output_img_0.jpg", "output_video.mp4"};
        QTest::newRow("stop before the video")
            << true << 0 << video << reverse << 0 << 0 << true << all;
    }

    void export_progress_and_stop()
    {
        QFETCH(bool, boomerang);
        QFETCH(int, stop_at);
        QFETCH(QStringList, video_lines);
        QFETCH(QStringList, boomerang_lines);
        // Files an earlier run left, or the commands would be writing.
        QTemporaryDir dir;
        for (const char* name :
             {"output_img_0.jpg", "output_video.mp4", "output_video_boomerang.mp4"}) {
            QFile file(dir.filePath(name));
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        RecordingRunner runner;
        runner.lines = {video_lines, boomerang_lines};
        StoppingProgress progress(stop_at < 0 ? 1 << 30 : stop_at);
        if (stop_at == 0)
            progress.request_stop();
        std::ostringstream log;

        const VideoExport result = ::export_videos(
            runner, VideoRequest{dir.path(), QSize(64, 48), 12, 24, boomerang}, log, &progress);
        QFETCH(bool, stopped);
        QCOMPARE(result.stopped, stopped);
        QCOMPARE(result.succeeded, !stopped);
        QVERIFY(result.error_line.isEmpty());
        QTEST(progress.done(), "done");
        QTEST(int(runner.calls.size()), "runs");
        QCOMPARE(split_lines(log.str()).size(), std::size_t(runner.calls.size()));
        QTEST(folder_entries(dir.path()), "files_left");
    }

    void video_progress_step_data()
    {
        QTest::addColumn<bool>("boomerang");
        QTest::addColumn<int>("frames_done");
        QTest::addColumn<bool>("in_boomerang");
        QTest::addColumn<int>("done");
        QTest::addColumn<int>("total");
        QTest::newRow("video under way") << true << 7 << false << 7 << 12;
        QTest::newRow("video finished") << true << 12 << false << 12 << 12;
        QTest::newRow("boomerang started") << true << 13 << true << 1 << 24;
        QTest::newRow("past the end") << true << 50 << true << 24 << 24;
        QTest::newRow("no boomerang, past the end") << false << 20 << false << 12 << 12;
    }

    void video_progress_step()
    {
        QFETCH(bool, boomerang);
        QFETCH(int, frames_done);
        const VideoProgressStep step = ::video_progress_step(
            VideoRequest{"/d", QSize(64, 48), 12, 24, boomerang}, frames_done);
        QTEST(step.boomerang, "in_boomerang");
        QTEST(step.done, "done");
        QTEST(step.total, "total");
    }

    void encoded_frames_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<int>("frames");
        QTest::newRow("progress line")
            << "frame=  123 fps= 45 q=28.0 size=     256kB time=00:00:05.08 bitrate= 412.6kbits/s"
            << 123;
        QTest::newRow("no number") << "frame= fps=0.0" << -1;
        QTest::newRow("other line") << "[libx264 @ 0x55] frame I:1     Avg QP:21.49" << -1;
        QTest::newRow("absurd number") << "frame=99999999999999999999" << -1;
    }

    void encoded_frames()
    {
        QFETCH(QString, line);
        QTEST(::encoded_frames(line), "frames");
    }

    void process_runner_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("started");
        QTest::addColumn<bool>("crashed");
        QTest::addColumn<int>("exit_code");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("lines at \\n and \\r, exit code")
            << "sh" << QStringList{"-c", "printf 'one\\ntwo\\rthree' >&2; exit 3"} << true << false
            << 3 << QStringList{"one", "two", "three"};
        QTest::newRow("standard input is closed")
            << "sh" << QStringList{"-c", "timeout 5 cat; echo $? >&2"} << true << false << 0
            << QStringList{"0"};
        QTest::newRow("crash") << "sh" << QStringList{"-c", "kill -KILL $$"} << true << true << -1
                               << QStringList{};
        QTest::newRow("missing program")
            << "/nonexistent/ffmpeg" << QStringList{} << false << false << -1 << QStringList{};
    }

    void process_runner()
    {
        QFETCH(QString, program);
        QFETCH(QStringList, arguments);
        QFETCH(int, exit_code);
        QFETCH(QStringList, lines);
        QStringList received;
        QProcessRunner runner;
        const ProcessResult result =
            runner.run(program, arguments, [&](const QString& line) { received << line; }, {});
        QVERIFY(!result.stopped);
        QTEST(result.started, "started");
        QTEST(result.crashed, "crashed");
        if (result.started && !result.crashed)
            QCOMPARE(result.exit_code, exit_code);
        QCOMPARE(received, lines);
        QCOMPARE(result.error_tail, lines.mid(lines.size() - 5).join('\n')); // the last five
        QCOMPARE(result.start_error.isEmpty(), result.started);
    }

    // From a thread of its own, as the window runs it: the program is killed
    // soon after the stop is asked, however long it would have run.
    void process_runner_stops_the_program()
    {
        ProcessResult result;
        QStringList received;
        qint64 elapsed_ms = 0;
        std::thread worker([&] {
            QElapsedTimer timer;
            timer.start();
            QProcessRunner runner;
            result = runner.run(
                "sh", {"-c", "printf 'frame=    3\\r' >&2; exec tail -f /dev/null"},
                [&](const QString& line) { received << line; },
                [&] { return !received.isEmpty(); });
            elapsed_ms = timer.elapsed();
        });
        worker.join();
        QVERIFY(result.started);
        QVERIFY(result.stopped);
        QVERIFY(!result.succeeded());
        QCOMPARE(received, QStringList{"frame=    3"});
        QVERIFY2(elapsed_ms < 5000, qPrintable(QString::number(elapsed_ms)));
    }
};

QTEST_GUILESS_MAIN(OutputTest)
#include "output_test.moc"
