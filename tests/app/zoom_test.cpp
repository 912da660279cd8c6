// Zooming the photo in the real window: fitted at first, 100 %, up to 400 %,
// about the cursor, kept from photo to photo; a click reports the photo point
// under the cursor at every zoom, found on the picture the widget really drew.

#include "app/photo_zoom.h"
#include "calibration/calibration_file.h"
#include "tests/support/stdout_capture.h"
#include "tests/support/sticker_drawing.h"
#include "window_driver.h"

#include <QScrollArea>
#include <QScrollBar>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QWheelEvent>

#include <cmath>

namespace {

const QSize photo_size(1600, 1200);
const QPoint marker(1100, 420);

// Black, with a red square of 9 x 9 pixels centred on `marker`.
QImage marked_photo()
{
    QImage photo(photo_size, QImage::Format_RGB888);
    photo.fill(Qt::black);
    for (int y = -4; y <= 4; ++y)
        for (int x = -4; x <= 4; ++x)
            photo.setPixel(marker + QPoint(x, y), qRgb(255, 0, 0));
    return photo;
}

// The redness-weighted centre of what `picker` shows, in its coordinates.
QPointF drawn_marker(PixelPicker* picker)
{
    const QImage shown = picker->grab().toImage();
    double total = 0, x = 0, y = 0;
    for (int row = 0; row < shown.height(); ++row) {
        for (int column = 0; column < shown.width(); ++column) {
            const QRgb pixel = shown.pixel(column, row);
            const double weight = qRed(pixel) - std::max(qGreen(pixel), qBlue(pixel));
            if (weight < 40)
                continue;
            total += weight;
            x += weight * (column + 0.5);
            y += weight * (row + 0.5);
        }
    }
    return total > 0 ? QPointF(x / total, y / total) : QPointF(-1, -1);
}

} // namespace

class ZoomTest : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    std::unique_ptr<WindowDriver> driver;

    void open()
    {
        const QString path = dir.filePath("marked.png");
        QVERIFY(marked_photo().save(path));
        driver = std::make_unique<WindowDriver>();
        driver->open({path});
        driver->window->resize(900, 700);
        driver->action("action_zoom_fit")->trigger();
        QCoreApplication::processEvents();
    }

    double zoom() const { return driver->picture()->display_scale; }

    // Scrolls the marker into view, finds it on screen and presses there.
    void click_marker()
    {
        auto* area = driver->widget<QScrollArea>("scrollArea");
        const QPointF at = driver->picture()->label_position(QPointF(marker));
        area->ensureVisible(int(at.x()), int(at.y()), 60, 60);
        QCoreApplication::processEvents();
        const QPointF drawn = drawn_marker(driver->picture());
        QVERIFY(drawn.x() >= 0);
        driver->picture()->armed = true;
        QMouseEvent press(QEvent::MouseButtonPress, drawn - QPointF(0.5, 0.5), Qt::LeftButton,
                          Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(driver->picture(), &press);
    }

private slots:
    void cleanup() { driver.reset(); }

    void click_reports_the_photo_point_at_every_zoom_data();
    void click_reports_the_photo_point_at_every_zoom();
    void wheel_zooms_about_the_cursor_within_bounds();
    void zoom_is_kept_for_the_next_photo();
    void manual_clicks_keep_their_fraction();
    void photo_view_minimum_data();
    void photo_view_minimum();
};

void ZoomTest::click_reports_the_photo_point_at_every_zoom_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<int>("steps_in");
    QTest::addColumn<double>("expected_zoom"); // 0: the fit, below 100 %
    QTest::newRow("fit") << "action_zoom_fit" << 0 << 0.0;
    QTest::newRow("100 %") << "action_zoom_actual" << 0 << 1.0;
    QTest::newRow("400 %") << "action_zoom_actual" << 20 << 4.0;
}

