#include "calibration/calibration_construction.h"
#include "support/batch_progress.h"
#include "tests/support/sticker_drawing.h"
#include "tests/support/stopping_progress.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <numeric>
#include <sstream>
#include <vector>

namespace {

const ColorThresholds yellow = thresholds_for(StickerColor::Yellow);

// How a reference photo of a test rig turns out.
enum class Kind
{
    Three,     // exactly three stickers
    Area,      // three stickers and two specks: the area rule
    Centre,    // three stickers and a sticker-sized blob: the centre rule
    NotInLine, // three stickers off a line: found, then rejected
    NoSticker, // nothing of the colour
    Missing,   // no file
    Text,      // a text file under a photo's name
    Turned     // three stickers in a JPEG stored a quarter turn away, with its EXIF tag
};

// Photo i of a rig: sizes alternate so that buffers reused from photo to photo
// change shape, and each camera is shifted and turned a little differently.
cv::Size photo_size(int i)
{
    return i % 2 == 0 ? cv::Size(320, 240) : cv::Size(384, 288);
}

// The stickers of photo i, top to bottom.
std::vector<cv::Point2d> photo_stickers(int i)
{
    const cv::Size size = photo_size(i);
    const cv::Point2d middle(size.width / 2 + 7.0 * (i % 3 - 1),
                             size.height / 2 + 5.0 * (i % 5 - 2));
    const double angle = (i % 4 - 1.5) * 2.0 * CV_PI / 180.0;
    const double spacing = 60.0 + 3 * (i % 6);
    const cv::Point2d step(-std::sin(angle) * spacing, std::cos(angle) * spacing);
    return {middle - step, middle, middle + step};
}

QString make_photo(const QString& folder, int i, Kind kind)
{
    const QString name = QString(kind == Kind::Turned ? "ref_%1.jpg" : "ref_%1.png").arg(i);
    const QString path = QDir(folder).filePath(name);
    if (kind == Kind::Missing)
        return path;
    if (kind == Kind::Text) {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write("not a photo\n") < 0)
            return {};
        return path;
    }

    const cv::Size size = photo_size(i);
    std::vector<cv::Point2d> stickers = photo_stickers(i);
    if (kind == Kind::NotInLine)
        stickers[2].x += 40;

    cv::Mat photo = draw_background(size, 1 + i);
    if (kind != Kind::NoSticker)
        draw_stickers(photo, stickers, 12.0, StickerColor::Yellow);
    if (kind == Kind::Area)
        draw_stickers(photo, {{30, 30}, {size.width - 30.0, 30}}, 1.0, StickerColor::Yellow);
    if (kind == Kind::Centre)
        draw_stickers(photo, {{size.width - 40.0, size.height - 40.0}}, 12.0, StickerColor::Yellow);
    return write_photo(folder, name, photo,
                       kind == Kind::Turned ? StoredOrientation::Rotated90
                                            : StoredOrientation::Upright);
}

QStringList make_rig(const QString& folder, const QVector<Kind>& kinds)
{
    QStringList paths;
    for (int i = 0; i < kinds.size(); ++i)
        paths << make_photo(folder, i, kinds[i]);
    return paths;
}

struct Outcome
{
    Calibration calibration;
    ReferenceTriple reference;
    std::string log;
};

const ReferenceTriple earlier_reference{{{{1, 2}, {3, 4}, {5, 6}}}, true};

// What aligning the photos `indices` one after the other gives: the selection,
// then each photo read and detected again from its file.
Outcome photo_by_photo(const QStringList& paths, const std::vector<int>& indices)
{
    Outcome outcome{Calibration::with_count(paths.size()), earlier_reference, {}};
    std::ostringstream log;
    if (select_reference(paths, yellow, outcome.reference, log)) {
        for (int i : indices)
            detect_stickers(outcome.calibration, paths[i], i, yellow, outcome.reference, log);
    }
    outcome.log = log.str();
    return outcome;
}

Outcome in_parallel(const QStringList& paths, BatchProgress& progress)
{
    Outcome outcome{{}, earlier_reference, {}};
    std::ostringstream log;
    outcome.calibration = construct_calibration(paths, yellow, outcome.reference, log, &progress);
    outcome.log = log.str();
    return outcome;
}

