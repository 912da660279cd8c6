#include "calibration/drift_check.h"

#include "tests/support/room_texture.h"

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

namespace {

const cv::Size photo_size(1200, 900);

QString write_photo(const QTemporaryDir& dir, const QString& name, const cv::Mat& picture)
{
    const QString path = dir.filePath(name);
    cv::imwrite(path.toStdString(), picture, {cv::IMWRITE_JPEG_QUALITY, 92});
    return path;
}

DriftReference reference_of(const QTemporaryDir& dir, const cv::Mat& picture)
{
    const QString path = write_photo(dir, QStringLiteral("reference.jpg"), picture);
    return make_drift_reference(
        read_drift_picture(path, QSize(photo_size.width, photo_size.height)));
}

std::optional<Similarity> motion_of(const QTemporaryDir& dir, const DriftReference& reference,
                                    const cv::Mat& shot, QSize measured_in)
{
    const QString path = write_photo(dir, QStringLiteral("shot.jpg"), shot);
    return measure_drift(reference, read_drift_picture(path, measured_in)).motion;
}

// The largest distance between where `found` and `expected` put the photo's
// centre and corners.
double worst_error(const Similarity& found, const cv::Matx23d& expected)
{
    double worst = 0.0;
    const double w = photo_size.width - 1.0, h = photo_size.height - 1.0;
    for (const cv::Point2d p : {cv::Point2d(w / 2, h / 2), cv::Point2d(0, 0), cv::Point2d(w, 0),
                                cv::Point2d(w, h), cv::Point2d(0, h)}) {
        const cv::Point2d q(expected(0, 0) * p.x + expected(0, 1) * p.y + expected(0, 2),
                            expected(1, 0) * p.x + expected(1, 1) * p.y + expected(1, 2));
        const cv::Point2d d = apply(found, p) - q;
        worst = std::max(worst, std::hypot(d.x, d.y));
    }
    return worst;
}

} // namespace

class DriftCheckTest : public QObject
{
    Q_OBJECT

private slots:
    void recovers_known_motions_data()
    {
        QTest::addColumn<double>("dx");
        QTest::addColumn<double>("dy");
        QTest::addColumn<double>("rotation");
        QTest::addColumn<double>("zoom");
        QTest::addColumn<double>("covered");
        QTest::newRow("a pixel and a half across") << 1.5 << 0.0 << 0.0 << 1.0 << 0.3;
        QTest::newRow("shifted both ways") << -12.0 << 7.5 << 0.0 << 1.0 << 0.4;
        QTest::newRow("turned") << 0.0 << 0.0 << 0.8 << 1.0 << 0.3;
        QTest::newRow("turned back") << 0.0 << 0.0 << -0.3 << 1.0 << 0.5;
        QTest::newRow("zoomed in") << 0.0 << 0.0 << 0.0 << 1.01 << 0.2;
        QTest::newRow("everything") << 19.0 << -4.0 << 1.0 << 0.992 << 0.5;
        // Farther than the patches are looked for around their place: the
        // features find it.
        QTest::newRow("knocked far") << 52.0 << -38.0 << 0.5 << 1.0 << 0.3;
    }

    // A subject covering up to half the shot leaves the room to measure on.
    void recovers_known_motions()
    {
        QFETCH(double, dx);
        QFETCH(double, dy);
        QFETCH(double, rotation);
        QFETCH(double, zoom);
        QFETCH(double, covered);
        QTemporaryDir dir;
        const cv::Mat room = room_picture(photo_size, 3);
        const DriftReference reference = reference_of(dir, room);
        QVERIFY(!reference.empty());

        cv::Mat shot = moved_picture(room, {dx, dy}, rotation, zoom);
        paint_subject(shot, covered, 11);
        const auto motion =
            motion_of(dir, reference, shot, QSize(photo_size.width, photo_size.height));
        QVERIFY(motion);
        cv::Matx23d undo;
        cv::invertAffineTransform(move_matrix(photo_size, {dx, dy}, rotation, zoom), undo);
        QVERIFY2(worst_error(*motion, undo) < 0.3,
                 qPrintable(QString::number(worst_error(*motion, undo))));
    }

