// A whole take as `process` makes it (frames, MP4, boomerang, both GIFs at
// 1920 px) against its floor: decoding the shots and encoding the frames as
// JPEG on every core, plus one x264 encode of the frames at 1920 px from raw
// pictures in memory. Also the MP4 alone, and the frames' own size with the
// boomerang. `--today` measures the run as it was made before the videos were
// fed from memory: every video step reading the frame files back. `--between M`
// adds M in-between frames per pair of cameras to the videos at 1920 px (the
// floor stays that of the cameras' frames).
//
// The rig is generated once into a folder reused across runs (shared with
// `throughput` by default), its calibration computed once and kept beside it.
// Each measurement runs in a child process of its own, so the peak resident
// memory it reports is its own; ffmpeg's peak is the largest of its children.

#include "bench/cached_calibration.h"
#include "bench/process_usage.h"
#include "calibration/calibration_construction.h"
#include "output/aligned_images.h"
#include "output/ffmpeg_command.h"
#include "output/frame_geometry.h"
#include "output/video_export.h"
#include "output/video_frames.h"
#include "output/video_size.h"
#include "photo/image_file.h"
#include "pipeline/processing_run.h"
#include "support/process_runner.h"
#include "tools/make_rig/rig_writer.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <QProcess>
#include <QTemporaryDir>

#include <opencv2/core/mat.hpp>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <functional>
#include <iomanip>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int frame_quality = quality_for_compression(default_compression);
constexpr int bench_long_side = 1920;
constexpr const char* rig_stamp_name = "bench_rig.txt";
constexpr const char* calibration_file_name = "take_calibration.txt";

struct Options
{
    int frames = 24;
    QSize size{6000, 4000};
    QString folder;
    bool today = false;
    int between = 0;
    QString phase; // only given to the child processes
};

const char* const usage =
    "usage: take [--frames N] [--size WxH] [--folder DIR] [--today] [--between M]\n"
    "  --frames  cameras of the rig, one frame each (default 24)\n"
    "  --size    photo size in pixels (default 6000x4000)\n"
    "  --folder  where the rig is generated once and reused (default: beside this program)\n"
    "  --today   the videos read the frame files back, as before they were fed from memory\n"
    "  --between in-between frames per pair of cameras in the videos at 1920 px (default 0)\n";

std::optional<Options> parse_options(const QStringList& arguments)
{
    Options options;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString& name = arguments[i];
        if (name == "--today") {
            options.today = true;
            continue;
        }
        if (i + 1 >= arguments.size())
            return std::nullopt;
        const QString value = arguments[++i];
        bool ok = true;
        if (name == "--frames") {
            options.frames = value.toInt(&ok);
            ok = ok && options.frames > 0 && options.frames <= max_rig_cameras;
        } else if (name == "--size") {
            const QStringList sides = value.split('x');
            bool height_ok = false;
            options.size = QSize(sides.value(0).toInt(&ok), sides.value(1).toInt(&height_ok));
            ok = ok && height_ok && sides.size() == 2 && !options.size.isEmpty();
        } else if (name == "--between") {
            options.between = value.toInt(&ok);
            ok = ok && options.between >= min_between && options.between <= max_between;
        } else if (name == "--folder") {
            options.folder = value;
        } else if (name == "--phase") {
            options.phase = value;
        } else {
            ok = false;
        }
        if (!ok)
            return std::nullopt;
    }
    if (options.folder.isEmpty()) {
        options.folder = QDir(QStringLiteral(QUORVANE_BENCH_CACHE))
                             .filePath(QString("rig_%1_%2x%3")
                                           .arg(options.frames)
                                           .arg(options.size.width())
                                           .arg(options.size.height()));
    }
    return options;
}

QStringList paths(const Options& options, QString (*name)(int))
{
    QStringList list;
    for (int camera = 0; camera < options.frames; ++camera)
        list << QDir(options.folder).filePath(name(camera));
    return list;
}

