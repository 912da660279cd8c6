#include "tools/make_rig/ground_truth_file.h"

#include <QFile>

#include <istream>
#include <limits>
#include <ostream>
#include <set>
#include <sstream>

namespace {

void write_parallax(std::ostream& out, const RigGroundTruth& truth)
{
    const RigOptions& options = truth.options;
    const ParallaxTruth& scene = truth.parallax;
    out << "# Parallax scene, metres: x right, y down, z away from the cameras; the sticker\n"
           "# column is the axis x = z = 0, the middle sticker at the origin. The camera lines\n"
           "# above hold each camera's alignment on the stickers, exact along the column only.\n"
           "# truth/shot_NN.png: camera NN's shot without its colour differences, in its own\n"
           "# photo's pixels (moved, for the moved camera). truth/between_KK_JJ.png: the view at\n"
           "# K + J / (between + 1) along the arc, mapped by its alignment on the stickers into\n"
           "# the middle camera's photo: the whole width x height of that photo, uncropped,\n"
           "# rendered even where the view's own photo would not reach, without colour\n"
           "# differences and without the move. With several takes, take T (from 1) is in\n"
           "# shots/take_TT/ and truth/take_TT/. The shots show no stickers.\n";
    out << "scene parallax\n"
        << "arc " << options.arc_deg << '\n'
        << "colour_spread " << options.colour_spread << '\n'
        << "exposure_spread " << options.exposure_spread << '\n'
        << "vignetting " << options.vignetting << '\n'
        << "between " << options.between << '\n'
        << "takes " << options.takes << '\n'
        << "# move camera rotation_deg scale shift_x shift_y: p' = scale * R * (p - c) + c + "
           "shift\n"
        << "# in the moved camera's shots, p its unmoved pixel; camera -1: none\n"
        << "move " << options.moved_camera << ' ' << options.move.rotation_deg << ' '
        << options.move.scale << ' ' << options.move.shift.x << ' ' << options.move.shift.y << '\n'
        << "wall_z " << scene.wall_z << '\n'
        << "floor_y " << scene.floor_y << '\n'
        << "ball_spacing " << scene.sticker_spacing << '\n'
        << "ball_radius " << scene.sticker_radius << '\n'
        << "# view camera angle_deg distance height yaw_deg pitch_deg roll_deg focal_px\n";
    for (size_t k = 0; k < scene.views.size(); ++k) {
        const ViewPose& v = scene.views[k];
        out << "view " << k << ' ' << v.angle_deg << ' ' << v.distance << ' ' << v.height << ' '
            << v.yaw_deg << ' ' << v.pitch_deg << ' ' << v.roll_deg << ' ' << v.focal << '\n';
    }
    out << "# colour camera gain_blue gain_green gain_red exposure_ev vignetting (linear light)\n";
    for (size_t k = 0; k < scene.colours.size(); ++k) {
        const ColourResponse& c = scene.colours[k];
        out << "colour " << k << ' ' << c.gain[0] << ' ' << c.gain[1] << ' ' << c.gain[2] << ' '
            << c.exposure_ev << ' ' << c.vignetting << '\n';
    }
    out << "# subject take centre_x centre_y centre_z half_x half_y half_z turn_deg "
           "coverage_min coverage_max\n";
    for (size_t t = 0; t < scene.subjects.size(); ++t) {
        const SceneSubject& s = scene.subjects[t];
        out << "subject " << t << ' ' << s.centre.x << ' ' << s.centre.y << ' ' << s.centre.z << ' '
            << s.half_axes.x << ' ' << s.half_axes.y << ' ' << s.half_axes.z << ' ' << s.turn_deg
            << ' ' << s.coverage[0] << ' ' << s.coverage[1] << '\n';
    }
}

// How the flat references are lit, when not as painted.
void write_light(std::ostream& out, const RigGroundTruth& truth)
{
    const RigOptions& options = truth.options;
    out << "# References lit and taken: exposure in EV, light in kelvin, noise in levels,\n"
           "# colourful background; per camera the gains in linear light and the exposure.\n"
        << "exposure " << options.exposure_ev << '\n'
        << "light " << options.light_kelvin << '\n'
        << "noise " << options.noise << '\n'
        << "exposure_spread " << options.exposure_spread << '\n'
        << "colourful " << options.colourful << '\n'
        << "# light camera gain_blue gain_green gain_red exposure_ev\n";
    for (size_t k = 0; k < truth.reference_light.size(); ++k) {
        const ColourResponse& c = truth.reference_light[k];
        out << "light_camera " << k << ' ' << c.gain[0] << ' ' << c.gain[1] << ' ' << c.gain[2]
            << ' ' << c.exposure_ev << '\n';
    }
}

// One line of the flat references' light into `truth`; false for an unknown key.
bool read_light_line(const std::string& key, std::istream& in, RigGroundTruth& truth)
{
    RigOptions& options = truth.options;
    if (key == "exposure")
        in >> options.exposure_ev;
    else if (key == "light")
        in >> options.light_kelvin;
    else if (key == "noise")
        in >> options.noise;
    else if (key == "colourful")
        in >> options.colourful;
    else
        return false;
    return true;
}

// One line of the parallax section into `truth`; false for an unknown key.
bool read_parallax_line(const std::string& key, std::istream& in, RigGroundTruth& truth)
{
    RigOptions& options = truth.options;
    ParallaxTruth& scene = truth.parallax;
    if (key == "scene") {
        std::string name;
        in >> name;
        options.parallax = true;
        return name == "parallax";
    }
    if (key == "arc")
        in >> options.arc_deg;
    else if (key == "colour_spread")
        in >> options.colour_spread;
    else if (key == "exposure_spread")
        in >> options.exposure_spread;
    else if (key == "vignetting")
        in >> options.vignetting;
    else if (key == "between")
        in >> options.between;
    else if (key == "takes")
        in >> options.takes;
    else if (key == "move")
        in >> options.moved_camera >> options.move.rotation_deg >> options.move.scale >>
            options.move.shift.x >> options.move.shift.y;
    else if (key == "wall_z")
        in >> scene.wall_z;
    else if (key == "floor_y")
        in >> scene.floor_y;
    else if (key == "ball_spacing")
        in >> scene.sticker_spacing;
    else if (key == "ball_radius")
        in >> scene.sticker_radius;
    else
        return false;
    return true;
}

// The numbered lines of the parallax section (view, colour, subject), each in order.
bool read_parallax_item(const std::string& key, std::istream& in, ParallaxTruth& scene)
{
    size_t index = 0;
    in >> index;
    if (key == "view") {
        ViewPose v;
        in >> v.angle_deg >> v.distance >> v.height >> v.yaw_deg >> v.pitch_deg >> v.roll_deg >>
            v.focal;
        scene.views.push_back(v);
        return index + 1 == scene.views.size();
    }
    if (key == "colour") {
        ColourResponse c;
        in >> c.gain[0] >> c.gain[1] >> c.gain[2] >> c.exposure_ev >> c.vignetting;
        scene.colours.push_back(c);
        return index + 1 == scene.colours.size();
    }
    SceneSubject s;
    in >> s.centre.x >> s.centre.y >> s.centre.z >> s.half_axes.x >> s.half_axes.y >>
        s.half_axes.z >> s.turn_deg >> s.coverage[0] >> s.coverage[1];
    scene.subjects.push_back(s);
    return index + 1 == scene.subjects.size();
}

} // namespace

