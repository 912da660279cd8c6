// Calibrates generated rigs of five sticker colours under several exposures and
// lights, as `calibrate --color-at X,Y` does with a click on the middle photo's
// middle sticker, and counts the rigs whose every camera is aligned, the cameras
// aligned on something else than their stickers, and the alignment accuracy of
// the shot markers. Today's presets are run beside it on the yellow and pink rigs.
//   detection_robustness [--color C] [--light K] [--exposure EV] [--cameras N]
// narrows the set to one colour, light or exposure. The last line sums it up
// against the targets: 95 % of the rigs, none wrong, median 0.3 px, max 1 px.

#include "calibration/alignment.h"
#include "output/aligned_images.h"
#include "pipeline/calibration_run.h"
#include "tools/make_rig/alignment_residuals.h"
#include "tools/make_rig/rig_writer.h"

#include <opencv2/imgcodecs.hpp>

#include <QCoreApplication>
#include <QStringList>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr double share_target = 0.95;
constexpr double median_bound = 0.3;
constexpr double maximum_bound = 1.0;
// A camera whose alignment puts a corner of its photo farther than this from
// where the truth puts it was aligned on something that is not its stickers.
constexpr double wrong_corner_px = 2.0;

// What one calibration of one rig came to.
struct Outcome
{
    int automatic = 0; // cameras aligned from their stickers
    int wrong = 0;     // of those, aligned elsewhere than the truth says
    bool refused = false;
    QString learned; // "hue H, chroma C"
    Calibration calibration;
};

double worst_corner(const ImageAlignment& alignment, const CameraPose& pose, cv::Size size)
{
    const Similarity found = alignment_similarity(alignment);
    const cv::Matx23d truth = inverse_camera_matrix(pose, size);
    double worst = 0.0;
    for (const cv::Point2d corner :
         {cv::Point2d(0, 0), cv::Point2d(size.width - 1, 0), cv::Point2d(0, size.height - 1),
          cv::Point2d(size.width - 1, size.height - 1)})
        worst = std::max(worst, cv::norm(apply(found, corner) - apply(truth, corner)));
    return worst;
}

Outcome calibrate(const QStringList& references, const RigGroundTruth& truth,
                  std::optional<StickerColor> preset)
{
    CalibrationRequest request;
    request.references = references;
    if (preset) {
        request.color = *preset;
    } else {
        const cv::Point2d middle = truth.stickers[truth.middle_camera][1];
        request.colour_click = cv::Point(static_cast<int>(std::lround(middle.x)),
                                         static_cast<int>(std::lround(middle.y)));
    }
    std::ostringstream quiet;
    const CalibrationOutcome run = run_calibration(request, quiet);
    Outcome outcome;
    if (!run.colour_refusal.isEmpty()) {
        outcome.refused = true;
        return outcome;
    }
    if (run.rig.learned_colour)
        outcome.learned = QString("hue %1, chroma %2")
                              .arg(run.rig.learned_colour->hue)
                              .arg(run.rig.learned_colour->chroma);
    outcome.calibration = run.calibration;
    const cv::Size size(truth.options.width, truth.options.height);
    for (int k = 0; k < run.rig.camera_count(); ++k) {
        const CameraCalibration& camera = run.rig.cameras[k];
        if (camera.method != AlignmentMethod::Automatic)
            continue;
        ++outcome.automatic;
        if (worst_corner(camera.transform, truth.poses[k], size) > wrong_corner_px)
            ++outcome.wrong;
    }
    return outcome;
}

// The shot markers' residuals between the aligned frames, or nothing when the
// frames could not be written.
std::optional<AlignmentResiduals> accuracy(const QStringList& shots, const Calibration& calibration,
                                           const RigGroundTruth& truth, const QString& folder)
{
    const AlignedImages frames = write_aligned_images(shots, calibration, folder, 95);
    if (frames.frame_count != shots.size())
        return std::nullopt;
    std::vector<cv::Mat> images;
    for (int k = 0; k < frames.frame_count; ++k)
        images.push_back(cv::imread(QString("%1/output_img_%2.jpg").arg(folder).arg(k).toStdString()));
    return measure_alignment(images, truth.middle_camera, 0.6, truth.marker_spacing / 2);
}

