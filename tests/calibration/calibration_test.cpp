#include "calibration/alignment.h"
#include "calibration/calibration.h"
#include "calibration/calibration_construction.h"
#include "tests/support/sticker_drawing.h"

#include <opencv2/imgproc.hpp>

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <sstream>

Q_DECLARE_METATYPE(std::vector<cv::Point2d>)

namespace {

const ColorThresholds yellow = thresholds_for(StickerColor::Yellow);
const ColorThresholds pink = thresholds_for(StickerColor::Pink);

ReferenceTriple selected(cv::Point2d r0, cv::Point2d r1, cv::Point2d r2)
{
    return {{r0, r1, r2}, true};
}

const ReferenceTriple vertical_reference = selected({500, 100}, {500, 300}, {500, 500});

QStringList lines_of(const std::ostringstream& log)
{
    return QString::fromStdString(log.str()).split('\n', Qt::SkipEmptyParts);
}

bool close_to(double actual, double expected)
{
    return std::abs(actual - expected) <= 1e-9 * std::max(1.0, std::abs(expected));
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

// Where an image point ends up in an output frame, relative to the frame centre:
// shifted by the translation, then rotated and scaled about the image centre.
cv::Point2d output_position(const ImageAlignment& entry, cv::Point2d point, cv::Point2d centre)
{
    const cv::Point2d shifted =
        point - centre + cv::Point2d(entry.translation_x, entry.translation_y);
    return rotate(shifted, entry.rotation_deg) * entry.scale;
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

QString write_png(const QString& folder, const QString& name,
                  const std::vector<cv::Point2d>& stickers,
                  StickerColor color = StickerColor::Yellow)
{
    return write_photo(folder, name, draw_sticker_photo({640, 480}, stickers, 12.0, color));
}

const std::vector<cv::Point2d> upright_stickers{{320, 140}, {320, 240}, {320, 340}};

} // namespace

class CalibrationTest : public QObject
{
    Q_OBJECT

private slots:
    void records();
    void resize_data();
    void resize();

    void estimate_data();
    void estimate();
    void failed_estimate_keeps_the_earlier_entry();
    void manual_order_data();
    void manual_order();

    void synthetic_rig_is_aligned();
    void single_photo_data();
    void single_photo();
    void failed_selection_aligns_nothing();
    void pink_thresholds_reach_every_call();
    void failures_stay_unaligned_and_the_rest_go_on();
    void empty_reference_list();
};

void CalibrationTest::records()
{
    const Calibration empty;
    QCOMPARE(empty.image_count, 0);
    QVERIFY(empty.translation_x.empty() && empty.translation_y.empty() &&
            empty.rotation_deg.empty() && empty.scale.empty() && empty.aligned.empty());
    QVERIFY(!empty.all_aligned());

    Calibration three = Calibration::with_count(3);
    QCOMPARE(three.image_count, 3);
    QCOMPARE(three.aligned, std::vector<bool>(3, false));
    QCOMPARE(three.scale, std::vector<double>(3, 0.0));
    QVERIFY(!three.all_aligned());

    three.translation_x[1] = 4.5;
    three.scale[1] = 1.25;
    three.aligned[1] = true;
    compare_entries(three.alignment(1), {4.5, 0.0, 0.0, 1.25, true});
    compare_entries(three.alignment(3), {});
    compare_entries(three.alignment(-1), {});
    three.aligned = {true, true, true};
    QVERIFY(three.all_aligned());
}

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
    QCOMPARE(int(calibration.translation_x.size()), size);
    QCOMPARE(int(calibration.translation_y.size()), size);
    QCOMPARE(int(calibration.rotation_deg.size()), size);
    QCOMPARE(int(calibration.scale.size()), size);
    QCOMPARE(int(calibration.aligned.size()), size);
    for (int i = 0; i < size; ++i)
        compare_entries(calibration.alignment(i), i < 3 ? before.alignment(i) : ImageAlignment{});
}

void CalibrationTest::estimate_data()
{
    QTest::addColumn<std::vector<cv::Point2d>>("reference");
    QTest::addColumn<std::vector<cv::Point2d>>("table");
    QTest::addColumn<QVector<int>>("indices");
    QTest::addColumn<QString>("colinearity"); // as logged
    QTest::addColumn<bool>("stored");
    QTest::addColumn<double>("translation_x");
    QTest::addColumn<double>("translation_y");
    QTest::addColumn<double>("scale");
    QTest::addColumn<double>("rotation_deg");

    const std::vector<cv::Point2d> vertical{{500, 100}, {500, 300}, {500, 500}};
    const std::vector<cv::Point2d> none{{0, 0}, {0, 0}, {0, 0}};
    const QVector<int> in_order{0, 1, 2};

    QTest::newRow("half as far apart, shifted")
        << vertical << std::vector<cv::Point2d>{{600, 150}, {600, 250}, {600, 350}} << in_order
        << "1" << true << -100.0 << 50.0 << 2.0 << 0.0;
    QTest::newRow("rows picked by the indices")
        << vertical << std::vector<cv::Point2d>{{9, 9}, {600, 350}, {600, 150}, {7, 7}, {600, 250}}
        << QVector<int>{2, 4, 1} << "1" << true << -100.0 << 50.0 << 2.0 << 0.0;
    QTest::newRow("bottom to top turns half a turn")
        << vertical << std::vector<cv::Point2d>{{600, 150}, {600, 250}, {600, 350}}
        << QVector<int>{2, 1, 0} << "1" << true << -100.0 << 50.0 << 2.0 << -180.00000020567998;
    // The divisor 3.14159265 is slightly less than pi.
    QTest::newRow("quarter turn is not exactly 90")
        << vertical << std::vector<cv::Point2d>{{700, 300}, {600, 300}, {500, 300}} << in_order
        << "1" << true << -100.0 << 0.0 << 2.0 << -90.00000010283999;
    QTest::newRow("the reference itself")
        << std::vector<cv::Point2d>{{500, 100}, {500, 290}, {500, 500}}
        << std::vector<cv::Point2d>{{500, 100}, {500, 290}, {500, 500}} << in_order << "1" << true
        << 0.0 << -10.0 << 1.0 << 0.0;
    QTest::newRow("just above 0.98")
        << vertical << std::vector<cv::Point2d>{{0, -100}, {0, 0}, {19.8, 98}} << in_order
        << "0.980194" << true << 490.1 << 301.0 << 2.010176141838362 << 5.7105931440249496;
    {
        const double a = 179 * CV_PI / 180;
        const double b = -179 * CV_PI / 180;
        const cv::Point2d r1(500, 300), p2(600, 400);
        const cv::Point2d r(std::cos(a), std::sin(a)), p(std::cos(b), std::sin(b));
        QTest::newRow("179 against -179 is not wrapped")
            << std::vector<cv::Point2d>{r1 + 100 * r, r1, r1 - 100 * r}
            << std::vector<cv::Point2d>{p2 + 100 * p, p2 + 50 * p, p2} << in_order << "1" << true
            << -50.007615242180464 << -99.12737967813587 << 2.0 << 358.00000040907463;
    }

    QTest::newRow("not in line") << vertical
                                 << std::vector<cv::Point2d>{{100, 100}, {100, 200}, {150, 300}}
                                 << in_order << "0.894427" << false << 0.0 << 0.0 << 0.0 << 0.0;
    QTest::newRow("exactly 0.98 is rejected")
        << vertical << std::vector<cv::Point2d>{{0, -100}, {0, 0}, {19.899748742132378, 98}}
        << in_order << "0.98" << false << 0.0 << 0.0 << 0.0 << 0.0;
    QTest::newRow("top equals middle")
        << vertical << std::vector<cv::Point2d>{{600, 150}, {600, 150}, {600, 350}} << in_order
        << "nan" << false << 0.0 << 0.0 << 0.0 << 0.0;
    QTest::newRow("all three equal")
        << vertical << std::vector<cv::Point2d>{{600, 150}, {600, 150}, {600, 150}} << in_order
        << "nan" << false << 0.0 << 0.0 << 0.0 << 0.0;
    // In line by the cosine test, but with no length and no direction.
    QTest::newRow("top equals bottom")
        << vertical << std::vector<cv::Point2d>{{600, 150}, {650, 250}, {600, 150}} << in_order
        << "1" << false << 0.0 << 0.0 << 0.0 << 0.0;
    QTest::newRow("reference never selected")
        << none << std::vector<cv::Point2d>{{600, 150}, {600, 250}, {600, 350}} << in_order << "1"
        << false << 0.0 << 0.0 << 0.0 << 0.0;
    QTest::newRow("infinite bottom")
        << vertical << std::vector<cv::Point2d>{{600, 150}, {600, 250}, {600, HUGE_VAL}} << in_order
        << "nan" << false << 0.0 << 0.0 << 0.0 << 0.0;
}

void CalibrationTest::estimate()
{
    QFETCH(std::vector<cv::Point2d>, reference);
    QFETCH(std::vector<cv::Point2d>, table);
    QFETCH(QVector<int>, indices);
    QFETCH(QString, colinearity);
    QFETCH(bool, stored);
    QFETCH(double, translation_x);
    QFETCH(double, translation_y);
    QFETCH(double, scale);
    QFETCH(double, rotation_deg);

    Calibration calibration = Calibration::with_count(3);
    std::ostringstream log;
    estimate_alignment(calibration, 1, {indices[0], indices[1], indices[2]}, table,
                       {{reference[0], reference[1], reference[2]}, true}, log);

    QCOMPARE(QString::fromStdString(log.str()),
             "alignement for validation :" + colinearity + "\n\n");
    const ImageAlignment entry = calibration.alignment(1);
    QCOMPARE(entry.aligned, stored);
    QVERIFY2(close_to(entry.translation_x, translation_x),
             qPrintable(QString::number(entry.translation_x, 'g', 17)));
    QVERIFY2(close_to(entry.translation_y, translation_y),
             qPrintable(QString::number(entry.translation_y, 'g', 17)));
    QVERIFY2(close_to(entry.scale, scale), qPrintable(QString::number(entry.scale, 'g', 17)));
    QVERIFY2(close_to(entry.rotation_deg, rotation_deg),
             qPrintable(QString::number(entry.rotation_deg, 'g', 17)));
    compare_entries(calibration.alignment(0), {});
    compare_entries(calibration.alignment(2), {});
}

void CalibrationTest::failed_estimate_keeps_the_earlier_entry()
{
    Calibration calibration = Calibration::with_count(2);
    std::ostringstream log;
    align_manually(calibration, 0, 600, 150, 600, 250, 600, 350, vertical_reference, log);
    const ImageAlignment first = calibration.alignment(0);
    QVERIFY(first.aligned);

    // A manual retry whose clicks are not in line changes nothing.
    align_manually(calibration, 0, 100, 100, 100, 200, 150, 300, vertical_reference, log);
    compare_entries(calibration.alignment(0), first);
    // A successful one replaces the entry.
    align_manually(calibration, 0, 600, 100, 600, 300, 600, 500, vertical_reference, log);
    compare_entries(calibration.alignment(0), {-100, 0, 0, 1, true});
    // An index outside the record is ignored.
    align_manually(calibration, 2, 600, 100, 600, 300, 600, 500, vertical_reference, log);
    QCOMPARE(calibration.image_count, 2);
}

void CalibrationTest::manual_order_data()
{
    QTest::addColumn<std::vector<cv::Point2d>>("clicks");
    QTest::addColumn<QVector<int>>("order");

    // Nearly horizontal lines: every order passes the line test, and each gives
    // its own translation and rotation, so the stored entry reveals the order.
    using Points = std::vector<cv::Point2d>;
    QTest::newRow("y2 > y1, y3 > y2")
        << Points{{100, 10}, {300, 20}, {500, 30}} << QVector<int>{0, 1, 2};
    QTest::newRow("y1 < y3 < y2") << Points{{100, 10}, {500, 30}, {300, 20}}
                                  << QVector<int>{0, 2, 1};
    QTest::newRow("y3 < y1 < y2") << Points{{300, 20}, {500, 30}, {100, 10}}
                                  << QVector<int>{2, 0, 1};
    QTest::newRow("y2 < y1 < y3") << Points{{300, 20}, {100, 10}, {500, 30}}
                                  << QVector<int>{1, 0, 2};
    QTest::newRow("y3 < y2 < y1") << Points{{500, 30}, {300, 20}, {100, 10}}
                                  << QVector<int>{2, 1, 0};
    QTest::newRow("y2 < y3 < y1") << Points{{500, 30}, {100, 10}, {300, 20}}
                                  << QVector<int>{1, 2, 0};
    QTest::newRow("clicks of the text")
        << Points{{120, 40}, {118, 400}, {121, 220}} << QVector<int>{0, 2, 1};
    // Equal heights: the later click comes first.
    QTest::newRow("all at one height")
        << Points{{100, 20}, {300, 20}, {500, 20}} << QVector<int>{2, 1, 0};
    QTest::newRow("y1 = y2 < y3") << Points{{100, 20}, {300, 20}, {500, 21}}
                                  << QVector<int>{1, 0, 2};
    QTest::newRow("y1 = y3 < y2") << Points{{100, 20}, {500, 21}, {300, 20}}
                                  << QVector<int>{2, 0, 1};
    QTest::newRow("y2 = y3 < y1") << Points{{500, 21}, {100, 20}, {300, 20}}
                                  << QVector<int>{2, 1, 0};
    QTest::newRow("y1 < y2 = y3") << Points{{100, 19}, {300, 20}, {500, 20}}
                                  << QVector<int>{0, 2, 1};
}

void CalibrationTest::manual_order()
{
    QFETCH(std::vector<cv::Point2d>, clicks);
    QFETCH(QVector<int>, order);

    Calibration by_clicks = Calibration::with_count(1);
    std::ostringstream click_log;
    align_manually(by_clicks, 0, clicks[0].x, clicks[0].y, clicks[1].x, clicks[1].y, clicks[2].x,
                   clicks[2].y, vertical_reference, click_log);

    Calibration expected = Calibration::with_count(1);
    std::ostringstream expected_log;
    estimate_alignment(expected, 0, {order[0], order[1], order[2]}, clicks, vertical_reference,
                       expected_log);

    QVERIFY(expected.aligned[0]);
    compare_entries(by_clicks.alignment(0), expected.alignment(0));
    QCOMPARE(click_log.str(), expected_log.str());
}

void CalibrationTest::synthetic_rig_is_aligned()
{
    // Five cameras look at one scene; the middle one defines the pixel frame. The
    // stickers stand one above the other through the middle camera's centre.
    const cv::Size size(640, 480);
    const cv::Point2d centre(size.width / 2, size.height / 2);
    const std::vector<cv::Point2d> scene_stickers{{320, 150}, {320, 240}, {320, 330}};
    const std::vector<Camera> cameras{{-4.0, 0.93, {12, -8}},
                                      {2.5, 1.05, {-15, 6}},
                                      {0.0, 1.0, {0, 0}},
                                      {-1.5, 0.97, {9, 14}},
                                      {4.0, 1.07, {-18, -11}}};

    const int margin = 100;
    cv::Mat scene = draw_background(size + cv::Size(2 * margin, 2 * margin), 11);
    std::vector<cv::Point2d> on_canvas;
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

    // The middle camera's frame is where every camera's stickers must land.
    const ImageAlignment middle = calibration.alignment(2);
    double worst = 0.0;
    for (size_t k = 0; k < cameras.size(); ++k) {
        const ImageAlignment entry = calibration.alignment(int(k));
        QVERIFY(std::abs(entry.rotation_deg + cameras[k].rotation_deg) < 0.3);
        QVERIFY(std::abs(entry.scale * cameras[k].scale - 1.0) < 0.01);
        for (const cv::Point2d& sticker : scene_stickers) {
            const cv::Point2d landed =
                output_position(entry, seen_by(cameras[k], sticker, centre), centre);
            const cv::Point2d wanted = output_position(middle, sticker, centre);
            worst = std::max(worst, cv::norm(landed - wanted));
        }
    }
    qInfo("largest sticker misalignment: %.3f px", worst);
    QVERIFY(worst < 1.0);

    const QStringList lines = lines_of(log);
    QCOMPARE(lines.filter("alignement for validation :").size(), 5);
    QCOMPARE(lines.filter("Reference chosen :").size(), 1);
}

void CalibrationTest::single_photo_data()
{
    QTest::addColumn<std::vector<cv::Point2d>>("stickers");
    QTest::addColumn<QString>("log");
    QTest::addColumn<bool>("aligned");

    QTest::newRow("in line, middle off centre")
        << std::vector<cv::Point2d>{{320, 140}, {320, 250}, {320, 340}}
        << "3 CC detected : success\nReference chosen :\nx = 320 y = 140\nx = 320 y = 250\n"
           "x = 320 y = 340\n3 CC detected : success\nalignement for validation :1\n\n"
        << true;
    QTest::newRow("not in line")
        << std::vector<cv::Point2d>{{320, 140}, {320, 240}, {360, 340}}
        << "3 CC detected : success\nReference chosen :\nx = 320 y = 140\nx = 320 y = 240\n"
           "x = 360 y = 340\n3 CC detected : success\nalignement for validation :0.928477\n\n"
        << false;
}

void CalibrationTest::single_photo()
{
    QFETCH(std::vector<cv::Point2d>, stickers);
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
    if (aligned) {
        // Translation: from the outer stickers' midpoint to the middle sticker.
        compare_entries(calibration.alignment(0), {0.0, 10.0, 0.0, 1.0, true});
    } else {
        compare_entries(calibration.alignment(0), {});
    }
}

void CalibrationTest::failed_selection_aligns_nothing()
{
    // The third of four photos (the middle one) shows only two stickers.
    QTemporaryDir folder;
    QStringList paths;
    for (int i = 0; i < 4; ++i) {
        paths << write_png(folder.path(), QString("ref_%1.png").arg(i),
                           i == 2 ? std::vector<cv::Point2d>{{320, 140}, {320, 340}}
                                  : upright_stickers);
    }
    ReferenceTriple reference = selected({1, 2}, {3, 4}, {5, 6});
    std::ostringstream log;
    const Calibration calibration = construct_calibration(paths, yellow, reference, log);

    QCOMPARE(lines_of(log), QStringList{"less than 3 CC : detection failed"});
    QCOMPARE(calibration.image_count, 4);
    for (int i = 0; i < 4; ++i)
        compare_entries(calibration.alignment(i), {});
    QCOMPARE(reference.points[1], cv::Point2d(3, 4));
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
    cv::Mat centre_rule = draw_sticker_photo({640, 480}, upright_stickers, 12.0);
    draw_stickers(centre_rule, {{560, 400}}, 12.0, StickerColor::Yellow);
    paths << write_photo(folder, "réf 0.png", centre_rule);
    paths << QDir(folder).filePath("réf 1.png");
    paths << write_png(folder, "réf 2.png", {{320, 150}, {320, 240}, {320, 330}});
    cv::Mat specks = draw_sticker_photo({640, 480}, upright_stickers, 12.0);
    draw_stickers(specks, {{100, 60}, {560, 420}}, 1.0, StickerColor::Yellow);
    paths << write_photo(folder, "réf 3.png", specks);
    paths << write_photo(folder, "réf 4.png", draw_background({640, 480}));

    ReferenceTriple reference;
    std::ostringstream log;
    const Calibration calibration = construct_calibration(paths, yellow, reference, log);

    QCOMPARE(calibration.aligned, (std::vector<bool>{true, false, true, true, false}));
    compare_entries(calibration.alignment(0), {0, 0, 0, 180.0 / 200.0, true});
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

    std::vector<int> left;
    for (int i = 0; i < calibration.image_count; ++i) {
        if (!calibration.aligned[i])
            left.push_back(i);
    }
    QCOMPARE(left, (std::vector<int>{1, 4}));
}

void CalibrationTest::empty_reference_list()
{
    ReferenceTriple reference = selected({1, 2}, {3, 4}, {5, 6});
    std::ostringstream log;
    const Calibration calibration = construct_calibration({}, yellow, reference, log);
    QCOMPARE(calibration.image_count, 0);
    QVERIFY(calibration.aligned.empty() && calibration.scale.empty());
    QVERIFY(!calibration.all_aligned());
    QCOMPARE(reference.points[2], cv::Point2d(5, 6));
}

QTEST_GUILESS_MAIN(CalibrationTest)
#include "calibration_test.moc"
