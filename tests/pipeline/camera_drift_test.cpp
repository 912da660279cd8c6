#include "pipeline/camera_drift.h"

#include "output/aligned_images.h"
#include "output/frame_geometry.h"
#include "output/run_files.h"
#include "photo/image_file.h"
#include "pipeline/pass_drift_check.h"

#include "calibration/alignment.h"
#include "calibration/calibration_construction.h"
#include "calibration/drift_check.h"
#include "tests/output/shots.h"
#include "tests/support/room_texture.h"

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <QDir>
#include <QFile>
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

// Three cameras looking at rooms of their own, aligned with a slight turn and
// zoom each, their references kept for the check.
RigCalibration three_cameras(const QTemporaryDir& dir, std::vector<cv::Mat>& rooms)
{
    RigCalibration rig;
    for (int camera = 0; camera < 3; ++camera) {
        rooms.push_back(room_picture(photo_size, 20 + camera));
        CameraCalibration entry;
        entry.reference_photo =
            write_photo(dir, QStringLiteral("ref_%1.jpg").arg(camera), rooms.back());
        entry.reference_size = QSize(photo_size.width, photo_size.height);
        entry.method = AlignmentMethod::Automatic;
        entry.transform = {12.0 * (camera - 1), -5.0 * camera, 0.7 * (camera - 1),
                           1.0 + 0.02 * (camera - 1), true};
        rig.cameras.push_back(entry);
    }
    add_drift_references(rig);
    return rig;
}

// Camera 1 bumped behind a subject, camera 0 in place behind another, camera 2
// capped.
QStringList bumped_take(const QTemporaryDir& dir, const std::vector<cv::Mat>& rooms)
{
    cv::Mat still = rooms[0].clone();
    paint_subject(still, 0.45, 1);
    cv::Mat bumped = moved_picture(rooms[1], cv::Point2d(4.0, -2.5), 0.4, 1.004);
    paint_subject(bumped, 0.3, 2);
    const cv::Mat capped(photo_size, CV_8UC3, cv::Scalar(5, 5, 5));
    return {write_photo(dir, QStringLiteral("s0.jpg"), still),
            write_photo(dir, QStringLiteral("s1.jpg"), bumped),
            write_photo(dir, QStringLiteral("s2.jpg"), capped)};
}

cv::Mat read_frame(const QString& folder, int index)
{
    return cv::imread((folder + QLatin1Char('/') + frame_file_name(index)).toStdString());
}

// The mean difference of frame `index` of two runs over the part of the
// frames they share, their rectangles being `a` and `b`.
double frame_difference(const QString& folder_a, const QRect& a, const QString& folder_b,
                        const QRect& b, int index)
{
    const cv::Mat frame_a = read_frame(folder_a, index), frame_b = read_frame(folder_b, index);
    const QRect shared = a & b;
    if (frame_a.empty() || frame_b.empty() || shared.isEmpty())
        return 1e9;
    const cv::Rect in_a(shared.x() - a.x(), shared.y() - a.y(), shared.width(), shared.height());
    const cv::Rect in_b(shared.x() - b.x(), shared.y() - b.y(), shared.width(), shared.height());
    cv::Mat difference;
    cv::absdiff(frame_a(in_a), frame_b(in_b), difference);
    return cv::mean(difference)[0];
}

QRect frames_rect(const RigCalibration& rig)
{
    std::vector<QSize> sizes(rig.cameras.size(), QSize(photo_size.width, photo_size.height));
    std::vector<ImageAlignment> alignments;
    for (const CameraCalibration& camera : rig.cameras)
        alignments.push_back(camera.transform);
    return common_frame_rect(sizes, alignments, rig.camera_count() / 2);
}

} // namespace

