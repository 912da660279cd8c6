// "Nouveau traitement d'images ..." in the real window: its dialogs and checks,
// the options it reads and the ffmpeg commands it runs (recorded, not run).

#include "output/ffmpeg_command.h"
#include "output/run_files.h"
#include "support/atomic_file.h"
#include "support/process_runner.h"
#include "tests/support/file_bytes.h"
#include "tests/support/stdout_capture.h"
#include "tests/support/sticker_drawing.h"
#include "window_driver.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QDoubleSpinBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QUrl>

#include <algorithm>

namespace {

const cv::Size photo_size(400, 300);
const int camera_count = 4;

// The frames in `folder` (the scripted ffmpeg leaves empty videos beside them).
QStringList frames_in(const QString& folder)
{
    return QDir(folder).entryList({"output_img_*"}, QDir::Files | QDir::Hidden, QDir::Name);
}

void write_file(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

// Receives the URLs the window asks the desktop to open.
class UrlCatcher : public QObject
{
    Q_OBJECT

public:
    QList<QUrl> opened;

public slots:
    void open(const QUrl& url) { opened << url; }
};

} // namespace

class ProcessingRunTest : public QObject
{
    Q_OBJECT

    QTemporaryDir photos;
    QStringList references;
    QStringList shots;
    WindowDriver driver;

    std::unique_ptr<QTemporaryDir> output;

private slots:
    void initTestCase();
    void init();
    void cleanup() { output.reset(); }

    void cancelling_a_dialog_writes_nothing();
    void input_count_must_match_the_references();
    void shot_sizes_are_checked_before_the_folder();
    void colour_matching_follows_the_box_data();
    void colour_matching_follows_the_box();
    void frames_then_video_then_boomerang();
    void boomerang_only_when_ticked();
    void the_habillage_box_reaches_the_encodes();
    void an_unusable_overlay_is_refused_before_the_folder();
    void compression_sets_the_frame_quality();
    void unreadable_input_writes_nothing_data();
    void unreadable_input_writes_nothing();
    void failed_encode_is_reported_without_boomerang();
    void progress_is_shown_and_cancel_makes_no_video();
    void earlier_frames_of_the_folder_are_not_overwritten();
    void failing_ffmpeg_on_the_path_is_reported();
    void nothing_else_starts_inside_a_run_data();
    void nothing_else_starts_inside_a_run();
    void cancelled_reload_keeps_the_calibration();

