// The calibration workflow in the real window: the colour click, the manual
// fallback, the colour buttons and the menu actions that restart a step.

#include "tests/support/stdout_capture.h"
#include "tests/support/sticker_drawing.h"
#include "window_driver.h"

#include <QRadioButton>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <memory>

namespace {

const cv::Size photo_size(400, 300);
// Stickers of the middle camera; the others are shifted a little.
const std::vector<cv::Point2d> stickers{{200, 90}, {200, 150}, {200, 210}};

std::vector<cv::Point2d> shifted(double dx, double dy)
{
    std::vector<cv::Point2d> result;
    for (const cv::Point2d& point : stickers)
        result.push_back(point + cv::Point2d(dx, dy));
    return result;
}

bool contains_line(const std::vector<std::string>& lines, const std::string& line)
{
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

} // namespace

class WorkflowTest : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    std::unique_ptr<WindowDriver> driver;

    // Writes one reference photo per camera; a camera listed in `hidden` shows no sticker.
    QStringList write_references(int count, StickerColor color = StickerColor::Yellow,
                                 std::vector<int> hidden = {})
    {
        static int rig = 0;
        ++rig;
        QStringList paths;
        for (int i = 0; i < count; ++i) {
            const bool shows_stickers = std::find(hidden.begin(), hidden.end(), i) == hidden.end();
            const auto centres =
                shows_stickers ? shifted(3 * i, -2 * i) : std::vector<cv::Point2d>{};
            const cv::Mat photo = draw_sticker_photo(photo_size, centres, 12.0, color, i + 1);
            paths << write_photo(dir.path(), QString("rig%1_ref_%2.png").arg(rig).arg(i), photo);
        }
        return paths;
    }

    void open_window(const QStringList& references)
    {
        driver = std::make_unique<WindowDriver>();
        driver->open(references);
    }

    QString instruction() { return driver->instruction(); }
    QAction* action(const char* name) { return driver->action(name); }
    PixelPicker* picture() { return driver->picture(); }
    bool calibrated() { return driver->calibrated(); }
    void click(double x, double y) { driver->click(x, y); }
    void click_stickers(const std::vector<cv::Point2d>& centres)
    {
        for (const cv::Point2d& centre : centres)
            click(centre.x, centre.y);
    }
    static QString sticker_prompt(int sticker, int image)
    {
        return WindowDriver::sticker_prompt(sticker, image);
    }

private slots:
    void cleanup() { driver.reset(); }

    void every_camera_aligned_automatically();
    void failed_cameras_are_clicked_by_hand();
    void colour_button_takes_effect_at_the_next_colour_click();
    void manual_pass_keeps_earlier_alignments_and_follows_the_reference_count();
    void click_when_idle_only_logs();
    void colour_reselection_recalibrates();
    void manual_alignment_needs_a_reference_configuration();
    void colour_click_with_no_reference_left();
    void calibration_shows_progress_and_can_be_cancelled();
};

void WorkflowTest::every_camera_aligned_automatically()
{
    open_window(write_references(3));
    QCOMPARE(instruction(), QString("Cliquez sur un pixel d'un des repères"));
    QVERIFY(!action("action_new_computation")->isEnabled());

    StdoutCapture capture;
    click(200, 151);
    const auto lines = capture.lines();
    QCOMPARE(QString::fromStdString(lines.at(0)), QString("Image clicked on (200, 151)"));
    QVERIFY(QString::fromStdString(lines.at(1)).startsWith("It has color ("));
    QVERIFY(contains_line(lines, "Reference chosen :"));
    QCOMPARE(std::count(lines.begin(), lines.end(), std::string("3 CC detected : success")), 4L);
    QVERIFY(driver->dialogs.boxes().isEmpty());
    QVERIFY(calibrated());
    QVERIFY(!picture()->armed);
}

void WorkflowTest::failed_cameras_are_clicked_by_hand()
{
    open_window(write_references(4, StickerColor::Yellow, {1, 3}));
    StdoutCapture capture;
    click(200, 150);
    QCOMPARE(driver->dialogs.boxes(), QStringList{"warning: Attention"});
    QCOMPARE(driver->dialogs.requests.last().text,
             QString("La détection automatique des stickers a échouée pour certaines images ; "
                     "veuillez sélectionner les stickers manuellement."));
    QCOMPARE(driver->dialogs.requests.last().parent, driver->window.get());

    QCOMPARE(instruction(), sticker_prompt(1, 1));
    click(203, 88);
    QCOMPARE(instruction(), sticker_prompt(2, 1));
    click(203, 148);
    QCOMPARE(instruction(), sticker_prompt(3, 1));
    click(203, 208);
    QCOMPARE(instruction(), sticker_prompt(1, 3));

    // Stickers that are not in line are rejected; the same photo is asked again.
    click_stickers({{100, 100}, {100, 200}, {150, 300}});
    QCOMPARE(driver->dialogs.boxes().last(), QString("critical: Erreur"));
    QCOMPARE(driver->dialogs.requests.last().text,
             QString("La détection a échoué avec ces nouveaux paramètres. Veuillez réessayer ou "
                     "choisir de nouveaux étalons."));
    QCOMPARE(instruction(), sticker_prompt(1, 3));
    QVERIFY(contains_line(capture.lines(), "alignement for validation :0.894427"));

    // The order of the clicks does not matter.
    click_stickers({{209, 204}, {209, 84}, {209, 144}});
    QVERIFY(calibrated());
    QCOMPARE(driver->dialogs.boxes().size(), 2);
}

