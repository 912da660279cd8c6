// The command line through the real executable, with no display: help, usage
// errors, calibrate then process on a generated rig (a camera finished by hand),
// and one table of bad inputs, each with its exit status, its message and
// nothing left behind.

#include "calibration/calibration_file.h"
#include "cli/calibrate_command.h"
#include "cli/command_line.h"
#include "cli/process_command.h"
#include "cli/watch_command.h"
#include "pipeline/calibration_run.h"
#include "pipeline/hand_points.h"
#include "pipeline/processing_run.h"
#include "quorvane_process.h"
#include "small_rig.h"
#include "support/process_runner.h"
#include "tools/make_rig/rig_writer.h"
#include "tests/support/cmyk_jpeg.h"
#include "tests/support/file_bytes.h"

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <cstring>
#include <sstream>

namespace {

const int camera_count = 4;
const int hidden_camera = 1; // its reference shows no sticker

// "K=x1,y1,x2,y2,x3,y3" for camera index `camera` (K counts from 1).
QString points_argument(int camera, const std::array<cv::Point2d, 3>& stickers)
{
    QStringList numbers;
    for (const cv::Point2d& point : stickers)
        numbers << QString::number(point.x, 'g', 17) << QString::number(point.y, 'g', 17);
    return QStringLiteral("%1=%2").arg(camera + 1).arg(numbers.join(QLatin1Char(',')));
}

QStringList files_in(const QString& folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

// `photo` (a JPEG or PNG file's bytes) damaged the way a bad card or transfer
// leaves it, its header and its end whole.
QByteArray damaged(const QByteArray& photo, const QString& damage)
{
    QByteArray bytes = photo;
    if (damage == "JPEG, 2 KB zeroed") {
        bytes.replace(bytes.size() / 2, 2048, QByteArray(2048, '\0'));
    } else if (damage == "JPEG cut, its end marker added") {
        bytes = bytes.left(bytes.size() * 2 / 3) + QByteArray::fromHex("ffd9");
    } else if (damage == "PNG, a failed CRC in its image data") {
        const int data = bytes.indexOf("IDAT") + 4;
        bytes[data + 100] = static_cast<char>(bytes[data + 100] ^ 0x55);
    }
    return bytes;
}

QByteArray png_of(const QString& path)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    return buffer.open(QIODevice::WriteOnly) && QImage(path).save(&buffer, "PNG") ? bytes
                                                                                  : QByteArray();
}

} // namespace

class CommandLineTest : public QObject
{
    Q_OBJECT

    QTemporaryDir work;
    RigGroundTruth truth;
    QStringList references;
    QStringList shots;
    QString calibration; // the rig's file, the hidden camera given by hand

private slots:
    void initTestCase();

    void chooses_the_window_or_a_command_data();
    void chooses_the_window_or_a_command();
    void help_version_and_usage_errors_data();
    void help_version_and_usage_errors();
    void paths_are_made_absolute_data();
    void paths_are_made_absolute();
    void a_hidden_camera_leaves_the_calibration_incomplete();
    void process_makes_the_frames_of_the_window_path();
    void process_plays_in_between_frames_data();
    void process_plays_in_between_frames();
    void calibrate_learns_the_colour_at_a_click();
    void points_snap_to_the_stickers();
    void points_leaving_no_common_frame_write_nothing();
    void green_stickers_under_exposed_calibrate_from_one_click();
    void bad_inputs_data();
    void bad_inputs();
    void process_replaces_an_earlier_run();
    void process_stops_at_a_full_disk_data();
    void process_stops_at_a_full_disk();
    void calibration_not_written_keeps_the_previous_file();
    void damaged_photos_are_refused_data();
    void damaged_photos_are_refused();
    void a_percent_sign_in_a_name_stays_in_the_message();
};

void CommandLineTest::initTestCase()
{
    const SmallRig rig = write_small_rig(work.filePath("rig"), camera_count, hidden_camera);
    QVERIFY2(rig.error.empty(), rig.error.c_str());
    truth = rig.truth;
    references = rig.references;
    shots = rig.shots;

    calibration = work.filePath("rig.qvcal");
    const QuorvaneRun run = run_quorvane(
        QStringList{"calibrate", "--points", points_argument(hidden_camera, truth.stickers[1]),
                    "--output", calibration} +
        references);
    QCOMPARE(run.exit_code, 0);
    QCOMPARE(run.err, QString());
    // The English diagnostic lines of the window go to standard output.
    QVERIFY(run.out.contains("Reference chosen :"));
}

void CommandLineTest::chooses_the_window_or_a_command_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("command_line");

    QTest::newRow("nothing") << QStringList{} << false;
    QTest::newRow("Qt's own options") << QStringList{"-platform", "offscreen"} << false;
    QTest::newRow("Qt's style") << QStringList{"-style", "fusion"} << false;
    QTest::newRow("a command") << QStringList{"process", "--help"} << true;
    QTest::newRow("help") << QStringList{"--help"} << true;
    QTest::newRow("version") << QStringList{"--version"} << true;
    QTest::newRow("a stray word") << QStringList{"photos"} << true;
}

void CommandLineTest::chooses_the_window_or_a_command()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, command_line);

    std::vector<QByteArray> bytes{"quorvane"};
    for (const QString& argument : arguments)
        bytes.push_back(argument.toUtf8());
    std::vector<char*> argv;
    for (QByteArray& argument : bytes)
        argv.push_back(argument.data());
    QCOMPARE(wants_command_line(static_cast<int>(argv.size()), argv.data()), command_line);
}