class CameraDriftTest : public QObject
{
    Q_OBJECT

private slots:
    // Camera 1 was bumped, camera 2 was capped, camera 0 stands still behind
    // a different subject: only camera 1 is corrected, and its shot's pixels
    // land where its reference's did.
    void moved_camera_is_found_and_corrected()
    {
        QTemporaryDir dir;
        std::vector<cv::Mat> rooms;
        const RigCalibration rig = three_cameras(dir, rooms);
        for (const CameraCalibration& camera : rig.cameras)
            QVERIFY(!camera.drift.empty());

        const cv::Point2d shift(4.0, -2.5);
        const double turn = 0.4, zoom = 1.004;
        cv::Mat still = rooms[0].clone();
        paint_subject(still, 0.45, 1);
        cv::Mat bumped = moved_picture(rooms[1], shift, turn, zoom);
        paint_subject(bumped, 0.3, 2);
        const cv::Mat capped(photo_size, CV_8UC3, cv::Scalar(5, 5, 5));
        const QStringList shots = {write_photo(dir, QStringLiteral("s0.jpg"), still),
                                   write_photo(dir, QStringLiteral("s1.jpg"), bumped),
                                   write_photo(dir, QStringLiteral("s2.jpg"), capped)};

        const std::vector<CameraDrift> drift = check_drift(rig, shots);
        QCOMPARE(drift.size(), std::size_t(3));
        QCOMPARE(drift[0].state, DriftState::Still);
        QVERIFY(drift[0].shift_px < 0.3);
        QCOMPARE(drift[1].state, DriftState::Moved);
        QCOMPARE(drift[2].state, DriftState::CannotCompare);
        QVERIFY(std::abs(drift[1].rotation_deg + turn) < 0.05);
        QVERIFY(drift[1].shift_px > std::hypot(shift.x, shift.y));
        QCOMPARE(moved_cameras(drift), std::vector<int>{1});

        const RigCalibration corrected = corrected_for_drift(rig, drift);
        QCOMPARE(corrected.cameras[0].transform.translation_x,
                 rig.cameras[0].transform.translation_x);
        QCOMPARE(corrected.cameras[2].transform.scale, rig.cameras[2].transform.scale);
        const Similarity before = alignment_similarity(rig.cameras[1].transform);
        const Similarity after = alignment_similarity(corrected.cameras[1].transform);
        const cv::Matx23d move = move_matrix(photo_size, shift, turn, zoom);
        for (const cv::Point2d p : {cv::Point2d(0, 0), cv::Point2d(1199, 0), cv::Point2d(600, 450),
                                    cv::Point2d(1199, 899), cv::Point2d(0, 899)}) {
            const cv::Point2d moved(move(0, 0) * p.x + move(0, 1) * p.y + move(0, 2),
                                    move(1, 0) * p.x + move(1, 1) * p.y + move(1, 2));
            const cv::Point2d d = apply(after, moved) - apply(before, p);
            QVERIFY2(std::hypot(d.x, d.y) < 0.3, qPrintable(QString::number(std::hypot(d.x, d.y))));
        }
    }

    // A calibration made before the check was kept: nothing is compared.
    void camera_without_reference_is_not_checked()
    {
        QTemporaryDir dir;
        std::vector<cv::Mat> rooms;
        RigCalibration rig = three_cameras(dir, rooms);
        rig.cameras[1].drift = {};
        rig.cameras[2].method = AlignmentMethod::NotAligned;
        const QStringList shots = {rig.cameras[0].reference_photo, rig.cameras[1].reference_photo,
                                   rig.cameras[2].reference_photo};
        const std::vector<CameraDrift> drift = check_drift(rig, shots);
        QCOMPARE(drift[0].state, DriftState::Still);
        QCOMPARE(drift[1].state, DriftState::NotChecked);
        QCOMPARE(drift[2].state, DriftState::NotChecked);
        // A shot missing since it was planned cannot be compared, and is not moved.
        QCOMPARE(check_drift(rig, {dir.filePath(QStringLiteral("gone.jpg")), shots[1], shots[2]})
                     .front()
                     .state,
                 DriftState::CannotCompare);
    }

