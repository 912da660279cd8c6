// The sticker colour learned from the colour click in the real window: any
// colour in dim light calibrates with one click, a grey click is refused and
// the colour learned goes with the saved calibration.

#include "calibration/calibration_file.h"
#include "tests/support/stdout_capture.h"
#include "tests/support/sticker_drawing.h"
#include "window_driver.h"

#include <opencv2/imgproc.hpp>

#include <QRadioButton>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <memory>

namespace {

const cv::Size photo_size(400, 300);
const cv::Scalar green(40, 190, 50); // BGR

// A rig of green stickers on a noisy grey wall with a grey card at its top left,
// photographed a stop and a half under the usual exposure.
QStringList write_dim_green_rig(const QString& folder, int count)
{
    // A stop and a half less light, in linear light, back to 8-bit values.
    cv::Mat darker(1, 256, CV_8U);
    for (int v = 0; v < 256; ++v)
        darker.at<uchar>(v) = cv::saturate_cast<uchar>(
            255.0 * std::pow(std::pow(v / 255.0, 2.2) * std::pow(2.0, -1.5), 1 / 2.2));
    QStringList paths;
    for (int i = 0; i < count; ++i) {
        cv::Mat photo(photo_size, CV_8UC3, cv::Scalar(120, 120, 120));
        cv::Mat noise(photo_size, CV_8UC3);
        cv::theRNG().state = 7 + i;
        cv::randn(noise, cv::Scalar::all(0), cv::Scalar::all(6));
        photo += noise;
        cv::rectangle(photo, {10, 10, 60, 40}, cv::Scalar(200, 200, 200), cv::FILLED);
        for (int k = 0; k < 3; ++k)
            cv::circle(photo, {200 + 3 * i, 90 + 60 * k - 2 * i}, 12, green, cv::FILLED,
                       cv::LINE_AA);
        cv::LUT(photo, darker, photo);
        paths << write_photo(folder, QStringLiteral("green_%1.jpg").arg(i), photo);
    }
    return paths;
}

bool has_line_starting(const std::vector<std::string>& lines, const std::string& start)
{
    for (const std::string& line : lines) {
        if (line.rfind(start, 0) == 0)
            return true;
    }
    return false;
}

} // namespace

class LearnedColourTest : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    std::unique_ptr<WindowDriver> driver;

private slots:
    void cleanup() { driver.reset(); }
    void dim_green_rig_calibrates_with_one_click();
    void grey_click_is_refused_and_the_next_one_counts();
    void learned_colour_survives_save_and_reopen();
};

void LearnedColourTest::dim_green_rig_calibrates_with_one_click()
{
    driver = std::make_unique<WindowDriver>();
    driver->open(write_dim_green_rig(dir.path(), 5));
    // "Jaune" stays checked: it is only the starting guess.
    QVERIFY(driver->widget<QRadioButton>("button_yellow")->isChecked());
    StdoutCapture capture;
    driver->click(200 + 6, 150 - 4);
    const auto lines = capture.lines();
    QVERIFY(has_line_starting(lines, "Sticker colour learned at (206, 146): hue "));
    QCOMPARE(std::count(lines.begin(), lines.end(), std::string("3 CC detected : success")), 6L);
    QVERIFY2(driver->dialogs.boxes().isEmpty(), qPrintable(driver->dialogs.boxes().join('\n')));
    QVERIFY(driver->calibrated());
}

void LearnedColourTest::grey_click_is_refused_and_the_next_one_counts()
{
    driver = std::make_unique<WindowDriver>();
    driver->open(write_dim_green_rig(dir.path(), 3));
    StdoutCapture capture;
    driver->click(30, 25); // the grey card
    QCOMPARE(driver->dialogs.boxes(), QStringList{"warning: Couleur des repères"});
    QCOMPARE(driver->dialogs.requests.last().text,
             QString("Le point cliqué (30, 25) ne donne pas la couleur d'un repère : la couleur "
                     "cliquée n'est pas assez saturée pour être celle d'un sticker (gris, blanc "
                     "ou noir).\n\nCliquez sur l'un des repères."));
    QVERIFY(has_line_starting(capture.lines(), "no sticker colour at (30, 25)"));
    // The window waits for another click: nothing was calibrated.
    QCOMPARE(driver->instruction(), QString("Cliquez sur un pixel d'un des repères"));
    QVERIFY(driver->picture()->armed);
    QVERIFY(!driver->action("action_save_calibration")->isEnabled());

    driver->click(203, 148);
    QVERIFY(driver->calibrated());
    QCOMPARE(driver->dialogs.boxes().size(), 1);
}

void LearnedColourTest::learned_colour_survives_save_and_reopen()
{
    const QStringList references = write_dim_green_rig(dir.path(), 3);
    driver = std::make_unique<WindowDriver>();
    driver->open(references);
    StdoutCapture quiet;
    driver->click(203, 148);
    QVERIFY(driver->calibrated());
    const QString saved = dir.filePath("green");
    driver->dialogs.save_answers.enqueue(saved);
    driver->action("action_save_calibration")->trigger();
    const CalibrationRead read = read_calibration_file(saved + ".qvcal");
    QVERIFY2(read.ok(), qPrintable(read.error));
    QVERIFY(read.calibration.learned_colour);
    QVERIFY(std::abs(read.calibration.learned_colour->hue - 125) < 10);

    // Another session opens the file; the next calibration starts from its
    // colour, even for a click beside the photo, where nothing is learned.
    driver = std::make_unique<WindowDriver>();
    driver->open({});
    driver->dialogs.file_answers.enqueue({saved + ".qvcal"});
    driver->action("action_open_calibration")->trigger();
    QVERIFY(driver->calibrated());
    driver->dialogs.file_answers.enqueue(references);
    driver->action("action_new_references")->trigger();
    driver->click(450, 20);
    QVERIFY2(driver->dialogs.boxes().isEmpty(), qPrintable(driver->dialogs.boxes().join('\n')));
    QVERIFY(driver->calibrated());
    const QString again = dir.filePath("again");
    driver->dialogs.save_answers.enqueue(again);
    driver->action("action_save_calibration")->trigger();
    QCOMPARE(read_calibration_file(again + ".qvcal").calibration.learned_colour,
             read.calibration.learned_colour);
}

QTEST_MAIN(LearnedColourTest)
#include "learned_colour_test.moc"
