// Stickers clicked by hand in the real window: each click snaps onto its
// sticker (or stays, said so), the view is brought to each sticker in turn,
// and the check view names a camera whose frame corners are uncertain.

#include "app/calibration_check_view.h"
#include "app/photo_zoom.h"
#include "calibration/alignment_uncertainty.h"
#include "calibration/calibration_file.h"
#include "tests/support/stdout_capture.h"
#include "tests/support/sticker_drawing.h"
#include "window_driver.h"

#include <opencv2/imgproc.hpp>

#include <QLineF>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollArea>
#include <QScrollBar>
#include <QStatusBar>
#include <QTemporaryDir>

#include <cmath>
#include <memory>

namespace {

const cv::Size photo_size(800, 600);
const int camera_count = 4;
constexpr double sticker_radius = 12.0;

// Camera i's stickers, top to bottom: each camera a little off the last.
std::vector<cv::Point2d> stickers_of(int camera)
{
    std::vector<cv::Point2d> result;
    for (double y : {240.0, 300.0, 360.0})
        result.push_back(cv::Point2d(400.0 + 4 * camera, y - 2 * camera));
    return result;
}

// What camera 1, between two aligned cameras, shows of its stickers.
enum class Hidden
{
    Covers,  // grey caps on a plain wall: nothing of the sticker colour
    Nothing, // a plain wall: nothing round anywhere
};

cv::Mat hidden_photo(Hidden hidden)
{
    cv::Mat photo(photo_size, CV_8UC3, cv::Scalar(190, 190, 190));
    if (hidden == Hidden::Covers) {
        for (const cv::Point2d& centre : stickers_of(1))
            cv::circle(photo, cv::Point(int(centre.x * 16), int(centre.y * 16)),
                       int(sticker_radius * 16), cv::Scalar(70, 70, 70), cv::FILLED, cv::LINE_AA,
                       4);
    }
    return photo;
}

// The figures of a line "... to the sticker at (x, y)" for point `point` of camera 2.
std::optional<QPointF> snapped_in_log(const std::string& log, int point)
{
    const QRegularExpression line(
        QStringLiteral("^Camera 2: point %1 moved from \\([-0-9.]+, [-0-9.]+\\) to the sticker at "
                       "\\(([-0-9.]+), ([-0-9.]+)\\)$")
            .arg(point),
        QRegularExpression::MultilineOption);
    const QRegularExpressionMatch match = line.match(QString::fromStdString(log));
    if (!match.hasMatch())
        return std::nullopt;
    return QPointF(match.captured(1).toDouble(), match.captured(2).toDouble());
}

// The figure of "Camera 2 (ref_1.png): frame corners uncertain by X px"; negative when absent.
double corner_uncertainty_in_log(const std::string& log)
{
    const QRegularExpression line(
        QStringLiteral("^Camera 2 \\(ref_1\\.png\\): frame corners uncertain by ([0-9.]+) px$"),
        QRegularExpression::MultilineOption);
    const QRegularExpressionMatch match = line.match(QString::fromStdString(log));
    return match.hasMatch() ? match.captured(1).toDouble() : -1.0;
}

} // namespace

class HandStickersTest : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    std::unique_ptr<WindowDriver> driver;

    // The rig's references, camera 1 showing `hidden`; opened in a new window.
    void open_rig(Hidden hidden)
    {
        static int rig = 0;
        const QString folder = dir.filePath(QString("rig%1").arg(++rig));
        QDir().mkpath(folder);
        QStringList paths;
        for (int i = 0; i < camera_count; ++i) {
            const cv::Mat photo = i == 1 ? hidden_photo(hidden)
                                         : draw_sticker_photo(photo_size, stickers_of(i),
                                                              sticker_radius,
                                                              StickerColor::Yellow, i + 1);
            paths << write_photo(folder, QString("ref_%1.png").arg(i), photo);
        }
        driver = std::make_unique<WindowDriver>();
        driver->open(paths);
    }

    // The colour click on the middle camera: camera 1 is left for clicks.
    void calibrate_to_the_hidden_camera()
    {
        StdoutCapture quiet;
        const cv::Point2d middle = stickers_of(camera_count / 2)[1];
        driver->click(middle.x, middle.y);
        QCOMPARE(driver->dialogs.boxes(), QStringList{"warning: Attention"});
    }

    QString status() const { return driver->window->statusBar()->currentMessage(); }

    // The photo point in the middle of the picture's view.
    QPointF view_centre() const
    {
        auto* area = driver->widget<QScrollArea>("scrollArea");
        QWidget* viewport = area->viewport();
        const QPoint centre = driver->picture()->mapFrom(viewport, viewport->rect().center());
        return driver->picture()->photo_point(QPointF(centre));
    }

    // Photo point `point` is in the middle half of the view, or as near to
    // its middle as the photo's edges let it be. (The view is centred on it;
    // a status shown since may have taken a few pixels of the view.)
    bool centred_on(QPointF point) const
    {
        auto* area = driver->widget<QScrollArea>("scrollArea");
        const QPointF in_contents =
            QPointF(driver->picture()->mapTo(area->widget(), QPoint(0, 0))) +
            driver->picture()->label_position(point);
        const QSize view = area->viewport()->size();
        const auto near = [](QScrollBar* bar, double wanted, int side) {
            return std::abs(bar->value() - std::clamp(wanted, double(bar->minimum()),
                                                      double(bar->maximum()))) <= side / 4.0;
        };
        return near(area->horizontalScrollBar(), in_contents.x() - view.width() / 2.0,
                    view.width()) &&
               near(area->verticalScrollBar(), in_contents.y() - view.height() / 2.0,
                    view.height());
    }