// Bit for bit: the parallel run must not even round differently.
void compare_outcomes(const Outcome& actual, const Outcome& expected)
{
    QCOMPARE(QString::fromStdString(actual.log), QString::fromStdString(expected.log));
    QCOMPARE(actual.calibration.image_count, expected.calibration.image_count);
    QCOMPARE(actual.calibration.aligned, expected.calibration.aligned);
    QVERIFY(actual.calibration.translation_x == expected.calibration.translation_x);
    QVERIFY(actual.calibration.translation_y == expected.calibration.translation_y);
    QVERIFY(actual.calibration.rotation_deg == expected.calibration.rotation_deg);
    QVERIFY(actual.calibration.scale == expected.calibration.scale);
    QCOMPARE(actual.reference.selected, expected.reference.selected);
    QVERIFY(actual.reference.points == expected.reference.points);
}

} // namespace

Q_DECLARE_METATYPE(Kind)

class ConstructionTest : public QObject
{
    Q_OBJECT

private slots:
    void same_as_photo_by_photo_data();
    void same_as_photo_by_photo();
    void stop_leaves_the_rest_unaligned_data();
    void stop_leaves_the_rest_unaligned();
    void rig_record_keeps_what_was_found();
};

void ConstructionTest::same_as_photo_by_photo_data()
{
    QTest::addColumn<QVector<Kind>>("kinds");
    QTest::addColumn<bool>("selected");

    using K = Kind;
    QVector<Kind> many;
    const QVector<Kind> every{K::Three,     K::Area,    K::Centre, K::NotInLine,
                              K::NoSticker, K::Missing, K::Turned};
    for (int i = 0; i < 16; ++i)
        many << every[i % every.size()];
    QTest::newRow("sixteen photos, every outcome, middle on the area rule") << many << true;
    QTest::newRow("middle on the centre rule")
        << QVector<Kind>{K::Three, K::NotInLine, K::Centre, K::Missing, K::Three} << true;
    // The selection has no line test; the others are aligned against a bent reference.
    QTest::newRow("middle not in line") << QVector<Kind>{K::Three, K::NotInLine, K::Area} << true;
    QTest::newRow("one photo") << QVector<Kind>{K::Three} << true;
    QTest::newRow("two photos, the second is the middle")
        << QVector<Kind>{K::NoSticker, K::Area} << true;
    // Read by a worker whose buffers hold a photo of the same size.
    QTest::newRow("text file after sound photos")
        << QVector<Kind>{K::Three, K::Three, K::Three, K::Three, K::Text} << true;

    QTest::newRow("middle unreadable")
        << QVector<Kind>{K::Three, K::Three, K::Missing, K::Three} << false;
    QTest::newRow("middle without stickers")
        << QVector<Kind>{K::Three, K::NoSticker, K::Three} << false;
    QTest::newRow("no photo") << QVector<Kind>{} << false;
}

void ConstructionTest::same_as_photo_by_photo()
{
    QFETCH(QVector<Kind>, kinds);
    QFETCH(bool, selected);

    QTemporaryDir folder;
    const QStringList paths = make_rig(folder.path(), kinds);
    std::vector<int> every_photo(paths.size());
    std::iota(every_photo.begin(), every_photo.end(), 0);
    const Outcome expected = photo_by_photo(paths, every_photo);
    QCOMPARE(expected.reference.selected && expected.reference.points != earlier_reference.points,
             selected);
    if (selected) {
        // The photos turn out as intended (the middle one's rule is logged twice).
        const QStringList lines = QString::fromStdString(expected.log).split('\n');
        const Kind middle = kinds[kinds.size() / 2];
        QCOMPARE(lines.count("test image newcentroids :"), kinds.count(Kind::Centre));
        QCOMPARE(lines.count("3rd > 2* 4th"), kinds.count(Kind::Area) + (middle == Kind::Area));
        QCOMPARE(lines.filter("could not read image").size(),
                 kinds.count(Kind::Missing) + kinds.count(Kind::Text));
        for (int i = 0; i < kinds.size(); ++i) {
            QCOMPARE(bool(expected.calibration.aligned[i]),
                     kinds[i] != Kind::NotInLine && kinds[i] != Kind::NoSticker &&
                         kinds[i] != Kind::Missing && kinds[i] != Kind::Text);
        }
    }

    // Several runs, as the threads interleave differently each time.
    for (int run = 0; run < 3; ++run) {
        BatchProgress progress;
        compare_outcomes(in_parallel(paths, progress), expected);
        // A failed selection finishes only the middle photo.
        QCOMPARE(progress.done(), selected ? int(paths.size()) : std::min(1, int(paths.size())));
        QVERIFY(!progress.stop_requested());
    }
}

