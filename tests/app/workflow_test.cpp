// The calibration workflow in the real window: the colour click, the manual
// fallback, the colour buttons and the menu actions that restart a step.

#include "tests/support/stdout_capture.h"
#include "tests/support/sticker_drawing.h"
#include "window_driver.h"

#include <QFileInfo>
#include <QRadioButton>
#include <QStatusBar>
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
        driver->window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(driver->window.get()));
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
    QString sticker_prompt(int sticker, int image)
    {
        return driver->sticker_prompt(sticker, image);
    }
    QString status() { return driver->window->statusBar()->currentMessage(); }
    std::vector<QPoint> marks() { return picture()->marks(); }
    void key(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QTest::keyClick(driver->window.get(), static_cast<Qt::Key>(key), modifiers);
    }

private slots:
    void cleanup() { driver.reset(); }

    void every_camera_aligned_automatically();
    void failed_cameras_are_clicked_by_hand();
    void manual_pass_keeps_earlier_alignments_and_follows_the_reference_count();
    void click_when_idle_only_logs();
    void colour_reselection_recalibrates();
    void calibration_shows_progress_and_can_be_cancelled();

    void references_out_of_name_order_data();
    void references_out_of_name_order();
    void manual_clicks_are_marked_and_can_be_taken_back();
    void escape_restores_what_was_there_before_the_manual_steps_data();
    void escape_restores_what_was_there_before_the_manual_steps();
    void wrong_colour_stays_at_the_colour_click_data();
    void wrong_colour_stays_at_the_colour_click();
    void manual_pass_asks_first();
    void no_run_while_a_manual_pass_replaces_the_calibration();
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
             QString("La détection automatique des stickers a échoué pour certaines images ; "
                     "veuillez sélectionner les stickers manuellement.\n\n"
                     "Images à cliquer (2 sur 4) :\n#2 : %1\n#4 : %2")
                 .arg(QFileInfo(driver->references.at(1)).fileName(),
                      QFileInfo(driver->references.at(3)).fileName()));
    QCOMPARE(driver->dialogs.requests.last().parent, driver->window.get());

    QCOMPARE(instruction(), sticker_prompt(1, 1));
    click(203, 88);
    QCOMPARE(instruction(), sticker_prompt(2, 1));
    click(203, 148);
    QCOMPARE(instruction(), sticker_prompt(3, 1));
    click(203, 208);
    QCOMPARE(instruction(), sticker_prompt(1, 3));

    // Stickers that are not in line are rejected; the same photo is asked again.
    click_stickers({{100, 50}, {100, 150}, {150, 250}});
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

