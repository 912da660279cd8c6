// Cameras moved after calibration, caught and corrected: a parallax rig of 12
// cameras whose references are calibrated once, then takes with a new subject
// each, one camera of every take moved by a known shift (0.5 to 20 px), turn
// (up to 1 degree) and zoom (up to 1 %).
//   drift [--size WxH] [--takes N] [--cameras N] [--seed S] [--folder DIR] [--without-patches]
// The rig is rendered once into DIR (beside the executable unless given) and
// reused. The last line: moved cameras caught (those moving a frame corner by
// 1 px or more), false alarms among the unmoved, the distance after correction
// between where a moved camera's frame corners land and where they belong, and
// what the check costs where the program runs it: inside the frames pass, on
// each shot the pass decodes anyway, against that pass without the check (in
// processor time: the wall clock of a shared machine measures its load). The
// check's share is its own processor time, taken on the worker's thread around
// each look at a shot; the pass with the check against the pass without is
// also given, the same cost seen from outside, with the machine's noise.
// --without-patches checks as with a calibration file written before the
// patches were kept: on the features alone.

#include "bench/process_usage.h"
#include "calibration/calibration_construction.h"
#include "calibration/drift_check.h"
#include "output/aligned_images.h"
#include "pipeline/camera_drift.h"
#include "pipeline/pass_drift_check.h"
#include "tools/make_rig/parallax_scene.h"
#include "tools/make_rig/rig_writer.h"

#include <opencv2/core/utility.hpp>
#include <opencv2/imgcodecs.hpp>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <ctime>
#include <cstdio>
#include <iostream>
#include <random>
#include <sstream>
#include <vector>


namespace {

// Frames are timed on the first takes only: they cost far more than the check.
constexpr int timed_frame_takes = 4;

struct BenchOptions
{
    int width = 1600;
    int height = 1200;
    int takes = 60;
    int cameras = 12;
    unsigned seed = 7;
    QString folder;
    bool without_patches = false;
};

// The move of take `take`'s moved camera, drawn from the seed.
struct TakeMove
{
    int camera = 0;
    CameraPose pose;
};

std::vector<TakeMove> draw_moves(const BenchOptions& bench)
{
    std::mt19937 random(bench.seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::vector<TakeMove> moves;
    for (int take = 0; take < bench.takes; ++take) {
        TakeMove move;
        move.camera = (take * 5 + 1) % bench.cameras;
        const double length = 0.5 * std::pow(40.0, unit(random));
        const double direction = 2 * CV_PI * unit(random);
        move.pose.shift = {length * std::cos(direction), length * std::sin(direction)};
        move.pose.rotation_deg = -1.0 + 2.0 * unit(random);
        move.pose.scale = 0.99 + 0.02 * unit(random);
        moves.push_back(move);
    }
    return moves;
}

RigOptions rig_options(const BenchOptions& bench)
{
    RigOptions options;
    options.parallax = true;
    options.cameras = bench.cameras;
    options.width = bench.width;
    options.height = bench.height;
    options.takes = bench.takes;
    options.seed = bench.seed;
    return options;
}

QString reference_path(const BenchOptions& bench, int camera)
{
    return QDir(bench.folder).filePath(reference_file_name(camera));
}

QString shot_path(const BenchOptions& bench, int camera, int take)
{
    return QDir(bench.folder).filePath(parallax_shot_file_name(camera, take, bench.takes));
}

bool write_jpeg(const QString& path, const cv::Mat& image)
{
    return cv::imwrite(QFile::encodeName(path).toStdString(), image,
                       {cv::IMWRITE_JPEG_QUALITY, 92});
}

// Renders the references and every take's shots, the moved camera moved,
// unless an earlier run left them complete.
bool render_rig(const BenchOptions& bench, const std::vector<TakeMove>& moves,
                const ParallaxTruth& truth)
{
    const QString stamp = QDir(bench.folder).filePath("complete");
    if (QFileInfo::exists(stamp))
        return true;
    const RigOptions options = rig_options(bench);
    const cv::Size size(bench.width, bench.height);
    ParallaxTextures textures = make_textures(options, truth);
    for (int camera = 0; camera < bench.cameras; ++camera) {
        const ViewRequest request = photo_request(options, truth, camera, -1);
        cv::Mat photo = apply_colour_response(render_view(truth, textures, request, size),
                                              truth.colours[camera]);
        paint_stickers(photo, truth, request);
        if (!QDir().mkpath(QFileInfo(reference_path(bench, camera)).path()) ||
            !write_jpeg(reference_path(bench, camera), photo))
            return false;
    }
    for (int take = 0; take < bench.takes; ++take) {
        add_subject_texture(textures, options, truth, take);
        RigOptions moved = options;
        moved.moved_camera = moves[take].camera;
        moved.move = moves[take].pose;
        for (int camera = 0; camera < bench.cameras; ++camera) {
            const cv::Mat photo = apply_colour_response(
                render_view(truth, textures, photo_request(moved, truth, camera, take), size),
                truth.colours[camera]);
            if (!QDir().mkpath(QFileInfo(shot_path(bench, camera, take)).path()) ||
                !write_jpeg(shot_path(bench, camera, take), photo))
                return false;
        }
        textures.subjects[take].release();
        std::cerr << "rendered take " << take + 1 << " of " << bench.takes << "\n";
    }
    QFile done(stamp);
    return done.open(QIODevice::WriteOnly);
}

double thread_processor_ms()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return 1e3 * now.tv_sec + 1e-6 * now.tv_nsec;
}

// The pass's drift check, its processor time added up over the workers.
class TimedCheck : public DecodedShotCheck
{
public:
    explicit TimedCheck(DecodedShotCheck& check) : check(check) {}
    std::optional<ImageAlignment> check_shot(int camera, const QImage& stored,
                                             QImageIOHandler::Transformations turn,
                                             const ImageAlignment& planned) override
    {
        const double start = thread_processor_ms();
        std::optional<ImageAlignment> aligned = check.check_shot(camera, stored, turn, planned);
        spent_us.fetch_add(static_cast<long long>(1e3 * (thread_processor_ms() - start)));
        return aligned;
    }
    double spent_ms() const { return 1e-3 * spent_us.load(); }

private:
    DecodedShotCheck& check;
    std::atomic<long long> spent_us{0};
};

// The true motion of a moved camera's shots: shot pixel -> reference pixel.
Similarity true_motion(const CameraPose& pose, cv::Size size)
{
    const cv::Matx23d m = inverse_camera_matrix(pose, size);
    Similarity s;
    s.scale = std::hypot(m(0, 0), m(1, 0));
    s.rotation = std::atan2(m(1, 0), m(0, 0));
    s.translation = {m(0, 2), m(1, 2)};
    return s;
}

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    return values[static_cast<std::size_t>(std::lround(p * (values.size() - 1)))];
}

