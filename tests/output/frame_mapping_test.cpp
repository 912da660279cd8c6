// Where photo points land in a frame, and shots of another size than the
// reference photos: checked against the frames the renderer actually draws.

#include "calibration/alignment.h"
#include "calibration/calibration_construction.h"
#include "output/bilinear_warp.h"
#include "output/calibration_check.h"
#include "output/frame_geometry.h"
#include "output/frame_render.h"
#include "output/shot_sizes.h"
#include "tests/support/sticker_drawing.h"

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <QDir>
#include <QPainter>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <cmath>
#include <sstream>

Q_DECLARE_METATYPE(ImageAlignment)
Q_DECLARE_METATYPE(cv::Matx23d)

namespace {

// A black photo with a white disc of radius `radius` about each point.
QImage dots(QSize size, const std::vector<QPointF>& points, double radius)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::black);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::white);
    // QPainter puts pixel (x, y)'s centre at (x + 0.5, y + 0.5).
    for (const QPointF& point : points)
        painter.drawEllipse(point + QPointF(0.5, 0.5), radius, radius);
    return image;
}

// The brightness-weighted centre of the pixels within `reach` of `near`.
QPointF bright_centre(const QImage& frame, QPointF near, double reach)
{
    double total = 0, x = 0, y = 0;
    for (int row = 0; row < frame.height(); ++row) {
        for (int column = 0; column < frame.width(); ++column) {
            if (QLineF(QPointF(column, row), near).length() > reach)
                continue;
            const double weight = qGray(frame.pixel(column, row));
            total += weight;
            x += weight * column;
            y += weight * row;
        }
    }
    return total > 0 ? QPointF(x / total, y / total) : QPointF(-1e9, -1e9);
}

// Bilinear sampling in doubles, border pixels repeated: what warp_bilinear approximates.
cv::Mat exact_warp(const cv::Mat& source, const cv::Matx23d& map, cv::Size size)
{
    cv::Mat target(size, CV_8UC4);
    const auto at = [&](int x, int y, int c) {
        return double(source.at<cv::Vec4b>(std::clamp(y, 0, source.rows - 1),
                                           std::clamp(x, 0, source.cols - 1))[c]);
    };
    for (int y = 0; y < size.height; ++y) {
        for (int x = 0; x < size.width; ++x) {
            const double sx = map(0, 0) * x + map(0, 1) * y + map(0, 2);
            const double sy = map(1, 0) * x + map(1, 1) * y + map(1, 2);
            const int ix = int(std::floor(sx)), iy = int(std::floor(sy));
            const double fx = sx - ix, fy = sy - iy;
            for (int c = 0; c < 4; ++c)
                target.at<cv::Vec4b>(y, x)[c] = cv::saturate_cast<uchar>(
                    (at(ix, iy, c) * (1 - fx) + at(ix + 1, iy, c) * fx) * (1 - fy) +
                    (at(ix, iy + 1, c) * (1 - fx) + at(ix + 1, iy + 1, c) * fx) * fy);
        }
    }
    return target;
}

// Where `point` of the photo lands in a frame cut from `rect` of the reference frame.
QPointF frame_point(const ImageAlignment& alignment, const QRect& rect, QPointF point)
{
    const cv::Point2d at = apply(alignment_similarity(alignment), {point.x(), point.y()});
    return QPointF(at.x - rect.x(), at.y - rect.y());
}

const QSize photo_size(400, 300);
const std::vector<QPointF> marks{{200, 150}, {130.25, 90.5}, {260, 200}};

} // namespace

class FrameMappingTest : public QObject
{
    Q_OBJECT

private slots:
    void warp_samples_between_pixels_data();
    void warp_samples_between_pixels();
    void points_land_where_drawn_data();
    void points_land_where_drawn();
    void smaller_shot_gives_the_same_frame_data();
    void smaller_shot_gives_the_same_frame();
    void shots_are_fitted_to_the_rig_data();
    void shots_are_fitted_to_the_rig();
    void check_shows_a_sound_rig_and_a_camera_off();
};

