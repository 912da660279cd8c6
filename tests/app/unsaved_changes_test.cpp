// A calibration changed and not saved is never lost without a word: the title
// names its file and marks the change, and quitting, opening another
// calibration, choosing new references or the click that calibrates anew first
// asks whether to save it.

#include "app/calibration_check_view.h"
#include "calibration/calibration_file.h"
#include "tests/support/stdout_capture.h"
#include "tests/support/sticker_drawing.h"
#include "window_driver.h"

#include <QPushButton>
#include <QStatusBar>
#include <QTemporaryDir>

#include <memory>

namespace {

const cv::Size photo_size(400, 300);
const int camera_count = 3;

std::vector<cv::Point2d> stickers_of(int camera)
{
    std::vector<cv::Point2d> result;
    for (double y : {90.0, 150.0, 210.0})
        result.push_back(cv::Point2d(200.0 + 4 * camera, y - 2 * camera));
    return result;
}

using Answer = UserDialogs::UnsavedAnswer;

} // namespace

class UnsavedChangesTest : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    std::unique_ptr<WindowDriver> driver;
    QStringList references;
    QString saved; // the calibration saved, then changed in the check view

    // Calibrates, saves to `saved`, then recalibrates camera 2 in the check
    // view with clicks a little off: the window holds an unsaved change. With
    // `new_colour`, the change comes after a new colour was chosen, while the
    // rig in hand waits for the click that replaces it.
    void change_a_saved_calibration(bool new_colour = false)
    {
        references.clear();
        for (int i = 0; i < camera_count; ++i)
            references << write_photo(
                dir.path(), QString("ref_%1.png").arg(i),
                draw_sticker_photo(photo_size, stickers_of(i), 12.0, StickerColor::Yellow, i + 1));
        driver = std::make_unique<WindowDriver>();
        driver->open(references);
        StdoutCapture quiet;
        QCOMPARE(driver->window->windowTitle(), QString("Quorvane 3000"));
        driver->click(200, 150);
        QVERIFY(driver->calibrated());
        // Calibrated and not saved yet: a change already.
        QCOMPARE(driver->window->windowTitle(),
                 QString("Calibrage non enregistré[*] — Quorvane 3000"));
        QVERIFY(driver->window->isWindowModified());

        saved = dir.filePath("rig.qvcal");
        driver->dialogs.save_answers.enqueue(saved);
        driver->action("action_save_calibration")->trigger();
        QCOMPARE(driver->window->statusBar()->currentMessage(),
                 QString("Calibrage enregistré dans '%1'.").arg(saved));
        QCOMPARE(driver->window->windowFilePath(), saved);
        QCOMPARE(driver->window->windowTitle(), QString("rig.qvcal[*] — Quorvane 3000"));
        QVERIFY(!driver->window->isWindowModified());

        if (new_colour)
            driver->action("action_new_color")->trigger();
        driver->action("action_check_calibration")->trigger();
        auto* view = driver->window->findChild<CalibrationCheckView*>();
        QVERIFY(view);
        view->show_camera(2);
        view->findChild<QPushButton*>("button_recalibrate")->click();
        auto* picture = view->findChild<PixelPicker*>("check_picture");
        for (const cv::Point2d& centre : stickers_of(2)) {
            QMouseEvent press(QEvent::MouseButtonPress,
                              picture->label_position(QPointF(centre.x + 1, centre.y)),
                              Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
            QCoreApplication::sendEvent(picture, &press);
        }
        QCOMPARE(read_calibration_file(saved).calibration.cameras[2].method,
                 AlignmentMethod::Automatic);
        QVERIFY(driver->window->isWindowModified());
        view->close();
        driver->dialogs = ScriptedDialogs();
    }

    QStringList kinds() const
    {
        QStringList result;
        for (const ScriptedDialogs::Request& request : driver->dialogs.requests)
            result << request.kind;
        return result;
    }

private slots:
    void cleanup() { driver.reset(); }

    void asked_before_the_change_is_lost_data();
    void asked_before_the_change_is_lost();
};