void CommandLineTest::help_version_and_usage_errors_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exit_code");
    QTest::addColumn<QString>("out");
    QTest::addColumn<QString>("err");

    const QString cal = QStringLiteral("CAL");
    QTest::newRow("version") << QStringList{"--version"} << 0 << "quorvane 0.1\n"
                             << "";
    QTest::newRow("help") << QStringList{"--help"} << 0 << "Statut de sortie"
                          << "";
    QTest::newRow("calibrate help")
        << QStringList{"calibrate", "--help"} << 0 << "Utilisation : quorvane calibrate"
        << "";
    QTest::newRow("process help") << QStringList{"process", "-h"} << 0 << "--boomerang"
                                  << "";
    QTest::newRow("watch help") << QStringList{"watch", "--help"} << 0 << "--settle"
                                << "";
    QTest::newRow("the window with no display") << QStringList{} << 1 << ""
                                                << "Sans écran, utilisez les commandes";
    QTest::newRow("unknown command") << QStringList{"frobnicate"} << 2 << ""
                                     << "commande inconnue « frobnicate »";
    QTest::newRow("unknown option") << QStringList{"process", "--colour", "x"} << 2 << ""
                                    << "option inconnue : --colour";
    QTest::newRow("option without its value") << QStringList{"process", "--output"} << 2 << ""
                                              << "valeur manquante après --output";
    QTest::newRow("no output file") << QStringList{"calibrate", "a.jpg"} << 2 << ""
                                    << "--output RIG.qvcal est obligatoire";
    QTest::newRow("no reference") << QStringList{"calibrate", "--output", "x.qvcal"} << 2 << ""
                                  << "il faut au moins une photo étalon";
    QTest::newRow("unknown colour")
        << QStringList{"calibrate", "--color", "blue", "--output", "x.qvcal", "a.jpg"} << 2 << ""
        << "--color attend yellow ou pink";
    QTest::newRow("grey colour")
        << QStringList{"calibrate", "--color", "#808080", "--output", "x.qvcal", "a.jpg"} << 2
        << "" << "--color « #808080 » : la couleur cliquée n'est pas assez saturée";
    QTest::newRow("colour of five digits")
        << QStringList{"calibrate", "--color", "#12345", "--output", "x.qvcal", "a.jpg"} << 2
        << "" << "« #12345 » n'est pas une couleur #RRGGBB";
    QTest::newRow("click of one number")
        << QStringList{"calibrate", "--color-at", "12", "--output", "x.qvcal", "a.jpg"} << 2 << ""
        << "--color-at attend X,Y en pixels entiers";
    QTest::newRow("points of a camera that does not exist")
        << QStringList{"calibrate", "--points", "3=1,2,3,4,5,6", "--output",
                       "x.qvcal",   "a.jpg",    "b.jpg"}
        << 2 << ""
        << "avec K de 1 à 2";
    QTest::newRow("points of the lowest camera number there is")
        << QStringList{"calibrate", "--points", "-2147483648=1,2,3,4,5,6",
                       "--output",  "x.qvcal",  "a.jpg"}
        << 2 << ""
        << "avec K de 1 à 1";
    QTest::newRow("points with a % sign")
        << QStringList{"calibrate", "--points", "1%2=1,2,3,4,5,6", "--output", "x.qvcal", "a.jpg"}
        << 2 << ""
        << "--points 1%2=1,2,3,4,5,6 : attendu K=x1,y1,x2,y2,x3,y3 avec K de 1 à 1";
    QTest::newRow("points not finite")
        << QStringList{"calibrate", "--points", "1=1,2,3,inf,5,nan", "--output", "x.qvcal", "a.jpg"}
        << 2 << ""
        << "attendu K=x1,y1,x2,y2,x3,y3";
    QTest::newRow("a switch given a value")
        << QStringList{"process", "--calibration",   cal,    "--output",
                       "out",     "--boomerang=oui", "a.jpg"}
        << 2 << ""
        << "--boomerang ne prend pas de valeur";
    QTest::newRow("points not numbers")
        << QStringList{"calibrate", "--points", "1=1,2,3,4,5,six", "--output", "x.qvcal", "a.jpg"}
        << 2 << ""
        << "attendu K=x1,y1,x2,y2,x3,y3";
    QTest::newRow("an output given twice")
        << QStringList{"process", "--calibration", cal, "--output", "a", "--output", "b", "a.jpg"}
        << 2 << ""
        << "--output donné deux fois";
    QTest::newRow("a colour given twice")
        << QStringList{"calibrate", "--color",        "pink", "--output",
                       "x.qvcal",   "--color=yellow", "a.jpg"}
        << 2 << ""
        << "--color donné deux fois";
    QTest::newRow("a settle time given twice")
        << QStringList{"watch", "--calibration", cal, "--output", "out", "--settle",
                       "1",     "--settle",      "2", "a"}
        << 2 << ""
        << "--settle donné deux fois";
    QTest::newRow("no calibration") << QStringList{"process", "--output", "out", "a.jpg"} << 2 << ""
                                    << "--calibration RIG.qvcal est obligatoire";
    QTest::newRow("frame rate out of range")
        << QStringList{"process", "--calibration", cal, "--output", "out", "--fps", "0", "a.jpg"}
        << 2 << ""
        << "--fps attend";
    QTest::newRow("compression out of range")
        << QStringList{"process", "--calibration", cal,   "--output",
                       "out",     "--compression", "101", "a.jpg"}
        << 2 << ""
        << "--compression attend";
    QTest::newRow("unknown video size")
        << QStringList{"process", "--calibration", cal,   "--output",
                       "out",     "--video-size",  "720", "a.jpg"}
        << 2 << ""
        << "--video-size attend original, 3840, 1920 ou 1280";
    QTest::newRow("colour matching neither on nor off")
        << QStringList{"process", "--calibration", cal,   "--output",
                       "out",     "--colour-match", "oui", "a.jpg"}
        << 2 << ""
        << "--colour-match attend on ou off";
    QTest::newRow("unknown shape")
        << QStringList{"process", "--calibration", cal, "--output", "out", "--aspect", "3:2", "a.jpg"}
        << 2 << ""
        << "--aspect attend original|16:9|1:1|4:5|9:16";
    QTest::newRow("an overlay's place without an overlay")
        << QStringList{"process", "--calibration", cal, "--output", "out", "--overlay-position",
                       "center", "a.jpg"}
        << 2 << ""
        << "--overlay-position demande --overlay FICHIER.png";
    QTest::newRow("a hold longer than ten seconds")
        << QStringList{"process", "--calibration", cal, "--output", "out", "--hold", "11", "a.jpg"}
        << 2 << ""
        << "--hold attend une durée en secondes entre 0 et 10";
    QTest::newRow("in-between frames out of range")
        << QStringList{"process", "--calibration", cal, "--output",   "out",
                       "--video-size", "1920", "--between", "4", "a.jpg"}
        << 2 << ""
        << "--between attend un nombre entier d'images intermédiaires entre 0 et 3";
    QTest::newRow("in-between frames at the original size")
        << QStringList{"watch", "--calibration", cal, "--output", "out", "--between", "1", "a"}
        << 2 << ""
        << "--between 1 demande --video-size 3840, 1920 ou 1280 : les images intermédiaires se "
           "font à une taille de vidéo réduite, pas à la taille originale";
    QTest::newRow("two inboxes") << QStringList{"watch",    "--calibration", cal,
                                                "--output", "out",           "a",
                                                "b"}
                                 << 2 << ""
                                 << "il faut un seul dossier d'arrivée";
    // Refused before anything is made: no empty folder is left in the inbox.
    QTest::newRow("output in the inbox")
        << QStringList{"watch", "--calibration", cal, "--output", "INBOX/sorties", "INBOX"} << 2
        << ""
        << "RACINE ne peut pas être dans le dossier d'arrivée";
    QTest::newRow("output deep in the inbox")
        << QStringList{"watch", "--calibration", cal, "--output", "INBOX/a/../b/c", "INBOX"} << 2
        << ""
        << "RACINE ne peut pas être dans le dossier d'arrivée";
    QTest::newRow("negative settle time")
        << QStringList{"watch", "--calibration", cal, "--output", "out", "--settle", "-1", "a"} << 2
        << ""
        << "--settle attend";
    QTest::newRow("an incomplete take's wait that is no number")
        << QStringList{"watch", "--calibration",      cal,    "--output",
                       "out",   "--incomplete-after", "soon", "a"}
        << 2 << ""
        << "--incomplete-after attend un nombre de secondes de 0 à 3600";
}