std::string ground_truth_text(const RigGroundTruth& truth)
{
    const RigOptions& options = truth.options;
    std::ostringstream out;
    out.precision(std::numeric_limits<double>::max_digits10);
    out << "# Synthetic rig. Camera k shows a point q of the middle camera's photo at\n"
           "#   p = scale * R(rotation_deg) * (q - c) + c + shift, c = (width / 2, height / 2),\n"
           "# in pixels, y downwards, a positive rotation turning clockwise on screen.\n"
           "# Stickers: centres of the top, middle and bottom sticker in camera k's reference.\n"
           "# Shot markers: white discs on a grid through the middle camera's centre.\n";
    out << "cameras " << options.cameras << '\n'
        << "size " << options.width << ' ' << options.height << '\n'
        << "seed " << options.seed << '\n'
        << "color " << color_name(options.color) << '\n'
        << "clutter " << options.clutter << '\n'
        << "distractor " << options.distractor << '\n'
        << "hidden " << options.hidden_camera << '\n'
        << "quality " << options.jpeg_quality << '\n'
        << "sticker_offset " << options.sticker_offset.x << ' ' << options.sticker_offset.y << '\n'
        << "middle_shift " << options.middle_shift << '\n'
        << "sticker_tilt " << options.sticker_tilt_deg << '\n'
        << "middle " << truth.middle_camera << '\n'
        << "sticker_radius " << truth.sticker_radius << '\n'
        << "sticker_spacing " << truth.sticker_spacing << '\n'
        << "marker_spacing " << truth.marker_spacing << '\n'
        << "marker_radius " << truth.marker_radius << '\n'
        << "# camera rotation_deg scale shift_x shift_y top_x top_y middle_x middle_y bottom_x "
           "bottom_y\n";
    for (int k = 0; k < static_cast<int>(truth.poses.size()); ++k) {
        const CameraPose& pose = truth.poses[k];
        out << "camera " << k << ' ' << pose.rotation_deg << ' ' << pose.scale << ' '
            << pose.shift.x << ' ' << pose.shift.y;
        for (const cv::Point2d& p : truth.stickers[k])
            out << ' ' << p.x << ' ' << p.y;
        out << '\n';
    }
    if (options.parallax)
        write_parallax(out, truth);
    else if (!truth.reference_light.empty())
        write_light(out, truth);
    return out.str();
}

