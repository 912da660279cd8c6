#include "calibration/alignment.h"
#include "calibration/calibration.h"
#include "calibration/calibration_construction.h"
#include "calibration/manual_alignment.h"
#include "tests/support/sticker_drawing.h"

#include <opencv2/imgproc.hpp>

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <limits>
#include <optional>
#include <sstream>

using Points = std::vector<cv::Point2d>;
Q_DECLARE_METATYPE(Points)

namespace {

const ColorThresholds yellow = thresholds_for(StickerColor::Yellow);
const ColorThresholds pink = thresholds_for(StickerColor::Pink);

const Points vertical{{500, 100}, {500, 300}, {500, 500}};
const ReferenceTriple vertical_reference{{vertical[0], vertical[1], vertical[2]}, true};
const Points upright_stickers{{320, 140}, {320, 240}, {320, 340}};

QStringList lines_of(const std::ostringstream& log)
{
    return QString::fromStdString(log.str()).split('\n', Qt::SkipEmptyParts);
}

void compare_entries(const ImageAlignment& actual, const ImageAlignment& expected)
{
    QCOMPARE(actual.aligned, expected.aligned);
    QCOMPARE(actual.translation_x, expected.translation_x);
    QCOMPARE(actual.translation_y, expected.translation_y);
    QCOMPARE(actual.rotation_deg, expected.rotation_deg);
    QCOMPARE(actual.scale, expected.scale);
}

cv::Point2d rotate(cv::Point2d p, double degrees)
{
    const double a = degrees * CV_PI / 180.0;
    return {p.x * std::cos(a) - p.y * std::sin(a), p.x * std::sin(a) + p.y * std::cos(a)};
}

// Entries equal to rounding: a fit of points onto themselves is the identity
// only up to the last bits.
void compare_near(const ImageAlignment& actual, const ImageAlignment& expected)
{
    QCOMPARE(actual.aligned, expected.aligned);
    const double found[] = {actual.translation_x, actual.translation_y, actual.rotation_deg,
                            actual.scale};
    const double wanted[] = {expected.translation_x, expected.translation_y, expected.rotation_deg,
                             expected.scale};
    for (int k = 0; k < 4; ++k)
        QVERIFY2(std::abs(found[k] - wanted[k]) < 1e-9,
                 qPrintable(QString("%1: %2").arg(k).arg(found[k], 0, 'g', 17)));
}

std::array<QPointF, 3> clicks_of(const Points& points)
{
    return {QPointF(points[0].x, points[0].y), QPointF(points[1].x, points[1].y),
            QPointF(points[2].x, points[2].y)};
}

// One camera of a synthetic rig: how it sees the scene relative to the middle camera.
struct Camera
{
    double rotation_deg;
    double scale;
    cv::Point2d shift;
};

// Where a scene point (in the middle camera's pixels) appears in `camera`'s photo.
cv::Point2d seen_by(const Camera& camera, cv::Point2d scene, cv::Point2d centre)
{
    return rotate(scene - centre, camera.rotation_deg) * camera.scale + centre + camera.shift;
}

QString write_png(const QString& folder, const QString& name, const Points& stickers)
{
    return write_photo(folder, name, draw_sticker_photo({640, 480}, stickers));
}

// Aligning rows `indices` of `table` onto `reference`: the colinearity as logged and
// the entry stored as {translation x, translation y, scale, rotation}, empty for none.
void estimate_row(const char* name, const Points& table, const char* colinearity,
                  const QVector<double>& entry, const QVector<int>& indices = {0, 1, 2},
                  const Points& reference = vertical)
{
    QTest::newRow(name) << reference << table << indices << QString(colinearity) << entry;
}

} // namespace

class CalibrationTest : public QObject
{
    Q_OBJECT

private slots:
    void camera_aligned_by_hand_data();
    void camera_aligned_by_hand();
    void resize_data();
    void resize();

    void estimate_data();
    void estimate();
    void failed_estimate_keeps_the_earlier_entry();
    void manual_order_data();
    void manual_order();

    void fit_similarity_data();
    void fit_similarity();
    void fit_similarity_refuses();
    void synthetic_rig_is_aligned();
    void single_photo_data();
    void single_photo();
    void pink_thresholds_reach_every_call();
    void failures_stay_unaligned_and_the_rest_go_on();
};

