#include "cli/calibrate_command.h"

#include "calibration/alignment_uncertainty.h"
#include "calibration/calibration_file.h"
#include "cli/console.h"
#include "cli/exit_status.h"
#include "cli/stop_signals.h"
#include "cli/terminal_progress.h"
#include "output/calibration_check.h"
#include "pipeline/hand_points.h"

#include <QCommandLineParser>
#include <QFileInfo>

#include <cmath>
#include <iostream>
#include <vector>

namespace {

const QString command = QStringLiteral("calibrate");

const QString help = QStringLiteral(
    "Utilisation : quorvane calibrate [--color yellow|pink|#RRGGBB] [--color-at X,Y] "
    "[--points K=x1,y1,x2,y2,x3,y3]... "
    "--output RIG.qvcal REFERENCE...\n"
    "\n"
    "Calibre le banc à partir d'une photo étalon par caméra, données dans l'ordre des\n"
    "caméras, et écrit le fichier de calibrage.\n"
    "\n"
    "Options :\n"
    "  --color yellow|pink|#RRGGBB\n"
    "                          couleur des stickers (yellow) ; #RRGGBB en donne une\n"
    "                          quelconque, reconnue sous toute lumière\n"
    "  --color-at X,Y          un point d'un sticker de la photo du milieu, en pixels :\n"
    "                          sa couleur y est apprise, à partir de --color\n"
    "  --points K=x1,y1,x2,y2,x3,y3\n"
    "                          centres des trois stickers de la caméra K (1 pour la\n"
    "                          première), en pixels de sa photo étalon, donnés à la main\n"
    "                          pour une caméra que la détection n'aligne pas ; chaque\n"
    "                          point va au centre du sticker rond sur ou près duquel il\n"
    "                          est ; répétable\n"
    "  --output RIG.qvcal      fichier de calibrage à écrire\n"
    "  -h, --help              affiche cette aide\n"
    "\n"
    "Statut de sortie : 0 toutes les caméras sont alignées ; 1 échec (photo illisible,\n"
    "fichier impossible à écrire) ; 2 mauvaise utilisation ; 3 des caméras ne sont pas\n"
    "alignées : le fichier est écrit quand même, ces caméras marquées non alignées, pour\n"
    "les terminer avec --points ou dans la fenêtre.\n");

// "K=x1,y1,x2,y2,x3,y3" with K from 1 to `cameras`; false when it is not that.
bool parse_points(const QString& text, int cameras, int& camera, std::array<cv::Point2d, 3>& points)
{
    const QStringList sides = text.split(QLatin1Char('='));
    if (sides.size() != 2)
        return false;
    bool ok = false;
    // Checked before counting from 0: "-2147483648" has no predecessor.
    const int number = sides[0].trimmed().toInt(&ok);
    if (!ok || number < 1 || number > cameras)
        return false;
    camera = number - 1;
    const QStringList numbers = sides[1].split(QLatin1Char(','));
    if (numbers.size() != 6)
        return false;
    double values[6];
    for (int i = 0; i < 6; ++i) {
        values[i] = numbers[i].trimmed().toDouble(&ok);
        if (!ok || !std::isfinite(values[i]))
            return false;
    }
    for (int i = 0; i < 3; ++i)
        points[i] = {values[2 * i], values[2 * i + 1]};
    return true;
}

QString camera_name(const RigCalibration& rig, int camera)
{
    return QStringLiteral("%1 (%2)")
        .arg(camera + 1)
        .arg(QFileInfo(rig.cameras[camera].reference_photo).fileName());
}

} // namespace

ParseOutcome parse_calibrate_arguments(const QStringList& arguments, CalibrateArguments& parsed)
{
    QCommandLineParser parser;
    parser.addOption({QStringLiteral("color"), QString(), QStringLiteral("COULEUR")});
    parser.addOption({QStringLiteral("color-at"), QString(), QStringLiteral("X,Y")});
    parser.addOption({QStringLiteral("points"), QString(), QStringLiteral("POINTS")});
    parser.addOption({QStringLiteral("output"), QString(), QStringLiteral("FICHIER")});
    const ParseOutcome outcome = parse_options(parser, arguments, {QStringLiteral("points")});
    if (!outcome.runs())
        return outcome;

    CalibrationRequest& request = parsed.request;
    // The file names the photos wherever it is opened from.
    request.references = path_arguments(parser.positionalArguments());
    parsed.output = path_argument(parser.value(QStringLiteral("output")));
    const QString color = parser.value(QStringLiteral("color"));
    if (request.references.isEmpty())
        return usage_problem(QStringLiteral("il faut au moins une photo étalon"));
    if (parsed.output.isEmpty())
        return usage_problem(QStringLiteral("--output RIG.qvcal est obligatoire"));
    if (color == QLatin1String("pink")) {
        request.color = StickerColor::Pink;
    } else if (color.startsWith(QLatin1Char('#'))) {
        const ColourLearning given = colour_from_hex(color);
        if (!given.colour)
            return usage_problem(QStringLiteral("--color %1").arg(given.refusal));
        request.colour = given.colour;
    } else if (!color.isEmpty() && color != QLatin1String("yellow")) {
        return usage_problem(QStringLiteral("--color attend yellow ou pink, ou une couleur #RRGGBB"));
    }
    if (parser.isSet(QStringLiteral("color-at"))) {
        const QStringList numbers = parser.value(QStringLiteral("color-at")).split(QLatin1Char(','));
        bool x_ok = false, y_ok = false;
        const int x = numbers.size() == 2 ? numbers[0].trimmed().toInt(&x_ok) : 0;
        const int y = numbers.size() == 2 ? numbers[1].trimmed().toInt(&y_ok) : 0;
        if (!x_ok || !y_ok)
            return usage_problem(QStringLiteral("--color-at attend X,Y en pixels entiers"));
        request.colour_click = cv::Point(x, y);
    }

    const int cameras = request.references.size();
    for (const QString& text : parser.values(QStringLiteral("points"))) {
        int camera = 0;
        std::array<cv::Point2d, 3> points;
        if (!parse_points(text, cameras, camera, points))
            return usage_problem(QStringLiteral("--points %1 : attendu K=x1,y1,x2,y2,x3,y3 "
                                                "avec K de 1 à %2")
                                     .arg(text, QString::number(cameras)));
        if (parsed.by_hand.contains(camera))
            return usage_problem(
                QStringLiteral("--points donné deux fois pour la caméra %1").arg(camera + 1));
        parsed.by_hand.insert(camera, points);
    }
    return outcome;
}