void CommandLineTest::help_version_and_usage_errors()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exit_code);
    QFETCH(QString, out);
    QFETCH(QString, err);

    arguments.replaceInStrings(QStringLiteral("CAL"), calibration);
    const QTemporaryDir inbox;
    arguments.replaceInStrings(QStringLiteral("INBOX"), inbox.path());
    const QuorvaneRun run = run_quorvane(arguments);
    QCOMPARE(QDir(inbox.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
    QCOMPARE(run.crashed, false);
    QCOMPARE(run.exit_code, exit_code);
    QVERIFY2(run.out.contains(out), qPrintable(run.out));
    QVERIFY2(run.err.contains(err), qPrintable(run.err));
    if (err.isEmpty())
        QCOMPARE(run.err, QString());
    if (exit_code == 2)
        QVERIFY(run.err.contains("--help"));
}

void CommandLineTest::paths_are_made_absolute_data()
{
    QTest::addColumn<QString>("reference");
    QTest::addColumn<QString>("kept");

    const QString here = QDir::currentPath();
    QTest::newRow("relative") << "ref_0.jpg" << here + "/ref_0.jpg";
    QTest::newRow("up a level") << "../rig/ref_0.jpg"
                                << QDir::cleanPath(here + "/../rig/ref_0.jpg");
    QTest::newRow("absolute") << "/photos/ref_0.jpg"
                              << "/photos/ref_0.jpg";
    // Qt reads a name starting with ':' as one of its resources.
    QTest::newRow("starting with a colon") << ":ref_0.jpg" << here + "/:ref_0.jpg";
    // Left for the photo check to report as missing.
    QTest::newRow("empty") << ""
                           << "";
}

// The calibration file names the reference photos wherever it is opened from,
// and every file or folder named is read as a file, never as a Qt resource.
void CommandLineTest::paths_are_made_absolute()
{
    QFETCH(QString, reference);
    QFETCH(QString, kept);
    CalibrateArguments calibrate;
    QVERIFY(parse_calibrate_arguments({"quorvane", "calibrate", "--output", "rig.qvcal", reference},
                                      calibrate)
                .runs());
    QCOMPARE(calibrate.request.references, QStringList{kept});
    if (reference.isEmpty())
        return; // an empty calibration file or output folder is a usage error

    QVERIFY(parse_calibrate_arguments({"quorvane", "calibrate", "--output", reference, reference},
                                      calibrate)
                .runs());
    ProcessArguments process;
    QVERIFY(parse_process_arguments({"quorvane", "process", "--calibration", reference, "--output",
                                     reference, reference},
                                    process)
                .runs());
    QCOMPARE(calibrate.output, kept);
    QCOMPARE(process.calibration, kept);
    QCOMPARE(process.request.folder, kept);
    QCOMPARE(process.request.shots, QStringList{kept});

    WatchArguments watch;
    QVERIFY(parse_watch_arguments(
                {"quorvane", "watch", "--calibration", reference, "--output", reference, reference},
                watch)
                .runs());
    QCOMPARE(watch.calibration, kept);
    QCOMPARE(watch.settings.root, kept);
    QCOMPARE(watch.settings.inbox, kept);
}

void CommandLineTest::a_hidden_camera_leaves_the_calibration_incomplete()
{
    const QString incomplete = work.filePath("incomplete.qvcal");
    const QuorvaneRun calibrated =
        run_quorvane(QStringList{"calibrate", "--output", incomplete} + references);
    QCOMPARE(calibrated.exit_code, 3);
    QCOMPARE(calibrated.err.count('\n'), 1);
    QVERIFY2(calibrated.err.contains("caméra(s) non alignée(s) : 2 (ref_01.jpg)"),
             qPrintable(calibrated.err));
    // Written all the same, for the window (or --points) to finish.
    QVERIFY(QFileInfo(incomplete).size() > 0);

    const QString output = work.filePath("not-made");
    const QuorvaneRun processed = run_quorvane(
        QStringList{"process", "--calibration", incomplete, "--output", output} + shots);
    QCOMPARE(processed.exit_code, 3);
    QVERIFY(processed.err.contains("2 (ref_01.jpg)"));
    QVERIFY(!QFileInfo::exists(output));

    // The same photo in the middle: the others have nothing to be aligned onto,
    // and points given for it by hand are said not to help rather than ignored.
    QStringList middle_hidden = references;
    middle_hidden.swapItemsAt(hidden_camera, camera_count / 2);
    const QString nothing = work.filePath("nothing.qvcal");
    const QuorvaneRun refused =
        run_quorvane(QStringList{"calibrate", "--points",
                                 points_argument(camera_count / 2, truth.stickers[hidden_camera]),
                                 "--output", nothing} +
                     middle_hidden);
    QCOMPARE(refused.exit_code, 1);
    QCOMPARE(refused.err.count('\n'), 1);
    QVERIFY2(refused.err.contains("ref_01.jpg' : les trois stickers de la photo du milieu"),
             qPrintable(refused.err));
    QVERIFY2(refused.err.contains("--points ne remplace pas"), qPrintable(refused.err));
    QVERIFY(!QFileInfo::exists(nothing));
}

// The click on the middle photo's top sticker teaches the colour, logged and
// kept in the file; a click outside the photo writes nothing.
void CommandLineTest::calibrate_learns_the_colour_at_a_click()
{
    const cv::Point2d sticker = truth.stickers[camera_count / 2][0];
    const QString click = QStringLiteral("%1,%2").arg(int(sticker.x)).arg(int(sticker.y));
    const QString learned = work.filePath("learned.qvcal");
    const QuorvaneRun calibrated = run_quorvane(
        QStringList{"calibrate", "--color-at", click, "--output", learned} + references);
    // The hidden camera's grey stickers are no more found than with the preset.
    QCOMPARE(calibrated.exit_code, 3);
    QVERIFY2(calibrated.err.contains("caméra(s) non alignée(s) : 2 (ref_01.jpg)"),
             qPrintable(calibrated.err));
    const QString line = QStringLiteral("Sticker colour learned at (%1, %2): hue ")
                             .arg(int(sticker.x))
                             .arg(int(sticker.y));
    QVERIFY2(calibrated.out.contains(line), qPrintable(calibrated.out));
    const CalibrationRead read = read_calibration_file(learned);
    QVERIFY2(read.ok(), qPrintable(read.error));
    QVERIFY(read.calibration.learned_colour);
    QVERIFY(read.calibration.learned_colour->hue > 40 && read.calibration.learned_colour->hue < 70);

    const QString nothing = work.filePath("outside.qvcal");
    const QuorvaneRun refused = run_quorvane(
        QStringList{"calibrate", "--color", "#E1D228", "--color-at", "100000,5", "--output",
                    nothing} +
        references);
    QCOMPARE(refused.exit_code, 1);
    QVERIFY2(refused.err.contains("--color-at : le point (100000, 5) est hors de la photo ; "
                                  "aucun fichier écrit"),
             qPrintable(refused.err));
    QVERIFY(!QFileInfo::exists(nothing));
}

// Green fits no preset, and a stop and a half under the generator's exposure
// the background's olive and sage shapes come close to it: one click on the
// middle sticker must still align every camera on its own stickers.
void CommandLineTest::green_stickers_under_exposed_calibrate_from_one_click()
{
    RigOptions options;
    options.width = 640;
    options.height = 480;
    options.seed = 1;
    options.color = RigStickerColor::Green;
    options.exposure_ev = -1.5;
    options.noise = 3.0;
    options.exposure_spread = 0.5;
    options.colourful = true;
    const QString folder = work.filePath("green");
    std::ostringstream quiet;
    const RigWriteResult written = write_rig(options, folder, quiet);
    QVERIFY2(written.ok(), written.error.c_str());
    QStringList references;
    for (int k = 0; k < options.cameras; ++k)
        references << QDir(folder).filePath(reference_file_name(k));
    const RigGroundTruth& truth = written.truth;
    const cv::Point2d middle = truth.stickers[truth.middle_camera][1];
    const QString click = QStringLiteral("%1,%2").arg(qRound(middle.x)).arg(qRound(middle.y));
    const QString path = work.filePath("green.qvcal");
    const QuorvaneRun run =
        run_quorvane(QStringList{"calibrate", "--color-at", click, "--output", path} + references);
    QCOMPARE(run.exit_code, 0);
    QVERIFY2(run.out.contains(QStringLiteral("Sticker colour learned at (%1, %2): hue ")
                                  .arg(qRound(middle.x))
                                  .arg(qRound(middle.y))),
             qPrintable(run.out));
    const CalibrationRead read = read_calibration_file(path);
    QVERIFY2(read.ok(), qPrintable(read.error));
    for (int k = 0; k < options.cameras; ++k) {
        const CameraCalibration& camera = read.calibration.cameras[k];
        QCOMPARE(camera.method, AlignmentMethod::Automatic);
        for (int i = 0; i < 3; ++i)
            QVERIFY2(cv::norm(camera.stickers[i] - truth.stickers[k][i]) < 1.0,
                     qPrintable(QStringLiteral("camera %1, sticker %2 at %3,%4")
                                    .arg(k)
                                    .arg(i)
                                    .arg(camera.stickers[i].x)
                                    .arg(camera.stickers[i].y)));
    }
}

void CommandLineTest::process_makes_the_frames_of_the_window_path()
{
    const QString output = work.filePath("cli");
    const QuorvaneRun run = run_quorvane(
        QStringList{"process", "--calibration", calibration, "--output", output, "--compression",
                    "30", "--fps", "12", "--boomerang", "--gif", "--video-size", "1280"} +
        shots);
    QCOMPARE(run.exit_code, 0);
    QCOMPARE(run.err, QString()); // no progress when standard error is not a terminal
    QVERIFY(run.out.contains("Running: ffmpeg -r 12 "));
    QVERIFY(QFileInfo(output + "/output_video.mp4").size() > 0);
    QVERIFY(QFileInfo(output + "/output_video_boomerang.mp4").size() > 0);
    QVERIFY(QFileInfo(output + "/output_video.gif").size() > 0);
    QVERIFY(QFileInfo(output + "/output_video_boomerang.gif").size() > 0);

    // The window's path: the same calibration run, the same camera by hand, the same run.
    std::ostringstream log;
    CalibrationRequest calibration_request;
    calibration_request.references = references;
    CalibrationOutcome calibrated = run_calibration(calibration_request, log);
    QVERIFY(align_camera_from_points(calibrated.rig, hidden_camera, references[hidden_camera],
                                     truth.stickers[hidden_camera], calibrated.reference, log)
                .aligned);
    ProcessingRequest request;
    request.shots = shots;
    request.calibration = calibrated.rig.calibration();
    request.folder = work.filePath("window");
    request.quality = 70;
    QVERIFY(QDir().mkpath(request.folder));
    ChildProcessRunner runner;
    QCOMPARE(run_processing(runner, request, log).failure(), ProcessingFailure::None);
    for (int k = 0; k < camera_count; ++k) {
        const QString frame = QStringLiteral("/output_img_%1.jpg").arg(k);
        // The same pixels; the JPEG header's resolution follows the screen, and there is none.
        const QImage written(output + frame);
        QVERIFY(!written.isNull());
        QVERIFY2(written == QImage(request.folder + frame), qPrintable(frame));
    }
}

// Every video and GIF plays the in-between frames, counted and timed in what
// `process` says at the end (holds and repeats included); the frame files stay
// one per camera.
void CommandLineTest::process_plays_in_between_frames_data()
{
    QTest::addColumn<QStringList>("options");
    // The pictures the video, the boomerang, the GIF and its boomerang play.
    QTest::addColumn<QList<int>>("pictures");
    QTest::addColumn<bool>("still");
    // 4 cameras and 2 in-betweens a pair: 10 pictures, twice in a boomerang.
    QTest::newRow("two in-betweens") << QStringList{"--between", "2"}
                                     << QList<int>{10, 20, 10, 20} << false;
    // 7 pictures, a 5-picture hold at each end: 17 forwards, 7 backwards; the
    // videos played twice to last 3 s, the GIFs once.
    QTest::newRow("one in-between, held and repeated, with a still")
        << QStringList{"--between", "1", "--hold", "0.5", "--min-duration", "3", "--still"}
        << QList<int>{34, 48, 17, 24} << true;
}

void CommandLineTest::process_plays_in_between_frames()
{
    QFETCH(QStringList, options);
    QFETCH(QList<int>, pictures);
    QFETCH(bool, still);
    const QString output = work.filePath("between_" + QString::number(options.size()));
    const QuorvaneRun run = run_quorvane(QStringList{"process", "--calibration", calibration,
                                                     "--output", output, "--fps", "10",
                                                     "--boomerang", "--gif", "--video-size",
                                                     "1280"} +
                                         options + shots);
    QCOMPARE(run.exit_code, 0);
    const QStringList said = run.out.split('\n');
    const QStringList names{"output_video.mp4", "output_video_boomerang.mp4", "output_video.gif",
                            "output_video_boomerang.gif"};
    for (int k = 0; k < names.size(); ++k) {
        const QString line = QStringLiteral("%1 : %2 images, %3 s")
                                 .arg(names[k])
                                 .arg(pictures[k])
                                 .arg(QLocale(QLocale::French).toString(pictures[k] / 10.0, 'f', 2));
        QVERIFY2(said.contains(line), qPrintable(line + " not in:\n" + run.out));
    }
    QCOMPARE(said.contains("output_still.jpg : image fixe"), still);
    QVERIFY2(!run.out.contains("Video written"), qPrintable(run.out));
    QCOMPARE(QDir(output).entryList({"output_img_*"}).size(), camera_count);
    for (int k = 0; k < names.size(); ++k) {
        QProcess ffprobe;
        ffprobe.start("ffprobe", {"-v", "error", "-count_frames", "-select_streams", "v:0",
                                  "-show_entries", "stream=nb_read_frames", "-of", "csv=p=0",
                                  output + "/" + names[k]});
        QVERIFY(ffprobe.waitForFinished(-1));
        QCOMPARE(ffprobe.readAllStandardOutput().trimmed().toInt(), pictures[k]);
    }
}

// Points a few pixels off the grey-capped stickers land on their centres; the
// corner error is said; points with nothing round near them are named, kept,
// and the larger error they leave is flagged.
void CommandLineTest::points_leaving_no_common_frame_write_nothing()
{
    // Three points a few pixels apart off a corner: the camera is blown up so
    // far that no part of its photo meets the others'.
    const QString output = work.filePath("no_frame.qvcal");
    const QuorvaneRun run = run_quorvane(
        QStringList{"calibrate", "--points",
                    points_argument(hidden_camera, {{{-5, -5}, {-6, -6}, {-7, -7}}}), "--output",
                    output} +
        references);
    QCOMPARE(run.exit_code, 1);
    QVERIFY2(run.err.endsWith("quorvane : les photos alignées n'ont plus aucune partie commune avec "
                              "les points donnés pour la caméra 2 (ref_01.jpg) ; vérifiez ces "
                              "points, aucun fichier écrit\n"),
             qPrintable(run.err));
    QVERIFY(!QFileInfo::exists(output));
}

void CommandLineTest::points_snap_to_the_stickers()
{
    const std::array<cv::Point2d, 3>& centres = truth.stickers[hidden_camera];
    const std::array<cv::Point2d, 3> clicked{centres[0] + cv::Point2d(3, -1),
                                             centres[1] + cv::Point2d(-2, -2.5),
                                             centres[2] + cv::Point2d(0.5, 3)};
    const QString snapped = work.filePath("snapped.qvcal");
    const QuorvaneRun run = run_quorvane(
        QStringList{"calibrate", "--points", points_argument(hidden_camera, clicked), "--output",
                    snapped} +
        references);
    QCOMPARE(run.exit_code, 0);
    QCOMPARE(run.err, QString());
    QVERIFY2(run.out.contains(QStringLiteral("Camera 2: point 1 moved from (%1, %2) to the sticker at")
                                  .arg(clicked[0].x, 0, 'f', 1)
                                  .arg(clicked[0].y, 0, 'f', 1)),
             qPrintable(run.out));
    QVERIFY2(run.out.contains("Camera 2 (ref_01.jpg): frame corners uncertain by 0."),
             qPrintable(run.out));
    const CalibrationRead read = read_calibration_file(snapped);
    QVERIFY2(read.ok(), qPrintable(read.error));
    const CameraCalibration& camera = read.calibration.cameras[hidden_camera];
    QCOMPARE(camera.method, AlignmentMethod::Manual);
    for (int i = 0; i < 3; ++i) {
        QVERIFY2(cv::norm(camera.stickers[i] - centres[i]) < 0.2, qPrintable(QString::number(i)));
        QVERIFY(camera.sticker_uncertainty[i] > 0.0 && camera.sticker_uncertainty[i] < 0.5);
    }

    // A column well clear of the stickers, over the plain scene.
    const cv::Point2d aside(-90, 0);
    const QString kept = work.filePath("kept.qvcal");
    const QuorvaneRun unsnapped = run_quorvane(
        QStringList{"calibrate", "--points",
                    points_argument(hidden_camera, {centres[0] + aside, centres[1] + aside,
                                                    centres[2] + aside}),
                    "--output", kept} +
        references);
    QCOMPARE(unsnapped.exit_code, 0);
    const QString first = QStringLiteral("quorvane : caméra 2 (ref_01.jpg) : point 1 (%1, %2) : "
                                         "aucun sticker rond trouvé près du point : point gardé "
                                         "tel quel\n")
                              .arg(centres[0].x + aside.x)
                              .arg(centres[0].y + aside.y);
    QVERIFY2(unsnapped.err.startsWith(first), qPrintable(unsnapped.err));
    QCOMPARE(unsnapped.err.count(QStringLiteral("point gardé tel quel")), 3);
    QVERIFY2(unsnapped.err.contains("caméra 2 (ref_01.jpg) : les coins de ses images peuvent "
                                    "s'écarter de "),
             qPrintable(unsnapped.err));
    QVERIFY(!unsnapped.out.contains("moved from"));
    const CalibrationRead unmoved = read_calibration_file(kept);
    QVERIFY2(unmoved.ok(), qPrintable(unmoved.error));
    QCOMPARE(unmoved.calibration.cameras[hidden_camera].stickers[0], centres[0] + aside);
}

void CommandLineTest::bad_inputs_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<int>("exit_code");
    QTest::addColumn<QString>("message");

    QTest::newRow("missing file") << "missing" << 1 << "(caméra 1) : fichier introuvable";
    QTest::newRow("empty file") << "empty" << 1 << "(caméra 1) : fichier vide";
    QTest::newRow("not an image") << "text" << 1 << "ce n'est pas une photo JPEG ou PNG lisible";
    QTest::newRow("JPEG cut short") << "cut" << 1 << "photo JPEG incomplète";
    QTest::newRow("1 x 1 photo") << "tiny" << 1 << "les proportions diffèrent";
    QTest::newRow("another aspect ratio") << "square" << 1 << "mesure 480 × 480 pixels";
    QTest::newRow("half the size") << "half" << 0 << "";
    QTest::newRow("grey-only JPEG") << "grey" << 0 << "";
    QTest::newRow("CMYK JPEG") << "cmyk" << 0 << "";
    QTest::newRow("16-bit PNG") << "png16" << 0 << "";
    QTest::newRow("PNG with alpha") << "alpha" << 0 << "";
    QTest::newRow("one shot missing") << "count" << 1 << "3 photos pour 4 caméras dans '";
    QTest::newRow("damaged calibration") << "damaged" << 1 << "rig.qvcal";
    QTest::newRow("missing calibration") << "no calibration" << 1 << "nowhere.qvcal";
    QTest::newRow("output under a file")
        << "unwritable" << 1
        << "impossible de créer le dossier de sortie (" +
               QString::fromLocal8Bit(std::strerror(ENOTDIR)) + ")";
    QTest::newRow("quotes, $(…), ; and accents") << "odd names" << 0 << "";
    QTest::newRow("ffmpeg missing from PATH") << "no ffmpeg" << 1 << "ffmpeg";
    QTest::newRow("overlay not a PNG")
        << "overlay text" << 1 << "logo.png' : habillage impossible (ce n'est pas une image PNG)";
    QTest::newRow("overlay missing")
        << "overlay missing" << 1 << "logo.png' : habillage impossible (fichier introuvable)";
}