    void finished_run_says_what_was_written();
    void in_between_frames_in_every_video();
    void in_between_frames_need_a_reduced_video_size();
    void shots_out_of_name_order_data();
    void shots_out_of_name_order();
    void folder_with_an_earlier_run_data();
    void folder_with_an_earlier_run();
};

void ProcessingRunTest::initTestCase()
{
    for (int i = 0; i < camera_count; ++i) {
        const std::vector<cv::Point2d> stickers{
            {200.0 + 2 * i, 90}, {200.0 + 2 * i, 150}, {200.0 + 2 * i, 210}};
        const cv::Mat reference =
            draw_sticker_photo(photo_size, stickers, 12.0, StickerColor::Yellow, i + 1);
        references << write_photo(photos.path(), QString("ref_%1.png").arg(i), reference);
        shots << write_photo(photos.path(), QString("shot_%1.jpg").arg(i),
                             draw_background(photo_size, 100 + i));
    }
    StdoutCapture quiet;
    driver.open(references);
    driver.click(200, 150);
    QVERIFY(driver.calibrated());
}

void ProcessingRunTest::init()
{
    output = std::make_unique<QTemporaryDir>();
    driver.dialogs = ScriptedDialogs();
    driver.recording_runner.calls.clear();
    driver.recording_runner.result = RecordingRunner::succeeded();
    driver.recording_runner.stall = false;
    driver.widget<QCheckBox>("checkBox_boomerang")->setChecked(false);
    driver.widget<QCheckBox>("checkBox_gif")->setChecked(false);
    driver.widget<QSlider>("slider_compression")->setValue(50);
    driver.widget<QSlider>("slider_fps")->setValue(24);
    driver.widget<QLineEdit>("lineEdit_overlay")->clear();
    driver.widget<QComboBox>("comboBox_aspect")->setCurrentIndex(0);
    driver.widget<QDoubleSpinBox>("spinBox_min_duration")->setValue(0);
    driver.widget<QDoubleSpinBox>("spinBox_hold")->setValue(0);
    driver.widget<QCheckBox>("checkBox_still")->setChecked(false);
    driver.widget<QSpinBox>("spinBox_between")->setValue(0);
    driver.widget<QComboBox>("comboBox_video_size")->setCurrentIndex(0);
}

void ProcessingRunTest::cancelling_a_dialog_writes_nothing()
{
    driver.process({});
    QCOMPARE(driver.dialogs.requests.size(), 1);
    QCOMPARE(driver.dialogs.requests.at(0).caption, QString("Sélectionnez des images à recadrer"));
    QCOMPARE(driver.dialogs.requests.at(0).text, QString("Images (*.jpg *.png)"));

    driver.process(shots, QString());
    // The shots, the check of the cameras against the calibration, the folder.
    QCOMPARE(driver.dialogs.requests.size(), 4);
    QCOMPARE(driver.dialogs.requests.at(2).caption, QString("Vérification des caméras"));
    const ScriptedDialogs::Request& folder = driver.dialogs.requests.at(3);
    QCOMPARE(folder.caption, QString("Sélectionnez un dossier de sortie"));
    QCOMPARE(folder.options, QFileDialog::Options(QFileDialog::ShowDirsOnly));

    QVERIFY(driver.dialogs.boxes().isEmpty());
    QVERIFY(driver.recording_runner.calls.isEmpty());
}

void ProcessingRunTest::input_count_must_match_the_references()
{
    driver.process(shots.mid(0, 3), output->path());
    QCOMPARE(driver.dialogs.boxes(), QStringList{"critical: Erreur de fichiers d'entrée"});
    QCOMPARE(driver.dialogs.requests.last().text,
             QString("3 photos pour 4 caméras. Aucune image n'a été écrite."));
    QCOMPARE(driver.dialogs.requests.last().parent, driver.window.get());
    // The folder was never asked for, and nothing was written.
    QCOMPARE(driver.dialogs.requests.size(), 2);
    QVERIFY(frames_in(output->path()).isEmpty());
}

void ProcessingRunTest::shot_sizes_are_checked_before_the_folder()
{
    QStringList inputs = shots;
    inputs[2] = write_photo(output->path(), "square.jpg", draw_background(cv::Size(300, 300), 7));
    driver.process(inputs, output->path());
    QCOMPARE(driver.dialogs.boxes(), QStringList{"critical: Erreur de fichiers d'entrée"});
    QVERIFY2(driver.dialogs.requests.last().text.contains("square.jpg"),
             qPrintable(driver.dialogs.requests.last().text));
    QVERIFY(driver.dialogs.requests.last().text.endsWith("Aucune image n'a été écrite."));
    for (const ScriptedDialogs::Request& request : driver.dialogs.requests)
        QVERIFY(request.kind != "directory");
    QVERIFY(frames_in(output->path()).isEmpty());
}

void ProcessingRunTest::colour_matching_follows_the_box_data()
{
    QTest::addColumn<bool>("ticked");
    QTest::newRow("ticked") << true;
    QTest::newRow("unticked") << false;
}

// The run's request matches colours exactly when the box is ticked: the
// matching says each camera's gains in the log.
void ProcessingRunTest::colour_matching_follows_the_box()
{
    QFETCH(bool, ticked);
    driver.widget<QCheckBox>("checkBox_colour_match")->setChecked(ticked);
    StdoutCapture capture;
    driver.process(shots, output->path());
    driver.widget<QCheckBox>("checkBox_colour_match")->setChecked(true);
    QCOMPARE(frames_in(output->path()).size(), camera_count);
    QCOMPARE(QString::fromStdString(capture.text()).contains("Camera 1: colour gains"), ticked);
}

void ProcessingRunTest::frames_then_video_then_boomerang()
{
    driver.widget<QSlider>("slider_fps")->setValue(12);
    driver.widget<QCheckBox>("checkBox_boomerang")->setChecked(true);
    driver.widget<QCheckBox>("checkBox_gif")->setChecked(true);
    StdoutCapture capture;
    driver.process(shots, output->path());

    QCOMPARE(frames_in(output->path()), QStringList({"output_img_0.jpg", "output_img_1.jpg",
                                                     "output_img_2.jpg", "output_img_3.jpg"}));
    const QSize size = QImage(output->filePath("output_img_0.jpg")).size();
    QVERIFY(size.width() % 2 == 0 && size.height() % 2 == 0);

    // The video, the boomerang's backward half and join, then one command for
    // the GIF and its boomerang.
    const auto& calls = driver.recording_runner.calls;
    QCOMPARE(calls.size(), 4);
    // ffmpeg reads and writes in the staging folder; the files move out once all are made.
    const QString staging = output->filePath(staging_folder_name);
    const FfmpegCommand video =
        mp4_command(EncodeSettings{12, size, size}, frame_pattern(staging), camera_count,
                    partial_path(staging + "/output_video.mp4"));
    QCOMPARE(calls.at(0).program, video.program);
    QCOMPARE(calls.at(0).arguments, video.arguments);
    QStringList outputs;
    for (const RecordingRunner::Call& call : calls)
        outputs << QFileInfo(call.arguments.back()).fileName();
    QCOMPARE(outputs,
             QStringList({".output_video.partial.mp4", "backward.mp4",
                          ".output_video_boomerang.partial.mp4",
                          ".output_video_boomerang.partial.gif"}));
    QCOMPARE(driver.dialogs.boxes(), QStringList{"information: Traitement terminé"});
    // Each command is logged before it runs.
    QVERIFY(QString::fromStdString(capture.text()).contains(video.display_line()));
    QCOMPARE(driver.dialogs.progress_labels.last(), QString("GIF animé : 8 / 8"));
}

void ProcessingRunTest::boomerang_only_when_ticked()
{
    driver.process(shots, output->path());
    QCOMPARE(driver.recording_runner.calls.size(), 1);
    QVERIFY(driver.recording_runner.calls.at(0).arguments.contains("24"));
}

void ProcessingRunTest::the_habillage_box_reaches_the_encodes()
{
    QImage logo(40, 20, QImage::Format_ARGB32);
    logo.fill(QColor(255, 0, 0, 128));
    const QString logo_file = output->filePath("logo.png");
    QVERIFY(logo.save(logo_file));
    driver.dialogs.file_answers.enqueue({logo_file});
    driver.widget<QPushButton>("button_overlay")->click();
    QCOMPARE(driver.dialogs.requests.last().caption,
             QString("Choisissez l'image PNG de l'habillage"));
    QCOMPARE(driver.widget<QLineEdit>("lineEdit_overlay")->text(), logo_file);
    auto* position = driver.widget<QComboBox>("comboBox_overlay_position");
    position->setCurrentIndex(position->findData("top-left"));
    driver.widget<QSpinBox>("spinBox_overlay_size")->setValue(50);
    auto* aspect = driver.widget<QComboBox>("comboBox_aspect");
    aspect->setCurrentIndex(aspect->findData("1:1"));
    driver.widget<QDoubleSpinBox>("spinBox_min_duration")->setValue(2);
    driver.widget<QCheckBox>("checkBox_still")->setChecked(true);
    QTemporaryDir folder;
    driver.process(shots, folder.path());
    QCOMPARE(driver.dialogs.boxes(), QStringList{"information: Traitement terminé"});
    // The video once in the work folder, joined to itself, then the still.
    QCOMPARE(driver.recording_runner.calls.size(), 3);
    const QStringList video = driver.recording_runner.calls.at(0).arguments;
    QVERIFY(video.contains(logo_file));
    const QString filters = video.at(video.indexOf("-filter_complex") + 1);
    // Fed from memory, already cut square.
    const QString size = video.at(video.indexOf("-video_size") + 1);
    QCOMPARE(size.section('x', 0, 0), size.section('x', 1, 1));
    QVERIFY2(filters.contains("[picture][overlay]overlay="), qPrintable(filters));
    QVERIFY(driver.recording_runner.calls.at(1).arguments.contains("concat"));
    QVERIFY(driver.recording_runner.calls.at(2).arguments.last().endsWith("output_still.partial.jpg"));
    QVERIFY(driver.dialogs.requests.last().text.contains("Image fixe output_still.jpg"));
}

void ProcessingRunTest::an_unusable_overlay_is_refused_before_the_folder()
{
    const QString logo_file = output->filePath("logo.png");
    write_file(logo_file, "not a picture");
    driver.dialogs.file_answers.enqueue({logo_file});
    driver.widget<QPushButton>("button_overlay")->click();
    driver.process(shots, output->path());
    QCOMPARE(driver.dialogs.boxes(), QStringList{"critical: Erreur de fichiers d'entrée"});
    QCOMPARE(driver.dialogs.requests.last().text,
             QString("'%1' : habillage impossible (ce n'est pas une image PNG). Aucune image "
                     "n'a été écrite.")
                 .arg(logo_file));
    for (const ScriptedDialogs::Request& request : driver.dialogs.requests)
        QVERIFY(request.kind != "directory");
    QVERIFY(frames_in(output->path()).isEmpty());
    QVERIFY(driver.recording_runner.calls.isEmpty());
}

void ProcessingRunTest::compression_sets_the_frame_quality()
{
    auto frame_bytes = [&](int compression) {
        QTemporaryDir folder;
        driver.widget<QSlider>("slider_compression")->setValue(compression);
        driver.process(shots, folder.path());
        return QFileInfo(folder.filePath("output_img_0.jpg")).size();
    };
    const qint64 best = frame_bytes(0);
    const qint64 middle = frame_bytes(50);
    const qint64 worst = frame_bytes(100);
    QVERIFY2(best > 2 * middle && middle > 2 * worst,
             qPrintable(QString("%1 %2 %3").arg(best).arg(middle).arg(worst)));
}

void ProcessingRunTest::unreadable_input_writes_nothing_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("damage");
    // Why, as the file shows it; the general words where only decoding finds out.
    QTest::addColumn<QString>("reason");
    const QString general = "fichier abîmé, incomplet ou qui n'est pas une photo JPEG ou PNG";

