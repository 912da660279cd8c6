#include "calibration/alignment.h"
#include "pipeline/calibration_run.h"
#include "tools/make_rig/ground_truth_file.h"
#include "tools/make_rig/marker_locator.h"
#include "tools/make_rig/rig_arguments.h"
#include "tools/make_rig/rig_writer.h"

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>
#include <sstream>

Q_DECLARE_METATYPE(RigStickerColor)

namespace {

// The detection presets, written out independently of the detection code.
struct Preset
{
    cv::Scalar lower;
    cv::Scalar upper;
};
const Preset yellow_preset{{20, 150, 150}, {70, 255, 255}};
const Preset pink_preset{{0, 0, 184}, {165, 100, 255}};

const Preset& preset_of(RigStickerColor color)
{
    return color == RigStickerColor::Yellow ? yellow_preset : pink_preset;
}

cv::Mat in_preset(const cv::Mat& image, const Preset& preset)
{
    cv::Mat mask;
    cv::inRange(image, preset.lower, preset.upper, mask);
    return mask;
}

struct Blob
{
    int top;
    int area;
    cv::Point2d centre;
};

// Mask, 11 x 11 dilation and 4-connected labelling, as detection does it.
std::vector<Blob> sticker_blobs(const cv::Mat& image, const Preset& preset)
{
    cv::Mat mask = in_preset(image, preset);
    cv::dilate(mask, mask, cv::getStructuringElement(cv::MORPH_RECT, {11, 11}));
    cv::Mat labels, stats, centroids;
    const int count = cv::connectedComponentsWithStats(mask, labels, stats, centroids, 4, CV_32S);
    std::vector<Blob> blobs;
    for (int i = 1; i < count; ++i)
        blobs.push_back({stats.at<int>(i, cv::CC_STAT_TOP),
                         stats.at<int>(i, cv::CC_STAT_AREA),
                         {centroids.at<double>(i, 0), centroids.at<double>(i, 1)}});
    return blobs;
}

cv::Mat read_photo(const QString& folder, const QString& name)
{
    return cv::imread(QDir(folder).filePath(name).toStdString(), cv::IMREAD_COLOR);
}

QByteArray file_bytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

RigOptions small_rig(int cameras = 3, int width = 640, int height = 480)
{
    RigOptions options;
    options.cameras = cameras;
    options.width = width;
    options.height = height;
    options.seed = 7;
    return options;
}

// write_rig without its progress lines, which no test here reads.
RigWriteResult write_quietly(const RigOptions& options, const QString& folder)
{
    std::ostringstream log;
    return write_rig(options, folder, log);
}

// Distance from `p` to the nearest point of `points`.
double nearest(const std::vector<cv::Point2d>& points, cv::Point2d p)
{
    double best = std::numeric_limits<double>::max();
    for (const cv::Point2d& q : points)
        best = std::min(best, cv::norm(p - q));
    return best;
}

RigOptions parallax_rig(int cameras = 5)
{
    RigOptions options = small_rig(cameras, 480, 360);
    options.parallax = true;
    return options;
}

// sRGB to linear light, written out independently of the generator.
cv::Mat linear_light(const cv::Mat& bgr)
{
    cv::Mat table(1, 256, CV_32F);
    for (int v = 0; v < 256; ++v) {
        const double c = v / 255.0;
        table.at<float>(v) =
            static_cast<float>(c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4));
    }
    cv::Mat as_float;
    bgr.convertTo(as_float, CV_32FC3);
    cv::Mat out(bgr.size(), CV_32FC3);
    for (int y = 0; y < bgr.rows; ++y)
        for (int x = 0; x < bgr.cols; ++x)
            for (int c = 0; c < 3; ++c)
                out.at<cv::Vec3f>(y, x)[c] = table.at<float>(bgr.at<cv::Vec3b>(y, x)[c]);
    return out;
}

// A camera's photo mapped into the middle camera's frame by its ground-truth pose.
cv::Mat into_middle(const cv::Mat& photo, const CameraPose& pose)
{
    cv::Mat out;
    cv::warpAffine(photo, out, inverse_camera_matrix(pose, photo.size()), photo.size(),
                   cv::INTER_LINEAR, cv::BORDER_REPLICATE);
    return out;
}

double mean_difference(const cv::Mat& a, const cv::Mat& b, const cv::Rect& area)
{
    cv::Mat difference;
    cv::absdiff(a(area), b(area), difference);
    const cv::Scalar m = cv::mean(difference);
    return (m[0] + m[1] + m[2]) / 3.0;
}

cv::Rect inner(cv::Size size, double margin)
{
    const int mx = static_cast<int>(margin * size.width),
              my = static_cast<int>(margin * size.height);
    return {mx, my, size.width - 2 * mx, size.height - 2 * my};
}

// How far the picture in `area` of `moved` lies from the same area of `base`, by phase correlation.
cv::Point2d shift_between(const cv::Mat& base, const cv::Mat& moved, const cv::Rect& area)
{
    cv::Mat a, b, fa, fb, window;
    cv::cvtColor(base(area), a, cv::COLOR_BGR2GRAY);
    cv::cvtColor(moved(area), b, cv::COLOR_BGR2GRAY);
    a.convertTo(fa, CV_64F);
    b.convertTo(fb, CV_64F);
    cv::createHanningWindow(window, area.size(), CV_64F);
    return cv::phaseCorrelate(fa, fb, window);
}

// The background a camera would see with no subject: what the subject hides differs from it.
cv::Mat empty_shot(const RigOptions& options, const ParallaxTruth& truth, int camera)
{
    ViewRequest request = photo_request(options, truth, camera, 0);
    request.take = -1;
    return render_view(truth, make_textures(options, truth), request,
                       {options.width, options.height});
}

} // namespace

class TestRig : public QObject
{
    Q_OBJECT

    // The unmoved three-camera parallax rig, written once for every row that
    // compares a moved camera with it (rendering it is the slow part).
    QTemporaryDir still_parallax;
    bool still_parallax_written = false;

private slots:
    void same_seed_gives_identical_files_data();
    void same_seed_gives_identical_files();
    void colours_keep_to_their_side_of_the_presets_data();
    void colours_keep_to_their_side_of_the_presets();
    void stickers_appear_where_the_ground_truth_says();
    void options_exercise_the_selection_rules_data();
    void options_exercise_the_selection_rules();
    void markers_are_located_to_a_fraction_of_a_pixel();
    void ground_truth_file_reads_back();
    void malformed_ground_truth_is_refused_data();
    void malformed_ground_truth_is_refused();
    void foreign_folder_is_left_untouched();
    void rewriting_a_rig_removes_its_old_photos();
    void arguments_data();
    void arguments();
    void parallax_rig_calibrates_onto_the_column_data();
    void parallax_rig_calibrates_onto_the_column();
    void background_moves_more_the_farther_it_is();
    void views_between_meet_the_cameras();
    void moved_camera_shows_the_unmoved_picture_under_the_move_data();
    void moved_camera_shows_the_unmoved_picture_under_the_move();
    void colour_differences_follow_the_ground_truth_data();
    void colour_differences_follow_the_ground_truth();
    void takes_show_subjects_of_their_own();
    void rewriting_a_parallax_rig_removes_only_its_files();
    void flat_references_are_lit_exposed_and_noisy_as_asked();
};