void CommandLineTest::bad_inputs()
{
    QFETCH(QString, change);
    QFETCH(int, exit_code);
    QFETCH(QString, message);

    QTemporaryDir case_folder;
    QString folder = case_folder.path();
    if (change == "odd names") {
        folder += QStringLiteral("/l'été \"$(touch pwned)\"; `id`");
        QVERIFY(QDir().mkpath(folder));
    }
    QStringList inputs;
    for (int k = 0; k < camera_count; ++k) {
        inputs << folder + QStringLiteral("/shot_%1.jpg").arg(k);
        QVERIFY(QFile::copy(shots[k], inputs[k]));
    }
    const cv::Mat photo = cv::imread(shots[0].toStdString());
    QString rig_file = calibration;
    QString output = folder + "/sortie";
    QProcessEnvironment environment = headless_environment();
    QString& first = inputs[0];
    if (change == "missing") {
        QVERIFY(QFile::remove(first));
    } else if (change == "empty") {
        QVERIFY(write_bytes(first, {}));
    } else if (change == "text") {
        QVERIFY(write_bytes(first, "these are not the pixels you are looking for\n"));
    } else if (change == "cut") {
        QVERIFY(write_bytes(first, read_bytes(shots[0]).left(20000)));
    } else if (change == "tiny") {
        QVERIFY(cv::imwrite(first.toStdString(), cv::Mat(1, 1, CV_8UC3, cv::Scalar(9, 9, 9))));
    } else if (change == "square" || change == "half") {
        const cv::Mat part = change == "square" ? photo(cv::Rect(0, 0, 480, 480)).clone() : photo;
        cv::Mat resized;
        cv::resize(part, resized, change == "half" ? cv::Size(320, 240) : part.size());
        QVERIFY(cv::imwrite(first.toStdString(), resized));
    } else if (change == "grey") {
        cv::Mat grey;
        cv::cvtColor(photo, grey, cv::COLOR_BGR2GRAY);
        QVERIFY(cv::imwrite(first.toStdString(), grey));
    } else if (change == "cmyk") {
        QVERIFY(write_bytes(first, cmyk_jpeg(photo, 95, false)));
    } else if (change == "png16" || change == "alpha") {
        first = folder + "/shot_0.png";
        cv::Mat converted;
        if (change == "png16")
            photo.convertTo(converted, CV_16UC3, 257.0);
        else
            cv::cvtColor(photo, converted, cv::COLOR_BGR2BGRA);
        QVERIFY(cv::imwrite(first.toStdString(), converted));
    } else if (change == "count") {
        inputs.removeLast();
    } else if (change == "damaged") {
        rig_file = folder + "/rig.qvcal";
        QVERIFY(write_bytes(rig_file, read_bytes(calibration).left(300)));
    } else if (change == "no calibration") {
        rig_file = folder + "/nowhere.qvcal";
    } else if (change == "unwritable") {
        QVERIFY(write_bytes(folder + "/file", "x"));
        output = folder + "/file/sortie";
    } else if (change == "no ffmpeg") {
        environment.insert("PATH", folder + "/empty-path");
    }
    QStringList options;
    if (change.startsWith("overlay")) {
        options << "--overlay" << folder + "/logo.png";
        if (change == "overlay text")
            QVERIFY(write_bytes(folder + "/logo.png", "a logo, in words\n"));
    }

    const QuorvaneRun run = run_quorvane(
        QStringList{"process", "--calibration", rig_file, "--output", output} + options + inputs,
        environment);
    QCOMPARE(run.crashed, false);
    QCOMPARE(run.exit_code, exit_code);
    QVERIFY2(run.err.contains(message), qPrintable(run.err));
    if (exit_code == 0) {
        QCOMPARE(run.err, QString());
        QCOMPARE(files_in(output),
                 (QStringList{"output_img_0.jpg", "output_img_1.jpg", "output_img_2.jpg",
                              "output_img_3.jpg", "output_video.mp4"}));
    } else {
        // One line per failure, and nothing left behind.
        QCOMPARE(run.err.count('\n'), 1);
        QVERIFY2(!QFileInfo::exists(output), qPrintable(files_in(output).join(' ')));
    }
    QVERIFY(!QFileInfo::exists(folder + "/pwned"));
    QVERIFY(!QFileInfo::exists("pwned"));
}