long megabytes(long kib)
{
    return std::lround(kib * 1024.0 / 1e6);
}

void on_all_cores(int count, const std::function<void(int)>& work)
{
    const int workers = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    std::atomic<int> next{0};
    std::vector<std::thread> threads;
    for (int w = 0; w < workers; ++w) {
        threads.emplace_back([&] {
            for (int i = next++; i < count; i = next++)
                work(i);
        });
    }
    for (std::thread& thread : threads)
        thread.join();
}

// The rig and its calibration, made unless the folder already holds them.
bool ensure_rig(const Options& options)
{
    const QDir dir(options.folder);
    const QByteArray stamp = QString("%1 %2x%3 seed 1\n")
                                 .arg(options.frames)
                                 .arg(options.size.width())
                                 .arg(options.size.height())
                                 .toUtf8();
    QFile existing(dir.filePath(rig_stamp_name));
    if (!existing.open(QIODevice::ReadOnly) || existing.readAll() != stamp) {
        existing.close();
        QFile::remove(dir.filePath(rig_stamp_name));
        QFile::remove(dir.filePath(calibration_file_name));
        RigOptions rig;
        rig.cameras = options.frames;
        rig.width = options.size.width();
        rig.height = options.size.height();
        std::cout << "rig: generating " << options.folder.toStdString() << " ..." << std::endl;
        std::ostream discard(nullptr);
        const RigWriteResult result = write_rig(rig, options.folder, discard);
        QFile file(dir.filePath(rig_stamp_name));
        if (!result.ok() || !file.open(QIODevice::WriteOnly) || file.write(stamp) != stamp.size()) {
            std::cerr << "take: cannot make the rig: " << result.error << std::endl;
            return false;
        }
    }
    if (load_cached_calibration(dir.filePath(calibration_file_name)))
        return true;
    std::cout << "rig: calibrating ..." << std::endl;
    ReferenceTriple reference;
    std::ostream discard(nullptr);
    const Calibration calibration =
        construct_calibration(paths(options, reference_file_name),
                              thresholds_for(StickerColor::Yellow), reference, discard);
    if (!calibration.all_aligned() ||
        !save_cached_calibration(calibration, dir.filePath(calibration_file_name))) {
        std::cerr << "take: the rig did not calibrate" << std::endl;
        return false;
    }
    return true;
}

// The frames' size, from the headers as the frames step finds it.
QSize frame_size(const QStringList& shots, const Calibration& calibration)
{
    std::vector<QSize> sizes;
    std::vector<ImageAlignment> alignments;
    for (int k = 0; k < shots.size(); ++k) {
        sizes.push_back(read_oriented_size(shots[k]));
        alignments.push_back(calibration.alignment(k));
    }
    return common_frame_rect(sizes, alignments, shots.size() / 2).size();
}

// Decoding the shots and encoding frames of `frame` as JPEG, on every core.
bool jpeg_floor(const QStringList& shots, QSize frame, const QString& out)
{
    std::atomic<int> failed{0};
    on_all_cores(shots.size(), [&](int i) {
        const QImage image = QImageReader(shots[i]).read();
        if (image.width() < frame.width() || image.height() < frame.height()) {
            ++failed;
            return;
        }
        // The top-left corner as a view: the floor pays no copy.
        const QImage cropped(image.constBits(), frame.width(), frame.height(),
                             image.bytesPerLine(), image.format());
        QImageWriter writer(QDir(out).filePath(QString("frame_%1.jpg").arg(i)), "jpeg");
        writer.setQuality(frame_quality);
        if (!writer.write(cropped))
            ++failed;
    });
    return failed == 0;
}