void TestRig::same_seed_gives_identical_files_data()
{
    QTest::addColumn<bool>("parallax");
    QTest::newRow("flat") << false;
    QTest::newRow("parallax") << true;
}

void TestRig::same_seed_gives_identical_files()
{
    QFETCH(bool, parallax);
    RigOptions options = small_rig();
    options.clutter = options.distractor = true;
    if (parallax) {
        options = parallax_rig(3);
        options.colour_spread = 0.1;
        options.between = 1;
    }
    QTemporaryDir first, second, third;
    QVERIFY(write_quietly(options, first.path()).ok());
    QVERIFY(write_quietly(options, second.path()).ok());
    options.seed += 1;
    QVERIFY(write_quietly(options, third.path()).ok());

    QStringList names = {ground_truth_file_name};
    for (int k = 0; k < options.cameras; ++k)
        names << reference_file_name(k) << shot_file_name(k);
    if (parallax)
        names << truth_shot_file_name(2, 0, 1) << between_file_name(1, 1, 0, 1);
    for (const QString& name : names) {
        const QByteArray bytes = file_bytes(QDir(first.path()).filePath(name));
        QVERIFY2(!bytes.isEmpty(), qPrintable(name));
        QVERIFY2(bytes == file_bytes(QDir(second.path()).filePath(name)), qPrintable(name));
        QVERIFY2(bytes != file_bytes(QDir(third.path()).filePath(name)), qPrintable(name));
    }
}

void TestRig::colours_keep_to_their_side_of_the_presets_data()
{
    QTest::addColumn<RigStickerColor>("color");
    QTest::addColumn<int>("quality");
    QTest::addColumn<bool>("parallax");
    QTest::newRow("yellow, quality 92") << RigStickerColor::Yellow << 92 << false;
    QTest::newRow("yellow, quality 85") << RigStickerColor::Yellow << 85 << false;
    QTest::newRow("pink, quality 92") << RigStickerColor::Pink << 92 << false;
    QTest::newRow("pink, quality 85") << RigStickerColor::Pink << 85 << false;
    QTest::newRow("parallax, yellow, quality 85") << RigStickerColor::Yellow << 85 << true;
    QTest::newRow("parallax, pink, quality 85") << RigStickerColor::Pink << 85 << true;
}

// Sticker interiors stay inside the preset after compression; nothing else of the
// scene ever enters either preset (the hidden camera shows none at all). The
// parallax rig's references keep to this under the widest colour differences;
// its shots hold every hue, as nothing is detected in them.
void TestRig::colours_keep_to_their_side_of_the_presets()
{
    QFETCH(RigStickerColor, color);
    QFETCH(int, quality);
    QFETCH(bool, parallax);
    RigOptions options = small_rig();
    if (parallax) {
        options = parallax_rig(5);
        options.width = 640; // stickers as large as the flat rig's here
        options.height = 480;
        options.arc_deg = 90;
        options.colour_spread = 0.15;
        options.exposure_spread = 0.4;
        options.vignetting = 0.6;
    }
    options.color = color;
    options.jpeg_quality = quality;
    options.hidden_camera = 0;
    QTemporaryDir dir;
    const RigWriteResult result = write_quietly(options, dir.path());
    QVERIFY2(result.ok(), result.error.c_str());
    const RigGroundTruth& truth = result.truth;
    const Preset& own = preset_of(color);
    const Preset& other = preset_of(color == RigStickerColor::Yellow ? RigStickerColor::Pink
                                                                     : RigStickerColor::Yellow);

    for (int k = 0; k < options.cameras; ++k) {
        const cv::Mat reference = read_photo(dir.path(), reference_file_name(k));
        const cv::Mat shot = read_photo(dir.path(), shot_file_name(k));
        QVERIFY(!reference.empty() && !shot.empty());
        if (!parallax) {
            QCOMPARE(cv::countNonZero(in_preset(shot, yellow_preset)), 0);
            QCOMPARE(cv::countNonZero(in_preset(shot, pink_preset)), 0);
        }
        QCOMPARE(cv::countNonZero(in_preset(reference, other)), 0);

        const double radius = truth.sticker_radius * truth.poses[k].scale;
        cv::Mat interior(reference.size(), CV_8U, cv::Scalar(0));
        cv::Mat surroundings(reference.size(), CV_8U, cv::Scalar(255));
        for (const cv::Point2d& c : truth.stickers[k]) {
            // The parallax rig's centres fall between pixels, half a pixel off the mask's.
            cv::circle(interior, c, static_cast<int>(radius - (parallax ? 3 : 2)), 255, cv::FILLED);
            // Compression spreads colour up to a chroma block past the edge.
            cv::circle(surroundings, c, static_cast<int>(radius + 16), 0, cv::FILLED);
        }
        const cv::Mat own_mask = in_preset(reference, own);
        QCOMPARE(cv::countNonZero(own_mask & surroundings), 0);
        const int inside = cv::countNonZero(own_mask & interior);
        if (k == options.hidden_camera)
            QCOMPARE(cv::countNonZero(own_mask), 0);
        else
            QCOMPARE(inside, cv::countNonZero(interior));
    }
}

