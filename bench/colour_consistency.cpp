// How well the frames of a parallax rig whose cameras differ in colour and
// exposure hold the true colours: per frame, the CIE76 colour difference between
// its mean colour and the mean colour of the same frame rendered from the shot
// without colour differences (truth/), and the spread of the mean lightness
// against the truth over the frames (flicker). Measured with the colours left as
// they are, with OpenCV's stitching ChannelsCompensator on the same reduced frames,
// with the program's matching (estimated in the frames pass, camera by camera
// from the middle outwards), with the same reduced frames solved all at once,
// and on the truth itself saved as JPEG shots (the floor of the measure: frames
// with no colour difference at all). Last, what the colour step adds to the
// frames: the pass timed with and without it in turns (the median of the
// turns' differences), and its parts timed on their own (the reduced frames,
// the gains, the look-up table's share of the render and encode: each frame
// made with and without its table, in turns); processor time, medians over the
// repeats.

#include "bench/process_usage.h"
#include "calibration/calibration_construction.h"
#include "output/aligned_images.h"
#include "output/colour_matching.h"
#include "output/frame_geometry.h"
#include "output/frame_render.h"
#include "output/run_files.h"
#include "photo/image_file.h"
#include "photo/jpeg_encoding.h"
#include "tools/make_rig/rig_writer.h"

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/stitching/detail/exposure_compensate.hpp>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <functional>
#include <iomanip>
#include <iostream>
#include <numeric>
#include <optional>
#include <sstream>
#include <vector>