    QTest::newRow("missing") << "shot_2 missing.jpg"
                             << "missing"
                             << "fichier introuvable";
    QTest::newRow("not a photo") << "shot_2 text.jpg"
                                 << "text"
                                 << "ce n'est pas une photo JPEG ou PNG lisible";
    QTest::newRow("cut short") << "shot_2 cut.jpg"
                               << "cut"
                               << "photo JPEG incomplète (coupée avant la fin)";
    // The decoder carries on past damaged data; its header is fine.
    QTest::newRow("damaged JPEG") << "shot_2 damaged.jpg"
                                  << "zeroed" << general;
    QTest::newRow("damaged JPEG, a %1 in its name") << "shot_2 %1.jpg"
                                                    << "zeroed" << general;
}

void ProcessingRunTest::unreadable_input_writes_nothing()
{
    QFETCH(QString, name);
    QFETCH(QString, damage);
    QFETCH(QString, reason);

    QTemporaryDir folder;
    QStringList inputs = shots;
    inputs[2] = folder.filePath(name);
    QByteArray bytes = read_bytes(shots[2]);
    const int zeroed = std::min(2048, bytes.size() / 4);
    if (damage == "zeroed")
        bytes.replace(bytes.size() / 2, zeroed, QByteArray(zeroed, '\0'));
    if (damage == "text")
        bytes = "these are not pixels";
    if (damage == "cut")
        bytes.truncate(bytes.size() * 2 / 3);
    if (damage != "missing")
        write_file(inputs[2], bytes);

    driver.process(inputs, output->path());
    QCOMPARE(driver.dialogs.boxes(), QStringList{"critical: Erreur de fichiers d'entrée"});
    QCOMPARE(driver.dialogs.requests.last().text,
             "La photo de la caméra 3 ('" + inputs[2] + "') ne peut pas être lue : " + reason +
                 ". Aucune image n'a été écrite.");
    QVERIFY(frames_in(output->path()).isEmpty());
    QVERIFY(driver.recording_runner.calls.isEmpty());
}