// One x264 encode of the frames at the video's size, fed raw from memory.
bool encode_floor(const QStringList& shots, QSize frame, const QString& out, double& seconds,
                  double& cpu)
{
    // Kept whatever the frames' size: the floor always encodes from memory, where
    // a run keeps no copy of frames already no larger than the video.
    KeptFrames video{video_size(frame, bench_long_side), RawLayout::Yuv420p,
                     std::vector<cv::Mat>(shots.size())};
    on_all_cores(shots.size(), [&](int i) {
        const QImage image = QImageReader(shots[i]).read().convertToFormat(QImage::Format_RGB32);
        const QImage cropped = image.copy(0, 0, frame.width(), frame.height());
        keep_picture(video, i,
                     cv::Mat(cropped.height(), cropped.width(), CV_8UC4,
                             const_cast<uchar*>(cropped.constBits()),
                             static_cast<std::size_t>(cropped.bytesPerLine())));
    });
    const EncodeSettings settings{24, frame, video.size};
    const FfmpegCommand command =
        raw_mp4_command(settings, shots.size(), QDir(out).filePath("floor.mp4"));
    std::size_t next = 0;
    const std::size_t bytes = raw_frame_bytes(video.size, video.layout);
    ChildProcessRunner runner;
    QElapsedTimer timer;
    timer.start();
    const double cpu_before = (processor_seconds(Spender::ThisProcess) + processor_seconds(Spender::Children));
    const ProcessResult result = runner.run_fed(
        command.program, command.arguments,
        [&] {
            if (next >= video.pictures.size())
                return InputPiece{};
            return InputPiece{reinterpret_cast<const char*>(video.pictures[next++].data), bytes};
        },
        {}, {});
    seconds = timer.nsecsElapsed() / 1e9;
    cpu = (processor_seconds(Spender::ThisProcess) + processor_seconds(Spender::Children)) - cpu_before;
    return result.succeeded();
}

// A take of `shots` into `out` as process makes it, or as it was made before
// the videos were fed from memory.
bool take(const QStringList& shots, const Calibration& calibration, const QString& out,
          int long_side, bool boomerang, bool gif, bool today, int between = 0)
{
    ChildProcessRunner runner;
    std::ostream discard(nullptr);
    if (today) {
        const AlignedImages frames = write_aligned_images(shots, calibration, out, frame_quality);
        if (frames.frame_count != shots.size())
            return false;
        const VideoRequest video{out,       frames.common_size, frames.frame_count, 24,
                                 boomerang, long_side,          gif};
        return export_videos(runner, video, discard).succeeded;
    }
    ProcessingRequest request;
    request.shots = shots;
    request.calibration = calibration;
    request.folder = out;
    request.quality = frame_quality;
    request.long_side = long_side;
    request.boomerang = boomerang;
    request.gif = gif;
    request.between = between;
    const ProcessingOutcome outcome = run_processing(runner, request, discard);
    if (outcome.failure() != ProcessingFailure::None)
        std::cerr << failure_message(outcome).toStdString() << std::endl;
    return outcome.failure() == ProcessingFailure::None;
}

// One measurement, printed as
// "result <seconds> <peak KiB> <ffmpeg peak KiB> <processor seconds>".
int run_phase(const Options& options)
{
    const QStringList shots = paths(options, shot_file_name);
    const std::optional<Calibration> calibration =
        load_cached_calibration(QDir(options.folder).filePath(calibration_file_name));
    QTemporaryDir out;
    if (!calibration || !out.isValid())
        return 1;
    const QSize frame = frame_size(shots, *calibration);
    bool ok = false;
    double seconds = 0.0;
    double cpu = 0.0;
    QElapsedTimer timer;
    timer.start();
    const double cpu_before = (processor_seconds(Spender::ThisProcess) + processor_seconds(Spender::Children));
    if (options.phase == "jpeg-floor")
        ok = jpeg_floor(shots, frame, out.path());
    else if (options.phase == "encode-floor")
        ok = encode_floor(shots, frame, out.path(), seconds, cpu);
    else if (options.phase == "all")
        ok = take(shots, *calibration, out.path(), bench_long_side, true, true, options.today,
                  options.between);
    else if (options.phase == "mp4")
        ok = take(shots, *calibration, out.path(), bench_long_side, false, false, options.today,
                  options.between);
    else if (options.phase == "original")
        ok = take(shots, *calibration, out.path(), original_video_size, true, false,
                  options.today);
    if (options.phase != "encode-floor") {
        seconds = timer.nsecsElapsed() / 1e9;
        cpu = (processor_seconds(Spender::ThisProcess) + processor_seconds(Spender::Children)) - cpu_before;
    }
    if (!ok)
        return 1;
    std::cout << "result " << std::setprecision(9) << seconds << ' ' << peak_kib(Spender::ThisProcess)
              << ' ' << peak_kib(Spender::Children) << ' ' << cpu << std::endl;
    return 0;
}