// Rigs calibrated with every camera and none wrong, out of how many.
struct Tally
{
    int rigs = 0;
    int calibrated = 0;
    int wrong_rigs = 0;

    void add(const Outcome& outcome, int cameras)
    {
        ++rigs;
        if (outcome.wrong > 0)
            ++wrong_rigs;
        else if (outcome.automatic == cameras)
            ++calibrated;
    }
    std::string text() const
    {
        char line[96];
        std::snprintf(line, sizeof line, "%d of %d (%.0f %%)%s", calibrated, rigs,
                      rigs ? 100.0 * calibrated / rigs : 0.0,
                      wrong_rigs ? (", " + std::to_string(wrong_rigs) + " wrong").c_str() : "");
        return line;
    }
};

double median_of(std::vector<double> values)
{
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

bool is_preset(RigStickerColor color)
{
    return color == RigStickerColor::Yellow || color == RigStickerColor::Pink;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    const std::vector<RigStickerColor> all_colours = {
        RigStickerColor::Yellow, RigStickerColor::Pink, RigStickerColor::Green,
        RigStickerColor::Blue, RigStickerColor::Orange};
    const std::vector<double> all_lights = {3000, 4000, 5500, 7000};
    const std::vector<double> all_exposures = {-2, -1, 0, 1};
    std::vector<RigStickerColor> colours = all_colours;
    std::vector<double> lights = all_lights;
    std::vector<double> exposures = all_exposures;
    int cameras = 5;
    const QStringList arguments = QCoreApplication::arguments().mid(1);
    for (int i = 0; i < arguments.size(); i += 2) {
        const QString& name = arguments[i];
        const QString value = i + 1 < arguments.size() ? arguments[i + 1] : QString();
        bool ok = true;
        if (name == "--color") {
            const std::optional<RigStickerColor> colour = color_from_name(value.toStdString());
            ok = colour.has_value();
            if (ok)
                colours = {*colour};
        } else if (name == "--light") {
            lights = {value.toDouble(&ok)};
        } else if (name == "--exposure") {
            exposures = {value.toDouble(&ok)};
        } else if (name == "--cameras") {
            cameras = value.toInt(&ok);
        } else {
            ok = false;
        }
        if (!ok) {
            std::cerr << "usage: detection_robustness [--color yellow|pink|green|blue|orange] "
                         "[--light K] [--exposure EV] [--cameras N]\n";
            return 2;
        }
    }

    Tally learned_all, preset_all;
    std::map<std::string, Tally> by_colour, by_light, by_exposure, preset_by_colour;
    std::vector<double> distances;
    int unmeasured = 0;
    // A rig's seed is its place in the whole set, so a narrowed run renders the
    // same rigs.
    const auto seed_of = [&](RigStickerColor colour, double light, double ev) {
        const auto place = [](const auto& list, const auto& value) {
            const auto at = std::find(list.begin(), list.end(), value);
            return at == list.end() ? list.size() : static_cast<size_t>(at - list.begin());
        };
        return static_cast<std::uint64_t>(
            1 + (place(all_colours, colour) * (all_lights.size() + 1) + place(all_lights, light)) *
                    (all_exposures.size() + 1) +
            place(all_exposures, ev));
    };
    for (const RigStickerColor colour : colours) {
        for (const double light : lights) {
            for (const double ev : exposures) {
                RigOptions rig;
                rig.cameras = cameras;
                rig.seed = seed_of(colour, light, ev);
                rig.color = colour;
                rig.exposure_ev = ev;
                rig.light_kelvin = light;
                rig.noise = 3.0;
                rig.exposure_spread = 0.5;
                rig.colourful = true;
                QTemporaryDir folder;
                std::ostringstream quiet;
                const RigWriteResult written = write_rig(rig, folder.filePath("rig"), quiet);
                if (!written.ok()) {
                    std::cerr << written.error << "\n";
                    return 1;
                }
                QStringList references, shots;
                for (int k = 0; k < rig.cameras; ++k) {
                    references << folder.filePath("rig/" + reference_file_name(k));
                    shots << folder.filePath("rig/" + shot_file_name(k));
                }
                const Outcome learned = calibrate(references, written.truth, std::nullopt);
                const std::string name = color_name(colour);
                const std::string light_name = std::to_string(static_cast<int>(light)) + " K";
                char ev_name[16];
                std::snprintf(ev_name, sizeof ev_name, "%+.0f EV", ev);
                for (Tally* tally : {&learned_all, &by_colour[name], &by_light[light_name],
                                     &by_exposure[ev_name]})
                    tally->add(learned, cameras);

                std::string measured = "";
                if (learned.automatic == cameras && learned.wrong == 0) {
                    const std::optional<AlignmentResiduals> residuals =
                        accuracy(shots, learned.calibration, written.truth, folder.path());
                    if (residuals) {
                        distances.insert(distances.end(), residuals->distances.begin(),
                                         residuals->distances.end());
                        char text[64];
                        std::snprintf(text, sizeof text, ", median %.3f px, max %.3f px",
                                      residuals->median, residuals->maximum);
                        measured = text;
                    } else {
                        ++unmeasured;
                        measured = ", frames not written";
                    }
                }
                std::string preset_text;
                if (is_preset(colour)) {
                    const Outcome preset = calibrate(
                        references, written.truth,
                        colour == RigStickerColor::Pink ? StickerColor::Pink : StickerColor::Yellow);
                    preset_all.add(preset, cameras);
                    preset_by_colour[name].add(preset, cameras);
                    preset_text = "; preset " + std::to_string(preset.automatic) + "/" +
                                  std::to_string(cameras) +
                                  (preset.wrong ? ", " + std::to_string(preset.wrong) + " wrong"
                                                : std::string());
                }
                std::printf("%-6s %s %5.0f K seed %2llu: %s%d/%d automatic%s%s%s\n", name.c_str(),
                            ev_name, light, static_cast<unsigned long long>(rig.seed),
                            learned.refused ? "click refused, "
                                            : ("learned " + learned.learned.toStdString() + ", ")
                                                  .c_str(),
                            learned.automatic, cameras,
                            learned.wrong ? (", " + std::to_string(learned.wrong) + " wrong").c_str()
                                          : "",
                            measured.c_str(), preset_text.c_str());
                std::fflush(stdout);
            }
        }
    }

    for (const auto& [title, tallies] :
         {std::pair{"colour", &by_colour}, std::pair{"light", &by_light},
          std::pair{"exposure", &by_exposure}}) {
        std::printf("by %s:", title);
        for (const auto& [key, tally] : *tallies)
            std::printf("  %s %s", key.c_str(), tally.text().c_str());
        std::printf("\n");
    }
    if (!preset_by_colour.empty()) {
        std::printf("presets by colour:");
        for (const auto& [key, tally] : preset_by_colour)
            std::printf("  %s %s", key.c_str(), tally.text().c_str());
        std::printf("\n");
    }

    const double median = median_of(distances);
    const double maximum =
        distances.empty() ? 0.0 : *std::max_element(distances.begin(), distances.end());
    const double share =
        learned_all.rigs ? static_cast<double>(learned_all.calibrated) / learned_all.rigs : 0.0;
    std::string wrong = learned_all.wrong_rigs == 0
                            ? "none wrong"
                            : std::to_string(learned_all.wrong_rigs) + " wrong";
    std::string presets;
    if (preset_all.rigs > 0) {
        char text[64];
        std::snprintf(text, sizeof text, "; presets: %d of %d (%.0f %%)%s", preset_all.calibrated,
                      preset_all.rigs, 100.0 * preset_all.calibrated / preset_all.rigs,
                      preset_all.wrong_rigs
                          ? (", " + std::to_string(preset_all.wrong_rigs) + " wrong").c_str()
                          : "");
        presets = text;
    }
    const bool met = share >= share_target && learned_all.wrong_rigs == 0 && unmeasured == 0 &&
                     median <= median_bound && maximum <= maximum_bound;
    std::printf("%d rigs: %d calibrated automatically (%.0f %%, %.2fx its target), %s, median "
                "%.2f px (%.2fx its bound) max %.2f px (%.2fx its bound)%s%s\n",
                learned_all.rigs, learned_all.calibrated, 100.0 * share, share / share_target,
                wrong.c_str(), median, median / median_bound, maximum, maximum / maximum_bound,
                presets.c_str(), met ? "" : " (targets missed)");
    return 0;
}