std::optional<RigGroundTruth> parse_ground_truth(const std::string& text)
{
    RigGroundTruth truth;
    RigOptions& options = truth.options;
    std::set<std::string> seen;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (line.empty() || line[0] == '#')
            continue;
        std::istringstream in(line);
        std::string key;
        in >> key;
        bool ok = true;
        if (key == "camera") {
            int k = -1;
            CameraPose pose;
            std::array<cv::Point2d, 3> stickers;
            in >> k >> pose.rotation_deg >> pose.scale >> pose.shift.x >> pose.shift.y;
            for (cv::Point2d& p : stickers)
                in >> p.x >> p.y;
            // Cameras come in order, each once.
            ok = k == static_cast<int>(truth.poses.size());
            truth.poses.push_back(pose);
            truth.stickers.push_back(stickers);
        } else if (key == "view" || key == "colour" || key == "subject") {
            ok = read_parallax_item(key, in, truth.parallax);
        } else if (key == "light_camera") {
            size_t index = 0;
            ColourResponse c;
            in >> index >> c.gain[0] >> c.gain[1] >> c.gain[2] >> c.exposure_ev;
            truth.reference_light.push_back(c);
            ok = index + 1 == truth.reference_light.size();
        } else {
            if (!seen.insert(key).second)
                return std::nullopt;
            if (key == "cameras") {
                in >> options.cameras;
            } else if (key == "size") {
                in >> options.width >> options.height;
            } else if (key == "seed") {
                in >> options.seed;
            } else if (key == "color") {
                std::string name;
                in >> name;
                const std::optional<RigStickerColor> color = color_from_name(name);
                ok = color.has_value();
                options.color = color.value_or(RigStickerColor::Yellow);
            } else if (key == "clutter") {
                in >> options.clutter;
            } else if (key == "distractor") {
                in >> options.distractor;
            } else if (key == "hidden") {
                in >> options.hidden_camera;
            } else if (key == "quality") {
                in >> options.jpeg_quality;
            } else if (key == "sticker_offset") {
                in >> options.sticker_offset.x >> options.sticker_offset.y;
            } else if (key == "middle_shift") {
                in >> options.middle_shift;
            } else if (key == "sticker_tilt") {
                in >> options.sticker_tilt_deg;
            } else if (key == "middle") {
                in >> truth.middle_camera;
            } else if (key == "sticker_radius") {
                in >> truth.sticker_radius;
            } else if (key == "sticker_spacing") {
                in >> truth.sticker_spacing;
            } else if (key == "marker_spacing") {
                in >> truth.marker_spacing;
            } else if (key == "marker_radius") {
                in >> truth.marker_radius;
            } else {
                ok = read_light_line(key, in, truth) || read_parallax_line(key, in, truth);
            }
        }
        std::string rest;
        if (!ok || in.fail() || (in >> rest))
            return std::nullopt;
    }
    const std::set<std::string> required = {
        "cameras",      "size",   "seed",           "color",           "clutter",
        "distractor",   "hidden", "quality",        "sticker_offset",  "middle_shift",
        "sticker_tilt", "middle", "sticker_radius", "sticker_spacing", "marker_spacing",
        "marker_radius"};
    std::set<std::string> wanted = required;
    if (options.parallax) {
        wanted.insert({"scene", "arc", "colour_spread", "exposure_spread", "vignetting", "between",
                       "takes", "move", "wall_z", "floor_y", "ball_spacing", "ball_radius"});
        const ParallaxTruth& scene = truth.parallax;
        if (static_cast<int>(scene.views.size()) != options.cameras ||
            static_cast<int>(scene.colours.size()) != options.cameras ||
            static_cast<int>(scene.subjects.size()) != options.takes)
            return std::nullopt;
        truth.parallax.sticker_colour = options.color;
    } else if (!truth.parallax.views.empty() || !truth.parallax.colours.empty() ||
               !truth.parallax.subjects.empty()) {
        return std::nullopt;
    } else if (seen.count("light")) {
        wanted.insert({"exposure", "light", "noise", "exposure_spread", "colourful"});
        if (static_cast<int>(truth.reference_light.size()) != options.cameras ||
            !flat_light_changed(options))
            return std::nullopt;
    }
    if (!options.parallax && seen.count("light") == 0 && !truth.reference_light.empty())
        return std::nullopt;
    if (seen != wanted || !rig_options_error(options).empty() ||
        static_cast<int>(truth.poses.size()) != options.cameras ||
        truth.middle_camera != options.cameras / 2)
        return std::nullopt;
    return truth;
}

std::optional<RigGroundTruth> read_ground_truth(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return parse_ground_truth(file.readAll().toStdString());
}