    // A large photo is compared at a quarter of its size, where a feature's
    // place is only known to a fraction of a reduced pixel, four photo pixels:
    // the patches bring the motion back within a tenth of a photo pixel.
    void refines_the_motion_of_a_large_photo_data()
    {
        QTest::addColumn<double>("dx");
        QTest::addColumn<double>("dy");
        QTest::addColumn<double>("rotation");
        QTest::addColumn<double>("zoom");
        QTest::addColumn<double>("covered");
        QTest::addColumn<bool>("patches");
        QTest::newRow("a fraction of a reduced pixel") << 1.3 << -0.6 << 0.0 << 1.0 << 0.3 << true;
        QTest::newRow("turned and zoomed") << -7.4 << 3.1 << 0.7 << 1.008 << 0.5 << true;
        QTest::newRow("unmoved behind a large subject") << 0.0 << 0.0 << 0.0 << 1.0 << 0.5 << true;
        // As a calibration file written before the patches were kept.
        QTest::newRow("without patches") << -7.4 << 3.1 << 0.7 << 1.008 << 0.5 << false;
    }

    void refines_the_motion_of_a_large_photo()
    {
        QFETCH(double, dx);
        QFETCH(double, dy);
        QFETCH(double, rotation);
        QFETCH(double, zoom);
        QFETCH(double, covered);
        QFETCH(bool, patches);
        const cv::Size large(3200, 2400);
        QCOMPARE(drift_reduction(QSize(large.width, large.height)), 4);
        QTemporaryDir dir;
        const cv::Mat room = room_picture(large, 12);
        DriftReference reference = make_drift_reference(
            read_drift_picture(write_photo(dir, QStringLiteral("reference.jpg"), room),
                               QSize(large.width, large.height)));
        QVERIFY(static_cast<int>(reference.patch_centres.size()) >= 40);
        if (!patches)
            reference.patch_centres.clear();
        cv::Mat shot = moved_picture(room, {dx, dy}, rotation, zoom);
        paint_subject(shot, covered, 4);
        const auto motion = measure_drift(
            reference, read_drift_picture(write_photo(dir, QStringLiteral("shot.jpg"), shot),
                                          QSize(large.width, large.height)))
                                .motion;
        QVERIFY(motion);
        cv::Matx23d undo;
        cv::invertAffineTransform(move_matrix(large, {dx, dy}, rotation, zoom), undo);
        double worst = 0.0;
        for (const cv::Point2d p : {cv::Point2d(1599.5, 1199.5), cv::Point2d(0, 0),
                                    cv::Point2d(3199, 0), cv::Point2d(3199, 2399),
                                    cv::Point2d(0, 2399)}) {
            const cv::Point2d q(undo(0, 0) * p.x + undo(0, 1) * p.y + undo(0, 2),
                                undo(1, 0) * p.x + undo(1, 1) * p.y + undo(1, 2));
            const cv::Point2d d = apply(*motion, p) - q;
            worst = std::max(worst, std::hypot(d.x, d.y));
        }
        QVERIFY2(worst < (patches ? 0.1 : 1.5), qPrintable(QString::number(worst)));
    }

    // A smaller JPEG of the same camera is measured in its reference's pixels,
    // read from its file or decoded in full by the frames pass, its picture at
    // the reference picture's scale, where alone the features are found again:
    // reduced as its reference was, a shot of half the size or less was not.
    void measures_a_smaller_shot_in_reference_pixels_data()
    {
        QTest::addColumn<double>("factor");
        QTest::addColumn<bool>("decoded");
        QTest::addColumn<double>("tolerance");
        for (const bool decoded : {false, true}) {
            const char* how = decoded ? "decoded in full" : "from its file";
            QTest::addRow("three quarters, %s", how) << 0.75 << decoded << 0.6;
            QTest::addRow("half, %s", how) << 0.5 << decoded << 0.6;
            QTest::addRow("a quarter, %s", how) << 0.25 << decoded << 1.5;
        }
    }