void FrameMappingTest::warp_samples_between_pixels_data()
{
    QTest::addColumn<QSize>("source");
    QTest::addColumn<cv::Matx23d>("map");
    QTest::addColumn<QSize>("target");
    const double a = 0.03, s = 1 / 1.07;
    const cv::Matx23d turned(std::cos(a) * s, std::sin(a) * s, 3.3, -std::sin(a) * s,
                             std::cos(a) * s, 5.8);
    // Widths that leave a part group of 8 at each row's end.
    QTest::newRow("identity") << QSize(64, 40) << cv::Matx23d(1, 0, 0, 0, 1, 0) << QSize(61, 37);
    QTest::newRow("fractions") << QSize(64, 40) << cv::Matx23d(1, 0, 0.37, 0, 1, 0.81)
                               << QSize(59, 35);
    QTest::newRow("turned and scaled") << QSize(120, 90) << turned << QSize(101, 77);
    QTest::newRow("beyond every edge")
        << QSize(50, 30) << cv::Matx23d(0.9, 0.1, -12.4, -0.1, 0.9, -9.7) << QSize(83, 61);
    QTest::newRow("a quarter turn")
        << QSize(40, 70) << cv::Matx23d(0, 1, 0.25, -1, 0, 39.5) << QSize(69, 39);
    QTest::newRow("enlarged") << QSize(30, 20) << cv::Matx23d(0.23, 0, 1.1, 0, 0.31, 0.6)
                              << QSize(117, 53);
    QTest::newRow("wider than a tile") << QSize(330, 40) << turned << QSize(301, 23);
    QTest::newRow("one column") << QSize(1, 20) << cv::Matx23d(1, 0, 0.5, 0, 1, 0.5)
                                << QSize(17, 19);
}

// Against sampling in doubles on noise, the hardest picture for any slip of a
// lane or channel: within the 1/64 pixel steps of the weights.
void FrameMappingTest::warp_samples_between_pixels()
{
    QFETCH(QSize, source);
    QFETCH(cv::Matx23d, map);
    QFETCH(QSize, target);
    cv::Mat noise(source.height(), source.width(), CV_8UC4);
    cv::RNG random(7);
    random.fill(noise, cv::RNG::UNIFORM, 0, 256);
    cv::Mat warped(target.height(), target.width(), CV_8UC4, cv::Scalar::all(1));
    warp_bilinear(noise, map, warped);
    cv::Mat difference;
    cv::absdiff(warped, exact_warp(noise, map, warped.size()), difference);
    double worst = 0;
    cv::minMaxLoc(difference.reshape(1), nullptr, &worst);
    QVERIFY2(worst <= 3, qPrintable(QString("off by %1").arg(worst)));
    // And a band of rows warped on its own is those rows of the whole.
    const cv::Matx23d from_row_5(map(0, 0), map(0, 1), map(0, 2) + 5 * map(0, 1), map(1, 0),
                                 map(1, 1), map(1, 2) + 5 * map(1, 1));
    cv::Mat band(target.height() - 5, target.width(), CV_8UC4);
    warp_bilinear(noise, from_row_5, band);
    QCOMPARE(cv::norm(band, warped.rowRange(5, warped.rows), cv::NORM_INF), 0.0);
}

void FrameMappingTest::points_land_where_drawn_data()
{
    QTest::addColumn<ImageAlignment>("alignment");
    QTest::newRow("identity") << ImageAlignment{0, 0, 0, 1, true};
    QTest::newRow("shifted") << ImageAlignment{12.7, -8.2, 0, 1, true};
    QTest::newRow("turned and enlarged") << ImageAlignment{-6, 4, 15, 1.3, true};
    QTest::newRow("turned back and reduced") << ImageAlignment{9, 11, -40, 0.7, true};
}