void ZoomTest::click_reports_the_photo_point_at_every_zoom()
{
    QFETCH(QString, action);
    QFETCH(int, steps_in);
    QFETCH(double, expected_zoom);
    open();

    driver->action(action.toLatin1())->trigger();
    for (int i = 0; i < steps_in; ++i)
        driver->action("action_zoom_in")->trigger();
    if (expected_zoom == 0.0)
        QVERIFY(zoom() < 0.6);
    else
        QCOMPARE(zoom(), expected_zoom);
    QCOMPARE(driver->window->statusBar()->findChild<QLabel*>("label_zoom")->text(),
             QString("Zoom : %1 %").arg(std::lround(zoom() * 100)));

    QSignalSpy clicks(driver->picture(), &PixelPicker::clicked);
    click_marker();
    QCOMPARE(clicks.size(), 1);
    // Within one screen pixel, that is 1 / zoom photo pixels, and never worse than a pixel.
    const double reach = std::max(1.0, 1.0 / zoom());
    const QPoint pixel = clicks.first()[1].toPoint();
    QVERIFY2(std::abs(pixel.x() - marker.x()) <= reach && std::abs(pixel.y() - marker.y()) <= reach,
             qPrintable(QString("(%1, %2)").arg(pixel.x()).arg(pixel.y())));
    const QPointF point = driver->picture()->last_photo_point;
    QVERIFY2(QLineF(point, QPointF(marker)).length() <= 0.75 / zoom(),
             qPrintable(QString("(%1, %2)").arg(point.x()).arg(point.y())));
}