// The centroids that detection would measure on the written photos match the
// ground truth, and the ground truth is the middle camera's layout moved by each pose.
void TestRig::stickers_appear_where_the_ground_truth_says()
{
    RigOptions options = small_rig(4, 800, 600);
    options.sticker_offset = {12.5, -7.25};
    options.middle_shift = 0.15;
    options.sticker_tilt_deg = 6.0;
    QTemporaryDir dir;
    const RigWriteResult result = write_quietly(options, dir.path());
    QVERIFY2(result.ok(), result.error.c_str());
    const RigGroundTruth& truth = result.truth;
    const cv::Size size(options.width, options.height);

    QCOMPARE(truth.middle_camera, 2);
    const CameraPose& middle = truth.poses[truth.middle_camera];
    QCOMPARE(middle.rotation_deg, 0.0);
    QCOMPARE(middle.scale, 1.0);
    QCOMPARE(middle.shift, cv::Point2d(0, 0));
    const std::array<cv::Point2d, 3>& layout = truth.stickers[truth.middle_camera];
    QVERIFY(cv::norm(layout[1] - (photo_centre(size) + options.sticker_offset)) < 1e-9);
    // The column turned clockwise, the middle sticker moved towards the bottom one.
    const double tilt = options.sticker_tilt_deg * CV_PI / 180.0;
    const cv::Point2d down(-std::sin(tilt), std::cos(tilt));
    const cv::Point2d midpoint = (layout[0] + layout[2]) * 0.5;
    QVERIFY(cv::norm(layout[2] - layout[0] - 2 * truth.sticker_spacing * down) < 1e-9);
    QVERIFY(cv::norm(layout[1] - midpoint - 0.15 * truth.sticker_spacing * down) < 1e-9);

    double worst = 0.0;
    for (int k = 0; k < options.cameras; ++k) {
        const CameraPose& pose = truth.poses[k];
        QVERIFY(std::abs(pose.rotation_deg) <= 4.0);
        QVERIFY(pose.scale >= 0.93 && pose.scale <= 1.07);
        QVERIFY(std::abs(pose.shift.x) <= 0.03 * options.width);
        QVERIFY(std::abs(pose.shift.y) <= 0.03 * options.width);

        std::vector<Blob> blobs =
            sticker_blobs(read_photo(dir.path(), reference_file_name(k)), yellow_preset);
        QCOMPARE(blobs.size(), size_t(3));
        std::sort(blobs.begin(), blobs.end(),
                  [](const Blob& a, const Blob& b) { return a.top < b.top; });
        for (int i = 0; i < 3; ++i) {
            const cv::Point2d expected = camera_point(pose, size, layout[i]);
            QVERIFY(cv::norm(truth.stickers[k][i] - expected) < 1e-9);
            worst = std::max(worst, cv::norm(blobs[i].centre - expected));
        }
    }
    qInfo("largest sticker centroid error: %.3f px", worst);
    QVERIFY(worst < 0.25);
}

void TestRig::options_exercise_the_selection_rules_data()
{
    QTest::addColumn<bool>("clutter");
    QTest::addColumn<bool>("distractor");
    QTest::addColumn<RigStickerColor>("color");
    QTest::newRow("clutter: area rule") << true << false << RigStickerColor::Yellow;
    QTest::newRow("clutter, pink: area rule") << true << false << RigStickerColor::Pink;
    QTest::newRow("distractor: centre rule") << false << true << RigStickerColor::Yellow;
    QTest::newRow("both: centre rule") << true << true << RigStickerColor::Pink;
}

// Each option leads detection down the intended path and still to the stickers.
void TestRig::options_exercise_the_selection_rules()
{
    QFETCH(bool, clutter);
    QFETCH(bool, distractor);
    QFETCH(RigStickerColor, color);
    RigOptions options = small_rig();
    options.clutter = clutter;
    options.distractor = distractor;
    options.color = color;
    QTemporaryDir dir;
    const RigWriteResult result = write_quietly(options, dir.path());
    QVERIFY2(result.ok(), result.error.c_str());

    for (int k = 0; k < options.cameras; ++k) {
        const std::vector<Blob> blobs =
            sticker_blobs(read_photo(dir.path(), reference_file_name(k)), preset_of(color));
        const auto is_sticker = [&](const Blob& b) {
            return nearest({result.truth.stickers[k].begin(), result.truth.stickers[k].end()},
                           b.centre) < 0.5;
        };
        QCOMPARE(std::count_if(blobs.begin(), blobs.end(), is_sticker), 3L);
        QVERIFY(blobs.size() >= (clutter ? 10u : 4u));
        std::vector<Blob> by_area = blobs;
        std::stable_sort(by_area.begin(), by_area.end(),
                         [](const Blob& a, const Blob& b) { return a.area > b.area; });
        const bool area_rule = by_area[2].area > 2 * by_area[3].area;
        QCOMPARE(area_rule, !distractor);
        if (area_rule) {
            QVERIFY(is_sticker(by_area[0]) && is_sticker(by_area[1]) && is_sticker(by_area[2]));
            continue;
        }
        // Centre rule: the blob nearest the image centre, then the two lying
        // closest to the vertical line through it.
        const cv::Point2d centre(options.width / 2, options.height / 2);
        const Blob& middle = *std::min_element(blobs.begin(), blobs.end(), [&](auto& a, auto& b) {
            return cv::norm(a.centre - centre) < cv::norm(b.centre - centre);
        });
        QVERIFY(is_sticker(middle));
        std::vector<double> offsets;
        for (const Blob& b : blobs)
            offsets.push_back(std::abs(b.centre.x - middle.centre.x));
        std::vector<size_t> order(blobs.size());
        std::iota(order.begin(), order.end(), 0);
        std::stable_sort(order.begin(), order.end(),
                         [&](size_t a, size_t b) { return offsets[a] < offsets[b]; });
        // order[0] is the middle blob itself (offset 0).
        QVERIFY(is_sticker(blobs[order[1]]) && is_sticker(blobs[order[2]]));
    }
}

void TestRig::markers_are_located_to_a_fraction_of_a_pixel()
{
    const RigOptions options = small_rig(3, 1200, 900);
    QTemporaryDir dir;
    const RigWriteResult result = write_quietly(options, dir.path());
    QVERIFY2(result.ok(), result.error.c_str());

    double worst = 0.0;
    for (int k = 0; k < options.cameras; ++k) {
        const std::vector<cv::Point2d> truth = marker_centres(result.truth, k);
        const std::vector<cv::Point2d> found =
            locate_markers(read_photo(dir.path(), shot_file_name(k)));
        QVERIFY(truth.size() > 50);
        for (const cv::Point2d& p : truth)
            worst = std::max(worst, nearest(found, p));
        // Nothing but markers is found; the extra ones are cut by the border.
        QVERIFY(found.size() >= truth.size() && found.size() < truth.size() + 10);
        for (const cv::Point2d& p : found) {
            const double to_border =
                std::min({p.x, p.y, options.width - p.x, options.height - p.y});
            QVERIFY(nearest(truth, p) < 0.2 || to_border < 2 * result.truth.marker_radius);
        }
    }
    qInfo("largest marker error: %.3f px", worst);
    QVERIFY(worst < 0.1);
    QVERIFY(result.truth.marker_spacing >= 40.0);
}

