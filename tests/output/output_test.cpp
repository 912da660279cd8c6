#include "output/aligned_images.h"
#include "output/atomic_file.h"
#include "output/crop.h"
#include "output/ffmpeg_command.h"
#include "output/frame_geometry.h"
#include "output/image_file.h"
#include "output/inner_rect.h"
#include "output/natural_order.h"
#include "output/process_runner.h"
#include "output/video_export.h"
#include "tests/output/shots.h"
#include "tests/support/stdout_capture.h"

#include <QPainter>
#include <QTemporaryDir>
#include <QtTest>

#include <sstream>

Q_DECLARE_METATYPE(ImageAlignment)
Q_DECLARE_METATYPE(ProcessResult)
Q_DECLARE_METATYPE(VideoRequest)

namespace {

bool is_red(QRgb pixel)
{
    return qRed(pixel) > 200 && qGreen(pixel) < 70 && qBlue(pixel) < 70;
}

bool is_black(QRgb pixel)
{
    return qRed(pixel) < 30 && qGreen(pixel) < 30 && qBlue(pixel) < 30;
}

ProcessResult exited(int code, const QString& tail = {})
{
    ProcessResult result;
    result.started = true;
    result.exit_code = code;
    result.error_tail = tail;
    return result;
}

VideoRequest run1(bool boomerang, QSize size = QSize(900, 652), int frames = 12, int fps = 24)
{
    return VideoRequest{"/data/run1", size, frames, fps, boomerang};
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
        QTEST(::largest_inner_rect(width, height, degrees * M_PI / 180.0), "expected");
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
        QFETCH(QPoint, top_left);
        const QImage image = coordinate_image(source);
        const QImage result = ::crop_centered(image, cut.width(), cut.height());
        QTEST(result.size(), "expected_size");
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

    // One input through the whole writer: its frame size, where its red marker
    // lands, and corners that show the picture (or black where it is transparent).
    void frame_content_data()
    {
        QTest::addColumn<QSize>("input");
        QTest::addColumn<ImageAlignment>("alignment");
        QTest::addColumn<QColor>("background");
        QTest::addColumn<QSize>("frame");
        QTest::addColumn<QPoint>("marker"); // red marker's centre in the frame; (-1, -1): none

        const auto row = [](const char* name, QSize input, ImageAlignment alignment, QSize frame,
                            QPoint marker, const QColor& background = Qt::gray) {
            QTest::newRow(name) << input << alignment << background << frame << marker;
        };
        const QPoint none(-1, -1);
        // The input's red 10 x 10 marker has its centre at (35, 45).
        row("identity, odd size", {101, 81}, {0, 0, 0, 1, true}, {100, 80}, {35, 45});
        row("translation", {1000, 800}, {10.7, -3.2, 0, 1, true}, {980, 794}, {35, 39});
        row("negative translation", {100, 80}, {-5.5, 0, 0, 1, true}, {90, 80}, {25, 45});
        // Clockwise on screen, as QTransform turns y-down pixels.
        row("quarter turn", {100, 80}, {0, 0, 90, 1, true}, {80, 100}, {35, 35});
        row("transparent", {101, 81}, {0, 0, 0, 1, true}, {100, 80}, {35, 45}, Qt::transparent);
        // The inner rectangle keeps the black beyond the turned picture out of the frame.
        row("10 deg", {200, 160}, {0, 0, 10, 1, true}, {180, 130}, none);
        row("-30 deg, enlarged", {200, 160}, {0, 0, -30, 1.3, true}, {208, 120}, none);
        row("45 deg, reduced", {200, 160}, {0, 0, 45, 0.7, true}, {78, 78}, none);
    }

    void frame_content()
    {
        QFETCH(QSize, input);
        QFETCH(ImageAlignment, alignment);
        QFETCH(QColor, background);
        QFETCH(QSize, frame);
        QFETCH(QPoint, marker);
        QTemporaryDir dir;
        QImage shot(input, background.alpha() < 255 ? QImage::Format_ARGB32 : QImage::Format_RGB32);
        shot.fill(background);
        QPainter(&shot).fillRect(30, 40, 10, 10, Qt::red);
        QVERIFY(shot.save(dir.filePath("shot.png")));

        const AlignedImages result = write_aligned_images(
            {dir.filePath("shot.png")}, calibration_of({alignment}), dir.path(), 100);
        QCOMPARE(result.common_size, frame);
        const QImage written(dir.filePath("output_img_0.jpg"));
        QCOMPARE(written.size(), frame);
        const int right = frame.width() - 1, bottom = frame.height() - 1;
        for (const QPoint corner :
             {QPoint(0, 0), QPoint(right, 0), QPoint(0, bottom), QPoint(right, bottom)})
            QCOMPARE(is_black(written.pixel(corner)), background.alpha() == 0);
        if (marker.x() < 0)
            return;
        QVERIFY(is_red(written.pixel(marker)));
        for (const QPoint step : {QPoint(0, 8), QPoint(8, 0), QPoint(0, -8), QPoint(-8, 0)})
            QVERIFY(!is_red(written.pixel(marker + step)));
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
        if (how == "garbage")
            QVERIFY(write_file(shots[broken], "not a picture"));
        if (how == "unaligned")
            calibration.scale[broken] = 0.0;
        if (how == "far")
            calibration.translation_x[broken] = -20.0;
        const QString notes = out.filePath("output_img_uncropped_0.jpg");
        QVERIFY(write_file(notes, "someone else's"));

        const AlignedImages result = write_aligned_images(shots, calibration, out.path(), 50);
        QTEST(result.common_size, "common_size");
        QCOMPARE(result.frame_count, 0);
        QCOMPARE(result.unreadable_input,
                 how == "missing" || how == "garbage" ? shots[broken] : "");
        QCOMPARE(folder_entries(out.path()), QStringList{"output_img_uncropped_0.jpg"});
        QFile kept(notes);
        QVERIFY(kept.open(QIODevice::ReadOnly));
        QCOMPARE(kept.readAll(), QByteArray("someone else's"));
    }

    void commands()
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
        QTest::newRow("expansion") << QStringList{"$HOME"} << "ffmpeg '$HOME'";
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
        QTest::addColumn<VideoRequest>("request");
        QTest::addColumn<QVector<ProcessResult>>("script");
        QTest::addColumn<bool>("succeeded");
        QTest::addColumn<int>("runs");
        QTest::addColumn<QString>("error_line");
        const auto row = [](const char* name, const VideoRequest& request,
                            const QVector<ProcessResult>& script, int runs, const QString& error) {
            QTest::newRow(name) << request << script << error.isEmpty() << runs << error;
        };
        ProcessResult missing;
        missing.start_error = "No such file or directory";

        row("video only", run1(false), {exited(0)}, 1, "");
        row("video and boomerang", run1(true), {exited(0), exited(0)}, 2, "");
        row("failed encode, no boomerang", run1(true), {exited(1, "banner\nout.jpg: No such file")},
            1, "out.jpg: No such file");
        row("ffmpeg missing", run1(true), {missing}, 1,
            "ffmpeg could not be started: No such file or directory");
        row("silent failure", run1(false), {exited(3)}, 1, "ffmpeg ended with exit code 3");
        row("failed boomerang", run1(true), {exited(0), exited(1, "reverse: out of memory")}, 2,
            "reverse: out of memory");
        row("frame width 0", run1(true, QSize(0, 652)), {}, 0, "no frames to encode");
        row("no frames", run1(true, QSize(900, 652), 0), {}, 0, "no frames to encode");
        row("0 fps", run1(true, QSize(900, 652), 12, 0), {}, 0, "no frames to encode");
    }