// A folder holding an earlier run: its files go (a longer run's last frames, a
// boomerang and GIFs this run does not make), other files stay. A shot among
// them is refused before anything is removed.
void CommandLineTest::process_replaces_an_earlier_run()
{
    QTemporaryDir folder;
    const QString output = folder.filePath("sortie");
    const QStringList options{"process", "--calibration", calibration, "--output", output};
    QCOMPARE(run_quorvane(options + QStringList{"--boomerang", "--gif"} + shots).exit_code, 0);
    QVERIFY(QFile::copy(shots[3], output + "/output_img_7.jpg"));
    QVERIFY(write_bytes(output + "/notes.txt", "someone else's"));

    const QStringList before = files_in(output);
    QStringList with_old_frame = shots;
    with_old_frame[3] = output + "/output_img_7.jpg";
    QuorvaneRun run = run_quorvane(options + with_old_frame);
    QCOMPARE(run.exit_code, 1);
    QCOMPARE(run.err.count('\n'), 1);
    QVERIFY2(run.err.contains("output_img_7.jpg' : c'est une des photos d'entrée"),
             qPrintable(run.err));
    QCOMPARE(files_in(output), before);

    run = run_quorvane(options + shots);
    QCOMPARE(run.exit_code, 0);
    QCOMPARE(files_in(output),
             (QStringList{"notes.txt", "output_img_0.jpg", "output_img_1.jpg", "output_img_2.jpg",
                          "output_img_3.jpg", "output_video.mp4"}));
}

