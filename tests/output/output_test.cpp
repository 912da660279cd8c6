#include "calibration/alignment.h"
#include "output/aligned_images.h"
#include "output/ffmpeg_command.h"
#include "output/frame_geometry.h"
#include "output/video_export.h"
#include "output/video_frames.h"
#include "output/video_size.h"
#include "photo/image_file.h"
#include "support/atomic_file.h"
#include "support/batch_progress.h"
#include "support/natural_order.h"
#include "support/process_runner.h"
#include "tests/output/shots.h"
#include "tests/support/stdout_capture.h"

#include <QPainter>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <csignal>
#include <sstream>
#include <thread>
#include <unistd.h>

Q_DECLARE_METATYPE(ImageAlignment)
using Alignments = std::vector<ImageAlignment>;
Q_DECLARE_METATYPE(Alignments)
Q_DECLARE_METATYPE(ProcessResult)
Q_DECLARE_METATYPE(VideoRequest)
using FedPictures = QVector<QList<int>>;
Q_DECLARE_METATYPE(FedPictures)

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

// Leaves every file a command names after "-y", as ffmpeg would: one command
// may make several.
void write_outputs(const QStringList& arguments)
{
    for (int k = 0; k + 1 < arguments.size(); ++k) {
        if (arguments[k] == QLatin1String("-y"))
            write_file(arguments[k + 1]);
    }
}

// Plays back scripted results and error lines, and records what it was asked
// to run. Like the real runner, it asks about a stop after each line and then
// ends the program as killed; like ffmpeg, a program that succeeds leaves its
// output files (each after "-y"), when their folder exists.
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
            write_outputs(arguments);
        return result;
    }
};

// Takes in everything a command is fed, as ffmpeg would, and tells which kept
// picture each raw picture of it was (kept picture k is filled with the byte k + 1).
class FeedRecorder : public ProcessRunner
{
public:
    QVector<QStringList> calls;
    QVector<QList<int>> fed; // per call, the pictures in the order received (none: not fed)

    ProcessResult run(const QString&, const QStringList& arguments,
                      const std::function<void(const QString&)>&,
                      const std::function<bool()>&) override
    {
        calls << arguments;
        fed << QList<int>{};
        write_outputs(arguments);
        return exited(0);
    }

    ProcessResult run_fed(const QString&, const QStringList& arguments, const InputSource& input,
                          const std::function<void(const QString&)>&,
                          const std::function<bool()>&) override
    {
        calls << arguments;
        QByteArray bytes;
        for (InputPiece piece = input(); piece.size > 0 || piece.later; piece = input())
            bytes.append(piece.data, int(piece.size));
        const QStringList sides = arguments[arguments.indexOf("-video_size") + 1].split('x');
        const bool yuv = arguments[arguments.indexOf("-pixel_format") + 1] == "yuv420p";
        const int picture = sides[0].toInt() * sides[1].toInt() * (yuv ? 3 : 6) / 2;
        QList<int> pictures;
        for (int at = 0; at < bytes.size(); at += picture) {
            const QByteArray one = bytes.mid(at, picture);
            const bool uniform = one.size() == picture && one.count(one[0]) == picture;
            pictures << (uniform ? int(static_cast<unsigned char>(one[0])) - 1 : -1);
        }
        fed << pictures;
        write_outputs(arguments);
        return exited(0);
    }
};

// Reads what a command is fed as the real runner does, asking about a stop
// between pieces and waiting on a piece not ready yet; when its input ends it
// finishes its file and succeeds, as ffmpeg does with a video cut short.
class ArrivalRunner : public ProcessRunner
{
public:
    std::atomic<int> calls{0};
    int lanes = 1;
    // The forward video's encoder fails on its first picture; the still's
    // command fails.
    bool video_fails = false;
    bool still_fails = false;

    int concurrent_runs() const override { return lanes; }

    ProcessResult run(const QString&, const QStringList& arguments,
                      const std::function<void(const QString&)>&,
                      const std::function<bool()>&) override
    {
        ++calls;
        if (still_fails && arguments.last().contains("output_still"))
            return exited(1, "Conversion failed!");
        write_outputs(arguments);
        return exited(0);
    }