    void export_videos()
    {
        QFETCH(VideoRequest, request);
        QFETCH(QVector<ProcessResult>, script);
        RecordingRunner runner;
        runner.script = script;
        std::ostringstream log;
        const VideoExport result = ::export_videos(runner, request, log);
        QTEST(result.succeeded, "succeeded");
        QTEST(result.error_line, "error_line");
        QTEST(int(runner.calls.size()), "runs");

        // Each command is logged as it runs, in the words it runs with.
        const FfmpegCommand commands[] = {
            video_command(request.fps, request.frame_size, request.folder, request.frame_count),
            boomerang_command(request.folder)};
        std::vector<std::string> expected_log;
        for (int k = 0; k < runner.calls.size(); ++k) {
            QCOMPARE(runner.calls[k], QStringList{commands[k].program} + commands[k].arguments);
            expected_log.push_back("Running: " + commands[k].display_line().toStdString());
        }
        QVERIFY(split_lines(log.str()) == expected_log);
    }

    // The count is the video's frames, then the boomerang's, as ffmpeg reports
    // them; a stop kills the command at work, removes only the file it was
    // writing and runs nothing more.
    void export_progress_and_stop_data()
    {
        QTest::addColumn<bool>("boomerang");
        // Frames done when the stop is asked, always before the end; 0: before the first
        // command, -1: never.
        QTest::addColumn<int>("stop_at");
        QTest::addColumn<QStringList>("video_lines");
        QTest::addColumn<QStringList>("boomerang_lines");
        QTest::addColumn<int>("done");
        QTest::addColumn<int>("runs");
        QTest::addColumn<QStringList>("files_left");
        const QStringList video{"ffmpeg version 5.1", "frame=    5 fps=0.0 q=28.0 size=  0kB",
                                "frame=   12 fps=0.0 q=-1.0 Lsize=  4kB"};
        const QStringList reverse{"frame=    0 fps=0.0", "frame=   10 fps=9.0", "[aac] done",
                                  "frame=   24 fps=9.0"};
        const QStringList all{"output_img_0.jpg", "output_video.mp4", "output_video_boomerang.mp4"};

        QTest::newRow("video") << false << -1 << video << QStringList() << 12 << 1 << all;
        QTest::newRow("video and boomerang") << true << -1 << video << reverse << 36 << 2 << all;
        QTest::newRow("a count beyond the frames is capped")
            << true << -1 << QStringList{"frame=   99"} << QStringList{"frame= 1000"} << 36 << 2
            << all;
        QTest::newRow("no progress lines")
            << true << -1 << QStringList{"banner"} << QStringList() << 0 << 2 << all;
        QTest::newRow("stop during the video")
            << true << 5 << video << reverse << 5 << 1
            << QStringList{"output_img_0.jpg", "output_video_boomerang.mp4"};
        QTest::newRow("stop during the boomerang")
            << true << 22 << video << reverse << 22 << 2
            << QStringList{"output_img_0.jpg", "output_video.mp4"};
        QTest::newRow("stop before the video") << true << 0 << video << reverse << 0 << 0 << all;
    }