struct Measured
{
    double seconds = 0.0;
    long peak_kib = 0;
    long ffmpeg_kib = 0;
    double cpu = 0.0;
};

std::optional<Measured> run_child(const Options& options, const QString& phase)
{
    QStringList arguments{"--phase", phase, "--folder", options.folder, "--frames",
                          QString::number(options.frames)};
    if (options.today)
        arguments << "--today";
    arguments << "--between" << QString::number(options.between);
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(), arguments);
    if (!child.waitForFinished(-1) || child.exitStatus() != QProcess::NormalExit ||
        child.exitCode() != 0) {
        std::cerr << "take: " << phase.toStdString() << " failed" << std::endl;
        return std::nullopt;
    }
    for (const QString& line : QString::fromUtf8(child.readAllStandardOutput()).split('\n')) {
        const QStringList fields = line.split(' ');
        if (fields.value(0) == "result") {
            const Measured measured{fields.value(1).toDouble(), fields.value(2).toLong(),
                                    fields.value(3).toLong(), fields.value(4).toDouble()};
            std::cout << phase.toStdString() << ": " << std::fixed << std::setprecision(2)
                      << measured.seconds << " s (processor " << measured.cpu << " s), peak "
                      << megabytes(measured.peak_kib)
                      << " MB, ffmpeg " << megabytes(measured.ffmpeg_kib) << " MB" << std::endl;
            return measured;
        }
    }
    return std::nullopt;
}

int run_benchmark(const Options& options)
{
    if (!ensure_rig(options))
        return 1;
    std::cout << options.frames << " shots of " << options.size.width() << "x"
              << options.size.height() << ", " << std::max(1u, std::thread::hardware_concurrency())
              << " cores" << (options.today ? ", videos from the frame files" : "");
    if (options.between > 0)
        std::cout << ", " << options.between << " in-between frame(s) per pair at 1920 px";
    std::cout << std::endl;
    std::optional<Measured> results[5];
    const char* const phases[] = {"jpeg-floor", "encode-floor", "all", "mp4", "original"};
    for (int i = 0; i < 5; ++i) {
        results[i] = run_child(options, phases[i]);
        if (!results[i])
            return 1;
    }
    const double floor = results[0]->seconds + results[1]->seconds;
    const double cpu_floor = results[0]->cpu + results[1]->cpu;
    const Measured& all = *results[2];
    std::cout << std::fixed << std::setprecision(2) << "processor time: all "
              << all.cpu / cpu_floor << "x its floor, MP4 only " << results[3]->cpu / cpu_floor
              << "x" << std::endl;
    std::cout << std::fixed << std::setprecision(2) << "take " << options.frames << " x "
              << options.size.width() << "x" << options.size.height() << " at " << bench_long_side
              << " px with boomerang and GIFs: " << all.seconds << " s = " << all.seconds / floor
              << "x its floor; MP4 only " << results[3]->seconds / floor << "x; peak "
              << megabytes(std::max(all.peak_kib, results[3]->peak_kib)) << " MB; Originale with "
              << "boomerang " << results[4]->seconds << " s" << std::endl;
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
    return options->phase.isEmpty() ? run_benchmark(*options) : run_phase(*options);
}