void CommandLineTest::process_stops_at_a_full_disk_data()
{
    QTest::addColumn<QString>("cut"); // the file the limit falls in
    QTest::addColumn<bool>("folder_existed");

    QTest::newRow("a frame, new folder") << "output_img_" << false;
    QTest::newRow("a frame, folder with other files") << "output_img_" << true;
    QTest::newRow("the video") << "output_video.mp4" << true;
    QTest::newRow("the boomerang") << "output_video_boomerang.mp4" << false;
}

// A file-size limit stands in for a disk that fills up: the run stops with one
// line naming the file and the system's reason, and takes back what it wrote,
// leaving no file, whole or cut short, under any name.
void CommandLineTest::process_stops_at_a_full_disk()
{
    QFETCH(QString, cut);
    QFETCH(bool, folder_existed);

    // High compression keeps the frames well below the videos they make.
    const QStringList options{"process", "--calibration", calibration, "--compression",
                              "90",      "--boomerang"};
    QTemporaryDir folder;
    const QString whole = folder.filePath("whole");
    QCOMPARE(run_quorvane(options + QStringList{"--output", whole} + shots).exit_code, 0);
    qint64 largest_frame = 0;
    for (const QString& name : files_in(whole)) {
        if (name.startsWith("output_img_"))
            largest_frame = std::max(largest_frame, QFileInfo(whole + "/" + name).size());
    }
    const qint64 video = QFileInfo(whole + "/output_video.mp4").size();
    const qint64 boomerang = QFileInfo(whole + "/output_video_boomerang.mp4").size();
    QVERIFY2(largest_frame < video && video < boomerang,
             qPrintable(QStringLiteral("%1 %2 %3").arg(largest_frame).arg(video).arg(boomerang)));
    const qint64 limit = cut == "output_img_"        ? largest_frame / 2
                         : cut == "output_video.mp4" ? (largest_frame + video) / 2
                                                     : (video + boomerang) / 2;

    const QString output = folder.filePath("sortie");
    if (folder_existed) {
        QVERIFY(QDir().mkpath(output));
        QVERIFY(write_bytes(output + "/notes.txt", "someone else's"));
    }
    const QuorvaneRun run =
        run_quorvane_with_file_size_limit(options + QStringList{"--output", output} + shots, limit);
    QCOMPARE(run.crashed, false);
    QCOMPARE(run.exit_code, 1);
    QCOMPARE(run.err.count('\n'), 1);
    QVERIFY2(run.err.startsWith("quorvane : '" + output + "/" + cut), qPrintable(run.err));
    QVERIFY2(run.err.contains(QString::fromLocal8Bit(std::strerror(EFBIG))), qPrintable(run.err));
    if (folder_existed)
        QCOMPARE(files_in(output), QStringList{"notes.txt"});
    else
        QVERIFY2(!QFileInfo::exists(output), qPrintable(files_in(output).join(' ')));
}