void TestRig::ground_truth_file_reads_back()
{
    RigOptions options = small_rig();
    options.color = RigStickerColor::Pink;
    options.clutter = true;
    options.hidden_camera = 2;
    options.jpeg_quality = 80;
    options.seed = 123456789012345ULL;
    options.sticker_offset = {-3.5, 1.0 / 3.0};
    options.middle_shift = -0.2;
    options.sticker_tilt_deg = 1.0 / 7.0;
    QTemporaryDir dir;
    const RigWriteResult result = write_quietly(options, dir.path());
    QVERIFY2(result.ok(), result.error.c_str());

    const std::optional<RigGroundTruth> read =
        read_ground_truth(QDir(dir.path()).filePath(ground_truth_file_name));
    QVERIFY(read.has_value());
    // Every setting read back; then full precision, which the text alone would not show.
    QCOMPARE(ground_truth_text(*read), ground_truth_text(result.truth));
    QCOMPARE(read->options.seed, options.seed);
    QCOMPARE(read->poses[1].rotation_deg, result.truth.poses[1].rotation_deg);
    QCOMPARE(read->stickers[0][2], result.truth.stickers[0][2]);

    // The parallax scene, every setting off its default.
    options = parallax_rig(4);
    options.arc_deg = 55.5;
    options.colour_spread = 0.1;
    options.exposure_spread = 1.0 / 3.0;
    options.vignetting = 0.25;
    options.between = 2;
    options.takes = 3;
    options.moved_camera = 3;
    options.move = {0.7, 1.005, {-12.25, 0.5}};
    options.hidden_camera = 1;
    const RigGroundTruth planned = plan_rig_scene(options).truth;
    const std::optional<RigGroundTruth> parsed = parse_ground_truth(ground_truth_text(planned));
    QVERIFY(parsed.has_value());
    QCOMPARE(ground_truth_text(*parsed), ground_truth_text(planned));
    QCOMPARE(parsed->parallax.views[0].focal, planned.parallax.views[0].focal);
    QCOMPARE(parsed->parallax.colours[2].gain[1], planned.parallax.colours[2].gain[1]);
    QCOMPARE(parsed->parallax.subjects[2].half_axes, planned.parallax.subjects[2].half_axes);
}

void TestRig::malformed_ground_truth_is_refused_data()
{
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("to");
    QTest::addColumn<bool>("parallax");
    const auto row = [](const char* name, const char* from, const char* to, bool parallax = false) {
        QTest::newRow(name) << QString(from) << QString(to) << parallax;
    };
    row("camera line missing", "camera 2 ", "# camera 2 ");
    row("camera out of order", "camera 1 ", "camera 2 ");
    row("number cut short", "\nquality 92\n", "\nquality\n");
    row("unknown colour", "color yellow", "color purple");
    row("unknown key", "clutter 0", "clutter 0\nblur 3");
    row("invalid size", "size 640 480", "size 640 0");
    row("parallax setting in a flat rig", "clutter 0", "clutter 0\narc 40");
    row("parallax: view missing", "view 1 ", "# view 1 ", true);
    row("parallax: colour out of order", "colour 1 ", "colour 2 ", true);
    row("parallax: fewer subjects than takes", "takes 1", "takes 2", true);
    row("parallax: setting missing", "\nwall_z ", "\n# wall_z ", true);
    row("parallax: unknown scene", "scene parallax", "scene round", true);
    row("parallax: flat option", "clutter 0", "clutter 1", true);
}

void TestRig::malformed_ground_truth_is_refused()
{
    QFETCH(QString, from);
    QFETCH(QString, to);
    QFETCH(bool, parallax);
    RigGroundTruth truth = plan_rig_scene(parallax ? parallax_rig(3) : small_rig()).truth;
    const std::string text = ground_truth_text(truth);
    QVERIFY(parse_ground_truth(text).has_value());
    const size_t at = text.find(from.toStdString());
    QVERIFY(at != std::string::npos);
    const std::string broken = std::string(text).replace(at, from.size(), to.toStdString());
    QVERIFY(!parse_ground_truth(broken).has_value());
}

void TestRig::foreign_folder_is_left_untouched()
{
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkpath("references"));
    QFile precious(QDir(dir.path()).filePath("references/ref_00.jpg"));
    QVERIFY(precious.open(QIODevice::WriteOnly));
    precious.write("holiday photo");
    precious.close();

    const RigWriteResult result = write_quietly(small_rig(), dir.path());
    QVERIFY(!result.ok());
    QVERIFY(result.error.find("not writing") != std::string::npos);
    QCOMPARE(file_bytes(precious.fileName()), QByteArray("holiday photo"));
    QVERIFY(!QFile::exists(QDir(dir.path()).filePath(ground_truth_file_name)));
}

void TestRig::rewriting_a_rig_removes_its_old_photos()
{
    QTemporaryDir dir;
    const QDir folder(dir.path());
    RigOptions options = small_rig(5);
    QVERIFY(write_quietly(options, dir.path()).ok());
    QFile keep(folder.filePath("notes.txt"));
    QVERIFY(keep.open(QIODevice::WriteOnly));
    keep.close();

    options.cameras = 3;
    QVERIFY(write_quietly(options, dir.path()).ok());
    QCOMPARE(QDir(folder.filePath("references")).entryList(QDir::Files),
             QStringList({"ref_00.jpg", "ref_01.jpg", "ref_02.jpg"}));
    QCOMPARE(QDir(folder.filePath("shots")).entryList(QDir::Files),
             QStringList({"shot_00.jpg", "shot_01.jpg", "shot_02.jpg"}));
    QVERIFY(QFile::exists(keep.fileName()));
    QCOMPARE(read_ground_truth(folder.filePath(ground_truth_file_name))->options.cameras, 3);
}