    void measures_a_smaller_shot_in_reference_pixels()
    {
        QFETCH(double, factor);
        QFETCH(bool, decoded);
        QFETCH(double, tolerance);
        const cv::Size size(1600, 1200);
        const QSize measured_in(size.width, size.height);
        QCOMPARE(drift_reduction(measured_in), 2);
        QTemporaryDir dir;
        const cv::Mat room = room_picture(size, 5);
        const DriftReference reference = make_drift_reference(read_drift_picture(
            write_photo(dir, QStringLiteral("reference.jpg"), room), measured_in));
        cv::Mat shot = moved_picture(room, {6.0, -2.0}, 0.0, 1.0);
        paint_subject(shot, 0.3, 2);
        cv::resize(shot, shot, cv::Size(), factor, factor, cv::INTER_AREA);
        const QString path = write_photo(dir, QStringLiteral("shot.jpg"), shot);
        const QImage stored = QImage(path).convertToFormat(QImage::Format_RGB32);
        const auto motion =
            decoded ? measure_drift(reference, stored, QImageIOHandler::TransformationNone,
                                    measured_in)
                          .motion
                    : measure_drift(reference, read_drift_picture(path, measured_in)).motion;
        QVERIFY(motion);
        QVERIFY2(std::abs(motion->translation.x + 6.0) < tolerance &&
                     std::abs(motion->translation.y - 2.0) < tolerance,
                 qPrintable(QStringLiteral("%1, %2").arg(motion->translation.x).arg(
                     motion->translation.y)));
    }

    // A very different subject over half of an unmoved camera's shot is no motion.
    void unmoved_camera_stays_put_data()
    {
        QTest::addColumn<double>("covered");
        QTest::addColumn<unsigned>("subject");
        QTest::newRow("nothing in front") << 0.0 << 1u;
        QTest::newRow("a third") << 0.33 << 2u;
        QTest::newRow("half") << 0.5 << 3u;
    }

    void unmoved_camera_stays_put()
    {
        QFETCH(double, covered);
        QFETCH(unsigned, subject);
        QTemporaryDir dir;
        const cv::Mat room = room_picture(photo_size, 8);
        const DriftReference reference = reference_of(dir, room);
        cv::Mat shot = room.clone();
        paint_subject(shot, covered, subject);
        const auto motion =
            motion_of(dir, reference, shot, QSize(photo_size.width, photo_size.height));
        QVERIFY(motion);
        QVERIFY2(worst_error(*motion, cv::Matx23d(1, 0, 0, 0, 1, 0)) < 0.3,
                 qPrintable(QString::number(worst_error(*motion, cv::Matx23d(1, 0, 0, 0, 1, 0)))));
    }

    // A lens cap, a bare wall or another place: nothing to tell a motion from.
    void shot_with_nothing_in_common_cannot_be_compared_data()
    {
        QTest::addColumn<int>("kind");
        QTest::newRow("lens cap") << 0;
        QTest::newRow("bare wall") << 1;
        QTest::newRow("another room") << 2;
    }

    void shot_with_nothing_in_common_cannot_be_compared()
    {
        QFETCH(int, kind);
        QTemporaryDir dir;
        const DriftReference reference = reference_of(dir, room_picture(photo_size, 4));
        cv::Mat shot(photo_size, CV_8UC3, cv::Scalar(8, 8, 8));
        if (kind == 1) {
            shot.setTo(cv::Scalar(180, 190, 200));
            cv::Mat grain(photo_size, CV_8UC3);
            cv::randn(grain, 0, 2);
            shot += grain;
        } else if (kind == 2) {
            shot = room_picture(photo_size, 99);
        }
        QVERIFY(!motion_of(dir, reference, shot, QSize(photo_size.width, photo_size.height)));
    }

    void reference_without_texture_is_empty()
    {
        QTemporaryDir dir;
        QVERIFY(reference_of(dir, cv::Mat(photo_size, CV_8UC3, cv::Scalar(128, 128, 128))).empty());
        QVERIFY(read_drift_picture(dir.filePath(QStringLiteral("missing.jpg")), QSize(10, 10))
                    .grey.empty());
    }