    void export_progress_and_stop()
    {
        QFETCH(bool, boomerang);
        QFETCH(int, stop_at);
        QFETCH(QStringList, video_lines);
        QFETCH(QStringList, boomerang_lines);
        const bool stopped = stop_at >= 0;
        // Files an earlier run left, or the commands would be writing.
        QTemporaryDir dir;
        for (const char* name :
             {"output_img_0.jpg", "output_video.mp4", "output_video_boomerang.mp4"})
            QVERIFY(write_file(dir.filePath(name)));
        RecordingRunner runner;
        runner.lines = {video_lines, boomerang_lines};
        StoppingProgress progress(stop_at < 0 ? 1 << 30 : stop_at);
        if (stop_at == 0)
            progress.request_stop();
        std::ostringstream log;

        const VideoExport result = ::export_videos(
            runner, VideoRequest{dir.path(), QSize(64, 48), 12, 24, boomerang}, log, &progress);
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
        const VideoProgressStep step = ::video_progress_step(run1(boomerang), frames_done);
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
    void natural_order_data()
    {
        QTest::addColumn<QStringList>("chosen");
        QTest::addColumn<QStringList>("sorted");
        QTest::newRow("numbers by value") << QStringList{"cam10.jpg", "cam2.jpg", "cam1.jpg"}
                                          << QStringList{"cam1.jpg", "cam2.jpg", "cam10.jpg"};
        QTest::newRow("file name, not folder") << QStringList{"/b/cam2.jpg", "/a/cam10.jpg"}
                                               << QStringList{"/b/cam2.jpg", "/a/cam10.jpg"};
        QTest::newRow("same name: folders decide")
            << QStringList{"/shoot/take10/cam1.jpg", "/shoot/take9/cam1.jpg"}
            << QStringList{"/shoot/take9/cam1.jpg", "/shoot/take10/cam1.jpg"};
        QTest::newRow("case ignored, then decides")
            << QStringList{"CAM_b.jpg", "cam_A.jpg", "cam_B.jpg"}
            << QStringList{"cam_A.jpg", "CAM_b.jpg", "cam_B.jpg"};
        QTest::newRow("leading zeros: value first")
            << QStringList{"img010.jpg", "img9.jpg", "img02.jpg", "img2.jpg"}
            << QStringList{"img2.jpg", "img02.jpg", "img9.jpg", "img010.jpg"};
        QTest::newRow("several numbers") << QStringList{"r2_c10.png", "r10_c1.png", "r2_c9.png"}
                                         << QStringList{"r2_c9.png", "r2_c10.png", "r10_c1.png"};
        QTest::newRow("prefix first") << QStringList{"cam1b.jpg", "cam1.jpg", "cam.jpg"}
                                      << QStringList{"cam.jpg", "cam1.jpg", "cam1b.jpg"};
        QTest::newRow("numbers longer than 64 bits")
            << QStringList{"s123456789012345678901.jpg", "s99999999999999999999.jpg"}
            << QStringList{"s99999999999999999999.jpg", "s123456789012345678901.jpg"};
    }

    void natural_order()
    {
        QFETCH(QStringList, chosen);
        QFETCH(QStringList, sorted);
        QCOMPARE(natural_sorted(chosen), sorted);
        QVERIFY(is_natural_order(sorted));
        QCOMPARE(is_natural_order(chosen), chosen == sorted);
        QStringList reversed(sorted.rbegin(), sorted.rend());
        QCOMPARE(natural_sorted(reversed), sorted);
    }

    // A finished file replaces the previous one whole, and nothing else stays
    // in the folder; a write that cannot happen leaves the folder as it was.
    void atomic_write()
    {
        QTemporaryDir folder;
        const QString path = folder.filePath("output_img_0.jpg");
        QVERIFY(write_file_atomically(path, "first").isEmpty());
        QVERIFY(write_file_atomically(path, "second, longer").isEmpty());
        QCOMPARE(folder_entries(folder.path()), QStringList{"output_img_0.jpg"});
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("second, longer"));

        QVERIFY(!write_file_atomically(folder.filePath("missing/output_img_1.jpg"), "x").isEmpty());
        QCOMPARE(folder_entries(folder.path()), QStringList{"output_img_0.jpg"});
    }