    // A shot stored turned, shown upright by its EXIF orientation, is checked
    // as the upright shot is; the copies the check decodes are kept for the
    // colour estimate, none for a shot cut short, which cannot be compared.
    void turned_shot_reads_as_upright_and_copies_are_kept()
    {
        QTemporaryDir dir;
        std::vector<cv::Mat> rooms;
        const RigCalibration rig = three_cameras(dir, rooms);
        cv::Mat bumped = moved_picture(rooms[0], cv::Point2d(3.0, 1.5), 0.3, 1.0);
        paint_subject(bumped, 0.3, 3);
        const QString upright = write_photo(dir, QStringLiteral("upright.jpg"), bumped);
        cv::Mat stored;
        cv::rotate(bumped, stored, cv::ROTATE_90_COUNTERCLOCKWISE);
        const QString turned = dir.filePath(QStringLiteral("turned.jpg"));
        QVERIFY(write_jpeg_with_orientation(
            turned,
            QImage(stored.data, stored.cols, stored.rows, static_cast<int>(stored.step),
                   QImage::Format_BGR888),
            92, 6));
        const QString cut = write_photo(dir, QStringLiteral("cut.jpg"), rooms[2]);
        QFile file(cut);
        QVERIFY(file.resize(file.size() / 2));

        const std::vector<CameraDrift> as_upright =
            check_drift(rig, {upright, rig.cameras[1].reference_photo, cut});
        ReducedShots kept;
        const std::vector<CameraDrift> as_turned =
            check_drift(rig, {turned, rig.cameras[1].reference_photo, cut}, &kept);
        QCOMPARE(as_upright[0].state, DriftState::Moved);
        QCOMPARE(as_turned[0].state, DriftState::Moved);
        QVERIFY2(drift_between(rig, 0, as_turned[0].motion, as_upright[0].motion) < 0.1,
                 qPrintable(QString::number(
                     drift_between(rig, 0, as_turned[0].motion, as_upright[0].motion))));
        QCOMPARE(as_turned[2].state, DriftState::CannotCompare);

        QCOMPARE(kept.shots.size(), std::size_t(3));
        QVERIFY(kept.find(0, turned, 8) != nullptr);
        QCOMPARE(kept.shots[0].turn, QImageIOHandler::TransformationRotate90);
        QCOMPARE(upright_image(kept.shots[0].stored, kept.shots[0].turn).size(),
                 QSize(photo_size.width, photo_size.height) /
                     drift_reduction(rig.cameras[0].reference_size));
        QVERIFY(kept.find(1, rig.cameras[1].reference_photo, 8) != nullptr);
        QVERIFY(kept.find(0, upright, 8) == nullptr); // another file
        QVERIFY(kept.shots[2].empty());
    }