void TestRig::arguments_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("error"); // a piece of the expected message, empty if none
    QTest::newRow("folder only") << QStringList{"out"} << "";
    QTest::newRow("everything") << QStringList{"out",       "--cameras",    "24",
                                               "--size",    "6000x4000",    "--seed",
                                               "9",         "--color",      "pink",
                                               "--clutter", "--distractor", "--hidden",
                                               "23",        "--quality",    "70",
                                               "--offset",  "-1500,999.5",  "--middle-shift",
                                               "0.2",       "--tilt",       "-10"}
                                << "";
    QTest::newRow("help") << QStringList{"out", "--help"} << "";
    QTest::newRow("no folder") << QStringList{"--clutter"} << "no output folder";
    QTest::newRow("unknown option") << QStringList{"out", "--blur"} << "unknown option --blur";
    QTest::newRow("missing value") << QStringList{"out", "--cameras"} << "needs a value";
    QTest::newRow("cameras not a number") << QStringList{"out", "--cameras", "five"} << "'five'";
    QTest::newRow("size without x") << QStringList{"out", "--size", "1600"} << "'1600'";
    QTest::newRow("size too large") << QStringList{"out", "--size", "6000x6000"} << "at most";
    QTest::newRow("unknown colour") << QStringList{"out", "--color", "purple"} << "'purple'";
    QTest::newRow("hidden past the end") << QStringList{"out", "--hidden", "5"} << "0 to 4";
    QTest::newRow("quality 0") << QStringList{"out", "--quality", "0"} << "between 1 and 100";
    QTest::newRow("offset past a quarter")
        << QStringList{"out", "--offset", "401,0"} << "within a quarter";
    QTest::newRow("offset without comma") << QStringList{"out", "--offset", "40"} << "'40'";
    QTest::newRow("middle shift too far")
        << QStringList{"out", "--middle-shift", "-0.3"} << "off the midpoint";
    QTest::newRow("column tilted too far") << QStringList{"out", "--tilt", "16"} << "15 degrees";
    QTest::newRow("parallax, everything") << QStringList{"out",
                                                         "--parallax",
                                                         "--arc",
                                                         "60",
                                                         "--colour-spread",
                                                         "0.12",
                                                         "--exposure-spread",
                                                         "0.4",
                                                         "--vignetting",
                                                         "0.3",
                                                         "--between",
                                                         "3",
                                                         "--takes",
                                                         "4",
                                                         "--move",
                                                         "4:-0.5,2,1,1.01"}
                                          << "";
    QTest::newRow("parallax option alone")
        << QStringList{"out", "--arc", "60"} << "need --parallax";
    QTest::newRow("flat option with parallax")
        << QStringList{"out", "--parallax", "--clutter"} << "not available with --parallax";
    QTest::newRow("arc too wide") << QStringList{"out", "--parallax", "--arc", "120"}
                                  << "between 0 and 90";
    QTest::newRow("colour spread too wide")
        << QStringList{"out", "--parallax", "--colour-spread", "0.3"} << "between 0 and 0.15";
    QTest::newRow("no takes") << QStringList{"out", "--parallax", "--takes", "0"}
                              << "between 1 and 99";
    QTest::newRow("move without zoom")
        << QStringList{"out", "--parallax", "--move", "1:2,3,0.5"} << "'1:2,3,0.5'";
    QTest::newRow("moved camera past the end")
        << QStringList{"out", "--parallax", "--move", "5:1,0,0,1"} << "0 to 4";
    QTest::newRow("move too far") << QStringList{"out", "--parallax", "--move", "2:0,0,6,1"}
                                  << "5 degrees";
}

void TestRig::arguments()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, error);
    const RigArguments parsed = parse_rig_arguments(arguments);
    // Asked for help, the tool only prints its usage.
    QCOMPARE(parsed.help, arguments.contains("--help"));
    if (error.isEmpty()) {
        QVERIFY2(parsed.error.empty(), parsed.error.c_str());
        QCOMPARE(parsed.folder, QString("out"));
    } else {
        QVERIFY2(QString::fromStdString(parsed.error).contains(error), parsed.error.c_str());
    }
    if (QTest::currentDataTag() == QByteArray("everything")) {
        const RigOptions& options = parsed.options;
        QCOMPARE(options.cameras, 24);
        QCOMPARE(options.width, 6000);
        QCOMPARE(options.height, 4000);
        QCOMPARE(options.seed, std::uint64_t(9));
        QVERIFY(options.color == RigStickerColor::Pink && options.clutter && options.distractor);
        QCOMPARE(options.hidden_camera, 23);
        QCOMPARE(options.jpeg_quality, 70);
        QCOMPARE(options.sticker_offset, cv::Point2d(-1500, 999.5));
        QCOMPARE(options.middle_shift, 0.2);
        QCOMPARE(options.sticker_tilt_deg, -10.0);
    }
    if (QTest::currentDataTag() == QByteArray("parallax, everything")) {
        const RigOptions& options = parsed.options;
        QVERIFY(options.parallax);
        QCOMPARE(options.arc_deg, 60.0);
        QCOMPARE(options.colour_spread, 0.12);
        QCOMPARE(options.exposure_spread, 0.4);
        QCOMPARE(options.vignetting, 0.3);
        QCOMPARE(options.between, 3);
        QCOMPARE(options.takes, 4);
        QCOMPARE(options.moved_camera, 4);
        QCOMPARE(options.move.shift, cv::Point2d(-0.5, 2));
        QCOMPARE(options.move.rotation_deg, 1.0);
        QCOMPARE(options.move.scale, 1.01);
    }
}

void TestRig::parallax_rig_calibrates_onto_the_column_data()
{
    QTest::addColumn<RigStickerColor>("color");
    QTest::addColumn<int>("cameras");
    QTest::addColumn<double>("arc");
    QTest::addColumn<int>("hidden");
    QTest::newRow("yellow, 5 cameras over 40 degrees")
        << RigStickerColor::Yellow << 5 << 40.0 << -1;
    QTest::newRow("pink, 6 cameras over 90 degrees") << RigStickerColor::Pink << 6 << 90.0 << -1;
    QTest::newRow("yellow, 7 over 60, one hidden") << RigStickerColor::Yellow << 7 << 60.0 << 1;
}

// The real calibration finds every sticker despite the colour differences and
// aligns each camera onto the middle one along the column.
void TestRig::parallax_rig_calibrates_onto_the_column()
{
    QFETCH(RigStickerColor, color);
    QFETCH(int, cameras);
    QFETCH(double, arc);
    QFETCH(int, hidden);
    RigOptions options = parallax_rig(cameras);
    options.width = 640; // stickers of 12 px radius, as a real rig's are at least
    options.height = 480;
    options.color = color;
    options.arc_deg = arc;
    options.hidden_camera = hidden;
    options.colour_spread = 0.15;
    options.exposure_spread = 0.4;
    options.vignetting = 0.6;
    QTemporaryDir dir;
    const RigWriteResult result = write_quietly(options, dir.path());
    QVERIFY2(result.ok(), result.error.c_str());
    const RigGroundTruth& truth = result.truth;

    CalibrationRequest request;
    for (int k = 0; k < cameras; ++k)
        request.references << QDir(dir.path()).filePath(reference_file_name(k));
    request.color = color == RigStickerColor::Pink ? StickerColor::Pink : StickerColor::Yellow;
    std::ostringstream log;
    const CalibrationOutcome outcome = run_calibration(request, log);
    const std::vector<int> expected_unaligned =
        hidden < 0 ? std::vector<int>{} : std::vector<int>{hidden};
    QCOMPARE(outcome.unaligned(), expected_unaligned);

    const std::array<cv::Point2d, 3>& onto = truth.stickers[truth.middle_camera];
    double worst = 0.0;
    for (int k = 0; k < cameras; ++k) {
        if (k == hidden)
            continue;
        const Similarity found = alignment_similarity(outcome.calibration.alignment(k));
        const cv::Matx23d told =
            inverse_camera_matrix(truth.poses[k], {options.width, options.height});
        for (int i = 0; i < 3; ++i) {
            const cv::Point2d p = truth.stickers[k][i];
            worst = std::max(worst, cv::norm(apply(found, p) - onto[i]));
            // The pose written down is the alignment the calibration finds.
            worst = std::max(worst, cv::norm(apply(found, p) - apply(told, p)));
        }
    }
    qInfo("largest misalignment at the column: %.3f px", worst);
    QVERIFY(worst < 0.5);
}