void FrameMappingTest::points_land_where_drawn()
{
    QFETCH(ImageAlignment, alignment);
    const QImage photo = dots(photo_size, marks, 3.0);
    // A rectangle a little smaller than this camera's own, as in a rig.
    const QRect rect = common_frame_rect({photo_size}, {alignment}, 0).adjusted(8, 4, -8, -6);
    const QImage rendered = render_frame(photo, alignment, rect);
    for (const QPointF& mark : marks) {
        const QPointF expected = frame_point(alignment, rect, mark);
        if (!QRectF(8, 8, rect.width() - 16, rect.height() - 16).contains(expected))
            continue;
        const QPointF found = bright_centre(rendered, expected, 8 * alignment.scale);
        QVERIFY2(QLineF(found, expected).length() < 0.1,
                 qPrintable(QString("mark (%1, %2): expected (%3, %4), drawn at (%5, %6)")
                                .arg(mark.x())
                                .arg(mark.y())
                                .arg(expected.x())
                                .arg(expected.y())
                                .arg(found.x())
                                .arg(found.y())));
    }
}

void FrameMappingTest::smaller_shot_gives_the_same_frame_data()
{
    points_land_where_drawn_data();
}

void FrameMappingTest::smaller_shot_gives_the_same_frame()
{
    QFETCH(ImageAlignment, alignment);
    const QImage photo = dots(photo_size, marks, 6.0);
    std::vector<QPointF> halved;
    for (const QPointF& mark : marks)
        halved.push_back((mark + QPointF(0.5, 0.5)) * 0.5 - QPointF(0.5, 0.5));
    const QImage small = dots(photo_size / 2, halved, 3.0);
    const ImageAlignment resized = alignment_for_resized_input(alignment, 0.5);

    // Both cover the same part of the reference frame, to a pixel.
    const QRect full_rect = common_frame_rect({photo_size}, {alignment}, 0);
    const QRect small_rect = common_frame_rect({photo_size / 2}, {resized}, 0);
    QVERIFY(std::abs(full_rect.width() - small_rect.width()) <= 2);
    QVERIFY(std::abs(full_rect.height() - small_rect.height()) <= 2);
    QVERIFY((full_rect.center() - small_rect.center()).manhattanLength() <= 2);

    const QRect rect = full_rect.intersected(small_rect);
    const QImage from_full = render_frame(photo, alignment, rect);
    const QImage from_small = render_frame(small, resized, rect);
    for (const QPointF& mark : marks) {
        const QPointF expected = frame_point(alignment, rect, mark);
        if (!QRectF(12, 12, rect.width() - 24, rect.height() - 24).contains(expected))
            continue;
        const double reach = 12 * alignment.scale;
        const QPointF found = bright_centre(from_small, expected, reach);
        QVERIFY2(QLineF(found, bright_centre(from_full, expected, reach)).length() < 0.3,
                 qPrintable(QString("(%1, %2)").arg(found.x()).arg(found.y())));
    }
}

void FrameMappingTest::shots_are_fitted_to_the_rig_data()
{
    QTest::addColumn<QSize>("shot");
    QTest::addColumn<double>("factor"); // 0 when refused
    QTest::addColumn<QString>("line");
    QTest::newRow("same size") << QSize(600, 400) << 1.0 << QString();
    QTest::newRow("half") << QSize(300, 200) << 0.5
                          << "Camera 2: shot 300x200, reference 600x400, alignment scaled by 0.5";
    // As 6000 x 4000 gives 4240 x 2832.
    QTest::newRow("rounded by the camera")
        << QSize(424, 283) << (424.0 / 600 + 283.0 / 400) / 2
        << "Camera 2: shot 424x283, reference 600x400, alignment scaled by 0.707083";
    QTest::newRow("4:3 against 3:2") << QSize(400, 300) << 0.0 << QString();
    QTest::newRow("a quarter turn") << QSize(400, 600) << 0.0 << QString();
}