void CalibrationTest::resize_data()
{
    QTest::addColumn<int>("size");
    QTest::newRow("same count changes nothing") << 3;
    QTest::newRow("grow to 5") << 5;
    QTest::newRow("shrink to 2") << 2;
    QTest::newRow("shrink to 0") << 0;
}

void CalibrationTest::resize()
{
    QFETCH(int, size);

    Calibration calibration = Calibration::with_count(3);
    for (int i = 0; i < 3; ++i) {
        calibration.translation_x[i] = i + 0.5;
        calibration.translation_y[i] = -i;
        calibration.rotation_deg[i] = 10 * i;
        calibration.scale[i] = 1 + i;
        calibration.aligned[i] = i != 1;
    }
    const Calibration before = calibration;
    calibration.resize(size);

    QCOMPARE(calibration.image_count, size);
    for (size_t length :
         {calibration.translation_x.size(), calibration.translation_y.size(),
          calibration.rotation_deg.size(), calibration.scale.size(), calibration.aligned.size()})
        QCOMPARE(int(length), size);
    for (int i = 0; i < size; ++i)
        compare_entries(calibration.alignment(i), i < 3 ? before.alignment(i) : ImageAlignment{});
    // Outside the record: a zeroed, unaligned entry, never a neighbour's.
    compare_entries(calibration.alignment(-1), {});
    compare_entries(calibration.alignment(size), {});
    // Entry 1 is unaligned, or there is no entry at all.
    QVERIFY(!calibration.all_aligned());
}

void CalibrationTest::estimate_data()
{
    QTest::addColumn<Points>("reference");
    QTest::addColumn<Points>("table");
    QTest::addColumn<QVector<int>>("indices");
    QTest::addColumn<QString>("colinearity");
    QTest::addColumn<QVector<double>>("entry");

    // Entries are {translation x, translation y, scale, rotation}: q = scale R p + t.
    const Points shifted{{600, 150}, {600, 250}, {600, 350}};
    estimate_row("half as far apart, shifted", shifted, "1", {-700, -200, 2, 0});
    estimate_row("rows picked by the indices", {{9, 9}, {600, 350}, {600, 150}, {7, 7}, {600, 250}},
                 "1", {-700, -200, 2, 0}, {2, 4, 1});
    estimate_row("bottom to top turns half a turn", shifted, "1", {1700, 800, 2, 180}, {2, 1, 0});
    estimate_row("quarter turn", {{700, 300}, {600, 300}, {500, 300}}, "1", {-100, 1500, 2, -90});
    // The middle sticker off the midpoint biases neither the shift nor the turn.
    const Points off_centre{{500, 100}, {500, 290}, {500, 500}};
    estimate_row("the reference itself", off_centre, "1", {0, 0, 1, 0}, {0, 1, 2}, off_centre);
    estimate_row("just above 0.98", {{0, -100}, {0, 0}, {19.8, 98}}, "0.980194",
                 {486.7096432948808, 300.0132903567051, 2.003496477701671, 5.710593137499642});
    {
        const double a = 179 * CV_PI / 180;
        const double b = -179 * CV_PI / 180;
        const cv::Point2d r1(500, 300), p2(600, 400);
        const cv::Point2d r(std::cos(a), std::sin(a)), p(std::cos(b), std::sin(b));
        estimate_row("179 against -179 is two degrees back", {p2 + 100 * p, p2 + 50 * p, p2}, "1",
                     {-627.2038202692759, -459.3785062160042, 2.0, -2.0}, {0, 1, 2},
                     {r1 + 100 * r, r1, r1 - 100 * r});
    }
    estimate_row("not in line", {{100, 100}, {100, 200}, {150, 300}}, "0.894427", {});
    estimate_row("exactly 0.98 is rejected", {{0, -100}, {0, 0}, {19.899748742132378, 98}}, "0.98",
                 {});
    estimate_row("top equals middle", {{600, 150}, {600, 150}, {600, 350}}, "nan", {});
    // In line by the cosine test, but with no length and no direction.
    estimate_row("top equals bottom", {{600, 150}, {650, 250}, {600, 150}}, "1", {});
    estimate_row("reference never selected", shifted, "1", {}, {0, 1, 2}, {{0, 0}, {0, 0}, {0, 0}});
}