private slots:
    void cleanup() { driver.reset(); }

    void clicks_snap_onto_the_sticker_data();
    void clicks_snap_onto_the_sticker();
    void a_click_on_nothing_round_stays_and_says_so();
    void each_sticker_is_brought_into_view();
    void check_view_flags_uncertain_corners_data();
    void check_view_flags_uncertain_corners();
    void recalibration_in_the_check_view_snaps();
};

void HandStickersTest::clicks_snap_onto_the_sticker_data()
{
    QTest::addColumn<QPointF>("offset");
    QTest::newRow("3 px off") << QPointF(2.1, -2.1);
    QTest::newRow("on the edge") << QPointF(0.0, sticker_radius - 1.0);
    QTest::newRow("just beside the disc") << QPointF(-sticker_radius - 3.0, 0.0);
}

void HandStickersTest::clicks_snap_onto_the_sticker()
{
    QFETCH(QPointF, offset);
    open_rig(Hidden::Covers);
    calibrate_to_the_hidden_camera();
    QCOMPARE(driver->instruction(),
             QString("Cliquez sur le centre approximatif du sticker #1 (image #2 : ref_1.png)"));

    StdoutCapture capture;
    const std::vector<cv::Point2d> truth = stickers_of(1);
    for (int i = 0; i < 3; ++i) {
        driver->click(truth[i].x + offset.x(), truth[i].y + offset.y());
        QCOMPARE(status(), QString("Point placé au centre de la pastille ronde"));
        if (i < 2) {
            // The mark stands where the point went, not where the click was.
            const QPoint mark = driver->picture()->marks().at(i);
            QVERIFY2(QLineF(QPointF(mark), QPointF(truth[i].x, truth[i].y)).length() <= 1.0,
                     qPrintable(QString("(%1, %2)").arg(mark.x()).arg(mark.y())));
        }
    }
    QVERIFY(driver->calibrated());
    const std::string log = capture.text();
    for (int i = 0; i < 3; ++i) {
        const std::optional<QPointF> snapped = snapped_in_log(log, i + 1);
        QVERIFY2(snapped, log.c_str());
        QVERIFY2(QLineF(*snapped, QPointF(truth[i].x, truth[i].y)).length() < 0.3,
                 qPrintable(QString("(%1, %2)").arg(snapped->x()).arg(snapped->y())));
    }
    const double uncertainty = corner_uncertainty_in_log(log);
    QVERIFY2(uncertainty >= 0.0 && uncertainty < corner_uncertainty_limit, log.c_str());
}

void HandStickersTest::a_click_on_nothing_round_stays_and_says_so()
{
    open_rig(Hidden::Nothing);
    calibrate_to_the_hidden_camera();
    StdoutCapture capture;
    driver->click(403.0, 238.0);
    QCOMPARE(status(), QString("Aucun sticker rond trouvé près du clic : point gardé tel quel"));
    QCOMPARE(driver->picture()->marks(), std::vector<QPoint>{QPoint(403, 238)});
    QVERIFY(!snapped_in_log(capture.text(), 1));
}

void HandStickersTest::each_sticker_is_brought_into_view()
{
    open_rig(Hidden::Covers);
    calibrate_to_the_hidden_camera();
    auto* zoom = driver->window->findChild<PhotoZoom*>();
    QVERIFY(zoom);
    // Its neighbours put camera 1's stickers within a pixel or two of the truth.
    const std::vector<cv::Point2d> truth = stickers_of(1);
    for (int i = 0; i < 3; ++i) {
        const QPointF expected(truth[i].x, truth[i].y);
        QTRY_VERIFY2(centred_on(expected),
                     qPrintable(QString("sticker %1: view centred on (%2, %3)")
                                    .arg(i + 1)
                                    .arg(view_centre().x())
                                    .arg(view_centre().y())));
        // A sticker spans a good part of the view.
        const QSize view = zoom->view_size();
        QVERIFY2(2 * sticker_radius * zoom->zoom() >= std::min(view.width(), view.height()) / 8.0,
                 qPrintable(QString("zoom %1").arg(zoom->zoom())));
        if (i < 2) {
            StdoutCapture quiet;
            driver->click(expected.x(), expected.y());
        }
    }
    // Ctrl+0 still shows the whole photo.
    driver->action("action_zoom_fit")->trigger();
    const QSize view = zoom->view_size();
    QVERIFY2(photo_size.width * zoom->zoom() <= view.width() &&
                 photo_size.height * zoom->zoom() <= view.height(),
             qPrintable(QString("zoom %1").arg(zoom->zoom())));
}