void FrameMappingTest::shots_are_fitted_to_the_rig()
{
    QFETCH(QSize, shot);
    QFETCH(double, factor);
    QFETCH(QString, line);

    QTemporaryDir folder;
    RigCalibration rig;
    rig.cameras.resize(3);
    QStringList shots;
    for (int i = 0; i < 3; ++i) {
        CameraCalibration& camera = rig.cameras[i];
        camera.reference_size = {600, 400};
        camera.method = i == 2 ? AlignmentMethod::NotAligned : AlignmentMethod::Automatic;
        if (i != 2)
            camera.transform = {10.0 + i, -4.0, 2.0, 1.1, true};
        const QSize size = i == 0 ? QSize(600, 400) : shot;
        const QString path = QDir(folder.path()).filePath(QString("shot_%1.png").arg(i));
        QImage image(size, QImage::Format_RGB32);
        image.fill(Qt::gray);
        QVERIFY(image.save(path));
        shots << path;
    }

    std::ostringstream log;
    const ShotCalibration fitted = fit_calibration_to_shots(rig, shots, log);
    QCOMPARE(QString::fromStdString(log.str()).trimmed(), line);
    if (factor == 0.0) {
        QVERIFY(fitted.mismatch);
        QCOMPARE(fitted.mismatch->camera, 1);
        QCOMPARE(fitted.mismatch->shot, shots[1]);
        QCOMPARE(fitted.mismatch->shot_size, shot);
        QCOMPARE(fitted.mismatch->reference_size, QSize(600, 400));
        return;
    }
    QVERIFY(!fitted.mismatch);
    const ImageAlignment expected = alignment_for_resized_input(rig.cameras[1].transform, factor);
    const ImageAlignment actual = fitted.calibration.alignment(1);
    QCOMPARE(actual.translation_x, expected.translation_x);
    QCOMPARE(actual.scale, expected.scale);
    QCOMPARE(fitted.calibration.alignment(0).scale, 1.1);
    // A camera not aligned stays so, whatever its shot.
    QVERIFY(!fitted.calibration.aligned[2]);
}

void FrameMappingTest::check_shows_a_sound_rig_and_a_camera_off()
{
    QTemporaryDir folder;
    QStringList paths;
    std::vector<QImage> photos;
    for (int i = 0; i < 3; ++i) {
        // Each camera sees the stickers shifted, turned and nearer or farther.
        const double angle = (i - 1) * 3.0 * CV_PI / 180.0;
        const double spacing = 60.0 + 6 * i;
        const cv::Point2d middle(200 + 9.0 * (i - 1), 150 - 5.0 * (i - 1));
        const cv::Point2d step(-std::sin(angle) * spacing, std::cos(angle) * spacing);
        paths << write_photo(
            folder.path(), QString("ref_%1.png").arg(i),
            draw_sticker_photo({400, 300}, {middle - step, middle, middle + step}));
        photos.push_back(QImage(paths.back()));
    }
    ReferenceTriple reference;
    std::ostringstream log;
    RigCalibration rig = construct_rig_calibration(paths, StickerColor::Yellow, reference, log);
    const QRect frame = check_frame_rect(rig);
    QVERIFY(!frame.isEmpty());

    for (int i = 0; i < 3; ++i) {
        const CameraCheck check = check_camera(rig, i, frame);
        QVERIFY2(check.fit_error >= 0 && check.fit_error < 1.0,
                 qPrintable(QString("camera %1: %2").arg(i).arg(check.fit_error)));
        // The warped photo shows its middle sticker where the reference's lands.
        const QImage aligned = aligned_photo(photos[i], rig.cameras[i], frame);
        QCOMPARE(aligned.size(), frame.size());
        double total = 0, x = 0, y = 0;
        for (int row = 0; row < aligned.height(); ++row) {
            for (int column = 0; column < aligned.width(); ++column) {
                const QRgb pixel = aligned.pixel(column, row);
                if (qRed(pixel) < 150 || qGreen(pixel) < 150 || qBlue(pixel) > 120 ||
                    QLineF(QPointF(column, row), check.reference[1]).length() > 20)
                    continue;
                total += 1;
                x += column;
                y += row;
            }
        }
        QVERIFY(total > 100);
        QVERIFY(QLineF(QPointF(x / total, y / total), check.reference[1]).length() < 1.5);
    }

    // A camera knocked 10 pixels sideways shows it.
    rig.cameras[0].transform.translation_x += 10;
    const double off = check_camera(rig, 0, frame).fit_error;
    QVERIFY2(off > 8 && off < 12, qPrintable(QString::number(off)));
    rig.cameras[2].method = AlignmentMethod::NotAligned;
    QCOMPARE(check_camera(rig, 2, frame).fit_error, -1.0);
}

QTEST_GUILESS_MAIN(FrameMappingTest)
#include "frame_mapping_test.moc"
