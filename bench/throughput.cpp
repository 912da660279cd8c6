// Calibration and frame writing on a synthetic rig, each against a floor: the
// cost of only decoding the same references (calibration), or of only decoding
// the shots and encoding frames of the common size (frames), on every core.
//
// Each phase runs in a child process of its own, so the peak resident memory it
// reports is its own and not the largest of everything run before it. Times are
// the best of --repeats runs on warm files.

#include "bench/cached_calibration.h"
#include "bench/process_usage.h"
#include "calibration/calibration_construction.h"
#include "output/aligned_images.h"
#include "photo/image_reading.h"
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

constexpr int frame_quality = 50;
constexpr const char* rig_stamp_name = "bench_rig.txt";
constexpr const char* calibration_file_name = "calibration.txt";

struct Options
{
    int cameras = 24;
    int width = 6000;
    int height = 4000;
    int repeats = 3;
    QString folder; // where the rig is cached
    // Only given to the child processes.
    QString phase;
    QString work; // scratch folder shared by the phases of one run
    QSize frame;  // the common frame size, for the JPEG floor
};

const char* const usage =
    "usage: throughput [--cameras N] [--size WxH] [--folder DIR] [--repeats N]\n"
    "  --cameras  cameras of the rig (default 24)\n"
    "  --size     photo size in pixels (default 6000x4000)\n"
    "  --folder   where the rig is generated once and reused (default: beside this program)\n"
    "  --repeats  runs of each measurement; the best one counts (default 3)\n";

std::optional<QSize> parse_size(const QString& text)
{
    const QStringList parts = text.split('x');
    bool width_ok = false;
    bool height_ok = false;
    if (parts.size() != 2)
        return std::nullopt;
    const QSize size(parts[0].toInt(&width_ok), parts[1].toInt(&height_ok));
    if (!width_ok || !height_ok || size.isEmpty())
        return std::nullopt;
    return size;
}

// The options, or an empty result after writing why to `error`.
std::optional<Options> parse_options(const QStringList& arguments, std::ostream& error)
{
    Options options;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString& name = arguments[i];
        if (i + 1 >= arguments.size()) {
            error << "missing value after " << name.toStdString() << '\n';
            return std::nullopt;
        }
        const QString value = arguments[++i];
        bool ok = true;
        if (name == "--cameras") {
            options.cameras = value.toInt(&ok);
            ok = ok && options.cameras > 0;
        } else if (name == "--repeats") {
            options.repeats = value.toInt(&ok);
            ok = ok && options.repeats > 0;
        } else if (name == "--size" || name == "--frame") {
            const std::optional<QSize> size = parse_size(value);
            ok = size.has_value();
            if (ok && name == "--size") {
                options.width = size->width();
                options.height = size->height();
            } else if (ok) {
                options.frame = *size;
            }
        } else if (name == "--folder") {
            options.folder = value;
        } else if (name == "--phase") {
            options.phase = value;
        } else if (name == "--work") {
            options.work = value;
        } else {
            error << "unknown option " << name.toStdString() << '\n';
            return std::nullopt;
        }
        if (!ok) {
            error << "bad value for " << name.toStdString() << ": " << value.toStdString() << '\n';
            return std::nullopt;
        }
    }
    if (options.folder.isEmpty()) {
        options.folder = QDir(QStringLiteral(QUORVANE_BENCH_CACHE))
                             .filePath(QString("rig_%1_%2x%3")
                                           .arg(options.cameras)
                                           .arg(options.width)
                                           .arg(options.height));
    }
    return options;
}

QStringList rig_paths(const Options& options, PhotoKind kind)
{
    const QDir dir(options.folder);
    QStringList paths;
    for (int camera = 0; camera < options.cameras; ++camera) {
        paths << dir.filePath(kind == PhotoKind::Reference ? reference_file_name(camera)
                                                           : shot_file_name(camera));
    }
    return paths;
}

// Decimal megabytes, as photo sizes are counted (a 24 MP BGR image is 72 MB).
long to_megabytes(long kib)
{
    return std::lround(kib * 1024.0 / 1e6);
}

std::string seconds(double s)
{
    std::ostringstream text;
    text << std::fixed << std::setprecision(2) << s << " s";
    return text.str();
}

// Runs work(i) for every i in [0, count), each core's worker taking the next index.
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