    void partial_files_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("partial");
        QTest::newRow("video") << "/out/output_video.mp4"
                               << "/out/.output_video.partial.mp4";
        QTest::newRow("two dots") << "/out/a.b.gif"
                                  << "/out/.a.b.partial.gif";
        QTest::newRow("no suffix") << "/out/marker"
                                   << "/out/.marker.partial";
        QTest::newRow("relative") << "output_video.mp4"
                                  << "./.output_video.partial.mp4";
    }

    void partial_files()
    {
        QFETCH(QString, path);
        QFETCH(QString, partial);
        QCOMPARE(partial_path(path), partial);

        QTemporaryDir folder;
        const QString final_path = folder.filePath(QFileInfo(path).fileName());
        QVERIFY(write_file(final_path, "previous"));
        QVERIFY(write_file(partial_path(final_path), "finished"));
        QVERIFY(finish_partial_file(partial_path(final_path), final_path).isEmpty());
        QCOMPARE(folder_entries(folder.path()), QStringList{QFileInfo(path).fileName()});
        QFile file(final_path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("finished"));
        // Nothing to rename: the reason, and the previous file stays.
        QVERIFY(!finish_partial_file(partial_path(final_path), final_path).isEmpty());
        QVERIFY(QFile::exists(final_path));
    }
};

QTEST_GUILESS_MAIN(OutputTest)
#include "output_test.moc"
