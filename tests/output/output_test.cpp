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
#include "output/video_size.h"
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
// ends the program as killed; like ffmpeg, a program that succeeds leaves its
// output file (the last argument), when its folder exists.
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
        const ProcessResult result = call < script.size() ? script[call] : exited(0);
        if (result.succeeded())
            write_file(arguments.back());
        return result;
    }
};

// A file name as the test expects it: ffmpeg writes under the partial name of
// the file it makes, renamed once finished.
QString finished_name(const QString& path)
{
    const QString name = QFileInfo(path).fileName();
    return name.startsWith('.') ? name.mid(1).replace(".partial", "") : name;
}

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
        const EncodeSettings full{24, QSize(900, 652), QSize(900, 652)};
        const QString frames = "/data/run1/output_img_%d.jpg";
        const FfmpegCommand video = mp4_command(full, frames, 12, "/data/run1/output_video.mp4");
        QCOMPARE(video.program, QString("ffmpeg"));
        QCOMPARE(video.arguments,
                 QStringList({"-r",        "24",      "-f",        "image2",
                              "-s",        "900x652", "-i",        frames,
                              "-vcodec",   "libx264", "-crf",      "25",
                              "-pix_fmt",  "yuv420p", "-movflags", "+faststart",
                              "-frames:v", "12",      "-y",        "/data/run1/output_video.mp4"}));
        QCOMPARE(video.output_file, QString("/data/run1/output_video.mp4"));

        const EncodeSettings scaled{1, QSize(900, 652), QSize(640, 464)};
        QCOMPARE(mp4_command(scaled, frames, 3, "/o.mp4").arguments,
                 QStringList({"-r",        "1",
                              "-f",        "image2",
                              "-s",        "900x652",
                              "-i",        frames,
                              "-vf",       "scale=640:464:flags=lanczos,setsar=1",
                              "-vcodec",   "libx264",
                              "-crf",      "25",
                              "-pix_fmt",  "yuv420p",
                              "-movflags", "+faststart",
                              "-frames:v", "3",
                              "-y",        "/o.mp4"}));

        // Frames twice the size asked for or more are decoded halved.
        const EncodeSettings rig{24, QSize(5216, 3202), QSize(1920, 1178)};
        const QStringList halved = mp4_command(rig, frames, 24, "/o.mp4").arguments;
        QCOMPARE(halved.mid(0, 10), QStringList({"-r", "24", "-f", "image2", "-s", "5216x3202",
                                                 "-lowres", "1", "-i", frames}));
        QCOMPARE(decoder_halvings(QSize(5216, 3202), QSize(800, 492)), 2);
        QCOMPARE(decoder_halvings(QSize(5216, 3202), QSize(2608, 1602)), 0);
        QCOMPARE(decoder_halvings(QSize(6000, 4000), QSize(640, 426)), 3);
        QCOMPARE(decoder_halvings(QSize(900, 652), QSize(900, 652)), 0);

        const FfmpegCommand join = join_command("/tmp/w/boomerang.txt", "/d/b.mp4");
        QCOMPARE(join.arguments,
                 QStringList({"-f", "concat", "-i", "/tmp/w/boomerang.txt", "-c", "copy",
                              "-movflags", "+faststart", "-y", "/d/b.mp4"}));
        QCOMPARE(join.output_file, QString("/d/b.mp4"));

        const QString palette = "showinfo,split[a][b];[a]palettegen[p];[b][p]paletteuse";
        const EncodeSettings gif{24, QSize(900, 652), QSize(800, 580)};
        QCOMPARE(gif_command(gif, frames, 12, "/d/output_video.gif").arguments,
                 QStringList({"-r", "24", "-f", "image2", "-s", "900x652", "-i", frames, "-vf",
                              "scale=800:580:flags=lanczos,setsar=1," + palette, "-loop", "0",
                              "-frames:v", "12", "-y", "/d/output_video.gif"}));
        // Small frames are not scaled; above 50 fps a GIF would play at 10 fps in places.
        const EncodeSettings fast{60, QSize(64, 48), QSize(64, 48)};
        QCOMPARE(gif_command(fast, frames, 5, "/d/g.gif").arguments,
                 QStringList({"-r", "50", "-f", "image2", "-s", "64x48", "-i", frames, "-vf",
                              palette, "-loop", "0", "-frames:v", "5", "-y", "/d/g.gif"}));

        QCOMPARE(frame_pattern("/d/100%"), QString("/d/100%%/output_img_%d.jpg"));
        QCOMPARE(concat_list({"forward.mp4", "backward.mp4"}, 10, 12),
                 QByteArray("ffconcat version 1.0\nfile forward.mp4\nduration 0.833333\n"
                            "file backward.mp4\nduration 0.833333\n"));
    }

    void video_size_data()
    {
        QTest::addColumn<QSize>("frames");
        QTest::addColumn<int>("long_side");
        QTest::addColumn<QSize>("video");
        QTest::addColumn<QSize>("gif");
        const QSize rig(5216, 3202);
        QTest::newRow("original") << rig << 0 << rig << QSize(800, 492);
        QTest::newRow("3840 px") << rig << 3840 << QSize(3840, 2358) << QSize(800, 492);
        QTest::newRow("1920 px") << rig << 1920 << QSize(1920, 1178) << QSize(800, 492);
        QTest::newRow("portrait 1280 px")
            << QSize(3202, 5216) << 1280 << QSize(786, 1280) << QSize(492, 800);
        QTest::newRow("square") << QSize(2000, 2000) << 1280 << QSize(1280, 1280)
                                << QSize(800, 800);
        QTest::newRow("a sliver keeps two pixels")
            << QSize(4000, 2) << 1280 << QSize(1280, 2) << QSize(800, 2);
        QTest::newRow("smaller frames are not enlarged")
            << QSize(900, 652) << 1920 << QSize(900, 652) << QSize(800, 580);
        QTest::newRow("exactly the size")
            << QSize(1920, 1080) << 1920 << QSize(1920, 1080) << QSize(800, 450);
        QTest::newRow("GIF smaller than 800 px")
            << QSize(600, 400) << 0 << QSize(600, 400) << QSize(600, 400);
        QTest::newRow("video smaller than the GIF limit")
            << rig << 640 << QSize(640, 392) << QSize(640, 392);
    }

    void video_size()
    {
        QFETCH(QSize, frames);
        QFETCH(int, long_side);
        QTEST(::video_size(frames, long_side), "video");
        QTEST(::gif_size(frames, long_side), "gif");
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
        QTest::addColumn<QStringList>("outputs"); // the file each call wrote
        QTest::addColumn<QStringList>("written");
        QTest::addColumn<QString>("error_line");
        const auto row = [](const char* name, const VideoRequest& request,
                            const QVector<ProcessResult>& script, const QStringList& outputs,
                            const QStringList& written, const QString& error) {
            QTest::newRow(name) << request << script << outputs << written << error;
        };
        ProcessResult missing;
        missing.start_error = "No such file or directory";
        VideoRequest everything = run1(true, QSize(5216, 3202));
        everything.gif = true;
        everything.long_side = 1920;
        const QStringList mp4s{"output_video.mp4", "output_video_boomerang.mp4"};
        const QStringList all =
            mp4s + QStringList{"output_video.gif", "output_video_boomerang.gif"};
        const QStringList boomerang_calls{"output_video.mp4", "backward.mp4",
                                          "output_video_boomerang.mp4"};

        row("video only", run1(false), {}, {"output_video.mp4"}, {"output_video.mp4"}, "");
        row("boomerang and GIFs", everything, {},
            boomerang_calls + QStringList{"output_video.gif", "output_video_boomerang.gif"}, all,
            "");
        row("failed encode, nothing more", everything, {exited(1, "banner\nout.jpg: No such file")},
            {"output_video.mp4"}, {}, "out.jpg: No such file");
        row("ffmpeg missing", run1(true), {missing}, {"output_video.mp4"}, {},
            "ffmpeg could not be started: No such file or directory");
        row("silent failure", run1(false), {exited(3)}, {"output_video.mp4"}, {},
            "ffmpeg ended with exit code 3");
        row("failed backward half", everything, {exited(0), exited(1, "x264: out of memory")},
            {"output_video.mp4", "backward.mp4"}, {"output_video.mp4"}, "x264: out of memory");
        row("failed join", run1(true), {exited(0), exited(0), exited(1, "Non-monotonous DTS")},
            boomerang_calls, {"output_video.mp4"}, "Non-monotonous DTS");
        row("failed GIF, no GIF boomerang", everything,
            {exited(0), exited(0), exited(0), exited(1, "palettegen: no frames")},
            boomerang_calls + QStringList{"output_video.gif"}, mp4s, "palettegen: no frames");
        row("frame width 0", run1(true, QSize(0, 652)), {}, {}, {}, "no frames to encode");
        row("no frames", run1(true, QSize(900, 652), 0), {}, {}, {}, "no frames to encode");
        row("0 fps", run1(true, QSize(900, 652), 12, 0), {}, {}, {}, "no frames to encode");
    }

    void export_videos()
    {
        QFETCH(VideoRequest, request);
        QFETCH(QVector<ProcessResult>, script);
        QFETCH(QStringList, written);
        QFETCH(QString, error_line);
        QTemporaryDir folder;
        request.folder = folder.path();
        RecordingRunner runner;
        runner.script = script;
        std::ostringstream log;
        const VideoExport result = ::export_videos(runner, request, log);
        QCOMPARE(result.succeeded, error_line.isEmpty());
        QCOMPARE(result.error_line, error_line);
        QCOMPARE(result.written, written);
        const auto steps = video_steps(request);
        const bool unfinished = !result.succeeded && request.frame_count > 0 && request.fps > 0 &&
                                !request.frame_size.isEmpty();
        QCOMPARE(result.unfinished, unfinished ? steps[written.size()].file_name : QString());

        QStringList outputs;
        std::vector<std::string> expected_log;
        for (const QStringList& call : runner.calls) {
            QCOMPARE(call.front(), QString("ffmpeg"));
            outputs << finished_name(call.back());
            if (QFileInfo(call.back()).path() == folder.path())
                QCOMPARE(call.back(), partial_path(folder.filePath(finished_name(call.back()))));
            FfmpegCommand command;
            command.arguments = call.mid(1);
            expected_log.push_back("Running: " + command.display_line().toStdString());
        }
        QTEST(outputs, "outputs");
        // Each command is logged before it runs, in the words it runs with.
        QVERIFY(split_lines(log.str()) == expected_log);
        if (runner.calls.isEmpty())
            return;

        const EncodeSettings settings{request.fps, request.frame_size,
                                      ::video_size(request.frame_size, request.long_side)};
        // A scaled video keeps its scaled frames for the boomerang's backward half.
        const bool copies = request.boomerang && settings.output_size != settings.frame_size;
        const QStringList& video = runner.calls[0];
        const QString copies_pattern = copies ? video[video.indexOf("[video]") - 2] : QString();
        QVERIFY(!copies || copies_pattern.endsWith("/scaled_%d.yuv"));
        // Like the links, the copies go with the export, however it ended.
        QVERIFY(!copies || !QFileInfo::exists(QFileInfo(copies_pattern).path()));
        QCOMPARE(video.mid(1),
                 mp4_command(settings, frame_pattern(request.folder), request.frame_count,
                             folder.filePath(".output_video.partial.mp4"), copies_pattern)
                     .arguments);
        if (runner.calls.size() > 1 && request.boomerang) {
            // The backward half is encoded with the video's words on other frames and into
            // another file, or the two halves could not be joined without re-encoding.
            QStringList backward = runner.calls[1];
            const QString work = QFileInfo(backward.back()).path();
            const int input = backward.indexOf("-i") + 1;
            if (copies) {
                QCOMPARE(QFileInfo(copies_pattern).path(), work);
                QCOMPARE(backward.mid(1),
                         scaled_copies_mp4_command(settings, work + "/backward_%d.yuv",
                                                   request.frame_count, work + "/backward.mp4")
                             .arguments);
                const QStringList encoder = video.mid(video.indexOf("-color_range"));
                QCOMPARE(backward.mid(backward.indexOf("-color_range")).mid(0, encoder.size() - 1),
                         encoder.mid(0, encoder.size() - 1));
            } else {
                QCOMPARE(backward[input], work + "/backward_%d.jpg");
                backward[input] = video[input];
                backward.back() = video.back();
                QCOMPARE(backward, video);
            }
            if (runner.calls.size() > 2)
                QCOMPARE(runner.calls[2].mid(1),
                         join_command(work + "/boomerang.txt",
                                      folder.filePath(".output_video_boomerang.partial.mp4"))
                             .arguments);
            // The work folder goes with the export.
            QVERIFY(!QFileInfo::exists(work));
        }
    }

    // The count runs through the steps in order, as ffmpeg reports them; a stop
    // kills the command at work, removes only the file its step was writing and
    // runs nothing more.
    void export_progress_and_stop_data()
    {
        QTest::addColumn<bool>("boomerang");
        QTest::addColumn<bool>("gif");
        // Frames done when the stop is asked, always before the end; 0: before the first
        // command, -1: never.
        QTest::addColumn<int>("stop_at");
        QTest::addColumn<QVector<QStringList>>("lines");
        QTest::addColumn<int>("done");
        QTest::addColumn<int>("runs");
        QTest::addColumn<QStringList>("files_left");
        const QStringList video{"ffmpeg version 5.1", "frame=    5 fps=0.0 q=28.0 size=  0kB",
                                "frame=   12 fps=0.0 q=-1.0 Lsize=  4kB"};
        const QStringList backward{"frame=    0 fps=0.0", "frame=   10 fps=9.0", "[aac] done",
                                   "frame=   12 fps=9.0"};
        const QStringList join{"frame=   24 fps=0.0 q=-1.0 Lsize=  9kB"};
        QStringList gif;
        for (int n = 0; n < 12; ++n)
            gif << QString("[Parsed_showinfo_1 @ 0x55d0] n: %1 pts: %1").arg(n, 3);
        gif << "frame=   12 fps=0.0";
        const QVector<QStringList> lines{video, backward, join, gif, gif + gif};
        const QStringList all{"output_img_0.jpg", "output_video.gif", "output_video.mp4",
                              "output_video_boomerang.gif", "output_video_boomerang.mp4"};
        const auto without = [&](const QString& name) {
            QStringList left = all;
            left.removeAll(name);
            return left;
        };

        QTest::newRow("video") << false << false << -1 << lines << 12 << 1 << all;
        QTest::newRow("video and boomerang") << true << false << -1 << lines << 24 << 3 << all;
        QTest::newRow("everything") << true << true << -1 << lines << 60 << 5 << all;
        QTest::newRow("a count beyond the frames is capped")
            << true << false << -1
            << QVector<QStringList>{{"frame=   99"}, {"frame= 1000"}, {"frame= 2000"}} << 24 << 3
            << all;
        QTest::newRow("no progress lines: a finished step counts its frames")
            << true << true << -1 << QVector<QStringList>{} << 60 << 5 << all;
        QTest::newRow("stop during the video")
            << true << true << 5 << lines << 5 << 1 << without("output_video.mp4");
        QTest::newRow("stop during the boomerang")
            << true << true << 22 << lines << 22 << 2 << without("output_video_boomerang.mp4");
        QTest::newRow("stop during the GIF")
            << true << true << 27 << lines << 27 << 4 << without("output_video.gif");
        QTest::newRow("stop during the GIF boomerang")
            << true << true << 40 << lines << 40 << 5 << without("output_video_boomerang.gif");
        QTest::newRow("stop before the video") << true << true << 0 << lines << 0 << 0 << all;
    }

    void export_progress_and_stop()
    {
        QFETCH(bool, boomerang);
        QFETCH(bool, gif);
        QFETCH(int, stop_at);
        QFETCH(QVector<QStringList>, lines);
        const bool stopped = stop_at >= 0;
        // Files an earlier run left, or the commands would be writing.
        QTemporaryDir dir;
        for (const char* name : {"output_img_0.jpg", "output_video.mp4", "output_video.gif",
                                 "output_video_boomerang.mp4", "output_video_boomerang.gif"})
            QVERIFY(write_file(dir.filePath(name)));
        RecordingRunner runner;
        runner.lines = lines;
        StoppingProgress progress(stop_at < 0 ? 1 << 30 : stop_at);
        if (stop_at == 0)
            progress.request_stop();
        std::ostringstream log;

        VideoRequest request{dir.path(), QSize(64, 48), 12, 24, boomerang};
        request.gif = gif;
        const VideoExport result = ::export_videos(runner, request, log, &progress);
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
        QTest::addColumn<bool>("gif");
        QTest::addColumn<int>("frames_done");
        QTest::addColumn<int>("step");
        QTest::addColumn<int>("done");
        QTest::addColumn<int>("total");
        const int video = int(VideoStep::Video);
        const int boomerang = int(VideoStep::Boomerang);
        QTest::newRow("video under way") << true << true << 7 << video << 7 << 12;
        QTest::newRow("video finished") << true << true << 12 << video << 12 << 12;
        QTest::newRow("boomerang started") << true << true << 13 << boomerang << 1 << 12;
        QTest::newRow("GIF after the boomerang")
            << true << true << 30 << int(VideoStep::Gif) << 6 << 12;
        QTest::newRow("GIF without the boomerang")
            << false << true << 13 << int(VideoStep::Gif) << 1 << 12;
        QTest::newRow("GIF boomerang, past the end")
            << true << true << 99 << int(VideoStep::GifBoomerang) << 24 << 24;
        QTest::newRow("video alone, past the end") << false << false << 20 << video << 12 << 12;
    }

    void video_progress_step()
    {
        QFETCH(bool, boomerang);
        QFETCH(bool, gif);
        QFETCH(int, frames_done);
        VideoRequest request = run1(boomerang);
        request.gif = gif;
        const VideoProgressStep step = ::video_progress_step(request, frames_done);
        QTEST(int(step.step), "step");
        QTEST(step.done, "done");
        QTEST(step.total, "total");
    }

    void frame_counts_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<int>("encoded");
        QTest::addColumn<int>("filtered");
        QTest::newRow("progress line")
            << "frame=  123 fps= 45 q=28.0 size=     256kB time=00:00:05.08 bitrate= 412.6kbits/s"
            << 123 << -1;
        QTest::newRow("no number") << "frame= fps=0.0" << -1 << -1;
        QTest::newRow("other line") << "[libx264 @ 0x55] frame I:1     Avg QP:21.49" << -1 << -1;
        QTest::newRow("absurd number") << "frame=99999999999999999999" << -1 << -1;
        QTest::newRow("showinfo frame")
            << "[Parsed_showinfo_1 @ 0x55ce22c542c0] n:  11 pts:     11 pts_time:0.458333" << -1
            << 12;
        QTest::newRow("showinfo setup")
            << "[Parsed_showinfo_1 @ 0x55ce] config in time_base: 1/24, frame_rate: 24/1" << -1
            << -1;
        QTest::newRow("another filter") << "[Parsed_scale_0 @ 0x55ce] n: 3" << -1 << -1;
    }

    void frame_counts()
    {
        QFETCH(QString, line);
        QTEST(::encoded_frames(line), "encoded");
        QTEST(::filtered_frames(line), "filtered");
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