void CalibrationTest::estimate()
{
    QFETCH(Points, reference);
    QFETCH(Points, table);
    QFETCH(QVector<int>, indices);
    QFETCH(QString, colinearity);
    QFETCH(QVector<double>, entry);

    Calibration calibration = Calibration::with_count(3);
    std::ostringstream log;
    estimate_alignment(calibration, 1, {indices[0], indices[1], indices[2]}, table,
                       {{reference[0], reference[1], reference[2]}, true}, log);

    QCOMPARE(QString::fromStdString(log.str()),
             "alignement for validation :" + colinearity + "\n\n");
    const ImageAlignment found = calibration.alignment(1);
    QCOMPARE(found.aligned, !entry.isEmpty());
    const QVector<double> wanted = entry.isEmpty() ? QVector<double>(4, 0.0) : entry;
    const double values[] = {found.translation_x, found.translation_y, found.scale,
                             found.rotation_deg};
    for (int k = 0; k < 4; ++k)
        QVERIFY2(std::abs(values[k] - wanted[k]) <= 1e-9 * std::max(1.0, std::abs(wanted[k])),
                 qPrintable(QString::number(values[k], 'g', 17)));
    compare_entries(calibration.alignment(0), {});
    compare_entries(calibration.alignment(2), {});
}

void CalibrationTest::camera_aligned_by_hand_data()
{
    QTest::addColumn<bool>("in_line");
    QTest::addColumn<bool>("with_reference");
    QTest::addColumn<QSize>("size_before");
    QTest::addColumn<QSize>("size_after");
    QTest::newRow("aligned, size kept") << true << true << QSize(800, 600) << QSize(800, 600);
    QTest::newRow("photo unreadable before: size filled")
        << true << true << QSize() << QSize(1024, 768);
    QTest::newRow("clicks not in line") << false << true << QSize(800, 600) << QSize();
    QTest::newRow("no reference to align onto") << true << false << QSize(800, 600) << QSize();
}

void CalibrationTest::camera_aligned_by_hand()
{
    QFETCH(bool, in_line);
    QFETCH(bool, with_reference);
    QFETCH(QSize, size_before);
    QFETCH(QSize, size_after);
    // An entry aligned before: its values must never pass for the new ones.
    CameraCalibration before;
    before.reference_photo = QStringLiteral("cam1.jpg");
    before.reference_size = size_before;
    before.method = AlignmentMethod::Automatic;
    before.transform = {7, 8, 9, 2, true};
    // Clicked bottom first; the entry keeps them top to bottom.
    const std::array<QPointF, 3> clicks =
        in_line ? std::array<QPointF, 3>{QPointF(600.25, 500.5), QPointF(600.25, 100.5),
                                         QPointF(600.25, 300.5)}
                : std::array<QPointF, 3>{QPointF(100, 100), QPointF(100, 200), QPointF(150, 300)};
    std::ostringstream log;
    const std::optional<CameraCalibration> entry = align_camera_manually(
        before, clicks, with_reference ? vertical_reference : ReferenceTriple{}, QSize(1024, 768),
        log, {0.5, 0.25, 3.0});
    QCOMPARE(entry.has_value(), size_after.isValid());
    if (!entry)
        return;
    QCOMPARE(entry->reference_photo, before.reference_photo);
    QCOMPARE(entry->reference_size, size_after);
    QCOMPARE(entry->method, AlignmentMethod::Manual);
    compare_near(entry->transform, {-100.25, -0.5, 0, 1, true});
    QCOMPARE(entry->stickers[0], cv::Point2d(600.25, 100.5));
    QCOMPARE(entry->stickers[1], cv::Point2d(600.25, 300.5));
    QCOMPARE(entry->stickers[2], cv::Point2d(600.25, 500.5));
    // Each centre keeps its own click's uncertainty through the reordering.
    QCOMPARE(entry->sticker_uncertainty, (std::array<double, 3>{0.25, 3.0, 0.5}));
}

