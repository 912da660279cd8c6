#include "tools/make_rig/ground_truth_file.h"

#include <QFile>

#include <limits>
#include <set>
#include <sstream>

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
                ok = name == "yellow" || name == "pink";
                options.color = name == "pink" ? RigStickerColor::Pink : RigStickerColor::Yellow;
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
                ok = false;
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
    if (seen != required || !rig_options_error(options).empty() ||
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