void UnsavedChangesTest::asked_before_the_change_is_lost_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<int>("answer");
    QTest::addColumn<bool>("save_dialog_answered");
    for (const char* action : {"quit", "open", "references", "colour click"}) {
        QTest::addRow("%s, saved", action) << action << int(Answer::Save) << true;
        QTest::addRow("%s, save dialog cancelled", action) << action << int(Answer::Save) << false;
        QTest::addRow("%s, not saved", action) << action << int(Answer::Discard) << false;
        QTest::addRow("%s, cancelled", action) << action << int(Answer::Cancel) << false;
    }
}

void UnsavedChangesTest::asked_before_the_change_is_lost()
{
    QFETCH(QString, action);
    QFETCH(int, answer);
    QFETCH(bool, save_dialog_answered);
    change_a_saved_calibration(action == "colour click");
    static int row = 0;
    const QString copy = dir.filePath(QString("copy_%1.qvcal").arg(++row));
    driver->dialogs.unsaved_answers.enqueue(Answer(answer));
    if (save_dialog_answered)
        driver->dialogs.save_answers.enqueue(copy);
    // What comes after the question, when it goes on.
    if (action == "open")
        driver->dialogs.file_answers.enqueue({saved});
    StdoutCapture quiet;
    if (action == "quit")
        driver->window->close();
    else if (action == "open")
        driver->action("action_open_calibration")->trigger();
    else if (action == "references")
        driver->action("action_new_references")->trigger();
    else
        driver->click(200, 150);

    const QString texts[] = {
        "Les modifications seront perdues si vous quittez sans les enregistrer.",
        "Les modifications seront perdues si vous ouvrez un autre calibrage sans les "
        "enregistrer.",
        "Les modifications seront perdues si vous chargez de nouveaux étalons sans les "
        "enregistrer.",
        "Les modifications seront perdues si ce clic remplace le calibrage en cours sans les "
        "enregistrer."};
    const int which = action == "quit" ? 0 : action == "open" ? 1 : action == "references" ? 2 : 3;
    // The click calibrates first, behind its progress window, and asks once
    // it has a rig to replace the one in hand with.
    const int asked = action == "colour click" ? 1 : 0;
    QVERIFY(driver->dialogs.requests.size() > asked);
    QCOMPARE(driver->dialogs.requests.at(asked).kind, QString("unsaved"));
    QCOMPARE(driver->dialogs.requests.at(asked).text, texts[which]);

    const bool saved_now = answer == int(Answer::Save) && save_dialog_answered;
    const bool goes_on = saved_now || answer == int(Answer::Discard);
    QStringList expected{"unsaved"};
    if (asked)
        expected.prepend("progress");
    if (answer == int(Answer::Save))
        expected << "save";
    if (goes_on && (action == "open" || action == "references"))
        expected << "open";
    QCOMPARE(kinds(), expected);

    // A save writes the change; nothing else touches the files.
    QCOMPARE(QFileInfo::exists(copy), saved_now);
    if (saved_now)
        QCOMPARE(read_calibration_file(copy).calibration.cameras[2].method,
                 AlignmentMethod::Manual);
    QCOMPARE(read_calibration_file(saved).calibration.cameras[2].method,
             AlignmentMethod::Automatic);

    if (action == "quit") {
        QCOMPARE(driver->window->isVisible(), !goes_on);
    } else if (action == "colour click") {
        // Calibrated anew from the click, or the rig in hand kept as it was.
        QVERIFY(driver->window->isWindowModified() || saved_now);
        QCOMPARE(driver->window->windowFilePath(), goes_on ? QString() : saved);
        if (goes_on)
            QVERIFY(driver->calibrated());
    } else if (action == "open" && goes_on) {
        // The file opened, as read: nothing to save.
        QVERIFY(!driver->window->isWindowModified());
        QCOMPARE(driver->window->windowFilePath(), saved);
    } else {
        // The new references' dialog was cancelled, or nothing went on: the
        // rig in hand stays, saved or not.
        QCOMPARE(driver->window->isWindowModified(), !saved_now);
        QCOMPARE(driver->window->windowFilePath(), saved_now ? copy : saved);
    }
}

QTEST_MAIN(UnsavedChangesTest)
#include "unsaved_changes_test.moc"