void CalibrationTest::failed_estimate_keeps_the_earlier_entry()
{
    Calibration calibration = Calibration::with_count(2);
    std::ostringstream log;
    align_manually(calibration, 0, {QPointF(600, 150), QPointF(600, 250), QPointF(600, 350)},
                   vertical_reference, log);
    const ImageAlignment first = calibration.alignment(0);
    QVERIFY(first.aligned);

    // A manual retry whose clicks are not in line changes nothing.
    align_manually(calibration, 0, {QPointF(100, 100), QPointF(100, 200), QPointF(150, 300)},
                   vertical_reference, log);
    compare_entries(calibration.alignment(0), first);
    // A successful one replaces the entry.
    // Sub-pixel clicks go through the same fit as detected centres.
    const std::array<QPointF, 3> clicks{QPointF(600.25, 100.5), QPointF(600.25, 300.5),
                                        QPointF(600.25, 500.5)};
    align_manually(calibration, 0, clicks, vertical_reference, log);
    compare_near(calibration.alignment(0), {-100.25, -0.5, 0, 1, true});
    // An index outside the record is ignored.
    align_manually(calibration, 2, clicks, vertical_reference, log);
    QCOMPARE(calibration.image_count, 2);
}

void CalibrationTest::manual_order_data()
{
    QTest::addColumn<Points>("clicks");
    QTest::addColumn<QVector<int>>("order");

    // Nearly horizontal lines: every order passes the line test, and each gives
    // its own translation and rotation, so the stored entry reveals the order.
    using Order = QVector<int>;
    QTest::newRow("y2 > y1, y3 > y2") << Points{{100, 10}, {300, 20}, {500, 30}} << Order{0, 1, 2};
    QTest::newRow("y1 < y3 < y2") << Points{{100, 10}, {500, 30}, {300, 20}} << Order{0, 2, 1};
    QTest::newRow("y3 < y1 < y2") << Points{{300, 20}, {500, 30}, {100, 10}} << Order{2, 0, 1};
    QTest::newRow("y2 < y1 < y3") << Points{{300, 20}, {100, 10}, {500, 30}} << Order{1, 0, 2};
    QTest::newRow("y3 < y2 < y1") << Points{{500, 30}, {300, 20}, {100, 10}} << Order{2, 1, 0};
    QTest::newRow("y2 < y3 < y1") << Points{{500, 30}, {100, 10}, {300, 20}} << Order{1, 2, 0};
    // Equal heights: the later click comes first.
    QTest::newRow("all at one height") << Points{{100, 20}, {300, 20}, {500, 20}} << Order{2, 1, 0};
    QTest::newRow("y1 = y2 < y3") << Points{{100, 20}, {300, 20}, {500, 21}} << Order{1, 0, 2};
    QTest::newRow("y1 = y3 < y2") << Points{{100, 20}, {500, 21}, {300, 20}} << Order{2, 0, 1};
    QTest::newRow("y2 = y3 < y1") << Points{{500, 21}, {100, 20}, {300, 20}} << Order{2, 1, 0};
    QTest::newRow("y1 < y2 = y3") << Points{{100, 19}, {300, 20}, {500, 20}} << Order{0, 2, 1};
}

void CalibrationTest::manual_order()
{
    QFETCH(Points, clicks);
    QFETCH(QVector<int>, order);

    Calibration by_clicks = Calibration::with_count(1);
    std::ostringstream click_log;
    align_manually(by_clicks, 0, clicks_of(clicks), vertical_reference, click_log);

    Calibration expected = Calibration::with_count(1);
    std::ostringstream expected_log;
    estimate_alignment(expected, 0, {order[0], order[1], order[2]}, clicks, vertical_reference,
                       expected_log);

    QVERIFY(expected.aligned[0]);
    compare_entries(by_clicks.alignment(0), expected.alignment(0));
    QCOMPARE(click_log.str(), expected_log.str());
}

using Triple = std::array<cv::Point2d, 3>;

void CalibrationTest::fit_similarity_data()
{
    QTest::addColumn<Points>("from");
    QTest::addColumn<double>("scale");
    QTest::addColumn<double>("degrees");
    QTest::addColumn<double>("noise"); // pixels, added to the mapped points

    const Points column{{410, 120}, {405.5, 260}, {402, 405}}; // middle off the midpoint
    const Points triangle{{100, 100}, {300, 120}, {180, 260}};
    QTest::newRow("identity") << column << 1.0 << 0.0 << 0.0;
    QTest::newRow("turned clockwise, enlarged") << column << 1.07 << 4.0 << 0.0;
    QTest::newRow("turned back, reduced") << column << 0.93 << -3.5 << 0.0;
    QTest::newRow("upside down") << column << 1.0 << 180.0 << 0.0;
    QTest::newRow("triangle, quarter turn") << triangle << 2.0 << -90.0 << 0.0;
    QTest::newRow("column with noise") << column << 1.05 << 2.0 << 0.4;
    QTest::newRow("triangle with noise") << triangle << 0.8 << -10.0 << 1.0;
}

