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

} // namespace

class TestRig : public QObject
{
    Q_OBJECT

private slots:
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
};

void TestRig::same_seed_gives_identical_files()
{
    RigOptions options = small_rig();
    options.clutter = options.distractor = true;
    QTemporaryDir first, second, third;
    QVERIFY(write_quietly(options, first.path()).ok());
    QVERIFY(write_quietly(options, second.path()).ok());
    options.seed += 1;
    QVERIFY(write_quietly(options, third.path()).ok());

    QStringList names = {ground_truth_file_name};
    for (int k = 0; k < options.cameras; ++k)
        names << reference_file_name(k) << shot_file_name(k);
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
    QTest::newRow("yellow, quality 92") << RigStickerColor::Yellow << 92;
    QTest::newRow("yellow, quality 85") << RigStickerColor::Yellow << 85;
    QTest::newRow("pink, quality 92") << RigStickerColor::Pink << 92;
    QTest::newRow("pink, quality 85") << RigStickerColor::Pink << 85;
}

// Sticker interiors stay inside the preset after compression; nothing else of the
// scene ever enters either preset (the hidden camera shows none at all).
void TestRig::colours_keep_to_their_side_of_the_presets()
{
    QFETCH(RigStickerColor, color);
    QFETCH(int, quality);
    RigOptions options = small_rig();
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
        QCOMPARE(cv::countNonZero(in_preset(shot, yellow_preset)), 0);
        QCOMPARE(cv::countNonZero(in_preset(shot, pink_preset)), 0);
        QCOMPARE(cv::countNonZero(in_preset(reference, other)), 0);

        const double radius = truth.sticker_radius * truth.poses[k].scale;
        cv::Mat interior(reference.size(), CV_8U, cv::Scalar(0));
        cv::Mat surroundings(reference.size(), CV_8U, cv::Scalar(255));
        for (const cv::Point2d& c : truth.stickers[k]) {
            cv::circle(interior, c, static_cast<int>(radius - 2), 255, cv::FILLED);
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
}

void TestRig::malformed_ground_truth_is_refused_data()
{
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("to");
    const auto row = [](const char* name, const char* from, const char* to) {
        QTest::newRow(name) << QString(from) << QString(to);
    };
    row("camera line missing", "camera 2 ", "# camera 2 ");
    row("camera out of order", "camera 1 ", "camera 2 ");
    row("number cut short", "\nquality 92\n", "\nquality\n");
    row("unknown colour", "color yellow", "color green");
    row("unknown key", "clutter 0", "clutter 0\nblur 3");
    row("invalid size", "size 640 480", "size 640 0");
}

void TestRig::malformed_ground_truth_is_refused()
{
    QFETCH(QString, from);
    QFETCH(QString, to);
    RigGroundTruth truth = plan_rig_scene(small_rig()).truth;
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
    QTest::newRow("unknown colour") << QStringList{"out", "--color", "green"} << "'green'";
    QTest::newRow("hidden past the end") << QStringList{"out", "--hidden", "5"} << "0 to 4";
    QTest::newRow("quality 0") << QStringList{"out", "--quality", "0"} << "between 1 and 100";
    QTest::newRow("offset past a quarter")
        << QStringList{"out", "--offset", "401,0"} << "within a quarter";
    QTest::newRow("offset without comma") << QStringList{"out", "--offset", "40"} << "'40'";
    QTest::newRow("middle shift too far")
        << QStringList{"out", "--middle-shift", "-0.3"} << "off the midpoint";
    QTest::newRow("column tilted too far") << QStringList{"out", "--tilt", "16"} << "15 degrees";
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
}

QTEST_GUILESS_MAIN(TestRig)
#include "test_rig.moc"