int run_calibrate_command(const QStringList& arguments)
{
    CalibrateArguments parsed;
    const ParseOutcome parse = parse_calibrate_arguments(arguments, parsed);
    if (!parse.runs())
        return end_parsed(parse, command, help);
    const CalibrationRequest& request = parsed.request;
    const int cameras = request.references.size();

    // Every photo is checked first: a calibration is not worth writing with a
    // camera whose reference is damaged.
    if (!report_unusable_photos(request.references, true))
        return ExitFailed;

    StopSignals stop_signals;
    CalibrationProgress progress(cameras);
    CalibrationOutcome outcome;
    run_with_progress([&] { outcome = run_calibration(request, std::cout, &progress); },
                      [&] { return progress.step(); }, [&] { progress.request_stop(); },
                      stop_signals);
    if (!outcome.colour_refusal.isEmpty()) {
        print_error(QStringLiteral("'%1' : --color-at : %2 ; aucun fichier écrit")
                        .arg(request.references.at(cameras / 2), outcome.colour_refusal));
        return ExitFailed;
    }
    if (outcome.stopped) {
        print_error(QStringLiteral("calibrage interrompu : aucun fichier écrit"));
        return ExitFailed;
    }
    if (!outcome.reference.selected) {
        // The others are aligned onto the middle camera's stickers as found:
        // points given by hand for it cannot stand in for them.
        const bool middle_by_hand = parsed.by_hand.contains(cameras / 2);
        print_error(QStringLiteral("'%1' : les trois stickers de la photo du milieu n'ont pas été "
                                   "trouvés ; aucune caméra ne peut être alignée, aucun fichier "
                                   "écrit%2")
                        .arg(request.references.at(cameras / 2),
                             middle_by_hand ? QStringLiteral(" (--points ne remplace pas la "
                                                             "détection sur la photo du milieu, "
                                                             "qui sert de référence)")
                                            : QString()));
        return ExitFailed;
    }

    RigCalibration& rig = outcome.rig;
    std::vector<int> by_hand;
    for (auto entry = parsed.by_hand.cbegin(); entry != parsed.by_hand.cend(); ++entry) {
        const int camera = entry.key();
        const HandAlignment aligned = align_camera_from_points(
            rig, camera, request.references.at(camera), entry.value(), outcome.reference, std::cout);
        for (int i = 0; i < 3; ++i) {
            if (!aligned.snaps[i].snapped())
                print_error(QStringLiteral("caméra %1 : point %2 (%3, %4) : aucun sticker rond "
                                           "trouvé près du point : point gardé tel quel")
                                .arg(camera_name(rig, camera))
                                .arg(i + 1)
                                .arg(entry.value()[i].x)
                                .arg(entry.value()[i].y));
        }
        if (aligned.aligned)
            by_hand.push_back(camera);
        else
            print_error(QStringLiteral("caméra %1 : les trois points donnés ne sont pas alignés")
                            .arg(camera_name(rig, camera)));
    }
    // Points far from the stickers can turn a camera so far that the cameras
    // share no frame at all: every later run would fail on such a file.
    if (!by_hand.empty() && check_frame_rect(rig).isEmpty()) {
        QStringList names;
        for (const int camera : by_hand)
            names << camera_name(rig, camera);
        print_error(QStringLiteral("les photos alignées n'ont plus aucune partie commune avec les "
                                   "points donnés pour la caméra %1 ; vérifiez ces points, aucun "
                                   "fichier écrit")
                        .arg(names.join(QStringLiteral(", "))));
        return ExitFailed;
    }
    // Once every camera is aligned: the frame they share sets the corners.
    for (const int camera : by_hand) {
        const double uncertain = log_corner_uncertainty(rig, camera, std::cout);
        if (uncertain > corner_uncertainty_limit)
            print_error(QStringLiteral("caméra %1 : les coins de ses images peuvent s'écarter de "
                                       "%2 px de leur place ; donnez des points plus précis ou "
                                       "recalibrez-la dans la fenêtre")
                            .arg(camera_name(rig, camera))
                            .arg(uncertain, 0, 'f', 1));
    }

    const QString error = write_calibration_file(parsed.output, rig);
    if (!error.isEmpty()) {
        print_error(error);
        return ExitFailed;
    }
    const std::vector<int> unaligned = outcome.unaligned();
    if (unaligned.empty())
        return ExitDone;
    QStringList names;
    for (const int camera : unaligned)
        names << camera_name(rig, camera);
    print_error(QStringLiteral("calibrage incomplet, caméra(s) non alignée(s) : %1 ; "
                               "terminez-les avec --points ou dans la fenêtre")
                    .arg(names.join(QStringLiteral(", "))));
    return ExitCalibrationIncomplete;
}