void CalibrationTest::fit_similarity()
{
    QFETCH(Points, from);
    QFETCH(double, scale);
    QFETCH(double, degrees);
    QFETCH(double, noise);

    const Similarity truth{scale, degrees * CV_PI / 180.0, {-37.5, 81.25}};
    // Noise that sums to zero in x and y, so the truth stays the best fit's neighbour.
    const Points offsets{{noise, -noise}, {-2 * noise, 0}, {noise, noise}};
    Triple source, target;
    for (int i = 0; i < 3; ++i) {
        source[i] = from[i];
        target[i] = apply(truth, from[i]) + offsets[i];
    }
    const std::optional<Similarity> fit = ::fit_similarity(source, target);
    QVERIFY(fit);
    const auto squared_error = [&](const Similarity& s) {
        double sum = 0.0;
        for (int i = 0; i < 3; ++i) {
            const cv::Point2d d = apply(s, source[i]) - target[i];
            sum += d.dot(d);
        }
        return sum;
    };
    if (noise == 0.0) {
        QVERIFY(squared_error(*fit) < 1e-18 * 1e6);
        QVERIFY(std::abs(fit->scale - scale) < 1e-12);
        const double turn = std::remainder(fit->rotation - truth.rotation, 2 * CV_PI);
        QVERIFY(std::abs(turn) < 1e-12);
        QVERIFY(cv::norm(fit->translation - truth.translation) < 1e-9);
        return;
    }
    // Least squares: no worse than the truth, nor than a nudge of any parameter.
    QVERIFY(squared_error(*fit) <= squared_error(truth) + 1e-9);
    for (const Similarity& nudged :
         {Similarity{fit->scale * 1.001, fit->rotation, fit->translation},
          Similarity{fit->scale, fit->rotation + 1e-3, fit->translation},
          Similarity{fit->scale, fit->rotation, fit->translation + cv::Point2d(0.05, 0)},
          Similarity{fit->scale, fit->rotation, fit->translation + cv::Point2d(0, -0.05)}})
        QVERIFY(squared_error(*fit) < squared_error(nudged));
    QVERIFY(std::abs(fit->scale - scale) < 0.01);
    QVERIFY(std::abs(fit->rotation - truth.rotation) < 0.01);
}

void CalibrationTest::fit_similarity_refuses()
{
    const Triple triangle{cv::Point2d(100, 100), cv::Point2d(300, 120), cv::Point2d(180, 260)};
    // Mirrored left to right: the best fit keeps its turn and scale positive and
    // cannot map the points exactly, as a reflection would.
    Triple mirrored;
    for (int i = 0; i < 3; ++i)
        mirrored[i] = {1000 - triangle[i].x, triangle[i].y};
    const std::optional<Similarity> fit = ::fit_similarity(triangle, mirrored);
    QVERIFY(fit && fit->scale > 0.0);
    double worst = 0.0;
    for (int i = 0; i < 3; ++i)
        worst = std::max(worst, cv::norm(apply(*fit, triangle[i]) - mirrored[i]));
    QVERIFY(worst > 50.0);

    const cv::Point2d p(250, 250);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    QVERIFY(!::fit_similarity({p, p, p}, triangle)); // no extent to map
    QVERIFY(!::fit_similarity(triangle, {p, p, p})); // scale 0
    QVERIFY(!::fit_similarity({p, p, cv::Point2d(nan, 0)}, triangle));
    QVERIFY(!::fit_similarity(triangle, {p, p, cv::Point2d(1e308, -1e308)}));
}

