// The video step with what a booth hands its guests (a logo, the 9:16 shape
// and a 3 s minimum) against the same step without them: video, boomerang and
// GIFs at 1920 px fed from the frames kept in memory, as a take makes them,
// and the video and boomerang at the frames' own size, read from the files.
// Processor time of the ffmpeg processes counts: it is steadier than elapsed
// time on a shared machine, and the step waits on nothing else.

#include "bench/process_usage.h"
#include "output/video_export.h"
#include "output/video_frames.h"
#include "support/process_runner.h"

#include <QCoreApplication>
#include <QDir>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <cmath>
#include <iomanip>
#include <iostream>
#include <optional>

namespace {

struct Options
{
    int frames = 24;
    QSize size{3000, 2000};
    int repeats = 2;
};

const char* const usage =
    "usage: deliverables [--frames N] [--size WxH] [--repeats N]\n"
    "  --frames   frames of the take (default 24)\n"
    "  --size     frame size in pixels, even sides (default 3000x2000)\n"
    "  --repeats  runs of each measurement; the least processor time counts (default 2)\n";

std::optional<Options> parse_options(const QStringList& arguments)
{
    Options options;
    if (arguments.size() % 2 != 0)
        return std::nullopt;
    for (int i = 0; i + 1 < arguments.size(); i += 2) {
        bool ok = true;
        bool height_ok = true;
        if (arguments[i] == "--frames") {
            options.frames = arguments[i + 1].toInt(&ok);
            ok = ok && options.frames > 1;
        } else if (arguments[i] == "--repeats") {
            options.repeats = arguments[i + 1].toInt(&ok);
            ok = ok && options.repeats > 0;
        } else if (arguments[i] == "--size") {
            const QStringList sides = arguments[i + 1].split('x');
            options.size = QSize(sides.value(0).toInt(&ok), sides.value(1).toInt(&height_ok));
            ok = ok && height_ok && sides.size() == 2 && !options.size.isEmpty() &&
                 options.size.width() % 2 == 0 && options.size.height() % 2 == 0;
        } else {
            ok = false;
        }
        if (!ok)
            return std::nullopt;
    }
    return options;
}

// A scene like a take: textured gradients and a subject that moves along.
cv::Mat frame_picture(QSize size, int k)
{
    cv::Mat bgra(size.height(), size.width(), CV_8UC4);
    cv::randu(bgra, cv::Scalar::all(0), cv::Scalar::all(40));
    for (int y = 0; y < bgra.rows; ++y) {
        cv::Vec4b* row = bgra.ptr<cv::Vec4b>(y);
        for (int x = 0; x < bgra.cols; ++x)
            row[x] += cv::Vec4b(uchar(100 * x / bgra.cols), uchar(120 * y / bgra.rows),
                                uchar(60 + 40 * std::sin((x + 13 * k) / 57.0)), 255);
    }
    cv::circle(bgra, {bgra.cols / 2 + (k - 12) * bgra.cols / 80, bgra.rows / 2}, bgra.rows / 4,
               cv::Scalar(40, 60, 200, 255), cv::FILLED, cv::LINE_AA);
    return bgra;
}

QString write_logo(const QString& folder)
{
    QImage logo(600, 240, QImage::Format_ARGB32);
    logo.fill(Qt::transparent);
    QPainter painter(&logo);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(QColor(255, 255, 255, 220));
    painter.drawRoundedRect(QRectF(10, 10, 580, 220), 40, 40);
    // No text: fonts need a GUI application; a ring stands for the lettering.
    painter.setPen(QPen(QColor(200, 20, 60), 12));
    painter.drawEllipse(QRectF(60, 40, 480, 160));
    painter.end();
    const QString path = QDir(folder).filePath("logo.png");
    logo.save(path);
    return path;
}

// The least processor time of `repeats` exports of `request`, or -1.
double measured(const VideoRequest& request, int repeats, const char* label)
{
    double best = -1;
    for (int r = 0; r < repeats; ++r) {
        ChildProcessRunner runner;
        std::ostream discard(nullptr);
        const double before = processor_seconds(Spender::Children);
        const VideoExport result = export_videos(runner, request, discard);
        const double seconds = processor_seconds(Spender::Children) - before;
        if (!result.succeeded) {
            std::cerr << "deliverables: " << result.error_line.toStdString() << std::endl;
            return -1;
        }
        std::cout << "  " << label << " run " << r + 1 << ": " << std::fixed
                  << std::setprecision(2) << seconds << " s processor" << std::endl;
        best = best < 0 ? seconds : std::min(best, seconds);
    }
    return best;
}

int run_benchmark(const Options& options)
{
    QTemporaryDir folder;
    std::cout << options.frames << " frames of " << options.size.width() << "x"
              << options.size.height() << ", best of " << options.repeats << std::endl;
    VideoFrames plain_kept;
    plain_kept.long_side = 1920;
    plain_kept.gif = true;
    VideoFrames shaped_kept = plain_kept;
    shaped_kept.aspect = ClipAspect::Tall;
    shaped_kept.column_x = options.size.width() * 0.45;
    prepare_video_frames(plain_kept, options.size, options.frames);
    prepare_video_frames(shaped_kept, options.size, options.frames);
    for (int k = 0; k < options.frames; ++k) {
        const cv::Mat bgra = frame_picture(options.size, k);
        cv::Mat bgr;
        cv::cvtColor(bgra, bgr, cv::COLOR_BGRA2BGR);
        cv::imwrite(QDir(folder.path()).filePath(QString("output_img_%1.jpg").arg(k)).toStdString(),
                    bgr, {cv::IMWRITE_JPEG_QUALITY, 90});
        keep_video_frame(plain_kept, k, bgra);
        keep_video_frame(shaped_kept, k, bgra);
    }

    VideoRequest plain;
    plain.folder = folder.path();
    plain.frame_size = options.size;
    plain.frame_count = options.frames;
    plain.boomerang = true;
    plain.gif = true;
    plain.long_side = 1920;
    plain.kept = &plain_kept;
    VideoRequest delivered = plain;
    delivered.kept = &shaped_kept;
    delivered.clip = shaped_kept.clip;
    delivered.overlay.file = write_logo(folder.path());
    delivered.overlay.size_percent = 40;
    delivered.length = {3.0, 0.0};
    VideoRequest plain_files = plain;
    plain_files.kept = nullptr;
    plain_files.gif = false;
    plain_files.long_side = 0;
    VideoRequest delivered_files = delivered;
    delivered_files.kept = nullptr;
    delivered_files.gif = false;
    delivered_files.long_side = 0;

    std::cout << "1920 px from memory: video, boomerang, GIFs" << std::endl;
    const double plain_seconds = measured(plain, options.repeats, "plain");
    const double delivered_seconds = measured(delivered, options.repeats, "overlay+9:16+3 s");
    // Each alone, at the whole frame: the shape's cut makes the others cheaper.
    VideoRequest overlay_only = delivered;
    overlay_only.kept = &plain_kept;
    overlay_only.clip = QRect();
    overlay_only.length = {};
    const double overlay_seconds = measured(overlay_only, options.repeats, "overlay");
    VideoRequest length_only = plain;
    length_only.length = {3.0, 0.0};
    const double length_seconds = measured(length_only, options.repeats, "3 s");
    std::cout << "original size from the files: video, boomerang" << std::endl;
    const double plain_files_seconds = measured(plain_files, options.repeats, "plain");
    const double delivered_files_seconds =
        measured(delivered_files, options.repeats, "overlay+9:16+3 s");
    if (plain_seconds <= 0 || delivered_seconds < 0 || plain_files_seconds <= 0 ||
        delivered_files_seconds < 0)
        return 1;
    std::cout << std::fixed << std::setprecision(2) << "overlay alone "
              << overlay_seconds / plain_seconds << "x, 3 s alone " << length_seconds / plain_seconds
              << "x plain video step" << std::endl;
    std::cout << "overlay+aspect+duration "
              << delivered_seconds / plain_seconds << "x plain video step; from the files "
              << delivered_files_seconds / plain_files_seconds << "x" << std::endl;
    return 0;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    const std::optional<Options> options = parse_options(application.arguments().mid(1));
    if (!options) {
        std::cerr << usage;
        return 2;
    }
    return run_benchmark(*options);
}