// After alignment on the stickers, the wall moves between neighbouring views as
// far as a pinhole camera predicts, the nearer floor less, the view half-way
// between them half as far.
void TestRig::background_moves_more_the_farther_it_is()
{
    const RigOptions options = parallax_rig(5);
    const RigGroundTruth truth = plan_rig_scene(options).truth;
    const ParallaxTruth& scene = truth.parallax;
    const ParallaxTextures textures = make_textures(options, scene);
    const cv::Size size(options.width, options.height);
    const auto aligned = [&](double position) {
        return render_view(scene, textures, aligned_request(options, scene, position, -1), size);
    };
    const cv::Mat first = aligned(2.0), half = aligned(2.5), second = aligned(3.0);
    const cv::Rect wall(48, 8, 384, 100), floor(48, 326, 384, 30);
    const cv::Point2d wall_shift = shift_between(first, second, wall);
    const cv::Point2d half_shift = shift_between(first, half, wall);
    const cv::Point2d floor_shift = shift_between(first, second, floor);
    qInfo("wall %.2f, %.2f px; half-way %.2f px; floor %.2f px", wall_shift.x, wall_shift.y,
          half_shift.x, floor_shift.x);

    // Column 4 m from the cameras, wall 4 m behind it, 10 degrees between cameras.
    const double focal = 1.2 * options.width;
    const double baseline = 2 * 4.0 * std::sin(5.0 * CV_PI / 180.0);
    const double predicted = focal * baseline * (1.0 / 4.0 - 1.0 / 8.0);
    QVERIFY2(std::abs(std::abs(wall_shift.x) - predicted) < 0.15 * predicted,
             qPrintable(QString("predicted %1 px").arg(predicted)));
    QVERIFY(std::abs(wall_shift.y) < 3.0);
    QVERIFY(std::abs(half_shift.x - wall_shift.x / 2) < 0.1 * std::abs(wall_shift.x));
    QVERIFY(std::abs(floor_shift.x) > 3.0);
    QVERIFY(std::abs(floor_shift.x) < 0.8 * std::abs(wall_shift.x));
}

void TestRig::views_between_meet_the_cameras()
{
    RigOptions options = parallax_rig(5);
    options.between = 3;
    options.colour_spread = 0.12;
    options.exposure_spread = 0.4;
    QTemporaryDir dir;
    const RigWriteResult result = write_quietly(options, dir.path());
    QVERIFY2(result.ok(), result.error.c_str());
    const ParallaxTruth& scene = result.truth.parallax;
    const cv::Size size(options.width, options.height);
    ParallaxTextures textures = make_textures(options, scene);
    add_subject_texture(textures, options, scene, 0);
    const auto view = [&](double p) {
        return render_view(scene, textures, aligned_request(options, scene, p, 0), size);
    };

    // The outer cameras, both ends of one pair, the middle camera.
    for (const int camera : {0, 1, 2, 4}) {
        const cv::Mat shot = read_photo(dir.path(), truth_shot_file_name(camera, 0, 1));
        QVERIFY(!shot.empty());
        const cv::Mat expected = into_middle(shot, result.truth.poses[camera]);
        const cv::Rect area = inner(size, 0.1);
        const double here = mean_difference(view(camera), expected, area);
        const double elsewhere =
            mean_difference(view(camera < 2 ? camera + 0.25 : camera - 0.25), expected, area);
        qInfo("camera %d: mean difference %.2f at its place, %.2f a quarter of the way off", camera,
              here, elsewhere);
        QVERIFY(here < 2.0);
        QVERIFY(elsewhere > 4 * here);
    }

    for (int camera = 0; camera + 1 < options.cameras; ++camera)
        for (int j = 1; j <= options.between; ++j) {
            const QString name = between_file_name(camera, j, 0, 1);
            QVERIFY2(QFile::exists(QDir(dir.path()).filePath(name)), qPrintable(name));
        }
    const cv::Mat written = read_photo(dir.path(), "truth/between_01_03.png");
    QCOMPARE(cv::norm(written, view(1.75), cv::NORM_INF), 0.0);
    QVERIFY(!QFile::exists(QDir(dir.path()).filePath("truth/between_04_01.png")));
}

void TestRig::moved_camera_shows_the_unmoved_picture_under_the_move_data()
{
    QTest::addColumn<double>("dx");
    QTest::addColumn<double>("dy");
    QTest::addColumn<double>("degrees");
    QTest::addColumn<double>("zoom");
    QTest::newRow("half a pixel") << 0.5 << 0.0 << 0.0 << 1.0;
    QTest::newRow("one degree") << 0.0 << 0.0 << 1.0 << 1.0;
    QTest::newRow("zoom 1 %") << 0.0 << 0.0 << 0.0 << 1.01;
    QTest::newRow("all at once") << 20.0 << -12.5 << -1.0 << 0.99;
}

// The moved camera's shots are its unmoved ones under the move; nothing else changes.
void TestRig::moved_camera_shows_the_unmoved_picture_under_the_move()
{
    QFETCH(double, dx);
    QFETCH(double, dy);
    QFETCH(double, degrees);
    QFETCH(double, zoom);
    RigOptions options = parallax_rig(3);
    if (!still_parallax_written) {
        QVERIFY(write_quietly(options, still_parallax.path()).ok());
        still_parallax_written = true;
    }
    const QTemporaryDir& still_dir = still_parallax;
    QTemporaryDir moved_dir;
    options.moved_camera = 0;
    options.move.shift = {dx, dy};
    options.move.rotation_deg = degrees;
    options.move.scale = zoom;
    const RigWriteResult result = write_quietly(options, moved_dir.path());
    QVERIFY2(result.ok(), result.error.c_str());
    const std::optional<RigGroundTruth> read =
        read_ground_truth(QDir(moved_dir.path()).filePath(ground_truth_file_name));
    QVERIFY(read && read->options.moved_camera == 0);
    QCOMPARE(read->options.move.shift, cv::Point2d(dx, dy));
    QCOMPARE(read->options.move.rotation_deg, degrees);
    QCOMPARE(read->options.move.scale, zoom);

    const cv::Mat still = read_photo(still_dir.path(), truth_shot_file_name(0, 0, 1));
    const cv::Mat moved = read_photo(moved_dir.path(), truth_shot_file_name(0, 0, 1));
    cv::Mat expected;
    cv::warpAffine(still, expected, camera_matrix(options.move, still.size()), still.size(),
                   cv::INTER_LINEAR, cv::BORDER_REPLICATE);
    const cv::Rect area(40, 40, still.cols - 80, still.rows - 80);
    const double under_move = mean_difference(moved, expected, area);
    const double unmoved = mean_difference(moved, still, area);
    qInfo("mean difference %.2f under the move, %.2f without", under_move, unmoved);
    QVERIFY(under_move < 1.5);
    QVERIFY(unmoved > 2 * under_move);

    for (const QString& name : {reference_file_name(0), shot_file_name(1), shot_file_name(2)})
        QVERIFY2(file_bytes(QDir(still_dir.path()).filePath(name)) ==
                     file_bytes(QDir(moved_dir.path()).filePath(name)),
                 qPrintable(name));
}