void HandStickersTest::check_view_flags_uncertain_corners_data()
{
    QTest::addColumn<int>("hidden");
    QTest::addColumn<bool>("flagged");
    // Clicks on a plain wall stay as placed: a few pixels each, many at the corners.
    QTest::newRow("points kept as clicked") << int(Hidden::Nothing) << true;
    QTest::newRow("points snapped") << int(Hidden::Covers) << false;
}

void HandStickersTest::check_view_flags_uncertain_corners()
{
    QFETCH(int, hidden);
    QFETCH(bool, flagged);
    open_rig(Hidden(hidden));
    calibrate_to_the_hidden_camera();
    StdoutCapture capture;
    for (const cv::Point2d& centre : stickers_of(1))
        driver->click(centre.x + 1.0, centre.y);
    QVERIFY(driver->calibrated());
    const double logged = corner_uncertainty_in_log(capture.text());
    QVERIFY2(flagged ? logged > corner_uncertainty_limit : logged < corner_uncertainty_limit,
             capture.text().c_str());

    driver->action("action_check_calibration")->trigger();
    auto* view = driver->window->findChild<CalibrationCheckView*>();
    QVERIFY(view);
    view->show_camera(1);
    auto* label = view->findChild<QLabel*>("label_camera");
    const QString text = label->text();
    // The same figure as the log's, rounded alike.
    const QString corners =
        QString("coins de l'image incertains de %1 px").arg(logged, 0, 'f', 2);
    QVERIFY2(text.contains(flagged ? corners + " : à recalibrer ; écart des stickers "
                                   : corners + " ; écart des stickers "),
             qPrintable(text));
    QCOMPARE(label->styleSheet().contains("color"), flagged);
    // A camera found by detection has no such figure and is never flagged.
    view->show_camera(0);
    QVERIFY2(!label->text().contains("incertains") && !label->text().contains("recalibrer"),
             qPrintable(label->text()));
    QVERIFY(label->styleSheet().isEmpty());
}

void HandStickersTest::recalibration_in_the_check_view_snaps()
{
    open_rig(Hidden::Covers);
    calibrate_to_the_hidden_camera();
    {
        StdoutCapture quiet;
        for (const cv::Point2d& centre : stickers_of(1))
            driver->click(centre.x, centre.y);
    }
    QVERIFY(driver->calibrated());
    driver->action("action_check_calibration")->trigger();
    auto* view = driver->window->findChild<CalibrationCheckView*>();
    QVERIFY(view);
    view->show_camera(3);
    view->findChild<QPushButton*>("button_recalibrate")->click();
    auto* label = view->findChild<QLabel*>("label_camera");
    QCOMPARE(label->text(),
             QString("Cliquez sur le centre approximatif du sticker #1 (image #4 : ref_3.png)"));

    auto* picture = view->findChild<PixelPicker*>("check_picture");
    StdoutCapture capture;
    const std::vector<cv::Point2d> truth = stickers_of(3);
    for (int i = 0; i < 3; ++i) {
        const QPointF click(truth[i].x - 2.5, truth[i].y + 1.5);
        QMouseEvent press(QEvent::MouseButtonPress, picture->label_position(click),
                          Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(picture, &press);
        if (i == 0)
            QCOMPARE(label->text(), QString("Point placé au centre du sticker. Cliquez sur le "
                                            "centre approximatif du sticker #2 (image #4 : "
                                            "ref_3.png)"));
    }
    QVERIFY2(label->text().startsWith("Caméra 4 / 4 (ref_3.png) : alignée à la main"),
             qPrintable(label->text()));
    QVERIFY2(capture.text().find("Camera 4 (ref_3.png): frame corners uncertain by ") !=
                 std::string::npos,
             capture.text().c_str());
    view->close();

    const QString saved = dir.filePath("recalibrated");
    driver->dialogs.save_answers.enqueue(saved);
    driver->action("action_save_calibration")->trigger();
    const CalibrationRead read = read_calibration_file(saved + ".qvcal");
    QVERIFY2(read.ok(), qPrintable(read.error));
    const CameraCalibration& camera = read.calibration.cameras[3];
    QCOMPARE(camera.method, AlignmentMethod::Manual);
    for (int i = 0; i < 3; ++i)
        QVERIFY2(cv::norm(camera.stickers[i] - truth[i]) < 0.2,
                 qPrintable(QString("(%1, %2)").arg(camera.stickers[i].x).arg(camera.stickers[i].y)));
}

QTEST_MAIN(HandStickersTest)
#include "hand_stickers_test.moc"
