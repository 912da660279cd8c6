// The video step against its floor, a single ffmpeg encode of the frames with
// the video's settings: the video with its boomerang at the frames' size and at
// 1920 px, and the peak resident memory of every ffmpeg process started.
//
// The frames are the shots of a synthetic rig, saved once as "output_img_<k>.jpg"
// beside this program. Each ffmpeg runs through a runner of this benchmark that
// waits for it with wait4, which reports that process's own peak memory.

#include "output/video_export.h"

#include "output/ffmpeg_command.h"
#include "tools/make_rig/rig_writer.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <fcntl.h>
#include <iomanip>
#include <iostream>
#include <optional>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

struct Options
{
    int frames = 24;
    QSize size{5216, 3202};
    int repeats = 1;
    QString folder; // where the frames are kept between runs
};

const char* const usage =
    "usage: video_export [--frames N] [--size WxH] [--folder DIR] [--repeats N]\n"
    "  --frames   frames of the video (default 24)\n"
    "  --size     frame size in pixels (default 5216x3202, a 24 MP rig's frames)\n"
    "  --folder   where the frames are generated once and reused (default: beside this program)\n"
    "  --repeats  runs of each measurement; the best one counts (default 1)\n";

std::optional<Options> parse_options(const QStringList& arguments)
{
    Options options;
    for (int i = 0; i + 1 < arguments.size(); i += 2) {
        const QString& name = arguments[i];
        const QString& value = arguments[i + 1];
        bool ok = true;
        if (name == "--frames") {
            options.frames = value.toInt(&ok);
            ok = ok && options.frames > 0 && options.frames <= max_rig_cameras;
        } else if (name == "--repeats") {
            options.repeats = value.toInt(&ok);
            ok = ok && options.repeats > 0;
        } else if (name == "--size") {
            const QStringList sides = value.split('x');
            bool height_ok = false;
            options.size = QSize(sides.value(0).toInt(&ok), sides.value(1).toInt(&height_ok));
            ok = ok && height_ok && sides.size() == 2 && options.size.width() % 2 == 0 &&
                 options.size.height() % 2 == 0;
        } else if (name == "--folder") {
            options.folder = value;
        } else {
            ok = false;
        }
        if (!ok)
            return std::nullopt;
    }
    if (arguments.size() % 2 != 0)
        return std::nullopt;
    if (options.folder.isEmpty()) {
        options.folder = QDir(QStringLiteral(QUORVANE_BENCH_CACHE))
                             .filePath(QString("frames_%1_%2x%3")
                                           .arg(options.frames)
                                           .arg(options.size.width())
                                           .arg(options.size.height()));
    }
    return options;
}

// Renders a rig whose shots have the frame size and keeps them as the frames,
// unless the folder already holds them.
bool ensure_frames(const Options& options)
{
    const QDir dir(options.folder);
    const QString stamp = dir.filePath("frames.txt");
    if (QFile::exists(stamp)) {
        std::cout << "frames: " << options.folder.toStdString() << " (cached)" << std::endl;
        return true;
    }
    RigOptions rig;
    rig.cameras = options.frames;
    rig.width = options.size.width();
    rig.height = options.size.height();
    // The compression the window starts with.
    rig.jpeg_quality = 50;
    std::cout << "frames: generating " << options.folder.toStdString() << " ..." << std::endl;
    std::ostream discard(nullptr);
    const QString rig_folder = dir.filePath("rig");
    const RigWriteResult result = write_rig(rig, rig_folder, discard);
    if (!result.ok()) {
        std::cerr << "video_export: " << result.error << std::endl;
        return false;
    }
    for (int k = 0; k < options.frames; ++k) {
        const QString frame = dir.filePath(QString("output_img_%1.jpg").arg(k));
        QFile::remove(frame);
        if (!QFile::copy(QDir(rig_folder).filePath(shot_file_name(k)), frame))
            return false;
    }
    QFile file(stamp);
    return file.open(QIODevice::WriteOnly) && file.write("frames\n") > 0;
}

// One ffmpeg as the runner saw it.
struct Measured
{
    QString output; // the file it wrote
    double seconds = 0.0;
    double cpu_seconds = 0.0; // user and system, over all its threads
    long peak_kib = 0;
};

// Starts each program with posix_spawn and waits for it with wait4, recording
// its time and peak resident memory. Error output goes to a file, whose last
// line is the error tail.
class MeasuringRunner : public ProcessRunner
{
public:
    std::vector<Measured> measured;

    ProcessResult run(const QString& program, const QStringList& arguments,
                      const std::function<void(const QString&)>&,
                      const std::function<bool()>&) override
    {
        ProcessResult result;
        QTemporaryDir scratch;
        const QByteArray errors = scratch.filePath("stderr").toLocal8Bit();
        std::vector<QByteArray> words{program.toLocal8Bit()};
        for (const QString& argument : arguments)
            words.push_back(argument.toLocal8Bit());
        std::vector<char*> argv;
        for (QByteArray& word : words)
            argv.push_back(word.data());
        argv.push_back(nullptr);

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, errors.constData(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
        QElapsedTimer timer;
        timer.start();
        pid_t pid = 0;
        const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (spawned != 0) {
            result.start_error = QString::fromLocal8Bit(strerror(spawned));
            return result;
        }
        result.started = true;
        int status = 0;
        rusage usage{};
        while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
        }
        const auto seconds_of = [](const timeval& time) {
            return time.tv_sec + time.tv_usec / 1e6;
        };
        measured.push_back({arguments.back(), timer.nsecsElapsed() / 1e9,
                            seconds_of(usage.ru_utime) + seconds_of(usage.ru_stime),
                            usage.ru_maxrss});
        result.crashed = WIFSIGNALED(status);
        result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        QFile file(QString::fromLocal8Bit(errors));
        if (file.open(QIODevice::ReadOnly))
            result.error_tail = QString::fromLocal8Bit(file.readAll()).trimmed().section('\n', -1);
        return result;
    }
};

