#include "tools/make_rig/rig_arguments.h"

#include <QRegularExpression>

namespace {

bool parse_int(const QString& text, int& value)
{
    bool ok = false;
    value = text.toInt(&ok);
    return ok;
}

} // namespace

RigArguments parse_rig_arguments(const QStringList& arguments)
{
    RigArguments result;
    RigOptions& options = result.options;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (argument == "--help" || argument == "-h") {
            result.help = true;
            return result;
        }
        const bool takes_value =
            argument == "--cameras" || argument == "--size" || argument == "--seed" ||
            argument == "--color" || argument == "--hidden" || argument == "--quality" ||
            argument == "--offset" || argument == "--middle-shift" || argument == "--tilt";
        if (takes_value && i + 1 >= arguments.size()) {
            result.error = argument.toStdString() + " needs a value";
            return result;
        }
        const QString value = takes_value ? arguments[++i] : QString();
        bool ok = true;
        if (argument == "--cameras") {
            ok = parse_int(value, options.cameras);
        } else if (argument == "--size") {
            const QRegularExpressionMatch m =
                QRegularExpression("^([0-9]+)x([0-9]+)$").match(value);
            ok = m.hasMatch() && parse_int(m.captured(1), options.width) &&
                 parse_int(m.captured(2), options.height);
        } else if (argument == "--seed") {
            options.seed = value.toULongLong(&ok);
        } else if (argument == "--color") {
            ok = value == "yellow" || value == "pink";
            options.color = value == "pink" ? RigStickerColor::Pink : RigStickerColor::Yellow;
        } else if (argument == "--hidden") {
            ok = parse_int(value, options.hidden_camera) && options.hidden_camera >= 0;
        } else if (argument == "--quality") {
            ok = parse_int(value, options.jpeg_quality);
        } else if (argument == "--offset") {
            const QRegularExpressionMatch m =
                QRegularExpression("^(-?[0-9.]+),(-?[0-9.]+)$").match(value);
            bool x_ok = false, y_ok = false;
            if (m.hasMatch())
                options.sticker_offset = {m.captured(1).toDouble(&x_ok),
                                          m.captured(2).toDouble(&y_ok)};
            ok = x_ok && y_ok;
        } else if (argument == "--middle-shift") {
            options.middle_shift = value.toDouble(&ok);
        } else if (argument == "--tilt") {
            options.sticker_tilt_deg = value.toDouble(&ok);
        } else if (argument == "--clutter") {
            options.clutter = true;
        } else if (argument == "--distractor") {
            options.distractor = true;
        } else if (argument.startsWith("-")) {
            result.error = "unknown option " + argument.toStdString();
            return result;
        } else if (result.folder.isEmpty()) {
            result.folder = argument;
        } else {
            result.error = "more than one output folder given";
            return result;
        }
        if (!ok) {
            result.error =
                "invalid value '" + value.toStdString() + "' for " + argument.toStdString();
            return result;
        }
    }
    if (result.folder.isEmpty())
        result.error = "no output folder given";
    else
        result.error = rig_options_error(options);
    return result;
}

std::string rig_usage()
{
    return "usage: make_rig <output folder> [--cameras N] [--size WxH] [--seed S]\n"
           "                [--color yellow|pink] [--clutter] [--distractor] [--hidden K]\n"
           "                [--quality Q] [--offset DX,DY] [--middle-shift F] [--tilt DEG]\n"
           "Renders a synthetic camera rig: references/ref_NN.jpg with three sticker discs,\n"
           "shots/shot_NN.jpg with a grid of white markers, and ground_truth.txt.\n"
           "  --cameras N     number of cameras, 1 to 99 (default 5)\n"
           "  --size WxH      photo size in pixels, up to 6000x4000 (default 1600x1200)\n"
           "  --seed S        random seed; the same seed gives the same files (default 1)\n"
           "  --color C       sticker colour, yellow or pink (default yellow)\n"
           "  --clutter       add small specks of the sticker colour\n"
           "  --distractor    add one large blob of the sticker colour\n"
           "  --hidden K      camera K's reference shows no sticker colour\n"
           "  --quality Q     JPEG quality, 1 to 100 (default 92)\n"
           "  --offset DX,DY  middle sticker this far from the middle camera's centre, in\n"
           "                  pixels, up to a quarter of the width and height (default 0,0)\n"
           "  --middle-shift F  middle sticker off the outer ones' midpoint by F times half\n"
           "                  their distance, -0.25 to 0.25, positive downwards (default 0)\n"
           "  --tilt DEG      sticker column turned from vertical, -15 to 15 (default 0)\n";
}