void ProcessingRunTest::failed_encode_is_reported_without_boomerang()
{
    driver.widget<QCheckBox>("checkBox_boomerang")->setChecked(true);
    driver.recording_runner.result.exit_code = 1;
    driver.recording_runner.result.error_tail = "Some earlier line\nUnknown encoder 'libx264'";
    StdoutCapture quiet;
    driver.process(shots, output->path());
    QCOMPARE(driver.recording_runner.calls.size(), 1);
    QCOMPARE(driver.dialogs.boxes(), QStringList{"critical: Erreur vidéo"});
    const QString text = driver.dialogs.requests.last().text;
    QVERIFY2(text.contains("Unknown encoder 'libx264'") && !text.contains("earlier"),
             qPrintable(text));
}

void ProcessingRunTest::progress_is_shown_and_cancel_makes_no_video()
{
    StdoutCapture quiet;
    driver.process(shots, output->path());
    const QStringList labels = driver.dialogs.progress_labels;
    QCOMPARE(labels.first(), QString("Vérification des caméras"));
    QCOMPARE(labels.at(1), QString("Écriture des images : 0 / 4"));
    // A finished encode counts all its frames, whatever ffmpeg reported.
    QCOMPARE(labels.last(), QString("Encodage de la vidéo : 4 / 4"));

    QTemporaryDir cancelled;
    driver.dialogs = ScriptedDialogs();
    driver.dialogs.cancel_progress = true;
    driver.process(shots, cancelled.path());
    QCOMPARE(driver.dialogs.boxes(), QStringList{"information: Traitement annulé"});
    QVERIFY(driver.dialogs.requests.last().text.contains("aucun fichier"));
    QCOMPARE(driver.recording_runner.calls.size(), 1);
    QVERIFY(frames_in(cancelled.path()).isEmpty());
}