void TestRig::colour_differences_follow_the_ground_truth_data()
{
    QTest::addColumn<double>("spread");
    QTest::addColumn<double>("exposure");
    QTest::addColumn<double>("vignetting");
    QTest::newRow("none") << 0.0 << 0.0 << 0.0;
    QTest::newRow("gains and exposure") << 0.12 << 0.4 << 0.0;
    QTest::newRow("vignetting") << 0.0 << 0.0 << 0.5;
    QTest::newRow("all, to the limits") << 0.15 << 0.4 << 0.6;
}

// Each shot is its colour-neutral truth under the camera's written response, in
// linear light; with no spread at all, the truth is the shot.
void TestRig::colour_differences_follow_the_ground_truth()
{
    QFETCH(double, spread);
    QFETCH(double, exposure);
    QFETCH(double, vignetting);
    RigOptions options = parallax_rig(3);
    options.colour_spread = spread;
    options.exposure_spread = exposure;
    options.vignetting = vignetting;
    options.jpeg_quality = 98;
    QTemporaryDir dir;
    const RigWriteResult result = write_quietly(options, dir.path());
    QVERIFY2(result.ok(), result.error.c_str());
    const std::optional<RigGroundTruth> read =
        read_ground_truth(QDir(dir.path()).filePath(ground_truth_file_name));
    QVERIFY(read.has_value());
    const ParallaxTruth& scene = read->parallax;
    QVERIFY(scene.colours[read->middle_camera].neutral());

    const cv::Size size(options.width, options.height);
    const cv::Point2d centre((size.width - 1) / 2.0, (size.height - 1) / 2.0);
    const double corner2 = centre.dot(centre);
    const cv::Rect patches[] = {
        inner(size, 0), {200, 140, 80, 80}, {0, 0, 60, 60}, {420, 300, 60, 60}};
    double worst = 0.0;
    for (int k = 0; k < options.cameras; ++k) {
        const cv::Mat truth = read_photo(dir.path(), truth_shot_file_name(k, 0, 1));
        const cv::Mat shot = read_photo(dir.path(), shot_file_name(k));
        QVERIFY(!truth.empty() && !shot.empty());
        const ColourResponse& response = scene.colours[k];
        QCOMPARE(response.neutral(),
                 k == read->middle_camera || (spread == 0 && exposure == 0 && vignetting == 0));
        if (response.neutral())
            QCOMPARE(cv::norm(apply_colour_response(truth, response), truth, cv::NORM_INF), 0.0);
        for (int ch = 0; ch < 3; ++ch)
            QVERIFY(std::abs(response.gain[ch] - 1) <= spread);
        QVERIFY(std::abs(response.exposure_ev) <= exposure);
        QVERIFY(response.vignetting >= 0 && response.vignetting <= vignetting);

        // The response worked out here, pixel by pixel, then compared by mean
        // colour, which compression keeps.
        const cv::Mat light = linear_light(truth);
        cv::Mat expected(size, CV_8UC3);
        for (int y = 0; y < size.height; ++y)
            for (int x = 0; x < size.width; ++x) {
                const cv::Point2d off = cv::Point2d(x, y) - centre;
                const double factor = std::pow(2.0, response.exposure_ev) *
                                      (1 - response.vignetting * off.dot(off) / corner2);
                for (int ch = 0; ch < 3; ++ch) {
                    const double l =
                        std::min(1.0, light.at<cv::Vec3f>(y, x)[ch] * factor * response.gain[ch]);
                    const double c =
                        l <= 0.0031308 ? 12.92 * l : 1.055 * std::pow(l, 1 / 2.4) - 0.055;
                    expected.at<cv::Vec3b>(y, x)[ch] = cv::saturate_cast<uchar>(255 * c);
                }
            }
        for (const cv::Rect& patch : patches) {
            const cv::Scalar off = cv::mean(shot(patch)) - cv::mean(expected(patch));
            worst = std::max({worst, std::abs(off[0]), std::abs(off[1]), std::abs(off[2])});
        }
    }
    qInfo("largest error of a patch's mean colour: %.2f", worst);
    QVERIFY(worst < 0.5);
}

// Every take has its subject, hiding 20 to 50 % of each shot as the ground truth says.
void TestRig::takes_show_subjects_of_their_own()
{
    RigOptions options = parallax_rig(3);
    options.takes = 3;
    QTemporaryDir dir;
    const RigWriteResult result = write_quietly(options, dir.path());
    QVERIFY2(result.ok(), result.error.c_str());
    const ParallaxTruth& scene = result.truth.parallax;
    QCOMPARE(scene.subjects.size(), size_t(3));
    QVERIFY(!QFile::exists(QDir(dir.path()).filePath(shot_file_name(0))));
    QCOMPARE(parallax_shot_file_name(2, 1, 3), QString("shots/take_02/shot_02.jpg"));

    for (int k = 0; k < options.cameras; ++k) {
        const cv::Mat empty = empty_shot(options, scene, k);
        std::vector<cv::Mat> truths;
        for (int take = 0; take < options.takes; ++take) {
            QVERIFY(!read_photo(dir.path(), parallax_shot_file_name(k, take, 3)).empty());
            truths.push_back(read_photo(dir.path(), truth_shot_file_name(k, take, 3)));
            cv::Mat difference;
            cv::absdiff(truths.back(), empty, difference);
            cv::Mat grey;
            cv::transform(difference, grey, cv::Matx13f(1, 1, 1));
            const double hidden = cv::countNonZero(grey > 0) / double(grey.total());
            const SceneSubject& subject = scene.subjects[take];
            qInfo("camera %d take %d: subject hides %.3f (%.3f to %.3f told)", k, take, hidden,
                  subject.coverage[0], subject.coverage[1]);
            QVERIFY(hidden >= 0.2 && hidden <= 0.5);
            QVERIFY(hidden > subject.coverage[0] - 0.03 && hidden < subject.coverage[1] + 0.03);
        }
        QVERIFY(mean_difference(truths[0], truths[1], inner(empty.size(), 0)) > 10);
        QVERIFY(mean_difference(truths[1], truths[2], inner(empty.size(), 0)) > 10);
    }
}