// The shortest of `repeats` runs of `run` in seconds, or -1 when a run returns false.
double best_time(int repeats, const std::function<bool()>& run)
{
    double best = -1.0;
    for (int r = 0; r < repeats; ++r) {
        QElapsedTimer timer;
        timer.start();
        if (!run())
            return -1.0;
        const double elapsed = timer.nsecsElapsed() / 1e9;
        std::cout << "run " << r + 1 << ": " << seconds(elapsed) << std::endl;
        best = best < 0.0 ? elapsed : std::min(best, elapsed);
    }
    return best;
}

// Each phase prints details, then "result <best seconds> <peak KiB> [extra]".
int run_phase(const Options& options)
{
    const QStringList references = rig_paths(options, PhotoKind::Reference);
    const QStringList shots = rig_paths(options, PhotoKind::Shot);
    const QString calibration_path = QDir(options.work).filePath(calibration_file_name);
    double best = -1.0;
    std::string extra;

    if (options.phase == "decode-floor") {
        best = best_time(options.repeats, [&] {
            std::atomic<int> failed{0};
            on_all_cores(references.size(), [&](int i) {
                if (read_bgr_image(references[i]).empty())
                    ++failed;
            });
            return failed == 0;
        });
    } else if (options.phase == "calibration") {
        Calibration calibration;
        best = best_time(options.repeats, [&] {
            ReferenceTriple reference;
            std::ostream discard(nullptr);
            calibration = construct_calibration(references, thresholds_for(StickerColor::Yellow),
                                                reference, discard);
            return true;
        });
        const long aligned =
            std::count(calibration.aligned.begin(), calibration.aligned.end(), true);
        std::cout << "aligned " << aligned << " of " << calibration.image_count << std::endl;
        if (!calibration.all_aligned() || !save_cached_calibration(calibration, calibration_path))
            best = -1.0;
    } else if (options.phase == "frames") {
        const std::optional<Calibration> calibration = load_cached_calibration(calibration_path);
        if (!calibration) {
            std::cout << "no calibration in " << calibration_path.toStdString() << std::endl;
            return 1;
        }
        AlignedImages written;
        best = best_time(options.repeats, [&] {
            QTemporaryDir out(QDir(options.work).filePath("frames-XXXXXX"));
            written = write_aligned_images(shots, *calibration, out.path(), frame_quality);
            return out.isValid() && written.frame_count == calibration->image_count;
        });
        std::cout << "frames " << written.frame_count << " of " << written.common_size.width()
                  << "x" << written.common_size.height() << std::endl;
        extra = QString("%1x%2")
                    .arg(written.common_size.width())
                    .arg(written.common_size.height())
                    .toStdString();
    } else if (options.phase == "jpeg-floor") {
        const QSize frame = options.frame;
        best = best_time(options.repeats, [&] {
            QTemporaryDir out(QDir(options.work).filePath("floor-XXXXXX"));
            std::atomic<int> failed{0};
            on_all_cores(shots.size(), [&](int i) {
                QImageReader reader(shots[i]);
                const QImage image = reader.read();
                if (image.width() < frame.width() || image.height() < frame.height()) {
                    ++failed;
                    return;
                }
                // The top-left corner as a view: the floor pays no copy.
                const QImage cropped(image.constBits(), frame.width(), frame.height(),
                                     image.bytesPerLine(), image.format());
                QImageWriter writer(QDir(out.path()).filePath(QString("frame_%1.jpg").arg(i)),
                                    "jpeg");
                writer.setQuality(frame_quality);
                if (!writer.write(cropped))
                    ++failed;
            });
            return out.isValid() && failed == 0;
        });
    } else {
        std::cout << "unknown phase " << options.phase.toStdString() << std::endl;
        return 2;
    }
    if (best < 0.0) {
        std::cout << "phase " << options.phase.toStdString() << " failed" << std::endl;
        return 1;
    }
    std::cout << "result " << std::setprecision(9) << best << ' ' << peak_kib(Spender::ThisProcess) << ' ' << extra
              << std::endl;
    return 0;
}

