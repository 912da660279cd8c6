#include "tools/make_rig/rig_arguments.h"

#include <QRegularExpression>

#include <optional>

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
            argument == "--offset" || argument == "--middle-shift" || argument == "--tilt" ||
            argument == "--arc" || argument == "--colour-spread" ||
            argument == "--exposure-spread" || argument == "--vignetting" ||
            argument == "--between" || argument == "--takes" || argument == "--move" ||
            argument == "--exposure" || argument == "--light" || argument == "--noise";
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
            const std::optional<RigStickerColor> color = color_from_name(value.toStdString());
            ok = color.has_value();
            options.color = color.value_or(RigStickerColor::Yellow);
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
        } else if (argument == "--parallax") {
            options.parallax = true;
        } else if (argument == "--arc") {
            options.arc_deg = value.toDouble(&ok);
        } else if (argument == "--colour-spread") {
            options.colour_spread = value.toDouble(&ok);
        } else if (argument == "--exposure-spread") {
            options.exposure_spread = value.toDouble(&ok);
        } else if (argument == "--vignetting") {
            options.vignetting = value.toDouble(&ok);
        } else if (argument == "--between") {
            ok = parse_int(value, options.between);
        } else if (argument == "--takes") {
            ok = parse_int(value, options.takes);
        } else if (argument == "--move") {
            const QString number = "(-?[0-9]+(?:\\.[0-9]*)?)";
            const QRegularExpressionMatch m =
                QRegularExpression("^([0-9]+):" + number + "," + number + "," + number + "," +
                                   number + "$")
                    .match(value);
            ok = m.hasMatch() && parse_int(m.captured(1), options.moved_camera);
            if (ok) {
                options.move.shift = {m.captured(2).toDouble(), m.captured(3).toDouble()};
                options.move.rotation_deg = m.captured(4).toDouble();
                options.move.scale = m.captured(5).toDouble();
            }
        } else if (argument == "--exposure") {
            options.exposure_ev = value.toDouble(&ok);
        } else if (argument == "--light") {
            options.light_kelvin = value.toDouble(&ok);
        } else if (argument == "--noise") {
            options.noise = value.toDouble(&ok);
        } else if (argument == "--colourful") {
            options.colourful = true;
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
           "                [--color yellow|pink|green|blue|orange] [--clutter] [--distractor]\n"
           "                [--hidden K] [--quality Q] [--offset DX,DY] [--middle-shift F]\n"
           "                [--tilt DEG] [--exposure EV] [--light KELVIN] [--noise SIGMA]\n"
           "                [--exposure-spread EV] [--colourful]\n"
           "                [--parallax [--arc DEG] [--colour-spread F] [--exposure-spread EV]\n"
           "                [--vignetting F] [--between M] [--takes N] [--move K:DX,DY,DEG,ZOOM]]\n"
           "Renders a synthetic camera rig: references/ref_NN.jpg with three sticker discs,\n"
           "shots/shot_NN.jpg with a grid of white markers, and ground_truth.txt.\n"
           "  --cameras N     number of cameras, 1 to 99 (default 5)\n"
           "  --size WxH      photo size in pixels, up to 6000x4000 (default 1600x1200)\n"
           "  --seed S        random seed; the same seed gives the same files (default 1)\n"
           "  --color C       sticker colour: yellow, pink, green, blue or orange; only\n"
           "                  yellow and pink fit a preset (default yellow)\n"
           "  --clutter       add small specks of the sticker colour\n"
           "  --distractor    add one large blob of the sticker colour\n"
           "  --hidden K      camera K's reference shows no sticker colour\n"
           "  --quality Q     JPEG quality, 1 to 100 (default 92)\n"
           "  --offset DX,DY  middle sticker this far from the middle camera's centre, in\n"
           "                  pixels, up to a quarter of the width and height (default 0,0)\n"
           "  --middle-shift F  middle sticker off the outer ones' midpoint by F times half\n"
           "                  their distance, -0.25 to 0.25, positive downwards (default 0)\n"
           "  --tilt DEG      sticker column turned from vertical, -15 to 15 (default 0)\n"
           "  --exposure EV   references exposed EV stops off, -2 to 1 (default 0); this\n"
           "                  and the four below change the references only: the shots'\n"
           "                  markers measure the alignment\n"
           "  --light KELVIN  references lit at this colour temperature, the cameras\n"
           "                  balanced for daylight: 3000 tungsten, 7000 shade, 2500 to\n"
           "                  10000 (default 5500, neutral)\n"
           "  --noise SIGMA   sensor noise in the references, 8-bit levels per channel,\n"
           "                  0 to 12 (default 0)\n"
           "  --exposure-spread EV  each camera's exposure off by up to EV, 0 to 0.5 here,\n"
           "                  0 to 0.4 with --parallax (default 0)\n"
           "  --colourful     shapes of other colours (orange, skin tones, reds, purples,\n"
           "                  cyans) in the references' background, never the sticker's\n"
           "  --parallax      a 3-D scene instead: cameras on an arc around the sticker\n"
           "                  column, a wall and floor behind, a subject in the shots, and\n"
           "                  truth/ beside: shot_NN.png, each shot without its colour\n"
           "                  differences (no other option above but the first four, --hidden,\n"
           "                  --quality and --exposure-spread; these below need it)\n"
           "  --arc DEG       angle between the outer cameras, 0 to 90 (default 40)\n"
           "  --colour-spread F  per-camera gains of 1 - F to 1 + F per channel, in linear\n"
           "                  light, 0 to 0.15 (default 0)\n"

           "  --vignetting F  corners darker by up to F, 0 to 0.6 (default 0)\n"
           "  --between M     M true views between neighbouring cameras, in the middle\n"
           "                  camera's frame: truth/between_KK_JJ.png, 0 to 20 (default 0)\n"
           "  --takes N       N takes, each with another subject, in shots/take_TT/ and\n"
           "                  truth/take_TT/ when N > 1, 1 to 99 (default 1)\n"
           "  --move K:DX,DY,DEG,ZOOM  camera K moved after the references: its shots are the\n"
           "                  unmoved ones shifted by DX,DY pixels, turned DEG degrees and\n"
           "                  zoomed by ZOOM about the middle (at most a tenth of the size,\n"
           "                  5 degrees, 0.9 to 1.1)\n";
}