// A later rig in the same folder removes the earlier one's truth and takes by
// name, and keeps whatever else is there.
void TestRig::rewriting_a_parallax_rig_removes_only_its_files()
{
    QTemporaryDir dir;
    const QDir folder(dir.path());
    RigOptions options = parallax_rig(3);
    options.takes = 2;
    options.between = 1;
    QVERIFY(write_quietly(options, dir.path()).ok());
    for (const char* name : {"truth/take_01/notes.txt", "truth/take_01/shot_00.png.bak"}) {
        QFile keep(folder.filePath(name));
        QVERIFY(keep.open(QIODevice::WriteOnly));
    }

    QVERIFY(write_quietly(small_rig(3), dir.path()).ok());
    QVERIFY(!folder.exists("shots/take_01") && !folder.exists("shots/take_02"));
    QVERIFY(!folder.exists("truth/take_02"));
    QCOMPARE(QDir(folder.filePath("truth/take_01")).entryList(QDir::Files),
             QStringList({"notes.txt", "shot_00.png.bak"}));
    QCOMPARE(QDir(folder.filePath("shots")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
             QStringList({"shot_00.jpg", "shot_01.jpg", "shot_02.jpg"}));
}

namespace {

double srgb_to_linear(double v)
{
    v /= 255.0;
    return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
}

double linear_to_srgb(double v)
{
    v = std::clamp(v, 0.0, 1.0);
    return 255.0 * (v <= 0.0031308 ? 12.92 * v : 1.055 * std::pow(v, 1.0 / 2.4) - 0.055);
}

} // namespace

// Under a tungsten light a stop under, each camera's middle sticker has the
// paint's colour times the light's gains and its own exposure, with the noise
// asked for; the colourful background holds reds and oranges the plain one never
// has; the truth file keeps every camera's light.
void TestRig::flat_references_are_lit_exposed_and_noisy_as_asked()
{
    RigOptions options = small_rig(4);
    options.color = RigStickerColor::Green;
    options.exposure_ev = -1.0;
    options.light_kelvin = 3000.0;
    options.noise = 4.0;
    options.exposure_spread = 0.5;
    options.colourful = true;
    QTemporaryDir dir;
    const RigWriteResult written = write_quietly(options, dir.filePath("lit"));
    QVERIFY2(written.ok(), written.error.c_str());
    const RigGroundTruth& truth = written.truth;
    QCOMPARE(static_cast<int>(truth.reference_light.size()), options.cameras);

    std::vector<double> exposures;
    for (int k = 0; k < options.cameras; ++k) {
        const ColourResponse& light = truth.reference_light[k];
        exposures.push_back(light.exposure_ev);
        QVERIFY(std::abs(light.exposure_ev - options.exposure_ev) <= options.exposure_spread);
        // Warm light: red up, blue down, green the reference.
        QVERIFY(light.gain[2] > 1.5 && light.gain[0] < 0.6 && light.gain[1] == 1.0);

        const cv::Mat photo = cv::imread(dir.filePath("lit/" + reference_file_name(k)).toStdString());
        cv::Mat inside(photo.size(), CV_8U, cv::Scalar(0));
        cv::circle(inside, cv::Point(truth.stickers[k][1]), int(truth.sticker_radius * 0.6),
                   cv::Scalar(255), cv::FILLED);
        cv::Scalar mean, deviation;
        cv::meanStdDev(photo, mean, deviation, inside);
        const cv::Scalar paint = sticker_bgr(options.color);
        for (int ch = 0; ch < 3; ++ch) {
            const double expected = linear_to_srgb(srgb_to_linear(paint[ch]) * light.gain[ch] *
                                                   std::pow(2.0, light.exposure_ev));
            QVERIFY2(std::abs(mean[ch] - expected) < 3.0,
                     qPrintable(QStringLiteral("camera %1 channel %2: %3 for %4")
                                    .arg(k)
                                    .arg(ch)
                                    .arg(mean[ch])
                                    .arg(expected)));
            QVERIFY2(deviation[ch] > 2.0 && deviation[ch] < 6.0,
                     qPrintable(QString::number(deviation[ch])));
        }
    }
    QVERIFY(*std::max_element(exposures.begin(), exposures.end()) -
                *std::min_element(exposures.begin(), exposures.end()) >
            0.2);

    // Reds, oranges and skin tones: red well above both other channels.
    const auto reddish_share = [](const cv::Mat& photo) {
        std::vector<cv::Mat> ch;
        cv::split(photo, ch);
        cv::Mat red16, blue16, green16;
        ch[2].convertTo(red16, CV_16S);
        ch[0].convertTo(blue16, CV_16S);
        ch[1].convertTo(green16, CV_16S);
        const cv::Mat reddish = (red16 > blue16 + 40) & (red16 > green16 + 40);
        return cv::countNonZero(reddish) / double(photo.total());
    };
    RigOptions plain = small_rig(4);
    plain.color = RigStickerColor::Green;
    const RigWriteResult plain_written = write_quietly(plain, dir.filePath("plain"));
    QVERIFY2(plain_written.ok(), plain_written.error.c_str());
    const QString middle = reference_file_name(truth.middle_camera);
    QVERIFY(reddish_share(cv::imread(dir.filePath("plain/" + middle).toStdString())) < 0.001);
    QVERIFY(reddish_share(cv::imread(dir.filePath("lit/" + middle).toStdString())) > 0.05);

    // The light survives the truth file, and a camera's light missing is refused.
    const std::string text = ground_truth_text(truth);
    const std::optional<RigGroundTruth> parsed = parse_ground_truth(text);
    QVERIFY(parsed);
    QCOMPARE(parsed->options.light_kelvin, 3000.0);
    QVERIFY(parsed->options.colourful);
    QCOMPARE(parsed->reference_light[3].exposure_ev, truth.reference_light[3].exposure_ev);
    const size_t last = text.find("light_camera 3 ");
    QVERIFY(last != std::string::npos);
    QVERIFY(!parse_ground_truth(text.substr(0, last)).has_value());
    QVERIFY(ground_truth_text(plain_written.truth).find("light") == std::string::npos);
}

QTEST_GUILESS_MAIN(TestRig)
#include "test_rig.moc"