void WorkflowTest::colour_button_takes_effect_at_the_next_colour_click()
{
    open_window(write_references(3, StickerColor::Pink));
    click(200, 150);
    // Yellow finds no pink sticker: every camera goes to manual clicks.
    QCOMPARE(driver->dialogs.boxes(), QStringList{"warning: Attention"});
    QCOMPARE(instruction(), sticker_prompt(1, 0));

    driver->window->findChild<QRadioButton*>("button_pink")->click();
    QCOMPARE(instruction(), sticker_prompt(1, 0));

    action("action_new_color")->trigger();
    QCOMPARE(instruction(), QString("Cliquez sur un pixel d'un des repères"));
    click(200, 150);
    QVERIFY(calibrated());
    QCOMPARE(driver->dialogs.boxes().size(), 1);

    // And back to yellow: the next colour click fails again.
    driver->window->findChild<QRadioButton*>("button_yellow")->click();
    action("action_new_color")->trigger();
    click(200, 150);
    QCOMPARE(driver->dialogs.boxes().size(), 2);
}

void WorkflowTest::manual_pass_keeps_earlier_alignments_and_follows_the_reference_count()
{
    open_window(write_references(3));
    click(200, 150);
    QVERIFY(calibrated());

    action("action_manual_calibration")->trigger();
    QCOMPARE(instruction(), sticker_prompt(1, 0));
    // Clicks that fail validation on an already aligned camera keep its alignment.
    click_stickers({{100, 100}, {100, 200}, {150, 300}});
    QVERIFY(driver->dialogs.boxes().isEmpty());
    QCOMPARE(instruction(), sticker_prompt(1, 1));
    click_stickers(shifted(3, -2));
    QCOMPARE(instruction(), sticker_prompt(1, 2));
    click_stickers(shifted(6, -4));
    QVERIFY(calibrated());

    // Five new references, no colour click: the pass covers all five, the two
    // new ones starting unaligned.
    driver->dialogs.file_answers.enqueue(write_references(5));
    action("action_new_references")->trigger();
    action("action_manual_calibration")->trigger();
    for (int image = 0; image < 5; ++image) {
        QCOMPARE(instruction(), sticker_prompt(1, image));
        click_stickers(shifted(3 * image, -2 * image));
    }
    QVERIFY(calibrated());
    QVERIFY(driver->dialogs.boxes().isEmpty());
}

void WorkflowTest::click_when_idle_only_logs()
{
    open_window(write_references(3));
    click(200, 150);
    QVERIFY(calibrated());

    picture()->armed = true;
    StdoutCapture capture;
    click(10, 20);
    QCOMPARE(capture.text(), std::string("Image clicked on (10, 20)\n"));
    QVERIFY(calibrated());
}

void WorkflowTest::colour_reselection_recalibrates()
{
    open_window(write_references(3));
    click(200, 150);
    QVERIFY(calibrated());

    action("action_new_color")->trigger();
    QCOMPARE(instruction(), QString("Cliquez sur un pixel d'un des repères"));
    QVERIFY(picture()->armed);
    QVERIFY(!action("action_new_computation")->isEnabled());

    StdoutCapture capture;
    click(200, 150);
    QVERIFY(contains_line(capture.lines(), "Reference chosen :"));
    QVERIFY(calibrated());
}

void WorkflowTest::manual_alignment_needs_a_reference_configuration()
{
    // The middle photo shows no sticker: no reference configuration can be chosen.
    open_window(write_references(3, StickerColor::Yellow, {1}));
    StdoutCapture capture;
    click(200, 150);
    QCOMPARE(driver->dialogs.boxes(), QStringList{"warning: Attention"});
    QCOMPARE(instruction(), sticker_prompt(1, 0));

    click_stickers(stickers);
    QCOMPARE(driver->dialogs.boxes().last(), QString("critical: Erreur"));
    QCOMPARE(instruction(), sticker_prompt(1, 0));
}

void WorkflowTest::colour_click_with_no_reference_left()
{
    open_window(write_references(3));
    click(200, 150);
    QVERIFY(calibrated());

    // Reloading and cancelling leaves no reference; recalibrating must not fail.
    action("action_new_references")->trigger();
    QCOMPARE(instruction(), QString("Recadreur étalonné ; prêt à charger des images."));
    action("action_new_color")->trigger();
    click(200, 150);
    QVERIFY(calibrated());
}

void WorkflowTest::calibration_shows_progress_and_can_be_cancelled()
{
    open_window(write_references(3));
    driver->dialogs.cancel_progress = true;
    StdoutCapture capture;
    click(200, 150);
    QCOMPARE(driver->dialogs.boxes(), QStringList{"information: Calibrage annulé"});
    QCOMPARE(instruction(), QString("Cliquez sur un pixel d'un des repères"));
    QVERIFY(picture()->armed);
    QVERIFY(!action("action_new_computation")->isEnabled());
    // Stopped before any photo was taken: no detection ran.
    QVERIFY(!contains_line(capture.lines(), "Reference chosen :"));

    driver->dialogs.cancel_progress = false;
    driver->dialogs.progress_labels.clear();
    click(200, 150);
    QVERIFY(calibrated());
    QCOMPARE(driver->dialogs.progress_labels.first(), QString("Alignement des images : 0 / 3"));
    QCOMPARE(driver->dialogs.progress_labels.last(), QString("Alignement des images : 3 / 3"));
}

QTEST_MAIN(WorkflowTest)
#include "workflow_test.moc"