void ProcessingRunTest::earlier_frames_of_the_folder_are_not_overwritten()
{
    StdoutCapture quiet;
    driver.process(shots, output->path());
    QStringList frames;
    for (const QString& name : frames_in(output->path()))
        frames << output->filePath(name);
    QCOMPARE(frames.size(), camera_count);
    const QByteArray first = read_bytes(frames.at(0));

    // Reprocessing those frames into their own folder would overwrite its inputs:
    // refused before the question about replacing them.
    driver.dialogs = ScriptedDialogs();
    driver.process(frames, output->path());
    QCOMPARE(driver.dialogs.boxes(), QStringList{"critical: Erreur de fichiers d'entrée"});
    QVERIFY(driver.dialogs.requests.last().text.contains("output_img_0.jpg"));
    QCOMPARE(read_bytes(frames.at(0)), first);
    QCOMPARE(driver.recording_runner.calls.size(), 1);
}

void ProcessingRunTest::failing_ffmpeg_on_the_path_is_reported()
{
    // A real process runner finding an ffmpeg that fails the way a broken build does.
    QTemporaryDir bin;
    QFile fake(bin.filePath("ffmpeg"));
    QVERIFY(fake.open(QIODevice::WriteOnly));
    fake.write("#!/bin/sh\necho run >> \"$0.calls\"\n"
               "echo 'Unknown encoder libx264' >&2\nexit 1\n");
    fake.close();
    QVERIFY(fake.setPermissions(QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", bin.path().toLocal8Bit() + ":" + path);

    ChildProcessRunner ffmpeg;
    WindowDriver real;
    {
        StdoutCapture quiet;
        real.open(references, &ffmpeg);
        real.click(200, 150);
        QVERIFY(real.calibrated());
        real.widget<QCheckBox>("checkBox_boomerang")->setChecked(true);
        real.process(shots, output->path());
    }
    qputenv("PATH", path);

    QCOMPARE(real.dialogs.boxes(), QStringList{"critical: Erreur vidéo"});
    QVERIFY(real.dialogs.requests.last().text.contains("Unknown encoder libx264"));
    QCOMPARE(read_bytes(bin.filePath("ffmpeg.calls")), QByteArray("run\n"));
}

void ProcessingRunTest::nothing_else_starts_inside_a_run_data()
{
    QTest::addColumn<bool>("calibration");  // else a processing run
    QTest::addColumn<QString>("cancel_on"); // the progress label on which "Annuler" is pressed
    QTest::newRow("processing, Annuler at 0 / 4") << false << "Écriture des images : 0 / 4";
    QTest::newRow("processing, Annuler at 2 / 4 of the video")
        << false << "Encodage de la vidéo : 2 / 4";
    QTest::newRow("calibration, Annuler at 0 / 4") << true << "Alignement des images : 0 / 4";
}

void ProcessingRunTest::nothing_else_starts_inside_a_run()
{
    QFETCH(bool, calibration);
    QFETCH(QString, cancel_on);
    StdoutCapture quiet;
    QTemporaryDir second_output;
    driver.recording_runner.stall = true;
    driver.recording_runner.stall_at = 2;
    // At every refresh until the run returns, including after "Annuler", every
    // way of starting other work is tried, with answers ready for its dialogs.
    bool trying = false;
    driver.dialogs.on_progress = [&](const QString& label) {
        if (label == cancel_on)
            driver.dialogs.cancel_progress = true;
        if (trying)
            return;
        trying = true;
        driver.dialogs.file_answers.clear();
        driver.dialogs.file_answers << shots << references;
        driver.dialogs.directory_answers.clear();
        driver.dialogs.directory_answers << second_output.path();
        for (const char* action : {"action_new_computation", "action_new_references",
                                   "action_new_color", "action_manual_calibration"})
            driver.action(action)->trigger();
        driver.click(200, 150);
        trying = false;
    };
    if (calibration) {
        driver.action("action_new_color")->trigger();
        driver.click(200, 150);
    } else {
        driver.process(shots, output->path());
    }
    driver.dialogs.on_progress = nullptr;

    QStringList kinds;
    for (const ScriptedDialogs::Request& request : driver.dialogs.requests)
        kinds << request.kind;
    const QStringList before_the_run =
        calibration ? QStringList{} : QStringList{"open", "progress", "directory"};
    QCOMPARE(kinds, before_the_run + QStringList({"progress", "information"}));
    QCOMPARE(driver.dialogs.boxes().last(), calibration
                                                ? QString("information: Calibrage annulé")
                                                : QString("information: Traitement annulé"));
    QVERIFY(frames_in(second_output.path()).isEmpty());
    QCOMPARE(driver.recording_runner.calls.size(), cancel_on.startsWith("Encodage") ? 1 : 0);

    // The window is as the run left it, and works.
    driver.dialogs = ScriptedDialogs();
    driver.recording_runner.stall = false;
    if (calibration) {
        // The rig in hand, never saved, is what this click replaces.
        driver.dialogs.unsaved_answers.enqueue(UserDialogs::UnsavedAnswer::Discard);
        driver.click(200, 150);
        driver.dialogs = ScriptedDialogs();
    }
    QVERIFY(driver.calibrated());
    driver.process(shots, second_output.path());
    QCOMPARE(driver.dialogs.boxes(), QStringList{"information: Traitement terminé"});
    QCOMPARE(frames_in(second_output.path()).size(), camera_count);
}

void ProcessingRunTest::cancelled_reload_keeps_the_calibration()
{
    const bool armed = driver.picture()->armed;
    const QPixmap picture = driver.picture()->pixmap(Qt::ReturnByValue);
    // The calibration is not saved: the question first, then the dialog.
    driver.dialogs.unsaved_answers.enqueue(UserDialogs::UnsavedAnswer::Discard);
    driver.dialogs.file_answers.enqueue({});
    driver.action("action_new_references")->trigger();
    QCOMPARE(driver.dialogs.requests.size(), 2);
    QCOMPARE(driver.dialogs.requests.at(0).kind, QString("unsaved"));
    QCOMPARE(driver.dialogs.requests.at(1).caption, QString("Sélectionner étalons"));
    QVERIFY(driver.calibrated());
    QCOMPARE(driver.picture()->armed, armed);
    QCOMPARE(driver.picture()->pixmap(Qt::ReturnByValue).cacheKey(), picture.cacheKey());

    driver.dialogs.requests.clear();
    StdoutCapture quiet;
    driver.process(shots, output->path());
    QCOMPARE(driver.dialogs.boxes(), QStringList{"information: Traitement terminé"});
    QCOMPARE(frames_in(output->path()).size(), camera_count);
    QCOMPARE(driver.recording_runner.calls.size(), 1);
}

void ProcessingRunTest::finished_run_says_what_was_written()
{
    driver.widget<QSlider>("slider_fps")->setValue(12);
    driver.widget<QCheckBox>("checkBox_boomerang")->setChecked(true);
    UrlCatcher desktop;
    QDesktopServices::setUrlHandler("file", &desktop, "open");
    driver.dialogs.button_answers << false << true;
    StdoutCapture quiet;
    driver.process(shots, output->path());
    const QSize size = QImage(output->filePath("output_img_0.jpg")).size();

    const ScriptedDialogs::Request box = driver.dialogs.requests.last();
    QCOMPARE(box.caption, QString("Traitement terminé"));
    QCOMPARE(box.button, QString("Ouvrir le dossier"));
    QCOMPARE(box.parent, driver.window.get());
    const QString folder = QDir::toNativeSeparators(output->path());
    QCOMPARE(box.text, QString("Fichiers écrits :\n"
                               "4 images de %1 × %2 pixels (output_img_0.jpg à output_img_3.jpg)\n"
                               "Vidéo output_video.mp4 : 4 images, 0,33 s\n"
                               "Effet boomerang output_video_boomerang.mp4 : 8 images, 0,67 s\n\n"
                               "Dossier : %3")
                           .arg(size.width())
                           .arg(size.height())
                           .arg(folder));
    QVERIFY(desktop.opened.isEmpty()); // "OK"
    QCOMPARE(driver.widget<QLabel>("label_last_run")->text(),
             QString("Dernier traitement : 4 images %1 × %2, vidéo de 0,33 s, dans %3")
                 .arg(size.width())
                 .arg(size.height())
                 .arg(folder));

    // "Ouvrir le dossier" hands the folder to the desktop's file manager.
    QTemporaryDir second;
    driver.widget<QCheckBox>("checkBox_boomerang")->setChecked(false);
    driver.process(shots, second.path());
    QVERIFY(!driver.dialogs.requests.last().text.contains("boomerang"));
    QCOMPARE(desktop.opened, QList<QUrl>{QUrl::fromLocalFile(second.path())});
    QDesktopServices::unsetUrlHandler("file");
}

// With 2 in-between frames, made once behind "Images intermédiaires", every
// video and GIF encodes 4 + 3 * 2 pictures fed from memory; the frame files
// stay the cameras' own and the closing box counts the pictures.
void ProcessingRunTest::in_between_frames_in_every_video()
{
    driver.widget<QSpinBox>("spinBox_between")->setValue(2);
    driver.widget<QComboBox>("comboBox_video_size")->setCurrentIndex(2); // 1920 px
    driver.widget<QCheckBox>("checkBox_boomerang")->setChecked(true);
    driver.widget<QCheckBox>("checkBox_gif")->setChecked(true);
    StdoutCapture quiet;
    driver.process(shots, output->path());
    QCOMPARE(frames_in(output->path()), QStringList({"output_img_0.jpg", "output_img_1.jpg",
                                                     "output_img_2.jpg", "output_img_3.jpg"}));
    const QSize size = QImage(output->filePath("output_img_0.jpg")).size();

    const auto& calls = driver.recording_runner.calls;
    QCOMPARE(calls.size(), 4);
    const QString staging = output->filePath(staging_folder_name);
    const FfmpegCommand video = raw_mp4_command(EncodeSettings{24, size, size}, 10,
                                                partial_path(staging + "/output_video.mp4"));
    QCOMPARE(calls.at(0).arguments, video.arguments);
    // The boomerang's GIF, the GIF command's second output, plays them there and back.
    const QStringList& gifs = calls.at(3).arguments;
    QCOMPARE(gifs.mid(gifs.lastIndexOf("-frames:v"), 2), QStringList({"-frames:v", "20"}));
    // The step is shown with its count (the window samples it, so not every value).
    const QStringList labels = driver.dialogs.progress_labels;
    QVERIFY2(std::any_of(labels.begin(), labels.end(),
                         [](const QString& label) {
                             return label.startsWith("Images intermédiaires : ") &&
                                    label.endsWith(" / 6");
                         }),
             qPrintable(labels.join(" | ")));
    QCOMPARE(driver.dialogs.boxes(), QStringList{"information: Traitement terminé"});
    const QString text = driver.dialogs.requests.last().text;
    QVERIFY2(text.contains("Vidéo output_video.mp4 : 10 images, 0,42 s\n"
                           "Effet boomerang output_video_boomerang.mp4 : 20 images, 0,83 s\n"
                           "GIF animé output_video.gif : 10 images, 0,42 s\n"
                           "GIF boomerang output_video_boomerang.gif : 20 images, 0,83 s\n"),
             qPrintable(text));
}

// At the photos' own size they would take too much memory: the window says so
// before any dialog, and nothing runs.
void ProcessingRunTest::in_between_frames_need_a_reduced_video_size()
{
    driver.widget<QSpinBox>("spinBox_between")->setValue(1);
    driver.dialogs.file_answers.enqueue(shots);
    driver.action("action_new_computation")->trigger();
    QCOMPARE(driver.dialogs.boxes(), QStringList{"critical: Images intermédiaires"});
    QCOMPARE(driver.dialogs.requests.last().text,
             QString("Les images intermédiaires se font à une taille de vidéo réduite, pas à la "
                     "taille originale : choisissez 3840, 1920 ou 1280 px."));
    QVERIFY(driver.recording_runner.calls.isEmpty());
    QVERIFY(frames_in(output->path()).isEmpty());
    driver.dialogs.file_answers.clear();
}

void ProcessingRunTest::shots_out_of_name_order_data()
{
    QTest::addColumn<bool>("sort");
    QTest::newRow("Oui: name order") << true;
    QTest::newRow("Non: order chosen") << false;
}

void ProcessingRunTest::shots_out_of_name_order()
{
    QFETCH(bool, sort);
    const QStringList chosen{shots[1], shots[0], shots[2], shots[3]};
    driver.dialogs.question_answers.enqueue(sort);
    StdoutCapture capture;
    driver.process(chosen, output->path());
    QCOMPARE(driver.dialogs.boxes(),
             QStringList({"question: Ordre des images", "information: Traitement terminé"}));
    const QStringList used = sort ? shots : chosen;
    for (int camera = 0; camera < camera_count; ++camera)
        QVERIFY(QString::fromStdString(capture.text())
                    .contains(QString("Camera %1 : %2\n").arg(camera + 1).arg(used[camera])));

    // Shots in name order raise no question.
    driver.dialogs = ScriptedDialogs();
    QTemporaryDir second;
    driver.process(shots, second.path());
    QCOMPARE(driver.dialogs.boxes(), QStringList{"information: Traitement terminé"});
}

void ProcessingRunTest::folder_with_an_earlier_run_data()
{
    QTest::addColumn<QList<bool>>("answers");
    QTest::addColumn<bool>("second_folder");
    QTest::addColumn<bool>("replaced");
    QTest::addColumn<bool>("encode_fails");
    QTest::newRow("Oui: replaced") << QList<bool>{true} << false << true << false;
    QTest::newRow("Oui, the encode fails: kept") << QList<bool>{true} << false << false << true;
    QTest::newRow("Non, then cancelled") << QList<bool>{false} << false << false << false;
    QTest::newRow("Non, then another folder") << QList<bool>{false} << true << false << false;
}

void ProcessingRunTest::folder_with_an_earlier_run()
{
    QFETCH(QList<bool>, answers);
    QFETCH(bool, second_folder);
    QFETCH(bool, replaced);
    QFETCH(bool, encode_fails);
    if (encode_fails)
        driver.recording_runner.result.exit_code = 1;
    // An earlier run of seven frames of another size, its videos, and files of the user's.
    const QString folder = output->path();
    QImage old_frame(64, 48, QImage::Format_RGB888);
    old_frame.fill(Qt::red);
    for (int i = 0; i < 7; ++i)
        QVERIFY(old_frame.save(output->filePath(QString("output_img_%1.jpg").arg(i))));
    write_file(output->filePath("output_video.mp4"), "old video");
    write_file(output->filePath("output_video_boomerang.mp4"), "old boomerang");
    const QStringList own{"notes.txt", "output_img_0.png", "my_output_video.mp4",
                          "Output_video.mp4"};
    for (const QString& name : own)
        write_file(output->filePath(name), name.toUtf8());
    QVERIFY(QDir(folder).mkdir("output_video_parts"));

    QTemporaryDir other;
    driver.dialogs.question_answers.append(answers);
    driver.dialogs.directory_answers.enqueue(folder);
    if (second_folder)
        driver.dialogs.directory_answers.enqueue(other.path());
    StdoutCapture quiet;
    driver.process(shots, QString()); // the folders come from the answers above

    QCOMPARE(driver.dialogs.boxes().first(), QString("question: Dossier de sortie non vide"));
    // After the shots, the cameras' check and the folder.
    const QString question = driver.dialogs.requests.at(3).text;
    QVERIFY2(question.contains("9 fichier(s)") &&
                 question.contains(QDir::toNativeSeparators(folder)),
             qPrintable(question));
    QStringList expected = own;
    expected << "output_video_parts";
    if (replaced) {
        for (int i = 0; i < camera_count; ++i)
            expected << QString("output_img_%1.jpg").arg(i);
        expected << "output_video.mp4"; // the new one
        QVERIFY(read_bytes(output->filePath("output_video.mp4")) != "old video");
        QCOMPARE(QImage(output->filePath("output_img_0.jpg")).size(),
                 QImage(output->filePath("output_img_3.jpg")).size());
        QVERIFY(QImage(output->filePath("output_img_0.jpg")).size() != old_frame.size());
    } else {
        for (int i = 0; i < 7; ++i)
            expected << QString("output_img_%1.jpg").arg(i);
        expected << "output_video.mp4"
                 << "output_video_boomerang.mp4";
        QCOMPARE(read_bytes(output->filePath("output_video.mp4")), QByteArray("old video"));
    }
    // Nothing of the user's is touched.
    QStringList present = QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    present.sort();
    expected.sort();
    QCOMPARE(present, expected);
    for (const QString& name : own)
        QCOMPARE(read_bytes(output->filePath(name)), name.toUtf8());

    // "Non" goes back to the folder choice.
    const int folder_dialogs = std::count_if(
        driver.dialogs.requests.begin(), driver.dialogs.requests.end(),
        [](const ScriptedDialogs::Request& request) { return request.kind == "directory"; });
    QCOMPARE(folder_dialogs, replaced || encode_fails ? 1 : 2);
    QCOMPARE(frames_in(other.path()).size(), second_folder ? camera_count : 0);
    QCOMPARE(driver.recording_runner.calls.size(),
             replaced || second_folder || encode_fails ? 1 : 0);
}

QTEST_MAIN(ProcessingRunTest)
#include "processing_run_test.moc"