namespace {

constexpr int frame_quality = 50;
constexpr const char* rig_stamp_name = "bench_rig.txt";

struct Options
{
    int cameras = 12;
    int width = 1600;
    int height = 1200;
    double colour_spread = 0.12;
    double exposure_spread = 0.4;
    double vignetting = 0.0;
    int repeats = 3;
    int turns = 7;
    QString folder;
};

const char* const usage =
    "usage: colour_consistency [--cameras N] [--size WxH] [--colour-spread F]\n"
    "                          [--exposure-spread EV] [--vignetting F] [--folder DIR]\n"
    "                          [--repeats N] [--turns N]\n"
    "  defaults: 12 cameras of 1600x1200, 0.12, 0.4 EV, no vignetting, 3 repeats,\n"
    "  7 turns of each frame rendered with and without its table;\n"
    "  the rig is generated once into --folder (default: beside this program)\n";

std::optional<Options> parse_options(const QStringList& arguments)
{
    Options options;
    for (int i = 0; i + 1 < arguments.size(); i += 2) {
        const QString& name = arguments[i];
        const QString& value = arguments[i + 1];
        bool ok = true;
        if (name == "--cameras") {
            options.cameras = value.toInt(&ok);
            ok = ok && options.cameras > 0;
        } else if (name == "--size") {
            const QStringList parts = value.split('x');
            bool h = false;
            options.width = parts.value(0).toInt(&ok);
            options.height = parts.value(1).toInt(&h);
            ok = ok && h && parts.size() == 2;
        } else if (name == "--colour-spread") {
            options.colour_spread = value.toDouble(&ok);
        } else if (name == "--exposure-spread") {
            options.exposure_spread = value.toDouble(&ok);
        } else if (name == "--vignetting") {
            options.vignetting = value.toDouble(&ok);
        } else if (name == "--repeats") {
            options.repeats = value.toInt(&ok);
            ok = ok && options.repeats > 0;
        } else if (name == "--turns") {
            options.turns = value.toInt(&ok);
            ok = ok && options.turns > 0;
        } else if (name == "--folder") {
            options.folder = value;
        } else {
            ok = false;
        }
        if (!ok)
            return std::nullopt;
    }
    if (arguments.size() % 2)
        return std::nullopt;
    if (options.folder.isEmpty()) {
        options.folder = QDir(QStringLiteral(QUORVANE_BENCH_CACHE))
                             .filePath(QString("parallax_%1_%2x%3_%4_%5_%6")
                                           .arg(options.cameras)
                                           .arg(options.width)
                                           .arg(options.height)
                                           .arg(options.colour_spread)
                                           .arg(options.exposure_spread)
                                           .arg(options.vignetting));
    }
    return options;
}

bool ensure_rig(const Options& options)
{
    const QDir dir(options.folder);
    const QString stamp_path = dir.filePath(rig_stamp_name);
    const QByteArray stamp = QString("%1 %2x%3 %4 %5 %6 seed 1\n")
                                 .arg(options.cameras)
                                 .arg(options.width)
                                 .arg(options.height)
                                 .arg(options.colour_spread)
                                 .arg(options.exposure_spread)
                                 .arg(options.vignetting)
                                 .toUtf8();
    QFile existing(stamp_path);
    if (existing.open(QIODevice::ReadOnly) && existing.readAll() == stamp) {
        std::cout << "rig: " << options.folder.toStdString() << " (cached)" << std::endl;
        return true;
    }
    existing.close();
    QFile::remove(stamp_path);
    RigOptions rig;
    rig.cameras = options.cameras;
    rig.width = options.width;
    rig.height = options.height;
    rig.parallax = true;
    rig.colour_spread = options.colour_spread;
    rig.exposure_spread = options.exposure_spread;
    rig.vignetting = options.vignetting;
    std::cout << "rig: generating " << options.folder.toStdString() << " ..." << std::endl;
    std::ostream discard(nullptr);
    const RigWriteResult result = write_rig(rig, options.folder, discard);
    if (!result.ok()) {
        std::cerr << "colour_consistency: " << result.error << std::endl;
        return false;
    }
    QFile file(stamp_path);
    return file.open(QIODevice::WriteOnly) && file.write(stamp) == stamp.size() && file.flush();
}

double srgb_to_linear(double v)
{
    return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
}

// CIELAB (D65) of a linear-light BGR colour.
cv::Vec3d lab_of(const cv::Vec3d& bgr)
{
    const double r = bgr[2], g = bgr[1], b = bgr[0];
    const double x = (0.4124 * r + 0.3576 * g + 0.1805 * b) / 0.95047;
    const double y = 0.2126 * r + 0.7152 * g + 0.0722 * b;
    const double z = (0.0193 * r + 0.1192 * g + 0.9505 * b) / 1.08883;
    const auto f = [](double t) {
        return t > 216.0 / 24389.0 ? std::cbrt(t) : (24389.0 / 27.0 * t + 16.0) / 116.0;
    };
    return {116.0 * f(y) - 16.0, 500.0 * (f(x) - f(y)), 200.0 * (f(y) - f(z))};
}

// The mean linear-light colour of an 8-bit sRGB BGR picture, each channel
// first multiplied by `srgb_gains` (clipped), as the compensator applies them.
cv::Vec3d mean_linear(const cv::Mat& bgr, const cv::Vec3d& srgb_gains = {1, 1, 1})
{
    std::array<std::array<double, 256>, 3> table{};
    for (int c = 0; c < 3; ++c)
        for (int v = 0; v < 256; ++v)
            table[c][v] = srgb_to_linear(std::min(255.0, std::round(v * srgb_gains[c])) / 255.0);
    cv::Vec3d sum(0, 0, 0);
    for (int y = 0; y < bgr.rows; ++y) {
        const cv::Vec3b* row = bgr.ptr<cv::Vec3b>(y);
        for (int x = 0; x < bgr.cols; ++x)
            for (int c = 0; c < 3; ++c)
                sum[c] += table[c][row[x][c]];
    }
    return sum / static_cast<double>(bgr.total());
}

struct Score
{
    double median = 0.0;
    double max = 0.0;
    double flicker = 0.0;
};

Score score(const std::vector<cv::Vec3d>& means, const std::vector<cv::Vec3d>& truth)
{
    std::vector<double> errors;
    std::vector<double> lightness;
    for (std::size_t k = 0; k < means.size(); ++k) {
        const cv::Vec3d a = lab_of(means[k]);
        const cv::Vec3d b = lab_of(truth[k]);
        errors.push_back(cv::norm(a - b));
        lightness.push_back(a[0] - b[0]);
    }
    Score s;
    std::vector<double> sorted = errors;
    std::sort(sorted.begin(), sorted.end());
    const std::size_t n = sorted.size();
    s.median = n % 2 ? sorted[n / 2] : (sorted[n / 2 - 1] + sorted[n / 2]) / 2;
    s.max = sorted.back();
    const double mean = std::accumulate(lightness.begin(), lightness.end(), 0.0) / n;
    double spread = 0.0;
    for (double l : lightness)
        spread += (l - mean) * (l - mean);
    s.flicker = std::sqrt(spread / n);
    return s;
}

std::string text(const Score& s)
{
    std::ostringstream out;
    out << std::fixed << std::setprecision(2) << "dE median " << s.median << " max " << s.max
        << "; flicker " << s.flicker;
    return out.str();
}

std::vector<cv::Mat> read_frames(const QString& folder, int count)
{
    std::vector<cv::Mat> frames;
    for (int k = 0; k < count; ++k)
        frames.push_back(cv::imread(QDir(folder).filePath(frame_file_name(k)).toStdString()));
    return frames;
}

std::vector<cv::Vec3d> means_of(const std::vector<cv::Mat>& frames)
{
    std::vector<cv::Vec3d> means;
    for (const cv::Mat& frame : frames)
        means.push_back(mean_linear(frame));
    return means;
}

double median_of(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Processor time of all threads (nothing else runs in this process) spent by
// `run`, median of `repeats` runs.
double median_time(int repeats, const std::function<void()>& run)
{
    std::vector<double> times;
    for (int r = 0; r < repeats; ++r) {
        const double start = processor_seconds(Spender::ThisProcess);
        run();
        times.push_back(processor_seconds(Spender::ThisProcess) - start);
    }
    return median_of(times);
}

// What the tables add to making the frames: each shot decoded once, then its
// frame rendered and encoded as a JPEG in memory, with its table (the frame
// made RGB888 through it) and without (RGB32, converted by the writer), in
// turns (the order swapped every turn, so that neither side always finds the
// cache warm), the difference of the medians summed over the cameras. Also
// the table alone, gone over the finished RGB32 frame as a pass of its own,
// for comparison.
struct TableCost
{
    double in_render = 0.0;
    double own_pass = 0.0;
};

TableCost table_cost(const QStringList& shots, const Calibration& calibration,
                     const std::vector<ColourTable>& tables, int turns)
{
    const int count = calibration.image_count;
    std::vector<QSize> sizes;
    std::vector<ImageAlignment> alignments;
    for (int k = 0; k < count; ++k) {
        sizes.push_back(read_oriented_size(shots[k]));
        alignments.push_back(calibration.alignment(k));
    }
    const QRect rect = common_frame_rect(sizes, alignments, count / 2);
    TableCost cost;
    QImage stored;
    QImage frame(rect.size(), QImage::Format_RGB32);
    QImage matched(rect.size(), QImage::Format_RGB888);
    QByteArray encoded;
    for (int k = 0; k < count; ++k) {
        const auto turn = read_stored_image(shots[k], stored);
        if (!turn || tables[k].identity)
            continue;
        std::vector<double> with, without, pass;
        const auto render = [&](const ColourTable* table) {
            const double start = processor_seconds(Spender::ThisProcess);
            if (table)
                render_matched_frame_into(stored, *turn, alignments[k], rect.topLeft(), matched,
                                          *table);
            else
                render_frame_into(stored, *turn, alignments[k], rect.topLeft(), frame);
            // The pass's own writer: Qt's takes 32-bit pixels at another cost.
            encode_jpeg(table ? matched : frame, frame_quality, encoded);
            return processor_seconds(Spender::ThisProcess) - start;
        };
        for (int t = 0; t < turns; ++t) {
            if (t % 2) {
                with.push_back(render(&tables[k]));
                without.push_back(render(nullptr));
            } else {
                without.push_back(render(nullptr));
                with.push_back(render(&tables[k]));
            }
            const double start = processor_seconds(Spender::ThisProcess);
            apply_colour_table(tables[k], frame);
            pass.push_back(processor_seconds(Spender::ThisProcess) - start);
        }
        cost.in_render += median_of(with) - median_of(without);
        cost.own_pass += median_of(pass);
    }
    return cost;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    const std::optional<Options> parsed = parse_options(application.arguments().mid(1));
    if (!parsed) {
        std::cerr << usage;
        return 2;
    }
    const Options& options = *parsed;
    if (!ensure_rig(options))
        return 1;
    const QDir rig(options.folder);
    QStringList references, shots, truth_shots;
    for (int k = 0; k < options.cameras; ++k) {
        references << rig.filePath(reference_file_name(k));
        shots << rig.filePath(parallax_shot_file_name(k, 0, 1));
        truth_shots << rig.filePath(truth_shot_file_name(k, 0, 1));
    }
    ReferenceTriple reference;
    std::ostream discard(nullptr);
    const RigCalibration rig_calibration =
        construct_rig_calibration(references, StickerColor::Yellow, reference, discard);
    const Calibration calibration = rig_calibration.calibration();
    if (!calibration.all_aligned()) {
        std::cerr << "colour_consistency: the rig did not calibrate" << std::endl;
        return 1;
    }
    QTemporaryDir work;
    const auto folder = [&](const QString& name) {
        QDir(work.path()).mkpath(name);
        return QDir(work.path()).filePath(name);
    };
    const int count = options.cameras;

    // The truth, and the truth as JPEG shots like the rig's (the floor).
    write_aligned_images(truth_shots, calibration, folder("truth"), frame_quality);
    const std::vector<cv::Vec3d> truth = means_of(read_frames(folder("truth"), count));
    QStringList truth_jpegs;
    for (int k = 0; k < count; ++k) {
        truth_jpegs << QDir(folder("truth_jpeg")).filePath(QString("shot_%1.jpg").arg(k));
        cv::imwrite(truth_jpegs.back().toStdString(), cv::imread(truth_shots[k].toStdString()),
                    {cv::IMWRITE_JPEG_QUALITY, RigOptions().jpeg_quality});
    }
    std::vector<ColourGains> floor_gains;
    write_aligned_images(truth_jpegs, calibration, folder("floor"), frame_quality, nullptr, nullptr,
                         {}, &floor_gains);
    const Score floor = score(means_of(read_frames(folder("floor"), count)), truth);

    // The frames pass as a run makes it, without and with colour matching
    // (estimated within the pass from the shots it decodes anyway): in turns,
    // so that a slower spell of the shared machine falls on both, and the cost
    // the median of each turn's difference, which such a spell moves least.
    std::vector<double> off_times, on_times, added;
    std::vector<ColourGains> gains;
    for (int r = 0; r < options.repeats; ++r) {
        const auto pass = [&](bool match) {
            const double start = processor_seconds(Spender::ThisProcess);
            write_aligned_images(shots, calibration, folder(match ? "on" : "off"), frame_quality,
                                 nullptr, nullptr, {}, match ? &gains : nullptr);
            (match ? on_times : off_times)
                .push_back(processor_seconds(Spender::ThisProcess) - start);
        };
        pass(r % 2 == 1);
        pass(r % 2 == 0);
        added.push_back(on_times.back() - off_times.back());
    }
    const double off_seconds = median_of(off_times);
    const double on_seconds = median_of(on_times);
    const double added_seconds = median_of(added);
    std::ostringstream gains_log;
    log_colour_gains(gains, gains_log);
    std::cout << gains_log.str();
    const std::vector<cv::Mat> off_frames = read_frames(folder("off"), count);
    const Score off = score(means_of(off_frames), truth);
    const Score on = score(means_of(read_frames(folder("on"), count)), truth);
    std::vector<ColourTable> tables;
    for (const ColourGains& found : gains)
        tables.push_back(colour_table(found));

    // The parts of the estimate in the pass, timed on their own: the reduced
    // frames from the decoded shots, then the gains camera by camera.
    std::vector<QImage> decoded(count);
    std::vector<QImageIOHandler::Transformations> turns(count);
    std::vector<QSize> sizes;
    std::vector<ImageAlignment> alignments;
    for (int k = 0; k < count; ++k) {
        turns[k] =
            read_stored_image(shots[k], decoded[k]).value_or(QImageIOHandler::Transformations());
        sizes.push_back(read_oriented_size(shots[k]));
        alignments.push_back(calibration.alignment(k));
    }
    const ReducedFrameShape shape =
        reduced_frame_shape(common_frame_rect(sizes, alignments, count / 2));
    std::vector<cv::Mat> in_pass(count);
    const double reduce_seconds = median_time(options.repeats, [&] {
        for (int k = 0; k < count; ++k)
            in_pass[k] = reduced_aligned_frame(decoded[k], turns[k], alignments[k], shape);
    });
    const double solve_seconds =
        median_time(options.repeats, [&] { estimate_colour_gains_outward(in_pass); });
    decoded.clear();
    const TableCost table = table_cost(shots, calibration, tables, options.turns);
    std::cout << std::fixed << std::setprecision(3) << "estimate in the pass: reduced frames "
              << reduce_seconds << " s, gains " << solve_seconds << " s" << std::endl;

    // The same reduced frames solved all at once, and the earlier estimate
    // before the pass from a reduced decode of its own, for comparison.
    const auto frames_with = [&](const std::vector<ColourGains>& found, const QString& name) {
        std::vector<ColourTable> with;
        for (const ColourGains& g : found)
            with.push_back(colour_table(g));
        write_aligned_images(shots, calibration, folder(name), frame_quality, nullptr, nullptr,
                             with);
        return score(means_of(read_frames(folder(name), count)), truth);
    };
    const Score global = frames_with(estimate_colour_gains(in_pass, count / 2), "global");
    std::vector<cv::Mat> reduced;
    const double before_seconds =
        median_time(options.repeats, [&] { reduced = reduced_aligned_frames(shots, calibration); });
    const Score before = frames_with(estimate_colour_gains(reduced, count / 2), "before");

    // The stitching module's per-channel gains, on the same reduced frames, all
    // pixels compared, then only those within its similarity threshold.
    const auto compensated_score = [&](double similarity) {
        cv::detail::ChannelsCompensator compensator;
        if (similarity < 1.0)
            compensator.setSimilarityThreshold(similarity);
        std::vector<cv::Point> corners(count, cv::Point(0, 0));
        std::vector<cv::UMat> images(count);
        std::vector<std::pair<cv::UMat, uchar>> masks(count);
        for (int k = 0; k < count; ++k) {
            reduced[k].copyTo(images[k]);
            masks[k] = {cv::UMat(reduced[k].size(), CV_8U, cv::Scalar(255)), 255};
        }
        compensator.feed(corners, images, masks);
        const std::vector<cv::Scalar> found = compensator.gains();
        std::vector<cv::Vec3d> compensated;
        for (int k = 0; k < count; ++k) {
            cv::Vec3d gains;
            for (int c = 0; c < 3; ++c)
                gains[c] = found[k][c] / found[count / 2][c];
            compensated.push_back(mean_linear(off_frames[k], gains));
        }
        return score(compensated, truth);
    };
    const Score stitching = compensated_score(1.0);
    const Score stitching_similar = compensated_score(0.1);

    const double cost = 100.0 * added_seconds / off_seconds;
    const double parts = 100.0 * (reduce_seconds + solve_seconds + table.in_render) / off_seconds;
    std::cout << std::fixed << std::setprecision(3);
    std::cout << "frames " << off_seconds << " s, with colour matching " << on_seconds << " s, "
              << added_seconds << " s more within a turn; its parts: reduced frames "
              << reduce_seconds << " s, gains " << solve_seconds << " s, tables " << table.in_render
              << " s in the render and encode (" << table.own_pass
              << " s as a pass of their own); a reduced decode of its own would add "
              << before_seconds << " s; processor time, medians" << std::endl;
    std::cout << std::setprecision(2);
    std::cout << "colours as shot:        " << text(off) << std::endl;
    std::cout << "ChannelsCompensator:    " << text(stitching) << std::endl;
    std::cout << "  similarity 0.1:       " << text(stitching_similar) << std::endl;
    std::cout << "colour matching:        " << text(on) << std::endl;
    std::cout << "  solved all at once:   " << text(global) << std::endl;
    std::cout << "  before the pass:      " << text(before) << std::endl;
    std::cout << "floor (no difference):  " << text(floor) << std::endl;
    std::cout << count << " cameras: colour error " << text(on) << "; cost " << std::setprecision(1)
              << cost << " % of frames (its parts " << parts << " %); floor "
              << std::setprecision(2) << "dE median " << floor.median << " max " << floor.max
              << std::endl;
    return 0;
}