double cpu_seconds(const std::vector<Measured>& measured)
{
    double total = 0.0;
    for (const Measured& command : measured)
        total += command.cpu_seconds;
    return total;
}

long megabytes(long kib)
{
    return std::lround(kib * 1024.0 / 1e6);
}

void print(const std::vector<Measured>& measured)
{
    for (const Measured& command : measured) {
        std::cout << "  " << std::setw(28) << std::left
                  << QFileInfo(command.output).fileName().toStdString() << std::right << std::fixed
                  << std::setprecision(2) << std::setw(8) << command.seconds << " s, "
                  << std::setw(8) << command.cpu_seconds << " s processor, " << std::setw(6)
                  << megabytes(command.peak_kib) << " MB" << std::endl;
    }
}

// The shortest of `repeats` runs of `run`, which fills a runner, in seconds, or
// -1 when a run fails; the commands of that run are kept in `best`.
double best_of(int repeats, const std::function<bool(MeasuringRunner&)>& run,
               std::vector<Measured>& best)
{
    double best_seconds = -1.0;
    for (int r = 0; r < repeats; ++r) {
        MeasuringRunner runner;
        QElapsedTimer timer;
        timer.start();
        if (!run(runner))
            return -1.0;
        const double seconds = timer.nsecsElapsed() / 1e9;
        std::cout << " run " << r + 1 << ": " << std::fixed << std::setprecision(2) << seconds
                  << " s" << std::endl;
        if (best_seconds < 0.0 || seconds < best_seconds) {
            best_seconds = seconds;
            best = runner.measured;
        }
    }
    print(best);
    return best_seconds;
}

int run_benchmark(const Options& options)
{
    if (!ensure_frames(options))
        return 1;
    std::cout << options.frames << " frames of " << options.size.width() << "x"
              << options.size.height() << ", best of " << options.repeats << std::endl;
    // The frames stay where they are; each run writes its videos beside them.
    const QString folder = options.folder;
    const auto remove_videos = [&] {
        for (const char* name : {"output_video.mp4", "output_video_boomerang.mp4", "floor.mp4"})
            QFile::remove(QDir(folder).filePath(name));
    };

    std::cout << "floor: one encode of the frames" << std::endl;
    std::vector<Measured> floor;
    const double floor_seconds = best_of(
        options.repeats,
        [&](MeasuringRunner& runner) {
            // The video's command without "+faststart", which only moves the index.
            FfmpegCommand command =
                mp4_command({24, options.size, options.size}, frame_pattern(folder), options.frames,
                            QDir(folder).filePath("floor.mp4"));
            const int at = command.arguments.indexOf("-movflags");
            command.arguments.removeAt(at);
            command.arguments.removeAt(at);
            return runner.run(command.program, command.arguments, {}, {}).succeeded();
        },
        floor);

    const auto video_step = [&](int long_side) {
        return [&, long_side](MeasuringRunner& runner) {
            std::ostream discard(nullptr);
            const VideoExport result = export_videos(
                runner, {folder, options.size, options.frames, 24, true, long_side}, discard);
            if (!result.succeeded)
                std::cerr << "video_export: " << result.error_line.toStdString() << std::endl;
            return result.succeeded;
        };
    };
    std::cout << "video and boomerang, original size" << std::endl;
    std::vector<Measured> original;
    const double original_seconds =
        floor_seconds > 0.0 ? best_of(options.repeats, video_step(0), original) : -1.0;
    std::cout << "video and boomerang, 1920 px" << std::endl;
    std::vector<Measured> small;
    const double small_seconds =
        original_seconds > 0.0 ? best_of(options.repeats, video_step(1920), small) : -1.0;
    remove_videos();
    if (small_seconds < 0.0)
        return 1;

    const long video_peak = original.front().peak_kib;
    long boomerang_peak = 0;
    for (std::size_t k = 1; k < original.size(); ++k)
        boomerang_peak = std::max(boomerang_peak, original[k].peak_kib);
    // Processor time is steadier than elapsed time on a machine that others share.
    std::cout << std::fixed << std::setprecision(2) << "processor time: video+boomerang "
              << cpu_seconds(original) / cpu_seconds(floor) << "x encode floor; at 1920 px "
              << cpu_seconds(small) / cpu_seconds(floor) << "x" << std::endl;
    std::cout << "video+boomerang " << original_seconds / floor_seconds
              << "x encode floor; at 1920 px " << small_seconds / floor_seconds
              << "x; boomerang peak " << double(boomerang_peak) / video_peak << "x video peak"
              << std::endl;
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