void WorkflowTest::manual_pass_keeps_earlier_alignments_and_follows_the_reference_count()
{
    open_window(write_references(3));
    click(200, 150);
    QVERIFY(calibrated());

    action("action_manual_calibration")->trigger();
    QCOMPARE(instruction(), sticker_prompt(1, 0));
    // Clicks that fail validation on an already aligned camera keep its alignment.
    click_stickers({{100, 100}, {100, 200}, {150, 299}});
    QCOMPARE(driver->dialogs.boxes(), QStringList{"question: Tout calibrer manuellement"});
    QCOMPARE(instruction(), sticker_prompt(1, 1));
    click_stickers(shifted(3, -2));
    QCOMPARE(instruction(), sticker_prompt(1, 2));
    click_stickers(shifted(6, -4));
    QVERIFY(calibrated());

    // Five new references, no colour click: the pass covers all five, the two
    // new ones starting unaligned.
    driver->references = write_references(5);
    // The calibration was never saved: asked first, and let go.
    driver->dialogs.unsaved_answers.enqueue(UserDialogs::UnsavedAnswer::Discard);
    driver->dialogs.file_answers.enqueue(driver->references);
    action("action_new_references")->trigger();
    action("action_manual_calibration")->trigger();
    for (int image = 0; image < 5; ++image) {
        QCOMPARE(instruction(), sticker_prompt(1, image));
        click_stickers(shifted(3 * image, -2 * image));
    }
    QVERIFY(calibrated());
    QCOMPARE(driver->dialogs.boxes(),
             QStringList({"question: Tout calibrer manuellement",
                          "unsaved: Enregistrer les modifications du calibrage ?",
                          "question: Tout calibrer manuellement"}));
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

    // The rig the click replaces was never saved: asked first, once the click
    // gave a new one.
    driver->dialogs.unsaved_answers.enqueue(UserDialogs::UnsavedAnswer::Discard);
    StdoutCapture capture;
    click(200, 150);
    QVERIFY(contains_line(capture.lines(), "Reference chosen :"));
    QVERIFY(calibrated());
    QCOMPARE(driver->dialogs.requests.last().kind, QString("unsaved"));
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

void WorkflowTest::references_out_of_name_order_data()
{
    QTest::addColumn<bool>("sort");
    QTest::addColumn<QStringList>("order");
    QTest::newRow("Oui: name order") << true << QStringList{"cam1", "cam2", "cam10"};
    QTest::newRow("Non: order chosen") << false << QStringList{"cam10", "cam2", "cam1"};
}

void WorkflowTest::references_out_of_name_order()
{
    QFETCH(bool, sort);
    QFETCH(QStringList, order);
    // cam10 shows no sticker: its place in the camera order tells which order was used.
    QStringList chosen;
    for (const QString name : {"cam10", "cam2", "cam1"}) {
        const int number = name.mid(3).toInt();
        const auto centres = name == "cam10" ? std::vector<cv::Point2d>{} : shifted(number, 0);
        chosen << write_photo(
            dir.path(), name + ".png",
            draw_sticker_photo(photo_size, centres, 12.0, StickerColor::Yellow, number));
    }
    driver = std::make_unique<WindowDriver>();
    driver->dialogs.question_answers.enqueue(sort);
    StdoutCapture capture;
    driver->open(chosen);
    QCOMPARE(driver->dialogs.boxes(), QStringList{"question: Ordre des images"});
    QCOMPARE(driver->dialogs.requests.at(1).text,
             QString("Les images ne sont pas dans l'ordre de leurs noms de fichiers. Utiliser "
                     "l'ordre des noms ?"));
    for (int camera = 0; camera < 3; ++camera)
        QVERIFY(contains_line(capture.lines(), QString("Camera %1 : %2")
                                                   .arg(camera + 1)
                                                   .arg(dir.filePath(order[camera] + ".png"))
                                                   .toStdString()));

    driver->references.clear();
    for (const QString& name : order)
        driver->references << dir.filePath(name + ".png");
    // The middle camera in that order is a camera with stickers either way.
    click(200, 150);
    QCOMPARE(instruction(), sticker_prompt(1, order.indexOf("cam10")));
}

void WorkflowTest::manual_clicks_are_marked_and_can_be_taken_back()
{
    open_window(write_references(3, StickerColor::Yellow, {2}));
    click(200, 150);
    QCOMPARE(instruction(), sticker_prompt(1, 2));
    QVERIFY(marks().empty());

    click(206, 86);
    click(206, 146);
    QCOMPARE(marks(), std::vector<QPoint>({{206, 86}, {206, 146}}));
    QCOMPARE(instruction(), sticker_prompt(3, 2));
    // The marks are drawn over the photo where the clicks were (nothing round
    // there to move them to), a ring of one size at any zoom.
    QCOMPARE(status(), QString("Aucun sticker rond trouvé près du clic : point gardé tel quel"));
    const QImage shown = picture()->grab().toImage();
    const QPointF mark = picture()->label_position(QPointF(206, 86));
    QCOMPARE(shown.pixel(QPoint(int(mark.x()), int(mark.y()) - 10)), QColor(Qt::cyan).rgb());

    key(Qt::Key_Backspace);
    QCOMPARE(instruction(), sticker_prompt(2, 2));
    QCOMPARE(marks(), std::vector<QPoint>({{206, 86}}));
    key(Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(instruction(), sticker_prompt(1, 2));
    QVERIFY(marks().empty());
    // Nothing left to take back on this photo.
    key(Qt::Key_Backspace);
    QCOMPARE(instruction(), sticker_prompt(1, 2));

    // A click beside the photo does not count, and the status bar says why.
    StdoutCapture capture;
    click(400, 150);
    click(-3, 20);
    QCOMPARE(instruction(), sticker_prompt(1, 2));
    QVERIFY(status().contains("hors de la photo (400 × 300)"));
    QVERIFY(picture()->armed);

    click_stickers(shifted(6, -4));
    QVERIFY(calibrated());
    QVERIFY(marks().empty());
    QCOMPARE(driver->dialogs.boxes(), QStringList{"warning: Attention"});
}

void WorkflowTest::escape_restores_what_was_there_before_the_manual_steps_data()
{
    QTest::addColumn<bool>("from_colour_click");
    QTest::newRow("manual steps after the colour click") << true;
    QTest::newRow("Tout calibrer manuellement") << false;
}

void WorkflowTest::escape_restores_what_was_there_before_the_manual_steps()
{
    QFETCH(bool, from_colour_click);
    // The first calibration aligns every camera; the second rig hides camera 0's stickers.
    open_window(write_references(3));
    StdoutCapture quiet;
    click(200, 150);
    QVERIFY(calibrated());
    QTemporaryDir output;
    auto process = [&] {
        driver->process(write_references(3), output.path());
        return QImage(output.filePath("output_img_0.jpg"));
    };
    const QImage before = process();

    if (from_colour_click) {
        driver->references = write_references(3, StickerColor::Yellow, {0, 2});
        driver->dialogs.unsaved_answers.enqueue(UserDialogs::UnsavedAnswer::Discard);
        driver->dialogs.file_answers.enqueue(driver->references);
        action("action_new_references")->trigger();
        click(200, 150);
    } else {
        action("action_manual_calibration")->trigger();
    }
    QCOMPARE(instruction(), sticker_prompt(1, 0));
    // Clicks that would make camera 0 a different alignment, then Escape.
    click_stickers({{150, 60}, {150, 120}, {150, 180}});
    QCOMPARE(instruction(), sticker_prompt(1, from_colour_click ? 2 : 1));
    click(100, 100);
    key(Qt::Key_Escape);

    QVERIFY(marks().empty());
    QVERIFY(status().contains("le calibrage précédent est rétabli"));
    if (from_colour_click) {
        QCOMPARE(instruction(), QString("Cliquez sur un pixel d'un des repères"));
        QVERIFY(picture()->armed);
    } else {
        QVERIFY(calibrated());
        QVERIFY(!picture()->armed);
    }
    // Escape again has nothing to leave.
    key(Qt::Key_Escape);
    QVERIFY(!action("action_leave_manual_steps")->isEnabled());

    // The earlier calibration is back whole: the same frame as before.
    if (from_colour_click) {
        driver->dialogs.unsaved_answers.enqueue(UserDialogs::UnsavedAnswer::Discard);
        driver->dialogs.file_answers.enqueue(driver->references);
        action("action_new_references")->trigger();
        driver->references = write_references(3);
    }
    QFile::remove(output.filePath("output_img_0.jpg"));
    const QImage after = process();
    QVERIFY(!after.isNull());
    QVERIFY(after == before);
}

void WorkflowTest::wrong_colour_stays_at_the_colour_click_data()
{
    QTest::addColumn<QPoint>("pixel");
    QTest::addColumn<bool>("learned");
    // The click on a sticker gives its colour, whatever the preset checked.
    QTest::newRow("pink sticker clicked: its colour learned") << QPoint(200, 150) << true;
    // Beside the photo nothing is learned: the preset masks, and finds nothing.
    QTest::newRow("beside the photo: the preset") << QPoint(500, 20) << false;
}

void WorkflowTest::wrong_colour_stays_at_the_colour_click()
{
    QFETCH(QPoint, pixel);
    QFETCH(bool, learned);
    // Pink stickers, "Jaune" checked; five cameras so that the middle is image #3.
    open_window(write_references(5, StickerColor::Pink));
    StdoutCapture quiet;
    click(pixel.x(), pixel.y());
    auto* pink = driver->widget<QRadioButton>("button_pink");
    if (learned) {
        QVERIFY(driver->dialogs.boxes().isEmpty());
        QVERIFY(calibrated());
        QVERIFY(!pink->isChecked());
        return;
    }
    const QStringList boxes{"warning: Couleur des repères"};
    QCOMPARE(driver->dialogs.boxes(), boxes);
    const QString text = driver->dialogs.requests.at(2).text; // after the references, the progress
    QVERIFY2(
        text.startsWith(QString("Aucun trio de repères de cette couleur dans l'image du milieu "
                                "(image #3 : %1). La couleur choisie est « Jaune ».")
                            .arg(QFileInfo(driver->references.at(2)).fileName())),
        qPrintable(text));
    // No manual steps for every camera: the colour click is asked for again.
    QCOMPARE(instruction(), QString("Cliquez sur un pixel d'un des repères"));
    QVERIFY(picture()->armed);
    QVERIFY(action("action_new_color")->isEnabled());
    QVERIFY(!action("action_new_computation")->isEnabled());

    pink->click();
    click(pixel.x(), pixel.y());
    QVERIFY(calibrated());
    QCOMPARE(driver->dialogs.boxes(), boxes);
}

void WorkflowTest::manual_pass_asks_first()
{
    open_window(write_references(3));
    StdoutCapture quiet;
    click(200, 150);
    QVERIFY(calibrated());

    driver->dialogs.question_answers.enqueue(false);
    action("action_manual_calibration")->trigger();
    QCOMPARE(driver->dialogs.boxes(), QStringList{"question: Tout calibrer manuellement"});
    QVERIFY(driver->dialogs.requests.last().text.startsWith("Le calibrage actuel sera remplacé"));
    QCOMPARE(driver->dialogs.requests.last().parent, driver->window.get());
    QVERIFY(calibrated());
    QVERIFY(!picture()->armed);

    action("action_manual_calibration")->trigger();
    QCOMPARE(instruction(), sticker_prompt(1, 0));
}

void WorkflowTest::no_run_while_a_manual_pass_replaces_the_calibration()
{
    open_window(write_references(3));
    StdoutCapture quiet;
    click(200, 150);
    QVERIFY(calibrated());

    // Half-way through, the rig is part old, part new: no run from it.
    action("action_manual_calibration")->trigger();
    QVERIFY(!action("action_new_computation")->isEnabled());
    click_stickers(stickers);
    QCOMPARE(instruction(), sticker_prompt(1, 1));
    QVERIFY(!action("action_new_computation")->isEnabled());
    // Escape gives the calibration back, and the run with it.
    key(Qt::Key_Escape);
    QVERIFY(calibrated());

    action("action_manual_calibration")->trigger();
    for (int camera = 0; camera < 3; ++camera)
        click_stickers(shifted(3 * camera, -2 * camera));
    QVERIFY(calibrated());
}

QTEST_MAIN(WorkflowTest)
#include "workflow_test.moc"