    // Checked in the frames pass: the moved camera's frame comes out as from a
    // run planned with the correction (on the part of the frames both show:
    // the pass keeps the planned crop), an unmoved camera's as without the
    // check; refused, the pass leaves no frame. A shot stored turned is
    // measured there as upright.
    void frames_pass_checks_each_shot_as_it_decodes_it()
    {
        QTemporaryDir dir;
        std::vector<cv::Mat> rooms;
        const RigCalibration rig = three_cameras(dir, rooms);
        const QStringList shots = bumped_take(dir, rooms);
        const auto folder = [&](const char* name) {
            const QString path = dir.filePath(QString::fromLatin1(name));
            QDir().mkpath(path);
            return path;
        };

        const RigCalibration before = corrected_for_drift(rig, check_drift(rig, shots));
        QCOMPARE(write_aligned_images(shots, before.calibration(), folder("before"), 100).frame_count,
                 3);
        PassDriftCheck correct(rig, DriftMode::Correct);
        QCOMPARE(write_aligned_images(shots, rig.calibration(), folder("in_pass"), 100, nullptr,
                                      nullptr, {}, nullptr, &correct)
                     .frame_count,
                 3);
        QCOMPARE(moved_cameras(correct.found()), std::vector<int>{1});
        QCOMPARE(correct.found()[2].state, DriftState::CannotCompare);
        PassDriftCheck warn(rig, DriftMode::Warn);
        QCOMPARE(write_aligned_images(shots, rig.calibration(), folder("warned"), 100, nullptr,
                                      nullptr, {}, nullptr, &warn)
                     .frame_count,
                 3);
        QCOMPARE(write_aligned_images(shots, rig.calibration(), folder("unchecked"), 100)
                     .frame_count,
                 3);
        const QRect planned = frames_rect(rig);
        const double corrected =
            frame_difference(folder("in_pass"), planned, folder("before"), frames_rect(before), 1);
        const double left = frame_difference(folder("warned"), planned, folder("before"),
                                              frames_rect(before), 1);
        QVERIFY2(corrected < 2.0 && left > 5 * corrected,
                 qPrintable(QStringLiteral("%1 %2").arg(corrected).arg(left)));
        for (int camera : {0, 2}) {
            QCOMPARE(frame_difference(folder("in_pass"), planned, folder("unchecked"), planned,
                                      camera),
                     0.0);
        }

        PassDriftCheck refuse(rig, DriftMode::Fail);
        const AlignedImages refused = write_aligned_images(
            shots, rig.calibration(), folder("refused"), 100, nullptr, nullptr, {}, nullptr,
            &refuse);
        QCOMPARE(refused.refused_camera, 1);
        QCOMPARE(refused.frame_count, 0);
        QCOMPARE(QDir(folder("refused")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
                 QStringList());
        refuse.check_rest(shots);
        QCOMPARE(moved_cameras(refuse.found()), std::vector<int>{1});
        // A damaged shot the refused pass never reached is not said to have too
        // little in common with its reference.
        QFile whole(shots[0]);
        QVERIFY(whole.open(QIODevice::ReadOnly));
        QStringList damaged = shots;
        damaged[0] = dir.filePath(QStringLiteral("damaged.jpg"));
        QFile cut(damaged[0]);
        QVERIFY(cut.open(QIODevice::WriteOnly) && cut.write(whole.read(2000)) == 2000);
        cut.close();
        PassDriftCheck unread(rig, DriftMode::Fail);
        unread.check_rest(damaged);
        QCOMPARE(unread.found()[0].state, DriftState::NotChecked);
        QCOMPARE(moved_cameras(unread.found()), std::vector<int>{1});

        cv::Mat stored;
        cv::rotate(cv::imread(shots[1].toStdString()), stored, cv::ROTATE_90_COUNTERCLOCKWISE);
        const QString turned = dir.filePath(QStringLiteral("turned.jpg"));
        QVERIFY(write_jpeg_with_orientation(
            turned,
            QImage(stored.data, stored.cols, stored.rows, static_cast<int>(stored.step),
                   QImage::Format_BGR888),
            92, 6));
        QImage decoded;
        QByteArray bytes;
        const auto turn = read_stored_image(turned, decoded, bytes);
        QVERIFY(turn && (*turn & QImageIOHandler::TransformationRotate90));
        const CameraDrift as_turned =
            measure_camera_drift(rig, 1, decoded, *turn, drift_frame_rect(rig));
        QCOMPARE(as_turned.state, DriftState::Moved);
        QVERIFY(drift_between(rig, 1, as_turned.motion, correct.found()[1].motion) < 0.2);

        // Moved by a pixel or two, a camera is measured on the windows around
        // its patches alone: as precisely, whether it counts as moved or not.
        for (const cv::Point2d& shift : {cv::Point2d(0.4, -0.3), cv::Point2d(1.6, 1.1)}) {
            cv::Mat nudged = moved_picture(rooms[0], shift, 0.05, 1.0);
            paint_subject(nudged, 0.3, 4);
            const QString path = write_photo(dir, QStringLiteral("nudged.jpg"), nudged);
            QVERIFY(read_stored_image(path, decoded, bytes));
            const CameraDrift found = measure_camera_drift(
                rig, 0, decoded, QImageIOHandler::TransformationNone, drift_frame_rect(rig));
            const cv::Matx23d m = move_matrix(photo_size, shift, 0.05, 1.0);
            const cv::Matx23d back = [&] {
                cv::Matx23d inverse;
                cv::invertAffineTransform(m, inverse);
                return inverse;
            }();
            Similarity truth;
            truth.scale = std::hypot(back(0, 0), back(1, 0));
            truth.rotation = std::atan2(back(1, 0), back(0, 0));
            truth.translation = {back(0, 2), back(1, 2)};
            const double error = drift_between(rig, 0, found.motion, truth);
            QVERIFY2(error < 0.3, qPrintable(QString::number(error)));
            QCOMPARE(found.state,
                     drift_between(rig, 0, truth, Similarity()) >= drift_threshold_px
                         ? DriftState::Moved
                         : DriftState::Still);
        }
    }

    // The window, process and the booth say it in these words.
    void texts_use_french_numbers()
    {
        CameraDrift drift;
        drift.state = DriftState::Moved;
        drift.shift_px = 3.44;
        drift.rotation_deg = -0.29;
        QCOMPARE(drift_text(6, drift),
                 QStringLiteral("Caméra 7 : décalée de 3,4 px, tournée de 0,3° depuis le calibrage"));
    }
};

QTEST_APPLESS_MAIN(CameraDriftTest)
#include "camera_drift_test.moc"