// Writing over a calibration file in use: when the new one cannot be written
// whole, the old one stays as it was, and the line says which file and why.
void CommandLineTest::calibration_not_written_keeps_the_previous_file()
{
    QTemporaryDir folder;
    const QString rig = folder.filePath("rig.qvcal");
    QVERIFY(QFile::copy(calibration, rig));
    const QByteArray previous = read_bytes(rig);

    const QuorvaneRun run = run_quorvane_with_file_size_limit(
        QStringList{"calibrate", "--color", "yellow", "--output", rig} + references,
        previous.size() / 3);
    QCOMPARE(run.crashed, false);
    QCOMPARE(run.exit_code, 1);
    QCOMPARE(run.err.count('\n'), 1);
    QVERIFY2(run.err.contains("'" + rig + "'"), qPrintable(run.err));
    QVERIFY2(run.err.contains(QString::fromLocal8Bit(std::strerror(EFBIG))), qPrintable(run.err));
    QCOMPARE(read_bytes(rig), previous);
    QCOMPARE(files_in(folder.path()), QStringList{"rig.qvcal"});
}

void CommandLineTest::damaged_photos_are_refused_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("damage");
    QTest::addColumn<QString>("reason");

    const QString shot_reason = "photo illisible, incomplète ou endommagée";
    const QString reference_reason = "photo endommagée, impossible à décoder";
    for (const QString damage : {"JPEG, 2 KB zeroed", "JPEG cut, its end marker added",
                                 "PNG, a failed CRC in its image data"}) {
        QTest::newRow(qPrintable("process, " + damage)) << "process" << damage << shot_reason;
        QTest::newRow(qPrintable("calibrate, " + damage))
            << "calibrate" << damage << reference_reason;
    }
}

