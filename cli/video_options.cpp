#include "cli/video_options.h"

#include "cli/usage.h"
#include "output/run_files.h"
#include "pipeline/processing_run.h"
#include "pipeline/run_options.h"

namespace {

// "original, 3840, 1920 ou 1280": the window's video sizes as --video-size takes them.
QString long_side_choices()
{
    QStringList choices;
    for (const int long_side : video_long_sides)
        choices << (long_side == original_video_size ? QStringLiteral("original")
                                                     : QString::number(long_side));
    const QString last = choices.takeLast();
    return choices.join(QStringLiteral(", ")) + QStringLiteral(" ou ") + last;
}

// An integer option within [low, high]; false when it is not one.
bool read_bounded(const QString& text, int low, int high, int& value)
{
    bool ok = false;
    const int read = text.toInt(&ok);
    if (!ok || read < low || read > high)
        return false;
    value = read;
    return true;
}

} // namespace

void add_video_options(QCommandLineParser& parser)
{
    parser.addOption({QStringLiteral("fps"), QString(), QStringLiteral("N")});
    parser.addOption({QStringLiteral("compression"), QString(), QStringLiteral("P")});
    parser.addOption({QStringLiteral("boomerang"), QString()});
    parser.addOption({QStringLiteral("gif"), QString()});
    parser.addOption({QStringLiteral("video-size"), QString(), QStringLiteral("TAILLE")});
    parser.addOption({QStringLiteral("colour-match"), QString(), QStringLiteral("on|off")});
    parser.addOption({QStringLiteral("between"), QString(), QStringLiteral("N")});
}

QString read_video_options(const QCommandLineParser& parser, ProcessingRequest& request)
{
    int fps = default_fps;
    if (parser.isSet(QStringLiteral("fps")) &&
        !read_bounded(parser.value(QStringLiteral("fps")), min_fps, max_fps, fps))
        return QStringLiteral("--fps attend un nombre entier d'images par seconde entre %1 et %2")
            .arg(min_fps)
            .arg(max_fps);
    int compression = default_compression;
    QString compression_text = parser.value(QStringLiteral("compression"));
    if (compression_text.endsWith(QLatin1Char('%')))
        compression_text.chop(1);
    if (parser.isSet(QStringLiteral("compression")) &&
        !read_bounded(compression_text.trimmed(), min_compression, max_compression, compression))
        return QStringLiteral("--compression attend un pourcentage entier entre %1 et %2")
            .arg(min_compression)
            .arg(max_compression);
    int long_side = default_long_side;
    const QString size = parser.value(QStringLiteral("video-size"));
    if (parser.isSet(QStringLiteral("video-size"))) {
        // The window's choices: "original", or a long side it offers.
        bool number = false;
        const int chosen = size.toInt(&number);
        if (size == QLatin1String("original"))
            long_side = original_video_size;
        else if (number && chosen != original_video_size && is_video_long_side(chosen) &&
                 size == QString::number(chosen))
            long_side = chosen;
        else
            return QStringLiteral("--video-size attend %1").arg(long_side_choices());
    }
    bool colour_match = default_colour_match;
    if (parser.isSet(QStringLiteral("colour-match"))) {
        const QString value = parser.value(QStringLiteral("colour-match"));
        if (value != QLatin1String("on") && value != QLatin1String("off"))
            return QStringLiteral("--colour-match attend on ou off");
        colour_match = value == QLatin1String("on");
    }
    int between = default_between;
    if (parser.isSet(QStringLiteral("between"))) {
        if (!read_bounded(parser.value(QStringLiteral("between")), min_between, max_between,
                          between))
            return QStringLiteral("--between attend un nombre entier d'images intermédiaires "
                                  "entre %1 et %2")
                .arg(min_between)
                .arg(max_between);
        const QString refused = between_refusal(long_side, between);
        if (!refused.isEmpty())
            return QStringLiteral("--between %1 demande --video-size %2 : %3")
                .arg(between)
                .arg(long_side_choices().section(QStringLiteral(", "), 1), refused);
    }
    request.between = between;
    request.colour_match = colour_match;
    request.fps = fps;
    request.quality = quality_for_compression(compression);
    request.boomerang = parser.isSet(QStringLiteral("boomerang"));
    request.gif = parser.isSet(QStringLiteral("gif"));
    request.long_side = long_side;
    return QString();
}

void add_run_options(QCommandLineParser& parser, const QString& output_name)
{
    parser.addOption({QStringLiteral("calibration"), QString(), QStringLiteral("FICHIER")});
    parser.addOption({QStringLiteral("output"), QString(), output_name});
    add_video_options(parser);
}

QString read_run_options(const QCommandLineParser& parser, const QString& output_name,
                         QString& calibration, QString& output, ProcessingRequest& request)
{
    calibration = path_argument(parser.value(QStringLiteral("calibration")));
    output = path_argument(parser.value(QStringLiteral("output")));
    if (calibration.isEmpty())
        return QStringLiteral("--calibration RIG.qvcal est obligatoire");
    if (output.isEmpty())
        return QStringLiteral("--output %1 est obligatoire").arg(output_name);
    return read_video_options(parser, request);
}

QString video_options_help()
{
    return QStringLiteral(
               "Options vidéo :\n"
               "  --fps N                 images par seconde de la vidéo, de %1 à %2 (%3)\n"
               "  --compression P         compression des images en %, de %4 à %5 (%6)\n")
               .arg(min_fps)
               .arg(max_fps)
               .arg(default_fps)
               .arg(min_compression)
               .arg(max_compression)
               .arg(default_compression) +
           QStringLiteral("  --boomerang             ajoute la vidéo aller-retour (%1)\n"
                          "  --gif                   ajoute le GIF animé (%2, et celui du\n"
                          "                          boomerang avec --boomerang)\n")
               .arg(boomerang_file_name, gif_file_name) +
           QStringLiteral("  --video-size TAILLE     grand côté de la vidéo : %1\n"
                          "                          (original) ; les images gardent leur "
                          "taille\n")
               .arg(long_side_choices()) +
           QStringLiteral("  --colour-match on|off   harmonise la couleur et l'exposition de chaque\n"
                          "                          caméra sur celles de la caméra du milieu (%1)\n")
               .arg(default_colour_match ? QStringLiteral("on") : QStringLiteral("off")) +
           QStringLiteral("  --between N             images intermédiaires faites entre deux caméras\n"
                          "                          voisines pour les vidéos et les GIF, de %1\n"
                          "                          à %2 (%3) ; demande une --video-size réduite\n")
               .arg(min_between)
               .arg(max_between)
               .arg(default_between);
}