void CalibrationTest::synthetic_rig_is_aligned()
{
    // Five cameras look at one scene; the middle one defines the pixel frame. The
    // stickers stand one above the other through the middle camera's centre.
    const cv::Size size(640, 480);
    const cv::Point2d centre(size.width / 2, size.height / 2);
    const Points scene_stickers{{320, 150}, {320, 240}, {320, 330}};
    const std::vector<Camera> cameras{{-4.0, 0.93, {12, -8}},
                                      {2.5, 1.05, {-15, 6}},
                                      {0.0, 1.0, {0, 0}},
                                      {-1.5, 0.97, {9, 14}},
                                      {4.0, 1.07, {-18, -11}}};

    const int margin = 100;
    cv::Mat scene = draw_background(size + cv::Size(2 * margin, 2 * margin), 11);
    Points on_canvas;
    for (const cv::Point2d& sticker : scene_stickers)
        on_canvas.push_back(sticker + cv::Point2d(margin, margin));
    draw_stickers(scene, on_canvas, 11.0, StickerColor::Yellow);

    QTemporaryDir folder;
    QStringList paths;
    for (size_t k = 0; k < cameras.size(); ++k) {
        const Camera& camera = cameras[k];
        // Scene canvas -> photo: the similarity of seen_by, after removing the margin.
        const double a = camera.rotation_deg * CV_PI / 180;
        const cv::Matx22d linear =
            cv::Matx22d(std::cos(a), -std::sin(a), std::sin(a), std::cos(a)) * camera.scale;
        const cv::Point2d origin = seen_by(camera, {-double(margin), -double(margin)}, centre);
        const cv::Matx23d warp(linear(0, 0), linear(0, 1), origin.x, linear(1, 0), linear(1, 1),
                               origin.y);
        cv::Mat photo;
        cv::warpAffine(scene, photo, warp, size, cv::INTER_LINEAR);
        paths << write_photo(folder.path(), QString("camera_%1.jpg").arg(k), photo);
        QVERIFY(!paths.back().isEmpty());
    }

    ReferenceTriple reference;
    std::ostringstream log;
    const Calibration calibration = construct_calibration(paths, yellow, reference, log);
    QVERIFY2(calibration.all_aligned(), log.str().c_str());
    QVERIFY(reference.selected);

    // Every camera's entry takes what it sees back to where the middle camera
    // sees it, anywhere in the picture, not only at the stickers.
    double worst = 0.0;
    for (size_t k = 0; k < cameras.size(); ++k) {
        const ImageAlignment entry = calibration.alignment(int(k));
        QVERIFY(std::abs(entry.rotation_deg + cameras[k].rotation_deg) < 0.3);
        QVERIFY(std::abs(entry.scale * cameras[k].scale - 1.0) < 0.01);
        for (const cv::Point2d& scene_point :
             {scene_stickers[0], scene_stickers[2], cv::Point2d(40, 40), cv::Point2d(600, 440)}) {
            const cv::Point2d landed =
                apply(alignment_similarity(entry), seen_by(cameras[k], scene_point, centre));
            worst = std::max(worst, cv::norm(landed - scene_point));
        }
    }
    qInfo("largest misalignment: %.3f px", worst);
    QVERIFY(worst < 1.0);

    const QStringList lines = lines_of(log);
    QCOMPARE(lines.filter("alignement for validation :").size(), 5);
    QCOMPARE(lines.filter("Reference chosen :").size(), 1);
}

void CalibrationTest::single_photo_data()
{
    QTest::addColumn<Points>("stickers");
    QTest::addColumn<QString>("log");
    QTest::addColumn<bool>("aligned");

    QTest::newRow("in line, middle off centre")
        << Points{{320, 140}, {320, 250}, {320, 340}}
        << "3 CC detected : success\nReference chosen :\nx = 320 y = 140\nx = 320 y = 250\n"
           "x = 320 y = 340\n3 CC detected : success\nalignement for validation :1\n\n"
        << true;
    QTest::newRow("not in line")
        << Points{{320, 140}, {320, 240}, {360, 340}}
        << "3 CC detected : success\nReference chosen :\nx = 320 y = 140\nx = 320 y = 240\n"
           "x = 360 y = 340\n3 CC detected : success\nalignement for validation :0.928477\n\n"
        << false;
}