bool parse(const QStringList& arguments, BenchOptions& bench)
{
    for (int i = 1; i < arguments.size(); ++i) {
        const QString& a = arguments[i];
        if (a == "--without-patches") {
            bench.without_patches = true;
            continue;
        }
        const QString value = arguments.value(i + 1);
        bool ok = true;
        if (a == "--size") {
            const QRegularExpressionMatch m = QRegularExpression("^(\\d+)x(\\d+)$").match(value);
            ok = m.hasMatch();
            bench.width = m.captured(1).toInt();
            bench.height = m.captured(2).toInt();
        } else if (a == "--takes") {
            bench.takes = value.toInt(&ok);
        } else if (a == "--cameras") {
            bench.cameras = value.toInt(&ok);
        } else if (a == "--seed") {
            bench.seed = value.toUInt(&ok);
        } else if (a == "--folder") {
            bench.folder = value;
        } else {
            return false;
        }
        if (!ok || value.isEmpty())
            return false;
        ++i;
    }
    return true;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    BenchOptions bench;
    if (!parse(application.arguments(), bench)) {
        std::cerr << "usage: drift [--size WxH] [--takes N] [--cameras N] [--seed S] "
                     "[--folder DIR] [--without-patches]\n";
        return 2;
    }
    if (bench.folder.isEmpty())
        bench.folder = QStringLiteral(QUORVANE_BENCH_CACHE "/drift_%1x%2_%3takes_%4cams_seed%5")
                           .arg(bench.width)
                           .arg(bench.height)
                           .arg(bench.takes)
                           .arg(bench.cameras)
                           .arg(bench.seed);
    const RigOptions options = rig_options(bench);
    const std::string problem = rig_options_error(options);
    if (!problem.empty()) {
        std::cerr << problem << "\n";
        return 2;
    }
    const ParallaxTruth truth = plan_parallax(options);
    const std::vector<TakeMove> moves = draw_moves(bench);
    if (!render_rig(bench, moves, truth)) {
        std::cerr << "cannot render the rig into " << bench.folder.toStdString() << "\n";
        return 1;
    }

    QStringList references;
    for (int camera = 0; camera < bench.cameras; ++camera)
        references << reference_path(bench, camera);
    std::ostringstream quiet;
    ReferenceTriple reference;
    RigCalibration rig =
        construct_rig_calibration(references, StickerColor::Yellow, reference, quiet);
    if (!rig.calibration().all_aligned()) {
        std::cerr << "the calibration left cameras unaligned\n";
        return 1;
    }
    if (bench.without_patches)
        for (CameraCalibration& camera : rig.cameras)
            camera.drift.patch_centres.clear();

    const cv::Size size(bench.width, bench.height);
    int moved = 0, caught = 0, small = 0, small_caught = 0, false_alarms = 0, unmoved = 0;
    int not_comparable = 0;
    std::vector<double> residuals;
    double check_ms = 0.0, with_ms = 0.0, without_ms = 0.0;
    double least_cover = 1.0, most_cover = 0.0;
    QTemporaryDir frames_folder;
    for (int take = 0; take < bench.takes; ++take) {
        least_cover = std::min(least_cover, truth.subjects[take].coverage[0]);
        most_cover = std::max(most_cover, truth.subjects[take].coverage[1]);
        QStringList shots;
        for (int camera = 0; camera < bench.cameras; ++camera)
            shots << shot_path(bench, camera, take);
        // Read once first, so that neither pass below pays for the disk.
        for (const QString& shot : shots) {
            QFile file(shot);
            if (file.open(QIODevice::ReadOnly))
                file.readAll();
        }
        // The pass as `process --on-drift correct` runs it.
        PassDriftCheck pass_check(rig, DriftMode::Correct);
        TimedCheck timed(pass_check);
        double start = 1e3 * processor_seconds(Spender::ThisProcess);
        write_aligned_images(shots, rig.calibration(), frames_folder.path(), 50, nullptr,
                             nullptr, {}, nullptr, &timed);
        const double with_check = 1e3 * processor_seconds(Spender::ThisProcess) - start;
        check_ms += timed.spent_ms();
        const std::vector<CameraDrift>& drift = pass_check.found();
        if (take < timed_frame_takes) {
            with_ms += with_check;
            start = 1e3 * processor_seconds(Spender::ThisProcess);
            write_aligned_images(shots, rig.calibration(), frames_folder.path(), 50);
            without_ms += 1e3 * processor_seconds(Spender::ThisProcess) - start;
        }
        for (int camera = 0; camera < bench.cameras; ++camera) {
            const CameraDrift& found = drift[camera];
            not_comparable += found.state == DriftState::CannotCompare;
            if (camera != moves[take].camera) {
                if (found.state == DriftState::Moved)
                    std::printf("take %d camera %d: not moved, found %.2f px (false alarm)\n",
                                take + 1, camera + 1, found.shift_px);
                ++unmoved;
                false_alarms += found.state == DriftState::Moved;
                continue;
            }
            const Similarity truth_motion = true_motion(moves[take].pose, size);
            const double true_shift = drift_between(rig, camera, truth_motion, Similarity());
            const bool flagged = found.state == DriftState::Moved;
            if (true_shift < drift_threshold_px) {
                ++small;
                small_caught += flagged;
            } else {
                ++moved;
                caught += flagged;
            }
            // Where the frame corners land after the run's correction (none
            // for a camera not flagged) against where they belong.
            const Similarity applied = flagged ? found.motion : Similarity();
            residuals.push_back(drift_between(rig, camera, applied, truth_motion));
            std::printf("take %d camera %d: moved %.2f px, found %.2f px (%s), after correction "
                        "%.3f px\n",
                        take + 1, camera + 1, true_shift, found.shift_px,
                        flagged ? "caught" : "not flagged", residuals.back());
        }
    }
    const int timed = std::min(bench.takes, timed_frame_takes);
    const double frames_per_take = without_ms / timed;
    const double check_per_take = check_ms / bench.takes;
    const double difference = (with_ms - without_ms) / timed;
    std::printf("%dx%d, %d cameras; subject over %.0f-%.0f %% of the shots; %d moves under 1 px "
                "(%d flagged); %d shots not comparable; in the frames pass the check %.1f ms a "
                "take (%.2f ms a camera), the pass %.0f ms a take without it and %.0f ms with it "
                "(%+.1f %%)\n",
                bench.width, bench.height, bench.cameras, 100 * least_cover, 100 * most_cover,
                small, small_caught, not_comparable, check_per_take,
                check_per_take / bench.cameras, frames_per_take, with_ms / timed,
                100.0 * difference / frames_per_take);
    std::printf("%d takes: %d of %d moved cameras caught, %d false alarms in %d, residual after "
                "correction median %.2f px max %.2f px; %.1f %% of frames time\n",
                bench.takes, caught, moved, false_alarms, unmoved, percentile(residuals, 0.5),
                percentile(residuals, 1.0), 100.0 * check_per_take / frames_per_take);
    return 0;
}