void ConstructionTest::stop_leaves_the_rest_unaligned_data()
{
    QTest::addColumn<int>("limit");
    QTest::newRow("stopped before the first photo") << 0;
    QTest::newRow("after one photo") << 1;
    QTest::newRow("after four photos") << 4;
}

void ConstructionTest::stop_leaves_the_rest_unaligned()
{
    QFETCH(int, limit);

    QTemporaryDir folder;
    QVector<Kind> kinds;
    for (int i = 0; i < 12; ++i)
        kinds << (i % 2 ? Kind::Area : Kind::Three);
    const QStringList paths = make_rig(folder.path(), kinds);

    StoppingProgress progress(limit);
    if (limit == 0)
        progress.request_stop();
    const Outcome stopped = in_parallel(paths, progress);

    // Photos are started middle first, then in list order, and every photo
    // started is finished: the first done() of that order.
    const int done = progress.done();
    QVERIFY(done >= limit && done <= paths.size());
    const int middle = paths.size() / 2;
    std::vector<int> order{middle};
    for (int i = 0; i < paths.size(); ++i) {
        if (i != middle)
            order.push_back(i);
    }
    std::vector<int> started(order.begin(), order.begin() + done);
    std::sort(started.begin(), started.end());

    if (limit == 0) {
        // Not even the reference is selected.
        QCOMPARE(done, 0);
        QCOMPARE(QString::fromStdString(stopped.log), QString());
        QCOMPARE(stopped.calibration.aligned, std::vector<bool>(paths.size(), false));
        QVERIFY(stopped.reference.points == earlier_reference.points);
        return;
    }
    const Outcome expected = photo_by_photo(paths, started);
    compare_outcomes(stopped, expected);
    QCOMPARE(int(std::count(stopped.calibration.aligned.begin(), stopped.calibration.aligned.end(),
                            true)),
             done);
}

void ConstructionTest::rig_record_keeps_what_was_found()
{
    QTemporaryDir folder;
    const QVector<Kind> kinds{Kind::Three, Kind::Missing, Kind::Turned, Kind::NotInLine,
                              Kind::Area};
    const QStringList paths = make_rig(folder.path(), kinds);
    const Outcome expected = photo_by_photo(paths, {0, 1, 2, 3, 4});

    ReferenceTriple reference = earlier_reference;
    std::ostringstream log;
    const RigCalibration rig =
        construct_rig_calibration(paths, StickerColor::Yellow, reference, log);

    QCOMPARE(QString::fromStdString(log.str()), QString::fromStdString(expected.log));
    QCOMPARE(rig.sticker_color, StickerColor::Yellow);
    QVERIFY(rig.reference_stickers == expected.reference.points);
    const Calibration calibration = rig.calibration();
    QCOMPARE(calibration.aligned, expected.calibration.aligned);
    QVERIFY(calibration.translation_x == expected.calibration.translation_x);
    QVERIFY(calibration.scale == expected.calibration.scale);
    QCOMPARE(rig.camera_count(), kinds.size());
    for (int i = 0; i < kinds.size(); ++i) {
        const CameraCalibration& camera = rig.cameras[i];
        QCOMPARE(camera.reference_photo, paths[i]);
        // The size as shown, also for the photo stored a quarter turn away.
        QCOMPARE(camera.reference_size, kinds[i] == Kind::Missing
                                            ? QSize()
                                            : QSize(photo_size(i).width, photo_size(i).height));
        const bool aligned = expected.calibration.aligned[i];
        QCOMPARE(camera.method, aligned ? AlignmentMethod::Automatic : AlignmentMethod::NotAligned);
        for (int s = 0; s < 3; ++s) {
            const cv::Point2d drawn = aligned ? photo_stickers(i)[s] : cv::Point2d();
            QVERIFY2(cv::norm(camera.stickers[s] - drawn) < 0.5,
                     qPrintable(QString("camera %1 sticker %2").arg(i).arg(s)));
        }
    }
}

QTEST_GUILESS_MAIN(ConstructionTest)
#include "construction_test.moc"
