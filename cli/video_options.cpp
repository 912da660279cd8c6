#include "cli/video_options.h"

#include "cli/usage.h"
#include "pipeline/processing_run.h"

namespace {

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
}

QString read_video_options(const QCommandLineParser& parser, ProcessingRequest& request)
{
    // The window's sliders: 1 to 60 frames per second, compression 0 to 100 %.
    int fps = 24;
    if (parser.isSet(QStringLiteral("fps")) &&
        !read_bounded(parser.value(QStringLiteral("fps")), 1, 60, fps))
        return QStringLiteral("--fps attend un nombre entier d'images par seconde entre 1 et 60");
    int compression = 50;
    QString compression_text = parser.value(QStringLiteral("compression"));
    if (compression_text.endsWith(QLatin1Char('%')))
        compression_text.chop(1);
    if (parser.isSet(QStringLiteral("compression")) &&
        !read_bounded(compression_text.trimmed(), 0, 100, compression))
        return QStringLiteral("--compression attend un pourcentage entier entre 0 et 100");
    int long_side = original_video_size;
    const QString size = parser.value(QStringLiteral("video-size"));
    if (parser.isSet(QStringLiteral("video-size")) && size != QLatin1String("original")) {
        // The window's choices: 4K, Full HD and 720p by their long side.
        if (size != QLatin1String("3840") && size != QLatin1String("1920") &&
            size != QLatin1String("1280"))
            return QStringLiteral("--video-size attend original, 3840, 1920 ou 1280");
        long_side = size.toInt();
    }
    request.fps = fps;
    request.quality = 100 - compression;
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
        "  --fps N                 images par seconde de la vidéo, de 1 à 60 (24)\n"
        "  --compression P         compression des images en %, de 0 à 100 (50)\n"
        "  --boomerang             ajoute la vidéo aller-retour (output_video_boomerang.mp4)\n"
        "  --gif                   ajoute le GIF animé (output_video.gif, et celui du\n"
        "                          boomerang avec --boomerang)\n"
        "  --video-size TAILLE     grand côté de la vidéo : original, 3840, 1920 ou 1280\n"
        "                          (original) ; les images gardent leur taille\n");
}