    ProcessResult run_fed(const QString&, const QStringList& arguments, const InputSource& input,
                          const std::function<void(const QString&)>&,
                          const std::function<bool()>& stop_requested) override
    {
        ++calls;
        if (video_fails && arguments.last().endsWith(".output_video.partial.mp4"))
            return exited(1, "Conversion failed!");
        for (;;) {
            if (stop_requested && stop_requested()) {
                ProcessResult killed = exited(-1);
                killed.crashed = killed.stopped = true;
                return killed;
            }
            const InputPiece piece = input();
            if (piece.size == 0 && !piece.later)
                break;
        }
        write_outputs(arguments);
        return exited(0);
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

// Outside the unnamed namespace: the frames steps' lambdas capture it.
// A take of three frames of 900 x 652 whose pictures are kept as they arrive,
// for videos (and GIFs) of 400 px.
struct ArrivingTake
{
    static constexpr int count = 3;
    const QSize frames{900, 652};
    FrameArrival arrival;
    VideoFrames kept;
    QTemporaryDir dir;
    VideoRequest request;

    ArrivingTake(bool boomerang, bool gif)
        : request{dir.path(), frames, count, 10, boomerang, 400, gif}
    {
        kept.long_side = 400;
        kept.gif = gif;
        kept.arrival = &arrival;
        prepare_video_frames(kept, frames, count);
        request.kept = &kept;
        request.arriving = &arrival;
    }

    // Frame `k`'s pictures kept (its GIF picture only if `gif_too`), then told ready.
    void arrive(int k, bool gif_too = true)
    {
        for (KeptFrames* pictures : {&kept.video, &kept.gif_frames}) {
            if (!pictures->kept() || (pictures == &kept.gif_frames && !gif_too))
                continue;
            const int bytes = int(raw_frame_bytes(pictures->size, pictures->layout));
            pictures->pictures[k] = cv::Mat(1, bytes, CV_8UC1, cv::Scalar(k + 1));
        }
        arrival.ready(k);
    }
};

class OutputTest : public QObject
{
    Q_OBJECT

private slots:
    // The rectangle every frame is cut from, in the reference camera's pixels.
    // expected: the exact rectangle; or, with an empty one, a size it must come
    // within 4 pixels of (the largest rectangle inside the turned picture),
    // centred on the reference picture's centre; or nothing at all.
    void common_frame_rect_data()
    {
        QTest::addColumn<QVector<QSize>>("inputs");
        QTest::addColumn<Alignments>("alignments");
        QTest::addColumn<QRect>("expected");
        QTest::addColumn<QSize>("about");

        const ImageAlignment identity{0, 0, 0, 1, true};
        // Turned and scaled about the centre of a width x height picture.
        const auto about_centre = [](QSize size, double degrees, double scale) {
            const cv::Point2d c((size.width() - 1) / 2.0, (size.height() - 1) / 2.0);
            const Similarity s{scale, degrees * CV_PI / 180.0, {0, 0}};
            const cv::Point2d t = c - apply(s, c);
            return ImageAlignment{t.x, t.y, degrees, scale, true};
        };
        // about: invalid for no rectangle at all, (0, 0) for one of any size.
        const auto row = [](const char* name, QVector<QSize> inputs, Alignments alignments,
                            QRect expected, QSize about = {}) {
            QTest::newRow(name) << inputs << alignments << expected << about;
        };
        const QSize photo(1000, 800);
        // Off by half a pixel whichever way it is cut.
        row("identity, odd size", {{101, 81}}, {identity}, {1, 0, 100, 80});
        row("identity, even size", {photo}, {identity}, {0, 0, 1000, 800});
        // Pixel centres from 10.7 to 1009.7 and from -3.2 to 796.8.
        row("sub-pixel shift", {photo}, {{10.7, -3.2, 0, 1, true}}, {11, -3, 1000, 800});
        row("second camera shifted right", {photo, photo}, {identity, {100, 0, 0, 1, true}},
            {100, 0, 900, 800});
        row("second camera shifted up and left", {photo, photo},
            {identity, {-31.5, -20.25, 0, 1, true}}, {0, 0, 968, 780});
        row("quarter turn", {photo}, {about_centre(photo, 90, 1)}, {}, {800, 1000});
        row("turned clockwise", {photo}, {about_centre(photo, 10, 1)}, {}, {901, 654});
        row("turned back", {photo}, {about_centre(photo, -10, 1)}, {}, {901, 654});
        row("portrait, turned", {{800, 1000}}, {about_centre({800, 1000}, 10, 1)}, {}, {654, 901});
        row("turned 30 deg", {photo}, {about_centre(photo, 30, 1)}, {}, {801, 462});
        row("turned 45 deg", {photo}, {about_centre(photo, 45, 1)}, {}, {566, 566});
        row("turned, enlarged", {photo}, {about_centre(photo, 10, 1.2)}, {}, {1081, 785});
        row("turned back, reduced", {photo}, {about_centre(photo, -7, 0.8)}, {}, {739, 555});
        // Cameras turned either way and scaled about the reference centre: the
        // reference picture bounds the frame less than the turned ones do.
        row("rig turned either way", {photo, photo, photo, photo},
            {about_centre(photo, 3, 1.05), about_centre(photo, -3, 0.95), identity,
             about_centre(photo, 2, 0.97)},
            {}, QSize(0, 0));
        row("no common area", {photo, photo}, {identity, {1000, 0, 0, 1, true}}, {});
        row("entry never aligned", {photo, photo}, {identity, {}}, {});
        row("reflection is no alignment", {photo}, {{0, 0, 0, -1, true}}, {});
        row("not finite", {photo, photo}, {identity, {qQNaN(), 0, 0, 1, true}}, {});
    }

    void common_frame_rect()
    {
        QFETCH(QVector<QSize>, inputs);
        QFETCH(Alignments, alignments);
        QFETCH(QRect, expected);
        QFETCH(QSize, about);
        const int reference = inputs.size() / 2;
        const QRect rect = ::common_frame_rect(std::vector<QSize>(inputs.begin(), inputs.end()),
                                               alignments, reference);
        if (!expected.isEmpty()) {
            QCOMPARE(rect, expected);
            return;
        }
        QCOMPARE(rect.isEmpty(), !about.isValid());
        if (rect.isEmpty())
            return;

        QCOMPARE(rect.width() % 2, 0);
        QCOMPARE(rect.height() % 2, 0);
        // Every frame pixel centre shows a point of every picture.
        for (int k = 0; k < inputs.size(); ++k) {
            const Similarity s = alignment_similarity(alignments[size_t(k)]);
            const Similarity back{1 / s.scale, -s.rotation, {0, 0}};
            for (const QPoint corner :
                 {rect.topLeft(), rect.topRight(), rect.bottomLeft(), rect.bottomRight()}) {
                const cv::Point2d p =
                    apply(back, cv::Point2d(corner.x(), corner.y()) - s.translation);
                QVERIFY2(p.x >= -0.5 - 1e-6 && p.y >= -0.5 - 1e-6 &&
                             p.x <= inputs[k].width() - 0.5 + 1e-6 &&
                             p.y <= inputs[k].height() - 0.5 + 1e-6,
                         qPrintable(QString("camera %1: %2, %3").arg(k).arg(p.x).arg(p.y)));
            }
        }
        // Centred: everything here is symmetric about the reference centre.
        const QSize picture = inputs[reference];
        const QPointF centre((picture.width() - 1) / 2.0, (picture.height() - 1) / 2.0);
        const QPointF middle(rect.left() + (rect.width() - 1) / 2.0,
                             rect.top() + (rect.height() - 1) / 2.0);
        QVERIFY2(std::abs(middle.x() - centre.x()) <= 1.0 &&
                     std::abs(middle.y() - centre.y()) <= 1.0,
                 qPrintable(QString("%1, %2").arg(middle.x()).arg(middle.y())));
        if (about.isEmpty())
            return;
        QVERIFY2(rect.width() <= about.width() && rect.width() >= about.width() - 4 &&
                     rect.height() <= about.height() && rect.height() >= about.height() - 4,
                 qPrintable(QString("%1 x %2").arg(rect.width()).arg(rect.height())));
    }

    // One input through the whole writer: its frame size, where its red marker
    // lands, and corners that show the picture (or black where it is transparent).
    void frame_content_data()
    {
        QTest::addColumn<QSize>("input");
        QTest::addColumn<ImageAlignment>("alignment");
        QTest::addColumn<QColor>("background");
        QTest::addColumn<QSize>("frame");

        const auto row = [](const char* name, QSize input, ImageAlignment alignment, QSize frame,
                            const QColor& background = Qt::gray) {
            QTest::newRow(name) << input << alignment << background << frame;
        };
        // Turned and scaled about the picture centre (100, 80) of a 201 x 161 input.
        const auto about_centre = [](double degrees, double scale) {
            const Similarity s{scale, degrees * CV_PI / 180.0, {0, 0}};
            const cv::Point2d t = cv::Point2d(100, 80) - apply(s, {100, 80});
            return ImageAlignment{t.x, t.y, degrees, scale, true};
        };
        row("identity, odd size", {101, 81}, {0, 0, 0, 1, true}, {100, 80});
        row("translation", {1000, 800}, {10.7, -3.2, 0, 1, true}, {1000, 800});
        row("negative translation", {100, 80}, {-5.5, 0, 0, 1, true}, {100, 80});
        // Clockwise on screen, about the top-left pixel.
        row("quarter turn", {100, 80}, {0, 0, 90, 1, true}, {80, 100});
        row("transparent", {101, 81}, {0, 0, 0, 1, true}, {100, 80}, Qt::transparent);
        row("10 deg", {201, 161}, about_centre(10, 1), {180, 132});
        row("-30 deg, enlarged", {201, 161}, about_centre(-30, 1.3), {210, 120});
        row("45 deg, reduced", {201, 161}, about_centre(45, 0.7), {80, 80});
    }

    void frame_content()
    {
        QFETCH(QSize, input);
        QFETCH(ImageAlignment, alignment);
        QFETCH(QColor, background);
        QFETCH(QSize, frame);
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

        // The marker's centre (34.5, 44.5) through the alignment, in the frame.
        const QRect rect = ::common_frame_rect({input}, {alignment}, 0);
        const cv::Point2d at =
            apply(alignment_similarity(alignment), {34.5, 44.5}) - cv::Point2d(rect.x(), rect.y());
        const QPoint marker(qRound(at.x), qRound(at.y));
        if (!QRect(QPoint(8, 8), frame - QSize(16, 16)).contains(marker))
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
        QTest::newRow("shots sharing no area") << 3 << 0 << "far" << QSize(0, 0);
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
            calibration.translation_x[broken] = -40.0;
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

        // Raw pictures of the output size from standard input: nothing to decode or scale.
        const EncodeSettings raw{24, QSize(5216, 3202), QSize(400, 290)};
        QCOMPARE(raw_mp4_command(raw, 12, "/data/run1/output_video.mp4").arguments,
                 QStringList({"-f",
                              "rawvideo",
                              "-pixel_format",
                              "yuv420p",
                              "-video_size",
                              "400x290",
                              "-framerate",
                              "24",
                              "-i",
                              "-",
                              "-vf",
                              "setsar=1",
                              "-color_range",
                              "tv",
                              "-colorspace",
                              "bt470bg",
                              "-chroma_sample_location",
                              "center",
                              "-vcodec",
                              "libx264",
                              "-crf",
                              "25",
                              "-pix_fmt",
                              "yuv420p",
                              "-movflags",
                              "+faststart",
                              "-frames:v",
                              "12",
                              "-y",
                              "/data/run1/output_video.mp4"}));
        const EncodeSettings raw_gif{60, QSize(5216, 3202), QSize(800, 580)};
        QCOMPARE(raw_gif_command(raw_gif, 24, "/d/output_video_boomerang.gif").arguments,
                 QStringList({"-f", "rawvideo", "-pixel_format", "bgr24", "-video_size", "800x580",
                              "-framerate", "50", "-i", "-", "-vf", palette, "-loop", "0",
                              "-frames:v", "24", "-y", "/d/output_video_boomerang.gif"}));

        QCOMPARE(frame_pattern("/d/100%"), QString("/d/100%%/output_img_%d.jpg"));
        QCOMPARE(concat_list({"forward.mp4", "backward.mp4"}, {10, 10}, 12),
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

    // Each step takes the kept pictures it plays, in its order, with the raw
    // commands; a step whose pictures are not all kept reads the frame files.
    // The video encoded while its frames are written is fed each picture as it
    // arrives; a frame that never comes (a shot that failed, a stop) leaves no
    // video, finished or partial, and runs no later step. With two lanes the
    // GIFs, waiting beside the video for the frames' end, follow the same rule.
    void export_while_frames_arrive_data()
    {
        QTest::addColumn<int>("arriving"); // frames written before the frames step ends
        QTest::addColumn<bool>("stop");    // a stop asked before it ends
        QTest::addColumn<bool>("gif");     // with both GIFs, on two lanes
        QTest::addColumn<bool>("fails");   // the video's encoder fails
        QTest::addColumn<bool>("succeeded");
        for (const bool gif : {false, true}) {
            const char* const with = gif ? ", with GIFs" : "";
            QTest::addRow("every frame written%s", with) << 3 << false << gif << false << true;
            QTest::addRow("a frame fails to write in the middle%s", with)
                << 1 << false << gif << false << false;
            QTest::addRow("no frame written%s", with) << 0 << false << gif << false << false;
            QTest::addRow("stopped in the middle%s", with) << 1 << true << gif << false << false;
            QTest::addRow("the video's encoder fails%s", with)
                << 3 << false << gif << true << false;
        }
    }

    void export_while_frames_arrive()
    {
        QFETCH(int, arriving);
        QFETCH(bool, stop);
        QFETCH(bool, gif);
        QFETCH(bool, fails);
        QFETCH(bool, succeeded);
        ArrivingTake take(true, gif);
        BatchProgress progress;
        std::thread frames_step([&] {
            take.arrival.begin(take.frames, take.count);
            for (int k = 0; k < arriving; ++k)
                take.arrive(k);
            if (stop)
                progress.request_stop();
            take.arrival.end();
        });
        ArrivalRunner runner;
        runner.lanes = gif ? 2 : 1;
        runner.video_fails = fails;
        std::ostringstream log;
        const VideoExport result = ::export_videos(runner, take.request, log, &progress);
        frames_step.join();
        QCOMPARE(result.succeeded, succeeded);
        if (succeeded) {
            QStringList videos{"output_video.mp4", "output_video_boomerang.mp4"};
            if (gif)
                videos << "output_video.gif"
                       << "output_video_boomerang.gif";
            QCOMPARE(result.written, videos);
            QCOMPARE(runner.calls.load(), gif ? 4 : 3);
            return;
        }
        QCOMPARE(result.stopped, stop);
        if (!stop)
            QCOMPARE(result.error_line, fails ? QStringLiteral("Conversion failed!")
                                              : QStringLiteral("the frames were not all written"));
        QCOMPARE(result.unfinished, QStringLiteral("output_video.mp4"));
        QVERIFY(result.written.isEmpty());
        // A GIF begun beside a video that then failed is not kept.
        QVERIFY(runner.calls.load() <= (fails && gif ? 2 : 1));
        QCOMPARE(QDir(take.dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{});
    }

    // Every frame written but a GIF picture not kept: the GIFs read the frame
    // files, in step order with the other steps, so that a later step's
    // failure (the still's) is reported as it is, the GIF before it kept.
    void gifs_not_all_kept_run_in_step_order()
    {
        ArrivingTake take(false, true);
        take.request.still = true;
        std::thread frames_step([&] {
            take.arrival.begin(take.frames, take.count);
            for (int k = 0; k < take.count; ++k)
                take.arrive(k, k != 1);
            take.arrival.end();
        });
        ArrivalRunner runner;
        runner.lanes = 2;
        runner.still_fails = true;
        std::ostringstream log;
        BatchProgress progress;
        const VideoExport result = ::export_videos(runner, take.request, log, &progress);
        frames_step.join();
        QVERIFY(!result.succeeded);
        QVERIFY(!result.stopped);
        QCOMPARE(result.unfinished, QStringLiteral("output_still.jpg"));
        QCOMPARE(result.error_line, QStringLiteral("Conversion failed!"));
        QCOMPARE(result.written, (QStringList{"output_video.mp4", "output_video.gif"}));
        QCOMPARE(runner.calls.load(), 3);
    }

    void export_from_memory_data()
    {
        QTest::addColumn<QSize>("frames");
        QTest::addColumn<int>("missing"); // a kept video picture left out, or -1
        QTest::addColumn<QStringList>("commands");
        QTest::addColumn<QVector<QList<int>>>("fed");
        const QList<int> forwards{0, 1, 2};
        const QList<int> backwards{2, 1, 0};
        QTest::newRow("scaled video, boomerang and GIFs")
            << QSize(900, 652) << -1 << QStringList{"raw mp4", "raw mp4", "join", "raw gifs"}
            << QVector<QList<int>>{forwards, backwards, {}, forwards + backwards};
        QTest::newRow("video at the frames' size: only the GIFs kept")
            << QSize(400, 290) << -1
            << QStringList{"mp4 from files", "mp4 from files", "join", "raw gifs"}
            << QVector<QList<int>>{{}, {}, {}, forwards + backwards};
        QTest::newRow("a video picture missing: the videos read the files")
            << QSize(900, 652) << 1
            << QStringList{"mp4 from files", "mp4 from files", "join", "raw gifs"}
            << QVector<QList<int>>{{}, {}, {}, forwards + backwards};
    }

    void export_from_memory()
    {
        QFETCH(QSize, frames);
        QFETCH(int, missing);
        QFETCH(QStringList, commands);
        QFETCH(QVector<QList<int>>, fed);
        const int count = 3;
        VideoFrames kept;
        kept.long_side = 400;
        kept.gif = true;
        prepare_video_frames(kept, frames, count);
        for (KeptFrames* pictures : {&kept.video, &kept.gif_frames}) {
            for (int k = 0; pictures->kept() && k < count; ++k) {
                const int bytes = int(raw_frame_bytes(pictures->size, pictures->layout));
                pictures->pictures[k] = cv::Mat(1, bytes, CV_8UC1, cv::Scalar(k + 1));
            }
        }
        if (missing >= 0)
            kept.video.pictures[missing] = cv::Mat();
        QTemporaryDir dir;
        VideoRequest request{dir.path(), frames, count, 10, true, 400, true};
        request.kept = &kept;
        FeedRecorder runner;
        std::ostringstream log;
        const VideoExport result = ::export_videos(runner, request, log);
        QVERIFY2(result.succeeded, qPrintable(result.error_line));
        QCOMPARE(runner.fed, fed);
        QCOMPARE(split_lines(log.str()).size(), std::size_t(runner.calls.size()));
        const EncodeSettings video{10, frames, QSize(400, 290)};
        const EncodeSettings gif{10, frames, QSize(400, 290)};
        QStringList described;
        for (const QStringList& call : runner.calls) {
            const QString output = call.back();
            const int frame_count = call.value(call.indexOf("-frames:v") + 1).toInt();
            if (call == raw_mp4_command(video, count, output).arguments)
                described << "raw mp4";
            else if (call.contains("-pattern_type") || call.contains("image2"))
                described << "mp4 from files";
            else if (call == join_command(call[call.indexOf("-i") + 1], output).arguments)
                described << "join";
            else if (call == raw_gif_command(gif, frame_count, output).arguments)
                described << "raw gif";
            else if (call ==
                     raw_gifs_command(gif, count, 2 * count, call[call.indexOf("-y") + 1], output)
                         .arguments)
                described << "raw gifs";
            else
                described << call.join(' ');
        }
        QCOMPARE(described, commands);
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
        QTest::newRow("not on PATH")
            << "quorvane-no-such-program" << QStringList{} << false << false << -1 << QStringList{};
        // This program's files and ignored signals stay out of the child: an
        // encoder holding them would keep a pipe from ending or a file open, and
        // one ignoring SIGPIPE complains where it should quietly stop.
        QTest::newRow("descriptors not inherited")
            << "sh" << QStringList{"-c", "test -e /proc/$$/fd/%fd && echo inherited >&2; exit 0"}
            << true << false << 0 << QStringList{};
        QTest::newRow("SIGPIPE as by default")
            << "sh" << QStringList{"-c", "yes | head -c 1 >/dev/null"} << true << false << 0
            << QStringList{};
    }

    void process_runner()
    {
        QFETCH(QString, program);
        QFETCH(QStringList, arguments);
        QFETCH(int, exit_code);
        QFETCH(QStringList, lines);
        QStringList received;
        // A descriptor without close-on-exec, and SIGPIPE ignored, as Qt does.
        const int leaked = dup(STDIN_FILENO);
        QVERIFY(leaked >= 0);
        arguments.replaceInStrings("%fd", QString::number(leaked));
        const auto previous_sigpipe = std::signal(SIGPIPE, SIG_IGN);
        ChildProcessRunner runner;
        const ProcessResult result =
            runner.run(program, arguments, [&](const QString& line) { received << line; }, {});
        std::signal(SIGPIPE, previous_sigpipe);
        close(leaked);
        QVERIFY(!result.stopped);
        QTEST(result.started, "started");
        QTEST(result.crashed, "crashed");
        if (result.started && !result.crashed)
            QCOMPARE(result.exit_code, exit_code);
        QCOMPARE(received, lines);
        QCOMPARE(result.error_tail, lines.mid(lines.size() - 5).join('\n')); // the last five
        QCOMPARE(result.start_error.isEmpty(), result.started);
    }
    // Fed through a pipe far smaller than the input, with SIGPIPE at its
    // default: a child that takes everything sees every byte; one that ends or
    // closes its input half-way ends the feeding and its end is the result,
    // and this program lives on with no SIGPIPE left pending. (The child that
    // closed its input says so, then waits to be stopped: the write after its
    // word meets the closed pipe.)
    void fed_runner_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<int>("pieces"); // fed before the end of the input, -1: never ends
        QTest::addColumn<bool>("stopped");
        QTest::addColumn<int>("exit_code");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("every byte arrives")
            << "wc -c >&2" << 4 << false << 0 << QStringList{"8000000"};
        QTest::newRow("ends while fed")
            << "head -c 1000 >/dev/null; echo 'Error while decoding' >&2; exit 4" << -1 << false
            << 4 << QStringList{"Error while decoding"};
        QTest::newRow("closes its input and goes on")
            << "head -c 1000 >/dev/null; exec 0<&-; echo closed >&2; exec tail -f /dev/null" << -1
            << true << -1 << QStringList{"closed"};
    }

    void fed_runner()
    {
        QFETCH(QString, script);
        QFETCH(int, pieces);
        QFETCH(bool, stopped);
        QFETCH(QStringList, lines);
        const QByteArray piece(2000000, 'x');
        int asked = 0;
        const InputSource input = [&] {
            return pieces < 0 || ++asked <= pieces
                       ? InputPiece{piece.constData(), std::size_t(piece.size())}
                       : InputPiece{};
        };
        QStringList received;
        const auto previous_sigpipe = std::signal(SIGPIPE, SIG_DFL);
        ChildProcessRunner runner;
        const ProcessResult result = runner.run_fed(
            "sh", {"-c", script}, input, [&](const QString& line) { received << line; },
            [&] { return received.contains("closed"); });
        std::signal(SIGPIPE, previous_sigpipe);
        sigset_t pending;
        sigpending(&pending);
        QVERIFY(!sigismember(&pending, SIGPIPE));
        QVERIFY(result.started);
        QCOMPARE(result.stopped, stopped);
        if (!stopped) {
            QVERIFY(!result.crashed);
            QTEST(result.exit_code, "exit_code");
        }
        QCOMPARE(received, lines);
    }

    // A child that never reads: the pipe fills, and the stop request still
    // ends it promptly.
    void fed_runner_stops_a_child_that_does_not_read()
    {
        const QByteArray piece(1000000, 'x');
        int asked = 0;
        int stop_asked = 0;
        ChildProcessRunner runner;
        const ProcessResult result = runner.run_fed(
            "sh", {"-c", "exec tail -f /dev/null"},
            [&] {
                ++asked;
                return InputPiece{piece.constData(), std::size_t(piece.size())};
            },
            {}, [&] { return ++stop_asked > 20; });
        QVERIFY(result.stopped);
        QVERIFY(!result.succeeded());
        // Nothing past what the pipe holds was asked for.
        QVERIFY2(asked < 10, qPrintable(QString::number(asked)));
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