void ZoomTest::wheel_zooms_about_the_cursor_within_bounds()
{
    open();
    const double fit = zoom();
    // From 100 %, where the photo is larger than the view and can be scrolled.
    driver->action("action_zoom_actual")->trigger();
    auto* area = driver->widget<QScrollArea>("scrollArea");
    QWidget* viewport = area->viewport();
    const QPointF cursor(viewport->width() * 0.7, viewport->height() * 0.3);
    const auto under_cursor = [&] {
        return driver->picture()->photo_point(
            driver->picture()->mapFrom(viewport, cursor.toPoint()));
    };

    for (int notch = 0; notch < 12; ++notch) {
        const QPointF before = under_cursor();
        QWheelEvent wheel(cursor, QPointF(viewport->mapToGlobal(cursor.toPoint())), QPoint(),
                          QPoint(0, 120), Qt::NoButton, Qt::ControlModifier, Qt::NoScrollPhase,
                          false);
        QCoreApplication::sendEvent(viewport, &wheel);
        QVERIFY2(QLineF(under_cursor(), before).length() <= 1.0,
                 qPrintable(QString("zoom %1: (%2, %3) moved to (%4, %5)")
                                .arg(zoom())
                                .arg(before.x())
                                .arg(before.y())
                                .arg(under_cursor().x())
                                .arg(under_cursor().y())));
    }
    QCOMPARE(zoom(), largest_zoom);

    for (int i = 0; i < 20; ++i)
        driver->action("action_zoom_out")->trigger();
    QCOMPARE(float(zoom()), float(fit));
    // Without Ctrl the wheel scrolls as usual.
    QWheelEvent plain(cursor, QPointF(viewport->mapToGlobal(cursor.toPoint())), QPoint(),
                      QPoint(0, 120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(viewport, &plain);
    QCOMPARE(float(zoom()), float(fit));
}

void ZoomTest::zoom_is_kept_for_the_next_photo()
{
    open();
    driver->action("action_zoom_actual")->trigger();
    driver->action("action_zoom_in")->trigger();
    const double chosen = zoom();
    QVERIFY(chosen > 1.0);
    driver->window->display_image(marked_photo().mirrored());
    QCOMPARE(zoom(), chosen);

    driver->action("action_zoom_fit")->trigger();
    QImage small(photo_size / 2, QImage::Format_RGB888);
    small.fill(Qt::gray);
    driver->window->display_image(small);
    // Fitted again: the new photo, half the size, is fitted too.
    const QSize view = driver->widget<QScrollArea>("scrollArea")->viewport()->size();
    QCOMPARE(float(zoom()), float(fit_zoom(small.size(), view - QSize(32, 32))));
    QCOMPARE(fit_zoom(QSize(1000, 500), QSize(500, 500)), 0.5);
    QCOMPARE(fit_zoom(QSize(100, 50), QSize(500, 500)), 1.0);
    QCOMPARE(stepped_zoom(1.0, 1, 0.2), 1.25);
    QCOMPARE(stepped_zoom(0.8, 1, 0.2), 1.0);
    QCOMPARE(stepped_zoom(3.5, 1, 0.2), 4.0);
    QCOMPARE(stepped_zoom(0.25, -1, 0.22), 0.22);
}

void ZoomTest::manual_clicks_keep_their_fraction()
{
    // A calibrated rig, then references that show nothing round (a click on a
    // sticker would move to its centre): every camera is clicked by hand, at 400 %.
    QStringList references, plain;
    for (int i = 0; i < 3; ++i) {
        references << write_photo(dir.path(), QString("stickers_%1.png").arg(i),
                                  draw_sticker_photo({400, 300},
                                                     {{200, 90}, {200, 150}, {200, 210}}, 12.0,
                                                     StickerColor::Yellow, i + 1));
        plain << write_photo(dir.path(), QString("plain_%1.png").arg(i),
                             cv::Mat(300, 400, CV_8UC3, cv::Scalar(120, 130, 140)));
    }
    driver = std::make_unique<WindowDriver>();
    driver->open(references);
    StdoutCapture quiet;
    driver->click(200, 150);
    QVERIFY(driver->calibrated());
    driver->dialogs.unsaved_answers.enqueue(UserDialogs::UnsavedAnswer::Discard);
    driver->dialogs.file_answers.enqueue(plain);
    driver->action("action_new_references")->trigger();
    driver->action("action_manual_calibration")->trigger();
    for (int i = 0; i < 8; ++i)
        driver->action("action_zoom_in")->trigger();
    QCOMPARE(zoom(), 4.0);

    const QPointF clicks[3] = {{201.25, 88.5}, {201.5, 148.75}, {201.75, 209.25}};
    for (int camera = 0; camera < 3; ++camera) {
        for (const QPointF& click : clicks) {
            auto* area = driver->widget<QScrollArea>("scrollArea");
            const QPointF at = driver->picture()->label_position(click);
            area->ensureVisible(int(at.x()), int(at.y()), 40, 40);
            driver->click(click.x(), click.y());
        }
    }
    QVERIFY(driver->calibrated());
    const QString path = dir.filePath("fractions.qvcal");
    driver->dialogs.save_answers.enqueue(path);
    driver->action("action_save_calibration")->trigger();
    const CalibrationRead read = read_calibration_file(path);
    QVERIFY2(read.ok(), qPrintable(read.error));
    for (const CameraCalibration& camera : read.calibration.cameras) {
        QCOMPARE(camera.method, AlignmentMethod::Manual);
        for (int s = 0; s < 3; ++s)
            QVERIFY(std::hypot(camera.stickers[s].x - clicks[s].x(),
                               camera.stickers[s].y - clicks[s].y()) <= 0.125 + 1e-9);
    }
}

void ZoomTest::photo_view_minimum_data()
{
    QTest::addColumn<QSize>("photo");
    QTest::addColumn<QSize>("room");
    QTest::addColumn<QSize>("minimum");
    const QSize ample(4000, 3000);
    QTest::newRow("a third") << QSize(3000, 2000) << ample << QSize(1000, 666);
    QTest::newRow("at most 1200 x 900") << QSize(6000, 4500) << ample << QSize(1200, 900);
    QTest::newRow("tiny photo") << QSize(5, 5) << ample << QSize(1, 1);
    QTest::newRow("no photo") << QSize(0, 0) << ample << QSize(0, 0);
    // A 1000-pixel screen leaves about 430 pixels once the controls are laid out.
    QTest::newRow("24 MP, 1000-px screen")
        << QSize(6000, 4000) << QSize(1850, 430) << QSize(1200, 430);
    QTest::newRow("24 MP upright, 1000-px screen")
        << QSize(4000, 6000) << QSize(1850, 430) << QSize(1200, 430);
    QTest::newRow("small photo on a small screen")
        << QSize(640, 480) << QSize(100, 120) << QSize(100, 120);
    QTest::newRow("screen with no room: the view's floor")
        << QSize(6000, 4000) << QSize(300, -20) << QSize(300, 70);
    QTest::newRow("tiny photo, no room") << QSize(5, 5) << QSize(-10, -10) << QSize(1, 1);
}

void ZoomTest::photo_view_minimum()
{
    QFETCH(QSize, photo);
    QFETCH(QSize, room);
    QTEST(::photo_view_minimum(photo, room, QSize(70, 70)), "minimum");
}

QTEST_MAIN(ZoomTest)
#include "zoom_test.moc"