    // What the calibration file keeps reads back as it was; bytes that do not
    // describe one reference are refused.
    void reference_bytes_round_trip()
    {
        QTemporaryDir dir;
        const DriftReference reference = reference_of(dir, room_picture(photo_size, 6));
        const QByteArray points = drift_points_bytes(reference);
        const QByteArray descriptors = drift_descriptor_bytes(reference);
        const auto back = drift_reference_from_bytes(points, descriptors);
        QVERIFY(back);
        QCOMPARE(back->points, reference.points);
        QCOMPARE(cv::norm(back->descriptors, reference.descriptors, cv::NORM_L1), 0.0);

        QVERIFY(!drift_reference_from_bytes(points.left(points.size() - 8), descriptors));
        QVERIFY(!drift_reference_from_bytes(points + "1234", descriptors));
        QVERIFY(!drift_reference_from_bytes({}, {}));
        QByteArray not_finite = points;
        const float nan = std::nanf("");
        std::memcpy(not_finite.data(), &nan, 4);
        QVERIFY(!drift_reference_from_bytes(not_finite, descriptors));
        const QByteArray centres = drift_patch_centre_bytes(reference);
        const QByteArray pixels = drift_patch_pixel_bytes(reference);
        QVERIFY(!centres.isEmpty());
        DriftReference patched = *back;
        QVERIFY(set_drift_patches(patched, centres, pixels, reference.patch_scale));
        QCOMPARE(patched.patch_centres, reference.patch_centres);
        QCOMPARE(cv::norm(patched.patches, reference.patches, cv::NORM_L1), 0.0);
        QCOMPARE(patched.patch_scale, reference.patch_scale);
        DriftReference untouched = *back;
        QVERIFY(!set_drift_patches(untouched, centres, pixels.left(pixels.size() - 1), 1.0));
        QVERIFY(!set_drift_patches(untouched, centres.left(centres.size() - 8), pixels, 1.0));
        QVERIFY(!set_drift_patches(untouched, centres, pixels, 0.0));
        QVERIFY(!set_drift_patches(untouched, centres, pixels, std::nan("")));
        QVERIFY(!set_drift_patches(untouched, centres, pixels, 1e30));
        QByteArray far_centres = centres;
        qToLittleEndian<float>(1e30f, far_centres.data());
        QVERIFY(!set_drift_patches(untouched, far_centres, pixels, 1.0));
        QVERIFY(untouched.patch_centres.empty());
        const QByteArray too_many(8 * (drift_reference_features + 1), '\0');
        QVERIFY(!drift_reference_from_bytes(too_many, QByteArray(32 * (drift_reference_features + 1), '\0')));
    }

    // A shot decoded in full for its frame, whose sides the reduction does not
    // divide, is reduced as the references' own decode reduces them: a camera
    // in place reads as in place (it read as moved by over a pixel), and a
    // moved one is measured alike.
    void odd_sized_shot_decoded_in_full_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QPointF>("shift");
        for (const QSize size : {QSize(1601, 1201), QSize(1603, 1202), QSize(1602, 1202)}) {
            const QString name = QStringLiteral("%1x%2").arg(size.width()).arg(size.height());
            QTest::newRow(qPrintable(name + ", in place")) << size << QPointF(0, 0);
            QTest::newRow(qPrintable(name + ", moved")) << size << QPointF(3.0, -2.0);
        }
    }

    void odd_sized_shot_decoded_in_full()
    {
        QFETCH(QSize, size);
        QFETCH(QPointF, shift);
        const cv::Size cv_size(size.width(), size.height());
        QCOMPARE(drift_reduction(size), 2);
        QTemporaryDir dir;
        const cv::Mat room = room_picture(cv_size, 17);
        const DriftReference reference = make_drift_reference(
            read_drift_picture(write_photo(dir, QStringLiteral("reference.jpg"), room), size));
        cv::Mat shot = moved_picture(room, {shift.x(), shift.y()}, 0.0, 1.0);
        paint_subject(shot, 0.3, 3);
        const QImage stored(write_photo(dir, QStringLiteral("shot.jpg"), shot));
        const auto motion = measure_drift(reference, stored.convertToFormat(QImage::Format_RGB32),
                                          QImageIOHandler::TransformationNone, size)
                                .motion;
        QVERIFY(motion);
        double worst = 0.0;
        const double w = size.width() - 1.0, h = size.height() - 1.0;
        for (const cv::Point2d p : {cv::Point2d(0, 0), cv::Point2d(w, 0), cv::Point2d(w, h),
                                    cv::Point2d(0, h)}) {
            const cv::Point2d d = apply(*motion, p) - (p - cv::Point2d(shift.x(), shift.y()));
            worst = std::max(worst, std::hypot(d.x, d.y));
        }
        QVERIFY2(worst < 0.3, qPrintable(QString::number(worst)));
    }
};

QTEST_APPLESS_MAIN(DriftCheckTest)
#include "drift_check_test.moc"