// Generates the rig unless the folder already holds one made for these options.
bool ensure_rig(const Options& options)
{
    const QDir dir(options.folder);
    const QString stamp_path = dir.filePath(rig_stamp_name);
    const QByteArray stamp = QString("%1 %2x%3 seed 1\n")
                                 .arg(options.cameras)
                                 .arg(options.width)
                                 .arg(options.height)
                                 .toUtf8();
    QFile existing(stamp_path);
    if (existing.open(QIODevice::ReadOnly) && existing.readAll() == stamp) {
        std::cout << "rig: " << options.folder.toStdString() << " (cached)" << std::endl;
        return true;
    }
    existing.close();
    // A rig cut short must not be taken for a finished one.
    QFile::remove(stamp_path);

    RigOptions rig;
    rig.cameras = options.cameras;
    rig.width = options.width;
    rig.height = options.height;
    std::cout << "rig: generating " << options.folder.toStdString() << " ..." << std::endl;
    QElapsedTimer timer;
    timer.start();
    std::ostream discard(nullptr);
    const RigWriteResult result = write_rig(rig, options.folder, discard);
    if (!result.ok()) {
        std::cerr << "throughput: " << result.error << std::endl;
        return false;
    }
    QFile file(stamp_path);
    if (!file.open(QIODevice::WriteOnly) || file.write(stamp) != stamp.size() || !file.flush()) {
        std::cerr << "throughput: cannot write " << stamp_path.toStdString() << std::endl;
        return false;
    }
    std::cout << "rig: generated in " << seconds(timer.elapsed() / 1000.0) << std::endl;
    return true;
}

struct PhaseResult
{
    double seconds = 0.0;
    long peak_kib = 0;
    std::string extra;
};

// Runs one phase in a child process, echoing its details indented.
std::optional<PhaseResult> run_child(const Options& options, const QString& phase,
                                     const QStringList& more = {})
{
    QStringList arguments{"--phase",   phase,
                          "--folder",  options.folder,
                          "--work",    options.work,
                          "--cameras", QString::number(options.cameras),
                          "--repeats", QString::number(options.repeats)};
    arguments << more;
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(), arguments);
    std::cout << phase.toStdString() << ":" << std::endl;
    if (!child.waitForFinished(-1) || child.exitStatus() != QProcess::NormalExit) {
        std::cerr << "throughput: phase " << phase.toStdString() << " did not finish" << std::endl;
        return std::nullopt;
    }
    std::optional<PhaseResult> result;
    for (const QString& line : QString::fromUtf8(child.readAllStandardOutput()).split('\n')) {
        if (line.startsWith("result ")) {
            const QStringList fields = line.split(' ');
            result = PhaseResult{fields.value(1).toDouble(), fields.value(2).toLong(),
                                 fields.value(3).toStdString()};
            std::cout << "  best " << seconds(result->seconds) << ", peak "
                      << to_megabytes(result->peak_kib) << " MB" << std::endl;
        } else if (!line.isEmpty()) {
            std::cout << "  " << line.toStdString() << std::endl;
        }
    }
    if (child.exitCode() != 0 || !result) {
        std::cerr << "throughput: phase " << phase.toStdString() << " failed" << std::endl;
        return std::nullopt;
    }
    return result;
}

int run_benchmark(Options options)
{
    if (!ensure_rig(options))
        return 1;
    QTemporaryDir work;
    if (!work.isValid()) {
        std::cerr << "throughput: no temporary folder" << std::endl;
        return 1;
    }
    options.work = work.path();
    std::cout << options.cameras << " cameras at " << options.width << "x" << options.height << ", "
              << std::max(1u, std::thread::hardware_concurrency()) << " cores, best of "
              << options.repeats << std::endl;

    const std::optional<PhaseResult> decode_floor = run_child(options, "decode-floor");
    const std::optional<PhaseResult> calibration =
        decode_floor ? run_child(options, "calibration") : std::nullopt;
    const std::optional<PhaseResult> frames =
        calibration ? run_child(options, "frames") : std::nullopt;
    const std::optional<PhaseResult> jpeg_floor =
        frames
            ? run_child(options, "jpeg-floor", {"--frame", QString::fromStdString(frames->extra)})
            : std::nullopt;
    if (!jpeg_floor)
        return 1;

    const long peak = std::max(calibration->peak_kib, frames->peak_kib);
    std::cout << std::fixed << std::setprecision(2) << "calibration "
              << calibration->seconds / decode_floor->seconds << "x decode floor; frames "
              << frames->seconds / jpeg_floor->seconds << "x jpeg floor; peak "
              << to_megabytes(peak) << " MB" << std::endl;
    return 0;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    const std::optional<Options> options = parse_options(application.arguments().mid(1), std::cerr);
    if (!options) {
        std::cerr << usage;
        return 2;
    }
    return options->phase.isEmpty() ? run_benchmark(*options) : run_phase(*options);
}