// The image libraries carry on past damaged data and hand back a picture that
// looks whole; the photo is refused instead, naming it and its camera, with
// nothing written.
void CommandLineTest::damaged_photos_are_refused()
{
    QFETCH(QString, command);
    QFETCH(QString, damage);
    QFETCH(QString, reason);

    QTemporaryDir folder;
    const bool process = command == "process";
    QStringList inputs = process ? shots : references;
    const int camera = 2;
    const bool png = damage.startsWith("PNG");
    const QString bad = folder.filePath(png ? "bad.png" : "bad.jpg");
    QVERIFY(write_bytes(
        bad, damaged(png ? png_of(inputs[camera]) : read_bytes(inputs[camera]), damage)));
    inputs[camera] = bad;

    const QString output = folder.filePath(process ? "sortie" : "rig.qvcal");
    const QStringList arguments =
        process
            ? QStringList{"process", "--calibration", calibration, "--output", output}
            : QStringList{"calibrate", "--points",
                          points_argument(hidden_camera, truth.stickers[1]), "--output", output};
    const QuorvaneRun run = run_quorvane(arguments + inputs);
    QCOMPARE(run.crashed, false);
    QCOMPARE(run.exit_code, 1);
    // libpng prints its own error line first, past Qt's message handler.
    const QString line = "quorvane : '" + bad + "' (caméra 3) : " + reason + "\n";
    QVERIFY2(png ? run.err.endsWith("\n" + line) : run.err == line, qPrintable(run.err));
    QVERIFY2(!QFileInfo::exists(output), qPrintable(files_in(output).join(' ')));
}

// A file name is put into a message last, never read as one of its placeholders.
void CommandLineTest::a_percent_sign_in_a_name_stays_in_the_message()
{
    QTemporaryDir folder;
    QStringList inputs = shots;
    inputs[0] = folder.filePath("cam%1.jpg");
    QVERIFY(cv::imwrite(inputs[0].toStdString(), cv::Mat(2, 400, CV_8UC3, cv::Scalar(9, 9, 9))));
    const QuorvaneRun run = run_quorvane(QStringList{"process", "--calibration", calibration,
                                                     "--output", folder.filePath("sortie")} +
                                         inputs);
    QCOMPARE(run.exit_code, 1);
    QCOMPARE(run.err, "quorvane : '" + inputs[0] +
                          "' : la photo mesure 400 × 2 pixels, l'étalon de la caméra 1 640 × 480 : "
                          "les proportions diffèrent, le calibrage ne s'y applique pas\n");
}

QTEST_GUILESS_MAIN(CommandLineTest)
#include "command_line_test.moc"