void CalibrationTest::single_photo()
{
    QFETCH(Points, stickers);
    QFETCH(QString, log);
    QFETCH(bool, aligned);

    // The only photo is both the reference and the photo aligned against it.
    QTemporaryDir folder;
    const QString path = write_png(folder.path(), "only.png", stickers);
    ReferenceTriple reference;
    std::ostringstream written;
    const Calibration calibration = construct_calibration({path}, yellow, reference, written);

    QCOMPARE(QString::fromStdString(written.str()), log);
    QCOMPARE(calibration.image_count, 1);
    // Aligned onto itself: the identity, wherever the middle sticker sits.
    compare_near(calibration.alignment(0),
                 aligned ? ImageAlignment{0.0, 0.0, 0.0, 1.0, true} : ImageAlignment{});
}

void CalibrationTest::pink_thresholds_reach_every_call()
{
    // Pink stickers and two yellow blobs: with the pink preset every photo shows
    // exactly three blobs, with the yellow one only two.
    QTemporaryDir folder;
    QStringList paths;
    for (int i = 0; i < 3; ++i) {
        cv::Mat photo =
            draw_sticker_photo({640, 480}, upright_stickers, 12.0, StickerColor::Pink, i);
        draw_stickers(photo, {{100, 100}, {540, 380}}, 12.0, StickerColor::Yellow);
        paths << write_photo(folder.path(), QString("ref_%1.jpg").arg(i), photo);
    }

    ReferenceTriple reference;
    std::ostringstream pink_log;
    const Calibration calibration = construct_calibration(paths, pink, reference, pink_log);
    QVERIFY(calibration.all_aligned());
    QCOMPARE(lines_of(pink_log).count("3 CC detected : success"), 4);

    std::ostringstream yellow_log;
    QVERIFY(!construct_calibration(paths, yellow, reference, yellow_log).aligned[0]);
    QCOMPARE(lines_of(yellow_log), QStringList{"less than 3 CC : detection failed"});
}

void CalibrationTest::failures_stay_unaligned_and_the_rest_go_on()
{
    // In a folder named as users name them: photo 0 needs the centre rule (a
    // sticker-sized blob off to the side), photo 1 is missing, photo 2 shows
    // exactly three stickers, photo 3 has small specks (area rule) and photo 4
    // shows no sticker.
    QTemporaryDir root;
    const QString folder = QDir(root.path()).filePath(QString::fromUtf8("Séance été \"n°2\""));
    QVERIFY(QDir().mkpath(folder));

    QStringList paths;
    cv::Mat centre_rule = draw_sticker_photo({640, 480}, upright_stickers);
    draw_stickers(centre_rule, {{560, 400}}, 12.0, StickerColor::Yellow);
    paths << write_photo(folder, "réf 0.png", centre_rule);
    paths << QDir(folder).filePath("réf 1.png");
    paths << write_png(folder, "réf 2.png", {{320, 150}, {320, 240}, {320, 330}});
    cv::Mat specks = draw_sticker_photo({640, 480}, upright_stickers);
    draw_stickers(specks, {{100, 60}, {560, 420}}, 1.0, StickerColor::Yellow);
    paths << write_photo(folder, "réf 3.png", specks);
    paths << write_photo(folder, "réf 4.png", draw_background({640, 480}));

    ReferenceTriple reference;
    std::ostringstream log;
    const Calibration calibration = construct_calibration(paths, yellow, reference, log);

    QCOMPARE(calibration.aligned, (std::vector<bool>{true, false, true, true, false}));
    // Reduced by 0.9 about the picture centre, where both sets of stickers are centred.
    compare_near(calibration.alignment(0), {32, 24, 0, 0.9, true});
    compare_entries(calibration.alignment(1), {});

    const QStringList lines = lines_of(log);
    QCOMPARE(lines.count("could not read image '" + paths[1] + "'"), 1);
    QCOMPARE(lines.count("3rd > 2* 4th"), 1);
    // Only the centre rule lists the chosen centres, topmost first, just before
    // the alignment line.
    QCOMPARE(lines.count("test image newcentroids :"), 1);
    const int block = lines.indexOf("test image newcentroids :");
    QCOMPARE(lines.mid(block, 5),
             (QStringList{"test image newcentroids :", "x = 320 y = 140", "x = 320 y = 240",
                          "x = 320 y = 340", "alignement for validation :1"}));
    QCOMPARE(lines.last(), QString("less than 3 CC : detection failed"));
}

QTEST_GUILESS_MAIN(CalibrationTest)
#include "calibration_test.moc"
